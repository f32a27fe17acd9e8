// The window menu of a window, extended with the window's own commands: the standard window commands first,
// then the added items. The desktop keeps its title-bar menu (and Alt+Space) to itself, so this one lives
// where a Linux user looks for it: the right-click menu of the window's background (AttachTo) and an entry of
// the window's menu bar (AddToMenuBar). Both show the same items, built afresh each time they open.
#pragma once

#include <QFlags>
#include <QList>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <functional>
#include <stdexcept>

class QMenuBar;

namespace kdlw {

// The title of the window menu's entry in a menu bar.
inline const QString kWindowMenuTitle = QStringLiteral("ウィンドウ(&W)");

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
  // Adds the menu to `bar` under `title`; returns the menu-bar entry.
  QMenu* AddToMenuBar(QMenuBar* bar, const QString& title);

  // The menu as it stands for the window's current state, rebuilt on every call.
  QMenu* Menu();
  void Popup(const QPoint& globalPosition);

 private:
  void Fill(QMenu& menu);

  QWidget* form_;
  Commands enabled_ = Commands(scSize | scMove | scMinimize | scMaximize | scClose | scRestore);
  QList<QAction*> items_;
  QMenu menu_;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TSystemMenu::Commands)

}  // namespace kdlw
