// The rows of the file list: one folder's sub-folders and the files that pass the extension mask, each
// with its type, modification time and comment.
#pragma once

#include <QAbstractTableModel>
#include <QCollator>
#include <QDateTime>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QIcon>
#include <QMimeDatabase>
#include <QStringList>
#include <vector>

namespace kdlw {

struct FileRow {
  QString name;  // the entry's name in its folder
  QString path;  // full path
  bool folder = false;
  QString type;
  QDateTime modified;  // invalid when the time could not be had
  QString comment;
  QIcon icon;
};

class FileListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kName, kType, kDate, kComment, kColumnCount };

  explicit FileListModel(QObject* parent = nullptr);

  // Name endings with their dot (".KDL", ".IMG.GZ"); empty lists every file. Folders are listed whatever the
  // mask.
  void SetMask(const QStringList& mask) { mask_ = mask; }
  const QStringList& Mask() const { return mask_; }
  bool PassesMask(const QString& fileName) const;

  // Lists `folder` in name order. False, with an empty list, when the folder cannot be read.
  bool List(const QString& folder);
  void Clear();
  const QString& Folder() const { return folder_; }

  // Orders the rows by `column`; `sign` 1 ascending, -1 descending. Equal rows keep their order.
  void SortRows(int column, int sign);

  const FileRow& Row(int row) const { return rows_[static_cast<size_t>(row)]; }
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // The date column's text for a time: "yy/mm/dd hh:nn" in local time, empty when unknown.
  static QString DateText(const QDateTime& time);
  // The type column's text for a file that is neither image nor archive: the desktop's name for its type
  // when the desktop has it in the user's (Japanese) language, else the program's own: "フォルダー",
  // "<EXT> ファイル" or "ファイル". A type the desktop does not know (`unknownType`) gets the program's name
  // too, which says more than "unknown".
  static QString TypeName(const QString& desktopName, bool unknownType, const QFileInfo& info);

 private:
  FileRow MakeRow(const QFileInfo& info) const;
  int CompareRows(const FileRow& a, const FileRow& b, int column) const;

  QStringList mask_;
  QString folder_;
  std::vector<FileRow> rows_;
  QFileIconProvider icons_;
  QMimeDatabase mimes_;
  QCollator names_;
};

}  // namespace kdlw
