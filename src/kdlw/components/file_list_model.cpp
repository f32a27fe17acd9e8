#include "kdlw/components/file_list_model.h"

#include <QCollator>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMimeDatabase>
#include <algorithm>
#include <numeric>

#include "kdlw/components/image_file_info.h"

namespace kdlw {
namespace {

constexpr int kTypeTextLimit = 80;

// True when the text holds anything beyond ASCII: a name the desktop has in the user's language.
bool IsTranslated(const QString& text) {
  return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x80; });
}

// Sorting by the real time stamp rather than by the two-digit-year text keeps every year in order.
int CompareTimes(const QDateTime& a, const QDateTime& b) {
  if (a.isValid() != b.isValid()) return a.isValid() ? 1 : -1;
  if (!a.isValid() || a == b) return 0;
  return a < b ? -1 : 1;
}

}  // namespace

FileListModel::FileListModel(QObject* parent) : QAbstractTableModel(parent) {
  names_.setCaseSensitivity(Qt::CaseInsensitive);
  names_.setNumericMode(true);
}

int FileListModel::CompareRows(const FileRow& a, const FileRow& b, int column) const {
  switch (column) {
    case kName: {
      // Folders come before files, as in the desktop's own file manager.
      if (a.folder != b.folder) return a.folder ? -1 : 1;
      const int byName = names_.compare(a.name, b.name);
      return byName != 0 ? byName : QString::compare(a.name, b.name);
    }
    case kType:
      return QString::localeAwareCompare(a.type, b.type);
    case kDate:
      return CompareTimes(a.modified, b.modified);
    case kComment:
      return QString::localeAwareCompare(a.comment, b.comment);
    default:
      return 0;
  }
}

bool FileListModel::PassesMask(const QString& fileName) const {
  if (mask_.isEmpty()) return true;
  // A mask entry is the name's ending with its dot: an extension (".KDL"), or two (".IMG.GZ").
  const QString upper = fileName.toUpper();
  return std::any_of(mask_.begin(), mask_.end(),
                     [&](const QString& m) { return upper.endsWith(m.toUpper()); });
}

FileRow FileListModel::MakeRow(const QFileInfo& info) const {
  FileRow row;
  row.name = info.fileName();
  row.path = info.filePath();
  row.folder = info.isDir();
  row.modified = info.lastModified();
  row.icon = icons_.icon(info);
  if (const std::optional<ImageFileInfo> image = row.folder ? std::nullopt : ReadImageFileInfo(row.path)) {
    row.type = image->type;
    row.comment = image->comment;
  } else {
    const QMimeType mime = mimes_.mimeTypeForFile(info);
    row.type = TypeName(mime.comment(), mime.isDefault(), info).left(kTypeTextLimit);
  }
  return row;
}

QString FileListModel::TypeName(const QString& desktopName, bool unknownType, const QFileInfo& info) {
  if (!unknownType && IsTranslated(desktopName)) return desktopName;
  if (info.isDir()) return QStringLiteral("フォルダー");
  const QString suffix = info.suffix().toUpper();
  return suffix.isEmpty() ? QStringLiteral("ファイル") : suffix + QStringLiteral(" ファイル");
}

bool FileListModel::List(const QString& folder) {
  beginResetModel();
  rows_.clear();
  folder_ = folder;
  const QDir dir(folder);
  const bool readable = dir.exists() && dir.isReadable();
  if (readable) {
    const QFileInfoList entries = dir.entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QFileInfo& info : entries) {
      if (info.isDir() || PassesMask(info.fileName())) rows_.push_back(MakeRow(info));
    }
  }
  endResetModel();
  return readable;
}

void FileListModel::Clear() {
  beginResetModel();
  rows_.clear();
  folder_.clear();
  endResetModel();
}

void FileListModel::SortRows(int column, int sign) {
  std::vector<size_t> order(rows_.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return CompareRows(rows_[a], rows_[b], column) * sign < 0; });

  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::vector<int> newRowOf(rows_.size());
  std::vector<FileRow> sorted;
  sorted.reserve(rows_.size());
  for (size_t i = 0; i < order.size(); ++i) {
    newRowOf[order[i]] = static_cast<int>(i);
    sorted.push_back(std::move(rows_[order[i]]));
  }
  rows_ = std::move(sorted);
  // Keep the selection and the current item on the same files.
  const QModelIndexList before = persistentIndexList();
  QModelIndexList after;
  for (const QModelIndex& index : before) {
    after.push_back(index.isValid() ? createIndex(newRowOf[static_cast<size_t>(index.row())], index.column())
                                    : QModelIndex());
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int FileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const FileRow& row = Row(index.row());
  if (role == Qt::DisplayRole) {
    switch (index.column()) {
      case kName:
        return row.name;
      case kType:
        return row.type;
      case kDate:
        return DateText(row.modified);
      case kComment:
        return row.comment;
      default:
        return {};
    }
  }
  if (role == Qt::DecorationRole && index.column() == kName) return row.icon;
  return {};
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
  if (role != Qt::DisplayRole) return {};
  switch (section) {
    case kName:
      return QStringLiteral("名前");
    case kType:
      return QStringLiteral("ﾌｧｲﾙの種類");
    case kDate:
      return QStringLiteral("更新日時");
    case kComment:
      return QStringLiteral("コメント");
    default:
      return {};
  }
}

QString FileListModel::DateText(const QDateTime& time) {
  return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yy/MM/dd HH:mm")) : QString();
}

}  // namespace kdlw
