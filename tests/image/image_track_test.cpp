// Reading track units through the one-track cache: every kind, free clusters, damaged and hostile entries.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <tuple>

#include "codec/crc.h"
#include "image/image.h"
#include "support/image_builder.h"

namespace kdl {
namespace {

using kdltest::FatDiskBuilder;
using kdltest::ImageBench;
using kdltest::KdlImage;
using kdltest::KdlOptions;
using kdltest::MakeKdl;

// A disk with data in several units, and leftovers of deleted files in free and bad clusters.
FatDiskBuilder SpreadDisk(int type) {
  FatDiskBuilder disk(type);
  const MediaGeometry& g = disk.geometry();
  disk.AddFile(FatDiskBuilder::kRoot, "BIG     TXT",
               kdltest::TextBytes(static_cast<size_t>(g.trackSize) * 2 + 333));
  disk.AddFile(FatDiskBuilder::kRoot, "NOISE   BIN",
               kdltest::NoiseBytes(static_cast<size_t>(g.clusterSize) * 3 + 5));
  const uint16_t sub = disk.AddDirectory(FatDiskBuilder::kRoot, "SUB        ");
  disk.AddFile(sub, "INNER   TXT", kdltest::TextBytes(700, 7));
  const int last = g.lastCluster;
  const std::vector<uint8_t> junk = kdltest::NoiseBytes(static_cast<size_t>(g.clusterSize), 99);
  for (int c : {last - 1, last - 5, (last + 2) / 2}) std::memcpy(disk.Cluster(c), junk.data(), junk.size());
  disk.SetFat(last - 5, 0xFF7);
  disk.AddFileAt(FatDiskBuilder::kRoot, "FAR     TXT", kdltest::TextBytes(100, 3), {last - 3});
  return disk;
}

// What reading the image must give: free and bad clusters read as the fill byte when they were left out, and
// a unit stored as one byte is that byte throughout.
std::vector<uint8_t> ExpectedDisk(const FatDiskBuilder& disk, const KdlImage& kdl) {
  std::vector<uint8_t> expected = disk.bytes();
  const MediaGeometry& g = disk.geometry();
  const uint8_t fill = MediaFillByte(disk.mediaType());
  for (int unit = 0; unit < g.cylinders; ++unit) {
    uint8_t* base = expected.data() + static_cast<size_t>(unit) * static_cast<size_t>(g.trackSize);
    const TrackEntry& e = kdl.directory[static_cast<size_t>(unit)];
    if (e.kind == kTrackSameByte) {
      std::memset(base, e.fill, static_cast<size_t>(g.trackSize));
      continue;
    }
    if (unit == 0 || kdl.header.omitUnused == 0) continue;
    for (int s = 0; s < g.sectorsPerTrack; ++s) {
      const int cluster = (unit * g.sectorsPerTrack + s - g.dataStart) / g.sectorsPerCluster + 2;
      const uint16_t value = disk.Fat(cluster);
      if (value == 0 || value == 0xFF7)
        std::memset(base + s * g.sectorSize, fill, static_cast<size_t>(g.sectorSize));
    }
  }
  return expected;
}

class RoundTrip : public ::testing::TestWithParam<std::tuple<int, bool, bool>> {};

TEST_P(RoundTrip, EverySectorReadsBackAsStored) {
  const auto [type, compress, omit] = GetParam();
  ImageBench bench;
  const FatDiskBuilder disk = SpreadDisk(type);
  KdlOptions options;
  options.compress = compress;
  options.omitUnused = omit;
  const KdlImage kdl = MakeKdl(disk.bytes(), type, options);
  ASSERT_GE(bench.image.OpenImage(bench.Write("rt.KDL", kdl.bytes)), 0);

  const MediaGeometry& g = disk.geometry();
  std::vector<uint8_t> all(disk.bytes().size());
  EXPECT_TRUE(bench.image.ReadSectors(0, g.cylinders * g.sectorsPerTrack, all.data()));
  EXPECT_EQ(all, ExpectedDisk(disk, kdl));
  EXPECT_TRUE(bench.prompter.asks.empty());

  // The fixture must exercise what it claims to.
  int kinds[3] = {};
  for (int u = 0; u < g.cylinders; ++u) ++kinds[kdl.directory[static_cast<size_t>(u)].kind];
  EXPECT_GT(kinds[kTrackSameByte], 0);
  EXPECT_GT(kinds[compress ? kTrackCompressed : kTrackNormal], 0);
  if (!compress) {
    EXPECT_EQ(kinds[kTrackCompressed], 0);
  }
}

std::string RoundTripName(const ::testing::TestParamInfo<std::tuple<int, bool, bool>>& info) {
  return "Type" + std::to_string(std::get<0>(info.param)) + (std::get<1>(info.param) ? "Packed" : "Plain") +
         (std::get<2>(info.param) ? "OmitFree" : "Whole");
}

INSTANTIATE_TEST_SUITE_P(ClusterAlignedTypes, RoundTrip,
                         ::testing::Combine(::testing::Range(0, 6), ::testing::Bool(), ::testing::Bool()),
                         RoundTripName);
INSTANTIATE_TEST_SUITE_P(WholeUnitTypes, RoundTrip,
                         ::testing::Combine(::testing::Values(6, 7), ::testing::Bool(),
                                            ::testing::Values(false)),
                         RoundTripName);

// A 720 KB image whose unit 1 holds file data and whose later units are one repeated byte.
class TrackRead : public ::testing::Test {
 protected:
  TrackRead() : disk_(3) {
    disk_.AddFile(FatDiskBuilder::kRoot, "README  TXT", kdltest::TextBytes(3000));
    disk_.AddFile(FatDiskBuilder::kRoot, "NOISE   BIN", kdltest::NoiseBytes(5000));
  }
  KdlImage Make(bool compress) {
    KdlOptions o;
    o.compress = compress;
    return MakeKdl(disk_.bytes(), 3, o);
  }
  bool Open(const KdlImage& kdl) { return bench_.image.OpenImage(bench_.Write("t.KDL", kdl.bytes)) >= 0; }
  static std::string Crc1(int unit, unsigned a, unsigned b) {
    char text[64];
    std::snprintf(text, sizeof text, "TRK:%2d  CRC Error (%04X,%04X)", unit, a, b);
    return text;
  }
  const uint8_t* Unit(int unit) const { return disk_.bytes().data() + unit * 9216; }

