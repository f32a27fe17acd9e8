// The window menu of a window, extended with the window's own commands. The desktop keeps its title-bar
// menu to itself, so this one opens with Alt+Space and by right click on a title-like area of the window
// that the window names (AttachTo): the standard window commands first, then the added items.
#pragma once

#include <QFlags>
#include <QList>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <functional>
#include <stdexcept>

namespace kdlw {

class ESystemMenuError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TSystemMenu : public QObject {
  Q_OBJECT

 public:
  enum Command {
    scSize = 0x1,
    scMove = 0x2,
    scMinimize = 0x4,
    scMaximize = 0x8,
    scClose = 0x10,
    scRestore = 0x20
  };
  Q_DECLARE_FLAGS(Commands, Command)

  // `form` must be a window; throws ESystemMenuError("Owner must be a form") otherwise.
  explicit TSystemMenu(QWidget* form);

  // The standard commands the menu offers; all six unless told otherwise.
  void SetEnableCommands(Commands commands) { enabled_ = commands; }
  Commands EnableCommands() const { return enabled_; }

  // Appends an item; the caption "-" makes a separator. Returns the item's action.
  QAction* AddItem(const QString& caption, std::function<void()> onClick = {});
  // Right click on `area` opens the menu there.
  void AttachTo(QWidget* area);

  // The menu as it stands for the window's current state, rebuilt on every call.
  QMenu* Menu();
  void Popup(const QPoint& globalPosition);

 private:
  void Rebuild();

  QWidget* form_;
  Commands enabled_ = Commands(scSize | scMove | scMinimize | scMaximize | scClose | scRestore);
  QList<QAction*> items_;
  QMenu menu_;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TSystemMenu::Commands)

}  // namespace kdlw
