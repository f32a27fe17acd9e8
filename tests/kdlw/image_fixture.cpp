#include "image_fixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <optional>

#include "common/sjis.h"
#include "image/track_encode.h"
#include "support/image_builder.h"

namespace kdlwtest {
namespace {

using kdltest::EntryOptions;
using kdltest::FatDiskBuilder;

std::vector<uint8_t> Bytes(std::string_view text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::string Sjis(std::string_view utf8) { return kdl::Utf8ToSjis(utf8).value_or(std::string()); }

EntryOptions Dated(int year, int month, int day, int hour, int minute,
                   uint8_t attribute = kdl::kAttrArchive) {
  EntryOptions o;
  o.attribute = attribute;
  o.date = FatDate(year, month, day);
  o.time = FatTime(hour, minute);
  return o;
}

}  // namespace

uint16_t FatTime(int hour, int minute) { return static_cast<uint16_t>(hour << 11 | minute << 5); }

uint16_t FatDate(int year, int month, int day) {
  return static_cast<uint16_t>((year - 1980) << 9 | month << 5 | day);
}

std::vector<uint8_t> ReadmeBytes() {
  std::string text = "README for the sample disk\r\n";
  text += Sjis("日本語のテキストです。") + "\r\n";
  text += "tab\there\rcr dropped\n";
  text += "\n";
  text += std::string(3000, 'x') + "\n";
  text += "last line without end";
  return Bytes(text);
}

std::vector<uint8_t> MultiLevelDisk() {
  FatDiskBuilder b(3);
  b.AddVolumeLabel("SAMPLE DISK", FatTime(9, 0), FatDate(1998, 7, 1));
  b.AddFile(FatDiskBuilder::kRoot, "README  TXT", ReadmeBytes(), Dated(1998, 7, 23, 12, 34));
  b.AddFile(FatDiskBuilder::kRoot, "NOEXT      ", Bytes("no extension\n"), Dated(1997, 1, 2, 3, 4));
  EntryOptions lower = Dated(1999, 12, 31, 23, 59);
  lower.caseFlags = kdl::kCaseLowerName | kdl::kCaseLowerExtension;
  b.AddFile(FatDiskBuilder::kRoot, "LOWER   TXT", Bytes("lower case\n"), lower);
  EntryOptions longName = Dated(1998, 8, 1, 10, 0);
  longName.longName = u"長い名前のファイル.txt";
  b.AddFile(FatDiskBuilder::kRoot, "FILE~1  TXT", Bytes(Sjis("長い名前\r\n")), longName);
  b.AddFile(
      FatDiskBuilder::kRoot, "SECRET  DAT", Bytes("secret"),
      Dated(1998, 1, 1, 0, 0, kdl::kAttrHidden | kdl::kAttrSystem | kdl::kAttrReadOnly | kdl::kAttrArchive));
  b.AddFile(FatDiskBuilder::kRoot, "EMPTY   TXT", {}, Dated(1998, 2, 2, 2, 2));
  b.AddFile(FatDiskBuilder::kRoot, "OLD     TXT", Bytes("from 2003\n"), Dated(2003, 3, 3, 3, 3));
  std::vector<uint8_t> big(40000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7 + i / 251);
  b.AddFile(FatDiskBuilder::kRoot, "BIG     BIN", big, Dated(1998, 5, 5, 5, 5));
  const uint16_t docs =
      b.AddDirectory(FatDiskBuilder::kRoot, "DOCS       ", Dated(1998, 6, 6, 6, 6, kdl::kAttrDirectory));
  b.AddFile(docs, "MEMO    TXT", Bytes("memo\r\n"), Dated(1998, 6, 7, 8, 9));
  b.AddFile(docs, "X       TXT", Bytes("docs x\n"), Dated(1998, 6, 8, 0, 0));
  const uint16_t sub = b.AddDirectory(docs, "SUB        ", Dated(1998, 6, 9, 0, 0, kdl::kAttrDirectory));
  b.AddFile(sub, "DEEP    TXT", Bytes("deep\n"), Dated(1998, 6, 10, 0, 0));
  const uint16_t games =
      b.AddDirectory(FatDiskBuilder::kRoot, "GAMES      ", Dated(1998, 6, 6, 6, 7, kdl::kAttrDirectory));
  b.AddFile(games, "X       TXT", Bytes("games x, a longer one\n"), Dated(1998, 6, 11, 0, 0));
  EntryOptions slash = Dated(1998, 6, 12, 0, 0, kdl::kAttrDirectory);
  slash.longName = u"a\\b";
  const uint16_t odd = b.AddDirectory(FatDiskBuilder::kRoot, "AB~1       ", slash);
  b.AddFile(odd, "INSIDE  TXT", Bytes("inside\n"), Dated(1998, 6, 13, 0, 0));
  return b.bytes();
}

std::vector<uint8_t> FlatDisk(int mediaType) {
  FatDiskBuilder b(mediaType);
  b.AddFile(FatDiskBuilder::kRoot, "ONLY    TXT", Bytes("the only file\n"), Dated(1998, 1, 1, 1, 1));
  return b.bytes();
}

std::vector<uint8_t> BlankDisk(int mediaType) { return FatDiskBuilder(mediaType).bytes(); }

std::vector<uint8_t> KdlOf(const std::vector<uint8_t>& raw, const std::vector<std::string>& labelsUtf8) {
  kdl::KdlWriteOptions options;
  options.omitUnused = false;
  for (size_t i = 0; i < labelsUtf8.size() && i < options.labels.size(); ++i)
    options.labels[i] = Sjis(labelsUtf8[i]);
  kdl::TrackCodec codec;
  codec.CodecInit();
  const std::optional<std::vector<uint8_t>> image =
      kdl::KdlFromRawImage(kdl::ByteView(raw.data(), raw.size()), options, codec);
  return image.value_or(std::vector<uint8_t>());
}

bool WriteBytes(const QString& path, const std::vector<uint8_t>& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
         file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) ==
             static_cast<qint64>(bytes.size());
}

std::vector<uint8_t> ReadBytes(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray data = file.readAll();
  return std::vector<uint8_t>(data.begin(), data.end());
}

bool DuringModal(const std::function<void()>& open, const std::function<void(QWidget*)>& check,
                 const std::function<bool(QWidget*)>& ready) {
  bool seen = false;
  QTimer poll;
  poll.setInterval(5);
  QElapsedTimer clock;
  clock.start();
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* window = QApplication::activeModalWidget();
    if (window == nullptr || seen) return;
    // A window that never settles is checked as it is rather than left open for ever.
    if (ready && !ready(window) && clock.elapsed() < 10000) return;
    seen = true;
    check(window);
    window->close();
  });
  poll.start();
  open();
  poll.stop();
  return seen;
}

QWidget* KeyTarget(QWidget* form) {
  QWidget* focus = QApplication::focusWidget();
  return focus != nullptr && focus->window() == form ? focus : form;
}

}  // namespace kdlwtest
