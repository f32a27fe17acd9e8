#include "kdlw/image/drive_choices.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "drive/media.h"

namespace kdlw {
namespace {

constexpr qint64 kKernelSectorBytes = 512;

QString ReadSysValue(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromLatin1(file.read(64)).trimmed();
}

// True when a medium of `bytes` bytes is a whole disk of one of the media types.
bool IsFloppySize(qint64 bytes) {
  for (const kdl::MediaRow& row : kdl::MediaTable()) {
    const kdl::MediaGeometry& g = row.geometry;
    if (bytes == static_cast<qint64>(g.cylinders) * g.trackSize) return true;
  }
  return false;
}

bool IsFloppyDevice(const QString& blockRoot, const QString& name) {
  if (name.startsWith(QLatin1String("fd"))) return true;
  if (!name.startsWith(QLatin1String("sd"))) return false;
  const QString folder = QDir(blockRoot).filePath(name);
  if (ReadSysValue(folder + QStringLiteral("/removable")) != QLatin1String("1")) return false;
  bool ok = false;
  const qint64 sectors = ReadSysValue(folder + QStringLiteral("/size")).toLongLong(&ok);
  return ok && IsFloppySize(sectors * kKernelSectorBytes);
}

}  // namespace

QStringList DriveChoices(const kdl::DriveSettings& settings, const QString& blockRoot,
                         const QString& devRoot) {
  QStringList choices;
  QStringList listed;
  for (size_t i = 0; i < settings.devices.size() && i < static_cast<size_t>(kdl::kDriveLetters); ++i) {
    const QString device = QString::fromStdString(settings.devices[i]);
    if (device.isEmpty()) continue;
    choices << QStringLiteral("%1:  %2").arg(QChar(u'A' + static_cast<char16_t>(i)), device);
    listed << QFileInfo(device).absoluteFilePath();
  }
  QStringList names = QDir(blockRoot).entryList(QDir::Dirs | QDir::System | QDir::NoDotAndDotDot);
  names.sort();
  for (const QString& name : names) {
    const QString device = QDir(devRoot).filePath(name);
    if (!IsFloppyDevice(blockRoot, name) || !QFileInfo::exists(device)) continue;
    if (listed.contains(QFileInfo(device).absoluteFilePath())) continue;
    choices << device;
  }
  return choices;
}

QString DriveOperandOf(const QString& text) {
  const QString trimmed = text.trimmed();
  const bool letter = trimmed.size() >= 2 && trimmed[0].isLetter() && trimmed[0].unicode() < 0x80 &&
                      trimmed[1] == QLatin1Char(':') && (trimmed.size() == 2 || trimmed[2].isSpace());
  return letter ? trimmed.left(2) : trimmed;
}

}  // namespace kdlw
