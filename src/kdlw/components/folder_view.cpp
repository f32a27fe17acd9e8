#include "kdlw/components/folder_view.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>

#include "kdlw/components/file_view.h"

namespace kdlw {

TFolderView::TFolderView(QWidget* parent) : QTreeView(parent) {
  model_.setFilter(QDir::AllDirs | QDir::Drives | QDir::Hidden | QDir::NoDotAndDotDot);
  model_.setReadOnly(true);
  model_.setRootPath(QDir::rootPath());
  setModel(&model_);
  for (int column = 1; column < model_.columnCount(); ++column) hideColumn(column);
  setHeaderHidden(true);
  setIndentation(19);
  setUniformRowHeights(true);
  setSortingEnabled(true);
  sortByColumn(0, Qt::AscendingOrder);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  expand(model_.index(QDir::rootPath()));
  // Folders are read in the background: keep the selected folder in view as its parents fill in.
  connect(&model_, &QFileSystemModel::directoryLoaded, this, [this](const QString& folder) {
    const QModelIndex current = currentIndex();
    if (current.isValid() && model_.filePath(current).startsWith(folder)) scrollTo(current);
  });
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { CurrentChanged(current); });
}

void TFolderView::SetFileView(TFileView* fileView) {
  fileView_ = fileView;
  if (fileView_ != nullptr) fileView_->SetFolderView(this);
}

QString TFolderView::Path() const {
  const QModelIndex current = currentIndex();
  return current.isValid() ? model_.filePath(current) : QString();
}

QString TFolderView::SetPath(const QString& path) {
  if (path.isEmpty()) {
    selectionModel()->clearCurrentIndex();
    selectionModel()->clearSelection();
    return {};
  }
  QString existing = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
  while (!QFileInfo(existing).isDir() && existing != QDir::rootPath()) {
    existing = QFileInfo(existing).path();
  }
  const QModelIndex index = model_.index(existing);
  if (!index.isValid()) return Path();
  for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent()) expand(parent);
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  scrollTo(index);
  return existing;
}

void TFolderView::SelectChild(const QString& name) {
  const QString current = Path();
  if (current.isEmpty()) return;
  SetPath(QDir(current).filePath(name));
}

void TFolderView::SelectParent() {
  const QModelIndex parent = currentIndex().parent();
  if (parent.isValid()) selectionModel()->setCurrentIndex(parent, QItemSelectionModel::ClearAndSelect);
}

void TFolderView::CurrentChanged(const QModelIndex& current) {
  const QString path = current.isValid() ? model_.filePath(current) : QString();
  emit Changed(path);
  if (fileView_ != nullptr) {
    if (path.isEmpty()) {
      fileView_->Model().Clear();
    } else {
      fileView_->List(path);
    }
  }
}

}  // namespace kdlw
