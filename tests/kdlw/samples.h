// Image and archive files for the window tests and the screenshot, made with the core's own writers.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace kdlwtest {

// The bytes of a ".KDL" header and an empty track directory for `mediaType`, with label line 1 `label`
// (stored as Shift-JIS). Enough for anything that reads only the header.
QByteArray ImageHeaderBytes(int mediaType, const QString& label);
// A ".KDL" image of a whole raw FAT12 disk, compressed; empty when the disk's type is not supported.
QByteArray ImageFromRawDisk(const QByteArray& raw, const QStringList& labels);
// An archive holding `images` (".KDL" bytes each) under DISK1, DISK2, ... with two label lines.
QByteArray ArchiveBytes(const QString& label1, const QString& label2, const std::vector<QByteArray>& images);

// Writes `bytes` to `path`, creating or replacing it; false on failure.
bool WriteFileBytes(const QString& path, const QByteArray& bytes);
QByteArray ReadFileBytes(const QString& path);

}  // namespace kdlwtest
