// The file list: one folder of the host file system in report form, filtered by extension, with the
// media type and first label line of image and archive files. Linked to a folder tree, it lists the
// folder selected there and enters a folder on double click.
#pragma once

#include <QFileSystemWatcher>
#include <QStringList>
#include <QTimer>
#include <QTreeView>
#include <array>

#include "kdlw/components/file_list_model.h"

namespace kdlw {

class TFolderView;

class TFileView : public QTreeView {
  Q_OBJECT

 public:
  // Creating a file view starts the sort order afresh for every file view of the program.
  explicit TFileView(QWidget* parent = nullptr);

  void SetFolderView(TFolderView* folderView) { folderView_ = folderView; }
  TFolderView* FolderView() const { return folderView_; }
  // Open a double-clicked file with the desktop's program for it.
  void SetIsExecute(bool on) { isExecute_ = on; }
  bool IsExecute() const { return isExecute_; }
  void SetMask(const QStringList& mask) { model_.SetMask(mask); }

  // Lists `folder`; when it cannot be read the linked tree goes up to the parent folder instead. Listing the
  // shown folder again keeps the selection, the current item and the scroll position on the same names.
  // The folder is watched from then on: files made, removed or renamed there by any program show at once.
  void List(const QString& folder);
  // Lists the shown folder again (nothing when none is shown).
  void Relist();
  // Shows no folder.
  void Clear();
  // Sorts as a click on the column's header does: the column's direction flips, the first click ascending.
  void ClickColumn(int column);

  FileListModel& Model() { return model_; }
  // Rows of the selected items, in list order.
  QList<int> SelectedRows() const;
  // Selects exactly the item named `name` (nothing when there is none) and makes it current.
  void SelectName(const QString& name);

 signals:
  // After a double click has been handled (a folder entered, or a file opened when IsExecute is on).
  void DblClick();

 private:
  void ItemDoubleClicked(const QModelIndex& index);
  void ApplySort(int column);
  // Watches `folder` for changes, and nothing else; an empty text watches nothing.
  void Watch(const QString& folder);

  // The directions of the four columns and the last column sorted, shared by all file views.
  struct SortState {
    std::array<int, FileListModel::kColumnCount> signs{-1, -1, -1, -1};
    int column = -1;
  };
  static SortState sort_;

  FileListModel model_;
  TFolderView* folderView_ = nullptr;
  bool isExecute_ = true;
  QFileSystemWatcher watcher_;
  // Changes come in bursts (a file written, then renamed): they are listed once the burst is over.
  QTimer relistSoon_;
};

}  // namespace kdlw
