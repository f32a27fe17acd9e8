// The archive window: the images of one archive file, one 80-column line each, and the commands to browse an
// image, restore it (or every image) to floppies, copy the files of one image or of all, show or edit labels,
// and export one image as an image file of its own. The archive stays open while the window shows it.
#pragma once

#include <QWidget>

#include "kdlw/app/app_context.h"

class QEventLoop;
class QListWidget;
class QMenuBar;
class QStatusBar;
class QToolButton;

namespace kdlw {

class KeyPreview;
class TCopyForm;
class TKDIForm;
class TKDLForm;
class TKZIForm;
class TSystemMenu;

// The windows the archive window opens.
struct ArchiveWindowLinks {
  TKDLForm* browse = nullptr;
  TKDIForm* imageDialog = nullptr;
  TCopyForm* copy = nullptr;
  TKZIForm* archiveDialog = nullptr;
};

class TKDZForm : public QWidget {
  Q_OBJECT

 public:
  TKDZForm(AppContext& context, ArchiveWindowLinks links, QWidget* parent = nullptr);
  ~TKDZForm() override;

  // Opens the work area's archive and shows the window modally over `owner` until it closes. False when the
  // archive could not be opened (the window is then not shown).
  bool Run(QWidget* owner = nullptr);
  // The opening alone: opens the archive and lists it.
  bool Open();
  // Rebuilds the list from the open archive.
  void ListArchive();

  void sbSelClick();
  void sbRestoreClick();
  void sbCopyClick();
  void sbLabelClick();
  void sbKDLClick();

  QListWidget* ListBox1() const { return listBox1_; }
  TSystemMenu* SystemMenu1() const { return systemMenu1_; }
  // The window's menu bar: its window menu first; more menus may follow.
  QMenuBar* MenuBar1() const { return menuBar1_; }
  QStatusBar* StatusBar() const { return sbKDZ_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void BuildControls();
  bool HandleKey(QKeyEvent* key, QWidget* target);
  // The selected line's index, or -1 when no line is selected.
  int SelectedIndex() const;
  // Points the base offset at the selected image and names it as the current image; false after a message
  // when the archive no longer holds it.
  bool PositionOnSelected();
  QString MainFolder() const;

  AppContext& context_;
  ArchiveWindowLinks links_;
  QEventLoop* loop_ = nullptr;
  // The window this one was opened over (the main window), where a failure to open is told.
  QWidget* owner_ = nullptr;

  QMenuBar* menuBar1_ = nullptr;
  QWidget* panel1_ = nullptr;
  QToolButton* sbSel_ = nullptr;
  QToolButton* sbRestore_ = nullptr;
  QToolButton* sbCopy_ = nullptr;
  QToolButton* sbLabel_ = nullptr;
  QToolButton* sbKDL_ = nullptr;
  QToolButton* sbClose_ = nullptr;
  QListWidget* listBox1_ = nullptr;
  QStatusBar* sbKDZ_ = nullptr;
  TSystemMenu* systemMenu1_ = nullptr;
  KeyPreview* keys_ = nullptr;
};

}  // namespace kdlw
