#include "kdlw/app/mounts.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "kdl/mount/fuse_mount.h"

namespace kdlw {

struct MountList::Entry {
  QString source;
  QString mountpoint;
  kdlmount::MountSession session;
};

MountList::MountList(QString baseFolder) : base_(std::move(baseFolder)) {
  if (base_.isEmpty())
    base_ = QDir(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)).filePath("kdlw-mounts");
}

MountList::~MountList() { UnmountAll(); }

QString MountList::Mount(const QString& source, QString& error) {
  const QString absolute = QFileInfo(source).absoluteFilePath();
  for (const auto& e : entries_) {
    if (e->source == absolute && e->session.IsRunning()) return e->mountpoint;
  }
  // A folder named after the file; another of the same name (or one left busy) gets a number.
  const QString name = QFileInfo(absolute).fileName();
  QString mountpoint = QDir(base_).filePath(name);
  for (int n = 2; QFileInfo::exists(mountpoint) &&
                  !QDir(mountpoint).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
       ++n)
    mountpoint = QDir(base_).filePath(QStringLiteral("%1 (%2)").arg(name).arg(n));
  if (!QDir().mkpath(mountpoint)) {
    error = QStringLiteral("%1 が作れません").arg(mountpoint);
    return {};
  }
  auto entry = std::make_unique<Entry>();
  entry->source = absolute;
  entry->mountpoint = mountpoint;
  std::string why;
  if (!entry->session.Start(absolute.toStdString(), mountpoint.toStdString(), why)) {
    QDir().rmdir(mountpoint);
    error = QString::fromStdString(why);
    return {};
  }
  entries_.push_back(std::move(entry));
  return mountpoint;
}

void MountList::UnmountAll() {
  for (auto& e : entries_) {
    e->session.Stop();
    QDir().rmdir(e->mountpoint);
  }
  entries_.clear();
}

QStringList MountList::MountPoints() const {
  QStringList points;
  for (const auto& e : entries_) points << e->mountpoint;
  return points;
}

}  // namespace kdlw
