#include "kdlw/components/folder_view.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include "kdlw/components/file_view.h"

namespace kdlw {

TFolderView::TFolderView(QWidget* parent) : QTreeView(parent) {
  setModel(&model_);
  setHeaderHidden(true);
  setIndentation(19);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  expand(model_.IndexOf(QDir::rootPath()));
  // A folder opened by the user shows what it holds now, not what it held when it was first read.
  connect(this, &QTreeView::expanded, this, [this](const QModelIndex& index) {
    if (!opening_) model_.Refresh(index);
  });
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { CurrentChanged(current); });
}

void TFolderView::SetFileView(TFileView* fileView) {
  fileView_ = fileView;
  if (fileView_ != nullptr) fileView_->SetFolderView(this);
}

QString TFolderView::Path() const { return model_.FilePath(currentIndex()); }

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
  const QModelIndex index = model_.IndexOf(existing);
  if (!index.isValid()) return Path();
  opening_ = true;
  for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent()) expand(parent);
  opening_ = false;
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

void TFolderView::showEvent(QShowEvent* event) {
  QTreeView::showEvent(event);
  QTimer::singleShot(0, this, [this] {
    if (currentIndex().isValid()) scrollTo(currentIndex(), QAbstractItemView::PositionAtCenter);
  });
}

void TFolderView::RefreshSelected() { model_.Refresh(currentIndex()); }

void TFolderView::CurrentChanged(const QModelIndex& current) {
  const QString path = model_.FilePath(current);
  emit Changed(path);
  if (fileView_ != nullptr) {
    if (path.isEmpty()) {
      fileView_->Clear();
    } else {
      fileView_->List(path);
    }
  }
}

}  // namespace kdlw
