// The browse window: the FAT file system of one image like a small file manager. A tree of its directories on
// the left, the entries of the chosen directory in a three-column list on the right, and the commands to view
// or dump a file, open it with the desktop's program, copy entries out, restore the image to a floppy and
// show or edit its labels. The window holds the program's one image object for its whole run; the image
// stays open while the window shows it.
#pragma once

#include <QStringList>
#include <QUrl>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "browse/dir_list.h"
#include "edit/image_edit.h"
#include "kdlw/app/app_context.h"

class QDialog;
class QEventLoop;
class QMenuBar;
class QMenu;
class QProgressBar;
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

  // Changes to the image (kdl_form_edit.cpp). Each asks where an entry would be replaced or removed, shows
  // its progress in the status bar, writes the image back and shows it again.
  void AddFilesCommand();
  void AddFolderCommand();
  void NewFolderCommand();
  void DeleteCommand();
  void RenameCommand();
  void AttributesCommand();
  void VolumeLabelCommand();
  // Puts host files and folders (chosen, or dropped on the list) into the directory the list shows.
  bool AddHostPaths(const QStringList& paths);
  // The directory the list shows: its first cluster, 0 for the root.
  uint16_t CurrentDirectory() const { return currentDir_; }
  // The commands that change the image, as the menu bar's 編集 menu and the list's context menu show them.
  QMenu* EditMenu() const { return editMenu_; }
  bool Busy() const { return busy_; }
  // Runs a dialog of the attributes command; QDialog::exec unless replaced (tests answer it themselves).
  std::function<int(QDialog&)> runDialog;

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
  bool HandleEditKey(QKeyEvent* key);
  void BuildEditControls();
  // Begins an edit of the image, lets `change` make its change, writes the image back when it succeeded and
  // shows the image again. False when anything was refused or failed.
  bool RunEdit(const std::function<bool(kdl::ImageEdit&)>& change);
  // Opens the image again after it was written and lists the directory that was shown, or the root.
  void Reload();
  // The entries of the selected list items (not the label, ".." or "."), found in the volume.
  std::vector<kdl::FatNode> SelectedNodes(const kdl::FatVolume& volume) const;
  std::vector<const kdl::ListItem*> SelectedEntries() const;
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
  QString imagePath_;  // the file the window shows
  bool raw_ = false;   // a raw sector image
  uint16_t currentDir_ = 0;
  bool busy_ = false;
  QMenu* editMenu_ = nullptr;
  QToolButton* sbAdd_ = nullptr;
  QProgressBar* pbEdit_ = nullptr;

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
