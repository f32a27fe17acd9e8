#include "kdlw/components/trash.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace kdlw {
namespace {

// Makes `path` and the folders above it that are missing, each readable by its owner only, as the base
// directory specification asks for the folders a program creates there.
bool MakePrivateFolders(const QString& path) {
  const QFileInfo info(path);
  if (info.isDir()) return true;
  if (info.exists() || info.isSymLink() || info.isRoot()) return false;
  const QString parent = info.absolutePath();
  if (parent == info.absoluteFilePath() || !MakePrivateFolders(parent)) return false;
  const QByteArray native = QFile::encodeName(info.absoluteFilePath());
  return ::mkdir(native.constData(), S_IRWXU) == 0 || QFileInfo(path).isDir();
}

}  // namespace

QString HomeTrashFolder() {
  const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  if (data.isEmpty() || !QDir::isAbsolutePath(data)) return {};
  return QDir(data).filePath(QStringLiteral("Trash"));
}

bool EnsureHomeTrash() {
  const QString trash = HomeTrashFolder();
  if (trash.isEmpty()) return false;
  for (const QString& folder :
       {trash, QDir(trash).filePath(QStringLiteral("files")), QDir(trash).filePath(QStringLiteral("info"))}) {
    if (!MakePrivateFolders(folder)) return false;
  }
  return true;
}

bool MoveToTrash(const QString& path) {
  if (!EnsureHomeTrash()) return false;
  return QFile::moveToTrash(path);
}

}  // namespace kdlw
