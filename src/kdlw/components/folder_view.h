// The folder tree: the folders of the host file system from "/" down, read lazily as nodes are
// expanded. Selecting a folder lists it in the linked file view.
#pragma once

#include <QFileSystemModel>
#include <QTreeView>

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

  QFileSystemModel& Model() { return model_; }

 signals:
  // The selection moved to `path` (before the file view lists it).
  void Changed(const QString& path);

 private:
  void CurrentChanged(const QModelIndex& current);

  QFileSystemModel model_;
  TFileView* fileView_ = nullptr;
};

}  // namespace kdlw
