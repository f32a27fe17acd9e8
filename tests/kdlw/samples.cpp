#include "samples.h"

#include <QFile>
#include <optional>

#include "archive/archive_format.h"
#include "codec/codec.h"
#include "common/bytes.h"
#include "common/sjis.h"
#include "image/kdl_format.h"
#include "image/track_encode.h"

namespace kdlwtest {
namespace {

std::string Sjis(const QString& text) { return kdl::Utf8ToSjis(text.toStdString()).value_or(std::string()); }

kdl::ByteSpan SpanOf(QByteArray& bytes) {
  return kdl::ByteSpan(reinterpret_cast<uint8_t*>(bytes.data()), static_cast<size_t>(bytes.size()));
}

}  // namespace

QByteArray ImageHeaderBytes(int mediaType, const QString& label) {
  kdl::KdlHeader header = kdl::MakeKdlHeader(static_cast<int16_t>(mediaType));
  header.SetLabelText(0, Sjis(label));
  QByteArray bytes(static_cast<qsizetype>(kdl::kTrackDataOffset), '\0');
  kdl::SerializeKdlHeader(header, SpanOf(bytes));
  return bytes;
}

QByteArray ImageFromRawDisk(const QByteArray& raw, const QStringList& labels) {
  kdl::KdlWriteOptions options;
  for (int i = 0; i < labels.size() && i < kdl::kLabelLineCount; ++i)
    options.labels[static_cast<size_t>(i)] = Sjis(labels[i]);
  kdl::TrackCodec codec;
  codec.CodecInit();
  const std::optional<std::vector<uint8_t>> image = kdl::KdlFromRawImage(
      kdl::ByteView(reinterpret_cast<const uint8_t*>(raw.constData()), static_cast<size_t>(raw.size())),
      options, codec);
  if (!image) return {};
  return QByteArray(reinterpret_cast<const char*>(image->data()), static_cast<qsizetype>(image->size()));
}

QByteArray ArchiveBytes(const QString& label1, const QString& label2, const std::vector<QByteArray>& images) {
  kdl::ArchiveHeader header = kdl::MakeArchiveHeader(Sjis(label1), Sjis(label2));
  header.count = static_cast<int16_t>(images.size());
  QByteArray bytes(static_cast<qsizetype>(kdl::kArchiveHeaderSize), '\0');
  kdl::SerializeArchiveHeader(header, SpanOf(bytes));
  // 1998-07-23 12:34:56 in DOS form.
  const uint32_t stamp =
      (static_cast<uint32_t>((1998 - 1980) << 9 | 7 << 5 | 23) << 16) | (12 << 11 | 34 << 5 | 28);
  for (size_t i = 0; i < images.size(); ++i) {
    QByteArray record(static_cast<qsizetype>(kdl::kArchiveEntrySize), '\0');
    kdl::SerializeArchiveEntry(
        kdl::MakeArchiveEntry(static_cast<int32_t>(i + 1), static_cast<int32_t>(images[i].size()), stamp),
        SpanOf(record));
    bytes += record + images[i];
  }
  bytes += QByteArray(static_cast<qsizetype>(kdl::kArchiveEntrySize), '\0');
  return bytes;
}

bool WriteFileBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray ReadFileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace kdlwtest
