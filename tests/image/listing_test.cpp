// The information listing and the label lines of an image.
#include "image/listing.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "codec/crc.h"
#include "support/image_builder.h"

namespace kdl {
namespace {

using kdltest::FatDiskBuilder;
using kdltest::ImageBench;
using kdltest::KdlImage;
using kdltest::KdlOptions;

constexpr uint16_t kTime1317 = (13 << 11) | (17 << 5);
constexpr uint16_t kDate19991231 = (19 << 9) | (12 << 5) | 31;
const std::string kJapaneseLabel =
    "\x93\xfa\x96\x7b\x8c\xea\x83\x89\x83\x78\x83\x8b";  // 日本語ラベル in Shift-JIS

// A 360 KB disk (40 units): unit 0 and unit 2 compress, unit 1 holds noise and is stored plain, the rest are
// one repeated byte.
KdlImage SampleImage(bool withVolumeLabel = true) {
  FatDiskBuilder disk(5);
  disk.AddFile(FatDiskBuilder::kRoot, "README  TXT", kdltest::TextBytes(3000));
  disk.AddFile(FatDiskBuilder::kRoot, "NOISE   BIN", kdltest::NoiseBytes(9216));
  disk.AddFile(FatDiskBuilder::kRoot, "TEXT    TXT", kdltest::TextBytes(9216, 4));
  KdlOptions o;
  if (withVolumeLabel) o.volumeLabel = "MYDISK      ";
  o.labelTime = kTime1317;
  o.labelDate = kDate19991231;
  o.labels = {"First line", "", kJapaneseLabel, "Fourth"};
  return kdltest::MakeKdl(disk.bytes(), 5, o);
}

std::string Line(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Line(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string UnitLine(int unit, const TrackEntry& e) {
  switch (e.kind) {
    case kTrackNormal:
      return Line("%3d  通常         %04X%8d", unit, e.dataCrc, e.storedLength);
    case kTrackSameByte:
      return Line("%3d  同一   %02X", unit, e.fill);
    default:
      return Line("%3d  圧縮         %04X%8d   0.%03d   %04X", unit, e.storedCrc, e.storedLength,
                  e.storedLength * 1000 / 9216, e.dataCrc);
  }
}

// Sets the file's modification time to 2024-03-15 10:20:30 and the zone to UTC.
void StampMarch15(const std::string& path) {
  setenv("TZ", "UTC", 1);
  tzset();
  std::tm t{};
  t.tm_year = 124;
  t.tm_mon = 2;
  t.tm_mday = 15;
  t.tm_hour = 10;
  t.tm_min = 20;
  t.tm_sec = 30;
  const timespec times[2] = {{timegm(&t), 0}, {timegm(&t), 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(ListImageInfo, ReportsHeaderLabelsAndEveryUnit) {
  ImageBench bench;
  const KdlImage kdl = SampleImage();
  const std::string path = bench.Write("l.KDL", kdl.bytes);
  StampMarch15(path);
  bench.work.currentImagePath = path;
  std::vector<std::string> lines{"kept"};

  EXPECT_EQ(ListImageInfo(bench.image, lines, kOpenFirst | kCloseAfter), 0);
  EXPECT_FALSE(bench.image.IsOpen());
  ASSERT_EQ(lines.size(), 1u + 9u + 40u);
  EXPECT_EQ(lines[0], "kept");
  EXPECT_EQ(lines[1], "FILE:" + path + " FDD type:2D (360K)  " + Line("%8zu", kdl.bytes.size()) +
                          " Bytes  Created 24-03-15 10:20");
  EXPECT_EQ(lines[2], "VOLUME LABEL MYDISK          CREATED  99-12-31 13:17");
  EXPECT_EQ(lines[3], " ");
  EXPECT_EQ(lines[4], "  First line" + std::string(30, ' '));
  EXPECT_EQ(lines[5], "  日本語ラベル" + std::string(28, ' '));
  EXPECT_EQ(lines[6], "  Fourth" + std::string(34, ' '));
  EXPECT_EQ(lines[7], " ");
  EXPECT_EQ(lines[8], "TRK  type  data   CRC     len    Rate    CRC2 ");
  EXPECT_EQ(lines[9], "===  ====  ====  ======  =====  ======  ======");
  EXPECT_EQ(kdl.directory[0].kind, kTrackCompressed);
  EXPECT_EQ(kdl.directory[1].kind, kTrackNormal);
  EXPECT_EQ(lines[11], Line("  1  通常         %04X    9216", kdl.directory[1].dataCrc));
  EXPECT_EQ(lines[12].substr(0, 20), "  2  圧縮         ");
  EXPECT_EQ(lines[49], " 39  同一   F6");
  for (int unit = 0; unit < 40; ++unit)
    EXPECT_EQ(lines[10 + static_cast<size_t>(unit)],
              UnitLine(unit, kdl.directory[static_cast<size_t>(unit)]));
  // The message pump runs once per unit.
  EXPECT_EQ(bench.prompter.pumpCalls, 40);
  EXPECT_TRUE(bench.prompter.asks.empty());
}

TEST(ListImageInfo, MarksUnitsThatFailAndCountsThem) {
  ImageBench bench;
  KdlImage kdl = SampleImage();
  kdl.bytes[static_cast<size_t>(kdl.directory[1].offset) + 7] ^= 0x10;
  TrackEntry gone = kdl.directory[1];
  gone.offset = 1 << 30;
  kdl.SetEntry(5, gone);
  bench.work.currentImagePath = bench.Write("e.KDL", kdl.bytes);
  std::vector<std::string> lines;

  EXPECT_EQ(ListImageInfo(bench.image, lines, kOpenFirst | kCloseAfter), 2);
  ASSERT_EQ(lines.size(), 49u);
  EXPECT_EQ(lines[10], UnitLine(1, kdl.directory[1]) + "    Error");
  EXPECT_EQ(lines[14], UnitLine(5, gone) + "    Error");
  EXPECT_EQ(lines[15], "  6  同一   F6");
  ASSERT_EQ(bench.prompter.asks.size(), 2u);
  EXPECT_EQ(bench.prompter.asks[0].text.substr(0, 18), "TRK: 1  CRC Error ");
  EXPECT_EQ(bench.prompter.asks[1].text, "TRK: 5  イメージが途中で切れています");
}

TEST(ListImageInfo, ImageInsideAnArchiveNamesItsEntry) {
  ImageBench bench;
  const KdlImage kdl = SampleImage(false);
  std::vector<uint8_t> archive(300, 0x11);
  archive.insert(archive.end(), kdl.bytes.begin(), kdl.bytes.end());
  File file;
  ASSERT_TRUE(file.Open(bench.Write("a.KDZ", archive), File::Mode::kReadWrite));
  bench.work.archiveFile = &file;
  bench.work.baseOffset = 300;
  ArchiveImageInfo info{"DISK3", 12345,
                        (((44u << 9) | (3u << 5) | 15u) << 16) | ((10u << 11) | (20u << 5) | 15u)};
  std::vector<std::string> lines;

  EXPECT_EQ(ListImageInfo(bench.image, lines, kOpenFirst | kCloseAfter, &info), 0);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "KDL :DISK3       FDD type:2D (360K)     12345 Bytes  Created 24-03-15 10:20");
  EXPECT_EQ(lines[1], "VOLUME LABEL ");
  EXPECT_TRUE(file.IsOpen());
}

TEST(ListImageInfo, RawImageHasNoLabelLinesAndPlainUnits) {
  ImageBench bench;
  FatDiskBuilder disk(5);
  disk.AddFile(FatDiskBuilder::kRoot, "A       TXT", kdltest::TextBytes(100));
  bench.work.dialogMode = kModeOpenRaw;
  bench.work.rawImagePath = bench.Write("r.img", disk.bytes());
  std::vector<std::string> lines;
  EXPECT_EQ(ListImageInfo(bench.image, lines, kOpenFirst | kCloseAfter), 0);
  ASSERT_EQ(lines.size(), 6u + 40u);
  EXPECT_EQ(lines[1], "VOLUME LABEL ");
  EXPECT_EQ(lines[2], " ");
  EXPECT_EQ(lines[3], " ");
  EXPECT_EQ(lines[45], " 39  通常         0000    9216");
}

TEST(ListImageInfo, UnopenedImageAddsNothing) {
  ImageBench bench;
  bench.work.currentImagePath = (bench.dir / "none.KDL").string();
  std::vector<std::string> lines;
  EXPECT_EQ(ListImageInfo(bench.image, lines, kOpenFirst | kCloseAfter), -1);
  EXPECT_EQ(ListImageInfo(bench.image, lines, 0), -1);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(WriteLabels(bench.image, "", 0, LabelTexts{}), -1);
}

TEST(ReadLabels, TextsAndTypeLine) {
  ImageBench bench;
  const std::string path = bench.Write("r.KDL", SampleImage().bytes);
  std::string type;
  LabelTexts texts;
  EXPECT_EQ(ReadLabels(bench.image, path, kOpenFirst | kCloseAfter, type, texts), 0);
  EXPECT_EQ(texts, (LabelTexts{"First line", "", kJapaneseLabel, "Fourth"}));
  EXPECT_EQ(type, "タイプ：2D (360K)   Volume LABEL : MYDISK      ");
  EXPECT_FALSE(bench.image.IsOpen());

  const std::string bare = bench.Write("n.KDL", SampleImage(false).bytes);
  EXPECT_EQ(ReadLabels(bench.image, bare, kOpenFirst, type, texts), 0);
  EXPECT_EQ(type, "タイプ：2D (360K)   NO VOLUME LABEL");
  EXPECT_TRUE(bench.image.IsOpen());
}

// Bytes of `after` that differ from `before`, as [first, last] or {-1, -1}.
std::pair<long, long> ChangedRange(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after) {
  long first = -1, last = -1;
  for (size_t i = 0; i < before.size(); ++i) {
    if (before[i] != after[i]) {
      if (first < 0) first = static_cast<long>(i);
      last = static_cast<long>(i);
    }
  }
  return {first, last};
}

TEST(WriteLabels, RewritesOnlyTheLabelBytesInPlace) {
  ImageBench bench;
  // A type-7 image whose stored geometry differs from the table: the reader's corrected copy must not be
  // written.
  FatDiskBuilder disk(7);
  KdlImage kdl = kdltest::MakeKdl(disk.bytes(), 7);
  KdlHeader h = kdl.header;
  h.geometry.lastCluster = 1;
  h.labels[0] = std::string(40, 'x');
  kdl.SetHeader(h);
  const std::string path = bench.Write("w.KDL", kdl.bytes);
  const LabelTexts texts{"New first", "", kJapaneseLabel, std::string(40, 'Z')};

  EXPECT_EQ(WriteLabels(bench.image, path, kOpenFirst | kCloseAfter, texts), 0);
  EXPECT_TRUE(bench.work.listChanged);
  const std::vector<uint8_t> after = kdltest::ReadFile(path);
  ASSERT_EQ(after.size(), kdl.bytes.size());
  const auto [first, last] = ChangedRange(kdl.bytes, after);
  EXPECT_GE(first, 60);
  EXPECT_LE(last, 223);
  const std::string line1(after.begin() + 60, after.begin() + 101);
  EXPECT_EQ(line1, "New first" + std::string(31, ' ') + std::string(1, '\0'));
  EXPECT_EQ(after[101 + 40], 0);

  std::string type;
  LabelTexts read;
  EXPECT_EQ(ReadLabels(bench.image, path, kOpenFirst | kCloseAfter, type, read), 0);
  EXPECT_EQ(read, texts);
}

TEST(WriteLabels, InsideAnArchiveOnlyTheImageHeaderChanges) {
  ImageBench bench;
  const KdlImage kdl = SampleImage();
  std::vector<uint8_t> archive = kdltest::NoiseBytes(500);
  archive.insert(archive.end(), kdl.bytes.begin(), kdl.bytes.end());
  archive.resize(archive.size() + 32, 0);
  const std::string path = bench.Write("a.KDZ", archive);
  File file;
  ASSERT_TRUE(file.Open(path, File::Mode::kReadWrite));
  bench.work.archiveFile = &file;
  bench.work.baseOffset = 500;

  EXPECT_EQ(WriteLabels(bench.image, "DISK1", kOpenFirst | kCloseAfter, LabelTexts{"Changed"}), 0);
  EXPECT_FALSE(bench.work.listChanged);
  const auto [first, last] = ChangedRange(archive, kdltest::ReadFile(path));
  EXPECT_GE(first, 500 + 60);
  EXPECT_LE(last, 500 + 223);
  EXPECT_TRUE(file.IsOpen());
}

TEST(WriteLabels, RefusesTextsLongerThanALine) {
  ImageBench bench;
  const KdlImage kdl = SampleImage();
  const std::string path = bench.Write("w.KDL", kdl.bytes);
  EXPECT_EQ(WriteLabels(bench.image, path, kOpenFirst | kCloseAfter, LabelTexts{"", std::string(41, 'a')}),
            -1);
  EXPECT_EQ(bench.prompter.Texts(), std::vector<std::string>{"ラベルは40バイトまでです"});
  EXPECT_EQ(kdltest::ReadFile(path), kdl.bytes);
  EXPECT_FALSE(bench.work.listChanged);
}

}  // namespace
}  // namespace kdl
