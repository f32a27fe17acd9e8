// The folder tree: the folders of the host file system from "/" down, read as nodes are expanded, and
// again each time a node is expanded. Selecting a folder lists it in the linked file view.
#pragma once

#include <QTreeView>

#include "kdlw/components/folder_tree_model.h"

namespace kdlw {

class TFileView;

class TFolderView : public QTreeView {
  Q_OBJECT

 public:
  explicit TFolderView(QWidget* parent = nullptr);

  // Links the file view both ways: it lists this tree's selection and enters folders through it.
  void SetFileView(TFileView* fileView);
  TFileView* FileView() const { return fileView_; }

  // The selected folder's path; empty when nothing is selected.
  QString Path() const;
  // Selects `path`, or its nearest existing parent folder when it does not exist; an empty text clears the
  // selection. Returns the path selected.
  QString SetPath(const QString& path);
  // Selects the sub-folder `name` of the selected folder.
  void SelectChild(const QString& name);
  // Selects the parent of the selected folder (used when a folder cannot be read).
  void SelectParent();
  // Reads the selected folder's sub-folders again.
  void RefreshSelected();

  FolderTreeModel& Model() { return model_; }

 protected:
  // The selected folder is brought into the middle of the view once the view has its size.
  void showEvent(QShowEvent* event) override;

 signals:
  // The selection moved to `path` (before the file view lists it).
  void Changed(const QString& path);

 private:
  void CurrentChanged(const QModelIndex& current);

  FolderTreeModel model_;
  TFileView* fileView_ = nullptr;
  // Set while SetPath opens the parents of a folder: they have just been read.
  bool opening_ = false;
};

}  // namespace kdlw