  FatDiskBuilder disk_;
  ImageBench bench_;
  ImageState& image_ = bench_.image;
  kdltest::ScriptedPrompter& prompter_ = bench_.prompter;
};

TEST_F(TrackRead, SameUnitTwiceLoadsOnce) {
  ASSERT_TRUE(Open(Make(true)));
  const uint64_t before = image_.trackLoads;
  EXPECT_EQ(image_.ReadTrack(1), 0);
  EXPECT_EQ(image_.ReadTrack(1), 0);
  EXPECT_EQ(image_.trackLoads, before + 1);
  // Every sector of one unit comes from the one load.
  std::vector<uint8_t> unit(9216);
  image_.ReadSectors(18, 18, unit.data());
  EXPECT_EQ(image_.trackLoads, before + 1);
  EXPECT_EQ(0, std::memcmp(unit.data(), Unit(1), unit.size()));
  EXPECT_EQ(image_.ReadTrack(2), 0);
  EXPECT_EQ(image_.ReadTrack(1), 0);
  EXPECT_EQ(image_.trackLoads, before + 3);
}

TEST_F(TrackRead, PlainUnitWithWrongCrcFailsEveryTimeItIsRead) {
  KdlImage kdl = Make(false);
  const TrackEntry e = kdl.directory[1];
  ASSERT_EQ(e.kind, kTrackNormal);
  kdl.bytes[static_cast<size_t>(e.offset) + 100] ^= 0x5A;
  const uint16_t actual = TrackCrc(kdl.bytes.data() + e.offset, static_cast<size_t>(e.storedLength));
  ASSERT_TRUE(Open(kdl));
  prompter_.Clear();

  const uint64_t before = image_.trackLoads;
  EXPECT_EQ(image_.ReadTrack(1), -1);
  EXPECT_EQ(image_.cachedTrack, -1);
  EXPECT_EQ(image_.ReadTrack(1), -1);
  EXPECT_EQ(image_.trackLoads, before + 2);
  // Told once per operation, however often the unit is read in it.
  EXPECT_EQ(prompter_.Texts(), std::vector<std::string>(1, Crc1(1, e.dataCrc, actual)));
  EXPECT_EQ(prompter_.asks[0].caption, "KDL Form");
  image_.BeginOperation();
  EXPECT_EQ(image_.ReadTrack(1), -1);
  EXPECT_EQ(prompter_.Texts(), std::vector<std::string>(2, Crc1(1, e.dataCrc, actual)));
}

TEST_F(TrackRead, PlainUnitWithoutCrcIsNotChecked) {
  KdlImage kdl = Make(false);
  TrackEntry e = kdl.directory[1];
  e.dataCrc = 0;
  kdl.SetEntry(1, e);
  kdl.bytes[static_cast<size_t>(e.offset) + 100] ^= 0x5A;
  ASSERT_TRUE(Open(kdl));
  EXPECT_EQ(image_.ReadTrack(1), 0);
  EXPECT_EQ(image_.track[100], Unit(1)[100] ^ 0x5A);
  EXPECT_TRUE(prompter_.asks.empty());
}

TEST_F(TrackRead, CompressedUnitChecksBothCrcs) {
  const KdlImage good = Make(true);
  const TrackEntry e = good.directory[1];
  ASSERT_EQ(e.kind, kTrackCompressed);
  char text[96];

  // Intact stored bytes whose expansion does not give the recorded data.
  KdlImage kdl = good;
  TrackEntry wrongData = e;
  wrongData.dataCrc = static_cast<uint16_t>(e.dataCrc ^ 0x1111);
  kdl.SetEntry(1, wrongData);
  ASSERT_TRUE(Open(kdl));
  prompter_.Clear();
  EXPECT_EQ(image_.ReadTrack(1), -1);
  std::snprintf(text, sizeof text, "TRK:%2d  CRC Error (%04X,%04X)  (%04X,%04X)", 1, wrongData.dataCrc,
                e.dataCrc, e.storedCrc, e.storedCrc);
  EXPECT_EQ(prompter_.Texts(), std::vector<std::string>{text});
  image_.CloseImage();

  kdl = good;
  TrackEntry wrongStored = e;
  wrongStored.storedCrc = static_cast<uint16_t>(e.storedCrc + 1);
  kdl.SetEntry(1, wrongStored);
  ASSERT_TRUE(Open(kdl));
  prompter_.Clear();
  EXPECT_EQ(image_.ReadTrack(1), -1);
  std::snprintf(text, sizeof text, "TRK:%2d  CRC Error (%04X,%04X)  (%04X,%04X)", 1, e.dataCrc, e.dataCrc,
                wrongStored.storedCrc, e.storedCrc);
  EXPECT_EQ(prompter_.Texts(), std::vector<std::string>{text});
}

TEST_F(TrackRead, StreamThatCannotBeExpanded) {
  // Code-length count 19 followed by lengths that do not form a complete code.
  std::vector<uint8_t> stream = {0x00, 0x10, 0x9F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  std::vector<uint8_t> out(9216);
  ASSERT_EQ(image_.codec().ExpandTrack(stream.data(), out.data(), 9216, static_cast<int32_t>(stream.size())),
            -3);

  KdlImage kdl = Make(true);
  TrackEntry e = kdl.directory[1];
  std::memcpy(kdl.bytes.data() + e.offset, stream.data(), stream.size());
  e.storedLength = static_cast<int16_t>(stream.size());
  e.storedCrc = TrackCrc(stream.data(), stream.size());
  kdl.SetEntry(1, e);
  ASSERT_TRUE(Open(kdl));
  prompter_.Clear();
  EXPECT_EQ(image_.ReadTrack(1), -1);
  EXPECT_EQ(prompter_.Texts(), std::vector<std::string>{"データの解凍でエラーがありました"});
}

TEST_F(TrackRead, ShortReadsFailAndSaySo) {
  KdlImage kdl = Make(false);
  TrackEntry past = kdl.directory[1];
  past.offset = static_cast<int32_t>(kdl.bytes.size()) + 10;
  kdl.SetEntry(2, past);
  // Unit 1's bytes end 100 bytes early.
  kdl.bytes.resize(static_cast<size_t>(kdl.directory[1].offset + kdl.directory[1].storedLength - 100));
  ASSERT_TRUE(Open(kdl));
  EXPECT_EQ(image_.ReadTrack(1), -1);
  EXPECT_EQ(image_.ReadTrack(2), -1);
  EXPECT_EQ(image_.cachedTrack, -1);
  EXPECT_EQ(prompter_.Texts(), (std::vector<std::string>{"TRK: 1  イメージが途中で切れています",
                                                         "TRK: 2  イメージが途中で切れています"}));
}

TEST_F(TrackRead, EntriesThatDoNotFitTheBuffersAreRefused) {
  const KdlImage good = Make(false);
  const TrackEntry e = good.directory[1];
  auto refused = [&](const TrackEntry& entry, int unit) {
    KdlImage kdl = good;
    kdl.SetEntry(unit, entry);
    kdl.bytes.resize(kdl.bytes.size() + 30000, 0x20);  // enough bytes behind every offset
    prompter_.Clear();
    if (!Open(kdl)) return false;
    const bool failed = image_.ReadTrack(unit) == -1;
    image_.CloseImage();
    char text[64];
    std::snprintf(text, sizeof text, "TRK:%2d  トラック情報が正しくありません", unit);
    return failed && prompter_.Texts() == std::vector<std::string>{text};
  };
  TrackEntry x = e;
  x.storedLength = 25601;
  x.dataLength = 25601;
  EXPECT_TRUE(refused(x, 1));
  x = e;
  x.storedLength = -4;
  EXPECT_TRUE(refused(x, 1));
  x = e;
  x.kind = kTrackCompressed;
  x.dataLength = 9217;  // more than a 720 KB unit holds
  EXPECT_TRUE(refused(x, 1));
  x = e;
  x.offset = -1536;
  EXPECT_TRUE(refused(x, 1));
  x = e;
  x.kind = 3;
  EXPECT_TRUE(refused(x, 1));
  x = e;
  x.dataLength = 4096;  // a plain unit stores its data as it is
  EXPECT_TRUE(refused(x, 1));
  x = e;
  x.kind = kTrackCompressed;
  x.dataLength = 25600;  // only the last unit may be that long
  EXPECT_TRUE(refused(x, 78));
}

TEST(TrackReadOverlong, LastUnitMayFillTheWholeTrackBuffer) {
  ImageBench bench;
  FatDiskBuilder disk(2);
  KdlImage kdl = MakeKdl(disk.bytes(), 2);
  const std::vector<uint8_t> data = kdltest::NoiseBytes(kTrackBufferSize, 5);
  TrackEntry e;
  e.offset = static_cast<int32_t>(kdl.bytes.size());
  e.storedLength = e.dataLength = static_cast<int16_t>(kTrackBufferSize);
  e.dataCrc = TrackCrc(data.data(), data.size());
  kdl.SetEntry(79, e);
  kdl.bytes.insert(kdl.bytes.end(), data.begin(), data.end());
  ASSERT_GE(bench.image.OpenImage(bench.Write("o.KDL", kdl.bytes)), 0);
  EXPECT_EQ(bench.image.ReadTrack(79), 0);
  EXPECT_EQ(0, std::memcmp(bench.image.track.data(), data.data(), data.size()));
  std::vector<uint8_t> last(512);
  bench.image.ReadSectors(80 * 36 - 1, 1, last.data());
  EXPECT_EQ(0, std::memcmp(last.data(), data.data() + 35 * 512, 512));
  EXPECT_TRUE(bench.prompter.asks.empty());
}

TEST_F(TrackRead, UnreadableUnitsGiveZeroSectorsNeverAnotherUnitsBytes) {
  KdlImage kdl = Make(false);
  kdl.bytes[static_cast<size_t>(kdl.directory[1].offset) + 5] ^= 1;
  ASSERT_TRUE(Open(kdl));
  ASSERT_EQ(image_.ReadTrack(0), 0);
  prompter_.Clear();
  const uint64_t failed = image_.failedReads;
  std::vector<uint8_t> buffer(3 * 512, 0x77);
  EXPECT_FALSE(image_.ReadSectors(17, 3, buffer.data()));  // last sector of unit 0, two of unit 1
  EXPECT_EQ(0, std::memcmp(buffer.data(), Unit(0) + 17 * 512, 512));
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + 512, buffer.end()), std::vector<uint8_t>(1024, 0));
  // One failed load and one message for the damaged unit, however many of its sectors were asked for.
  EXPECT_EQ(image_.failedReads, failed + 1);
  EXPECT_EQ(prompter_.asks.size(), 1u);

