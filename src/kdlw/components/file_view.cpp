#include "kdlw/components/file_view.h"

#include <QApplication>
#include <QDesktopServices>
#include <QHeaderView>
#include <QScrollBar>
#include <QUrl>
#include <algorithm>

#include "kdlw/components/folder_view.h"

namespace kdlw {
namespace {

// How long a folder must stay quiet after a change before it is listed again.
constexpr int kRelistDelayMs = 200;

}  // namespace

TFileView::SortState TFileView::sort_;

TFileView::TFileView(QWidget* parent) : QTreeView(parent) {
  sort_ = SortState{};
  setModel(&model_);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSortingEnabled(false);

  QHeaderView* head = header();
  head->setSectionsClickable(true);
  head->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  head->setStretchLastSection(false);
  const std::array<int, FileListModel::kColumnCount> widths{120, 80, 100, 360};
  for (int c = 0; c < FileListModel::kColumnCount; ++c) setColumnWidth(c, widths[static_cast<size_t>(c)]);

  connect(head, &QHeaderView::sectionClicked, this, &TFileView::ClickColumn);
  connect(this, &QAbstractItemView::doubleClicked, this, &TFileView::ItemDoubleClicked);
  relistSoon_.setSingleShot(true);
  relistSoon_.setInterval(kRelistDelayMs);
  connect(&relistSoon_, &QTimer::timeout, this, &TFileView::Relist);
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, &relistSoon_, qOverload<>(&QTimer::start));
}

void TFileView::List(const QString& folder) {
  relistSoon_.stop();
  const bool again = !folder.isEmpty() && folder == model_.Folder();
  QStringList selected;
  QString current;
  const int scrolled = verticalScrollBar()->value();
  if (again) {
    for (int row : SelectedRows()) selected << model_.Row(row).name;
    if (currentIndex().isValid()) current = model_.Row(currentIndex().row()).name;
  }

  QApplication::setOverrideCursor(Qt::WaitCursor);
  setUpdatesEnabled(false);
  const bool listed = model_.List(folder);
  if (listed) {
    // Name order first, so that equal keys of a re-applied column keep name order.
    model_.SortRows(FileListModel::kName, 1);
    if (sort_.column >= 0) ApplySort(sort_.column);
  }
  if (again) {
    for (int row = 0; row < model_.rowCount(); ++row) {
      const QString& name = model_.Row(row).name;
      const QModelIndex index = model_.index(row, 0);
      if (name == current) selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
      if (selected.contains(name)) {
        selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
      }
    }
    verticalScrollBar()->setValue(scrolled);
  }
  setUpdatesEnabled(true);
  QApplication::restoreOverrideCursor();

  Watch(listed ? folder : QString());
  if (!listed && folderView_ != nullptr) folderView_->SelectParent();
}

void TFileView::Relist() {
  if (!model_.Folder().isEmpty()) List(model_.Folder());
}

void TFileView::Clear() {
  relistSoon_.stop();
  model_.Clear();
  Watch({});
}

void TFileView::Watch(const QString& folder) {
  const QStringList watched = watcher_.directories();
  if (watched == QStringList{folder}) return;
  if (!watched.isEmpty()) watcher_.removePaths(watched);
  if (!folder.isEmpty()) watcher_.addPath(folder);
}

void TFileView::ClickColumn(int column) {
  if (column < 0 || column >= FileListModel::kColumnCount) return;
  sort_.signs[static_cast<size_t>(column)] = -sort_.signs[static_cast<size_t>(column)];
  sort_.column = column;
  ApplySort(column);
}

void TFileView::ApplySort(int column) {
  const int sign = sort_.signs[static_cast<size_t>(column)];
  model_.SortRows(column, sign);
  header()->setSortIndicatorShown(true);
  header()->setSortIndicator(column, sign > 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
}

QList<int> TFileView::SelectedRows() const {
  QList<int> rows;
  for (const QModelIndex& index : selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

void TFileView::SelectName(const QString& name) {
  selectionModel()->clearSelection();
  for (int row = 0; row < model_.rowCount(); ++row) {
    if (model_.Row(row).name == name) {
      const QModelIndex index = model_.index(row, 0);
      selectionModel()->setCurrentIndex(index,
                                        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      scrollTo(index);
      return;
    }
  }
}

void TFileView::ItemDoubleClicked(const QModelIndex& index) {
  if (index.isValid()) {
    const FileRow row = model_.Row(index.row());
    if (row.folder && folderView_ != nullptr) {
      folderView_->SelectChild(row.name);
    } else if (isExecute_) {
      QDesktopServices::openUrl(QUrl::fromLocalFile(row.path));
    }
  }
  emit DblClick();
}

}  // namespace kdlw
