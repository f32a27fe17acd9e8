// The browse window: the FAT file system of one image like a small file manager. A tree of its directories on
// the left, the entries of the chosen directory in a three-column list on the right, and the commands to view
// or dump a file, open it with the desktop's program, copy entries out, restore the image to a floppy and
// show or edit its labels. The window holds the program's one image object for its whole run; the image
// stays open while the window shows it.
#pragma once

#include <QUrl>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "browse/dir_list.h"
#include "kdlw/app/app_context.h"

class QEventLoop;
class QMenuBar;
class QStatusBar;
class QTemporaryDir;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace kdlw {

class DesktopOpener;
class KeyPreview;
class TCopyForm;
class TKDIForm;
class TSplitter;
class TSystemMenu;
class TViewForm;

// What opening a list item does: show the file as text, as a dump, or open it with the desktop's program.
enum ItemMode : int32_t { kItemText = 0, kItemDump = 1, kItemOpen = 2 };

class TKDLForm : public QWidget {
  Q_OBJECT

 public:
  explicit TKDLForm(AppContext& context, QWidget* parent = nullptr);
  ~TKDLForm() override;

  kdl::ImageState& Image() { return *image_; }
  // The windows the commands open.
  void SetWindows(TKDIForm* imageDialog, TCopyForm* copy, TViewForm* viewer);

  // Opens the work area's image and shows the window modally over `owner` until it closes. 1 when it was
  // shown, -1 when the image could not be opened (the work area's dialog result is then -1 too).
  int Run(QWidget* owner = nullptr);
  // The opening alone: reads the image, its directory tree and its root. False when it cannot be opened.
  bool Open();

  // Commands.
  void ListTreeNode(QTreeWidgetItem* node);
  void OpenSelectedItem();
  void ColumnClick(int column);
  void CopyCommand();
  void ViewCommand();
  void DumpCommand();
  void RestoreCommand();
  void LabelCommand();

  // Selects exactly the list item whose name (the caption with a short name's padding removed) is `name`;
  // false when there is none.
  bool SelectName(const QString& name);

  // The list as shown, in list order.
  const std::vector<kdl::ListItem>& Items() const { return items_; }
  const kdl::DirectoryTable& CurrentTable() const { return current_; }
  QTreeWidget* TreeView1() const { return treeView1_; }
  QTreeWidget* ListView1() const { return listView1_; }
  TSystemMenu* SystemMenu1() const { return systemMenu1_; }
  // The window's menu bar: its window menu first; more menus may follow.
  QMenuBar* MenuBar1() const { return menuBar1_; }
  // The temporary copy of the file last opened with the desktop's program; empty when none.
  const QString& TempFile() const { return tempFile_; }
  // Asks the desktop to open a file; the opener below unless replaced.
  std::function<bool(const QUrl&)> openUrl;
  // Opens files with the desktop's programs and says when the desktop has none for a file.
  DesktopOpener& Opener() { return *opener_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void BuildControls();
  void BuildTree();
  void ListDirectory(kdl::DirectoryTable table);
  void FillList();
  bool HandleKey(QKeyEvent* key, QWidget* target);
  // The one selected list item, or null when none or several are selected.
  const kdl::ListItem* SelectedItem() const;
  void ShowFile(const kdl::ListItem& item);
  void OpenWithDesktop(const kdl::ListItem& item);
  void RememberTempFile(const QString& name);
  void SayNoProgramFor(const QString& file);
  // Runs a dialog of the image with the work area's mode and flags set for it, restored afterwards.
  void RunImageDialog(int32_t mode);

  AppContext& context_;
  std::unique_ptr<kdl::ImageState> image_;
  TKDIForm* imageDialog_ = nullptr;
  TCopyForm* copy_ = nullptr;
  TViewForm* viewer_ = nullptr;

  kdl::DirectoryTable current_;
  std::vector<kdl::ListItem> items_;
  std::array<int, 3> signs_{-1, -1, -1};
  int32_t itemMode_ = kItemOpen;
  QString tempFile_;
  std::unique_ptr<QTemporaryDir> tempDir_;
  QEventLoop* loop_ = nullptr;
  DesktopOpener* opener_ = nullptr;

  QMenuBar* menuBar1_ = nullptr;
  QWidget* panel1_ = nullptr;
  QToolButton* sbRestore_ = nullptr;
  QToolButton* sbCopy_ = nullptr;
  QToolButton* sbView_ = nullptr;
  QToolButton* sbDump_ = nullptr;
  QToolButton* sbLabel_ = nullptr;
  QToolButton* sbClose_ = nullptr;
  QTreeWidget* treeView1_ = nullptr;
  TSplitter* splitter1_ = nullptr;
  QTreeWidget* listView1_ = nullptr;
  QStatusBar* statusBar1_ = nullptr;
  TSystemMenu* systemMenu1_ = nullptr;
  KeyPreview* keys_ = nullptr;
};

}  // namespace kdlw