  // Sectors outside the disk read as zeros without touching the file.
  prompter_.Clear();
  std::fill(buffer.begin(), buffer.end(), 0x77);
  const uint64_t loads = image_.trackLoads;
  EXPECT_FALSE(image_.ReadSectors(1440 - 1, 2, buffer.data()));
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + 512, buffer.begin() + 1024), std::vector<uint8_t>(512, 0));
  EXPECT_FALSE(image_.ReadSectors(-1, 1, buffer.data()));
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 512), std::vector<uint8_t>(512, 0));
  EXPECT_EQ(image_.trackLoads, loads + 1);  // only unit 79 was loaded
  EXPECT_EQ(image_.ReadTrack(80), -1);
  EXPECT_TRUE(prompter_.asks.empty());
}

TEST(ImagePrompts, ErrorBoxInterruptionQuestionAndPump) {
  ImageBench bench;
  bench.image.ShowImageError("テスト");
  ASSERT_EQ(bench.prompter.asks.size(), 1u);
  EXPECT_EQ(bench.prompter.asks[0].caption, "KDL Form");
  EXPECT_EQ(bench.prompter.asks[0].buttons, Buttons::kOk);
  EXPECT_EQ(bench.prompter.asks[0].icon, Icon::kStop);

  bench.prompter.answers = {Answer::kYes, Answer::kNo};
  bench.work.cancelRequested = true;
  EXPECT_TRUE(bench.image.ConfirmCancel("ＫＤＬ作成"));
  EXPECT_FALSE(bench.work.cancelRequested);
  bench.work.cancelRequested = true;
  EXPECT_FALSE(bench.image.ConfirmCancel("コピー"));
  EXPECT_FALSE(bench.work.cancelRequested);
  ASSERT_EQ(bench.prompter.asks.size(), 3u);
  EXPECT_EQ(bench.prompter.asks[1].text, "ＫＤＬ作成 ： ユーザー割り込みがありました\n中断しますか?");
  EXPECT_EQ(bench.prompter.asks[1].caption, "ユーザー割り込み");
  EXPECT_EQ(bench.prompter.asks[1].buttons, Buttons::kYesNo);
  EXPECT_EQ(bench.prompter.asks[1].icon, Icon::kExclamation);

  bench.prompter.cancelAtPump = {2};
  bench.image.Pump();
  EXPECT_FALSE(bench.work.cancelRequested);
  bench.image.Pump();
  EXPECT_TRUE(bench.work.cancelRequested);
}

}  // namespace
}  // namespace kdl
