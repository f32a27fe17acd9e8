#include <gtest/gtest.h>

#include "common/sjis.h"
#include "image/create_rig.h"

namespace kdl {
namespace {

using kdltest::DriveRig;
using kdltest::FatDiskBuilder;
using kdltest::FirstClusterOf;
using kdltest::NoiseBytes;
using kdltest::TextBytes;

constexpr int kType = 2;  // 2HC(1.44M): 36 sectors of 512 bytes, clusters of one sector
constexpr size_t kUnit = 18432;

std::vector<int> ClustersFrom(int first, int count) {
  std::vector<int> c(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) c[static_cast<size_t>(i)] = first + i;
  return c;
}

// Unit 1 text, unit 2 noise, unit 3 one repeated byte, unit 4 eight clusters of text and the rest free; every
// free cluster holds leftover noise.
FatDiskBuilder MixedDisk(int type = kType) {
  FatDiskBuilder d(type);
  const MediaGeometry& g = d.geometry();
  const int perUnit = g.sectorsPerTrack / g.sectorsPerCluster;
  const size_t unit = static_cast<size_t>(g.trackSize);
  d.AddFileAt(FatDiskBuilder::kRoot, "TEXT    TXT", TextBytes(unit),
              ClustersFrom(FirstClusterOf(1, g), perUnit));
  d.AddFileAt(FatDiskBuilder::kRoot, "NOISE   BIN", NoiseBytes(unit),
              ClustersFrom(FirstClusterOf(2, g), perUnit));
  d.AddFileAt(FatDiskBuilder::kRoot, "SAME    BIN", std::vector<uint8_t>(unit, 0x41),
              ClustersFrom(FirstClusterOf(3, g), perUnit));
  d.AddFileAt(FatDiskBuilder::kRoot, "PART    TXT", TextBytes(8 * static_cast<size_t>(g.clusterSize), 5),
              ClustersFrom(FirstClusterOf(4, g), 8));
  kdltest::LitterFreeClusters(d);
  return d;
}

TEST(CreateImage, StoresUnitsOfEveryKindAndLeavesFreeClustersOut) {
  DriveRig rig;
  const FatDiskBuilder disk = MixedDisk();
  rig.disk.bytes = disk.bytes();
  const int32_t length = rig.Create("mixed.kdl");
  ASSERT_GT(length, 0);
  EXPECT_EQ(static_cast<size_t>(length), kdltest::ReadFile(rig.Path("mixed.kdl")).size());
  EXPECT_EQ(kdltest::StoredHeader(rig.Path("mixed.kdl")).omitUnused, 1);

  const TrackDirectory d = kdltest::StoredDirectory(rig.Path("mixed.kdl"));
  EXPECT_EQ(d[1].kind, kTrackCompressed);
  EXPECT_EQ(d[2].kind, kTrackNormal);
  EXPECT_EQ(d[2].storedLength, static_cast<int16_t>(kUnit));
  EXPECT_EQ(d[3].kind, kTrackSameByte);
  EXPECT_EQ(d[3].fill, 0x41);
  EXPECT_EQ(d[4].dataLength, 8 * 512);
  // A unit without a used cluster: no data, the media fill byte, no CRC.
  EXPECT_EQ(d[10].kind, kTrackSameByte);
  EXPECT_EQ(d[10].fill, 0xF6);
  EXPECT_EQ(d[10].dataLength, 0);
  EXPECT_EQ(d[10].storedLength, 0);
  EXPECT_EQ(d[10].dataCrc, 0);
  EXPECT_EQ(d[80 - 1].fill, 0xF6);

  for (int unit = 5; unit < 80; ++unit) {
    EXPECT_EQ(rig.disk.ReadsTouching(unit * kUnit, kUnit), 0) << "free unit " << unit << " was read";
  }
  EXPECT_EQ(rig.Units("mixed.kdl"), kdltest::WithFreeClustersBlank(disk.bytes(), kType));
}

TEST(CreateImage, KeepUnusedStoresEveryByteAndNoCompressionStoresPlainUnits) {
  for (const bool compress : {true, false}) {
    SCOPED_TRACE(compress);
    DriveRig rig;
    rig.disk.bytes = MixedDisk().bytes();
    rig.work().omitUnused = false;
    rig.work().compress = compress;
    ASSERT_GT(rig.Create("whole.kdl"), 0);
    EXPECT_EQ(kdltest::StoredHeader(rig.Path("whole.kdl")).omitUnused, 0);
    const TrackDirectory d = kdltest::StoredDirectory(rig.Path("whole.kdl"));
    for (int unit = 0; unit < 80; ++unit) {
      EXPECT_EQ(d[static_cast<size_t>(unit)].dataLength, static_cast<int16_t>(kUnit));
      EXPECT_EQ(d[static_cast<size_t>(unit)].kind == kTrackCompressed, compress && unit != 2 && unit != 3);
    }
    EXPECT_EQ(rig.Units("whole.kdl"), rig.disk.bytes);
  }
}

TEST(CreateImage, BadClustersAreNeverReadAndHoldTheFillByte) {
  FatDiskBuilder disk = MixedDisk();
  const MediaGeometry& g = disk.geometry();
  // Two bad clusters among the noise of unit 2, and one alone in the otherwise free unit 6.
  const int bad[] = {FirstClusterOf(2, g) + 7, FirstClusterOf(2, g) + 8, FirstClusterOf(6, g) + 3};
  for (int c : bad) disk.SetFat(c, 0xFF7);
  for (const bool omit : {true, false}) {
    SCOPED_TRACE(omit);
    DriveRig rig;
    rig.disk.bytes = disk.bytes();
    for (int c : bad) rig.disk.MakeUnreadable(kdltest::ClusterOffset(c, g), 512);
    rig.work().omitUnused = omit;
    ASSERT_GT(rig.Create("bad.kdl"), 0);
    EXPECT_TRUE(rig.prompter().asks.empty());
    const std::vector<uint8_t> units = rig.Units("bad.kdl");
    std::vector<uint8_t> expected = omit ? kdltest::WithFreeClustersBlank(disk.bytes(), kType) : disk.bytes();
    for (int c : bad)
      std::fill_n(expected.begin() + static_cast<ptrdiff_t>(kdltest::ClusterOffset(c, g)), 512, 0xF6);
    EXPECT_EQ(units, expected);
    EXPECT_EQ(rig.disk.ReadsTouching(6 * kUnit, kUnit), omit ? 0 : 2);
  }
}

TEST(CreateImage, The8InchAndDmfTypesAreAlwaysStoredWhole) {
  for (const int type : {kMediaType8Inch, kMediaTypeDmf}) {
    SCOPED_TRACE(type);
    DriveRig rig;
    FatDiskBuilder disk(type);
    disk.AddFile(FatDiskBuilder::kRoot, "FILE    TXT", TextBytes(9000));
    kdltest::LitterFreeClusters(disk);
    rig.disk.bytes = disk.bytes();
    rig.work().omitUnused = true;
    ASSERT_GT(rig.Create("whole.kdl"), 0);
    EXPECT_TRUE(rig.work().omitUnused) << "the option is left for the next disk";
    EXPECT_EQ(kdltest::StoredHeader(rig.Path("whole.kdl")).omitUnused, 0);
    EXPECT_EQ(rig.Units("whole.kdl"), disk.bytes());
  }
}

TEST(CreateImage, TheVolumeLabelComesFromTheRootWithADotAfterTheEighthCharacter) {
  struct Case {
    const char* name11;
    std::string stored;
    std::string shown;
  };
  const Case cases[] = {
      {"KDLW TYPE 2", "KDLW TYP.E 2", "タイプ：2HC(1.44M)  Volume LABEL : KDLW TYP.E 2"},
      {"DISK       ", "DISK        ", "タイプ：2HC(1.44M)  Volume LABEL : DISK        "},
      {"EIGHTCHR   ", "EIGHTCHR    ", "タイプ：2HC(1.44M)  Volume LABEL : EIGHTCHR    "},
      // A Shift-JIS character across the eighth byte keeps its two bytes together: the "." follows it.
      {"A\x82\xa0\x82\xa2\x82\xa4\x82\xa6\x82\xa8", "A\x82\xa0\x82\xa2\x82\xa4\x82\xa6.\x82\xa8",
       "タイプ：2HC(1.44M)  Volume LABEL : Aあいうえ.お"},
      {nullptr, "            ", "タイプ：2HC(1.44M)  NO VOLUME LABEL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    DriveRig rig;
    FatDiskBuilder disk = MixedDisk();
    // A deleted entry before the label is passed over.
    DirectoryEntry deleted = FatDiskBuilder::ShortEntry("GONE    TXT", {}, 0, 0);
    deleted.bytes()[0] = 0xE5;
    disk.AddEntry(FatDiskBuilder::kRoot, deleted);
    if (c.name11 != nullptr) disk.AddVolumeLabel(c.name11, 0x6000, 0x2118);
    rig.disk.bytes = disk.bytes();
    std::string typeLabel;
    ASSERT_GT(rig.Create("label.kdl", &typeLabel), 0);
    const KdlHeader h = kdltest::StoredHeader(rig.Path("label.kdl"));
    EXPECT_EQ(h.volumeLabel, c.stored);
    EXPECT_EQ(h.labelTime, c.name11 != nullptr ? 0x6000 : 0);
    EXPECT_EQ(h.labelDate, c.name11 != nullptr ? 0x2118 : 0);
    EXPECT_EQ(typeLabel, c.shown);
  }
}

TEST(CreateImage, LabelLinesAreStoredAndTooLongOnesRefusedBeforeAnythingIsRead) {
  DriveRig rig;
  rig.disk.bytes = MixedDisk().bytes();
  const std::string japanese = *Utf8ToSjis("日本語のラベル");
  std::string typeLabel;
  ASSERT_GT(CreateImage(rig.image(), rig.drives, rig.Path("lines.kdl"), 1, {"LINE ONE", "", japanese, "4"},
                        typeLabel),
            0);
  const KdlHeader h = kdltest::StoredHeader(rig.Path("lines.kdl"));
  EXPECT_EQ(h.LabelText(0), "LINE ONE");
  EXPECT_EQ(h.LabelText(1), "");
  EXPECT_EQ(h.LabelText(2), japanese);
  EXPECT_EQ(h.labels[3], "4" + std::string(39, ' '));

  rig.disk.opens = 0;
  EXPECT_EQ(CreateImage(rig.image(), rig.drives, rig.Path("long.kdl"), 1, {std::string(41, 'x')}, typeLabel),
            -1);
  EXPECT_EQ(rig.disk.opens, 0);
  EXPECT_FALSE(std::filesystem::exists(rig.Path("long.kdl")));
}

TEST(CreateImage, ShowsProgressAndAStatusLinePerUnit) {
  DriveRig rig;
  rig.disk.bytes = MixedDisk().bytes();
  ASSERT_GT(rig.Create("status.kdl"), 0);
  const auto& s = rig.prompter().statuses;
  auto has = [&](const std::string& line) { return std::find(s.begin(), s.end(), line) != s.end(); };
  EXPECT_TRUE(has("入力中　　：TRK   0 / 79         "));
  EXPECT_TRUE(has("入力中　　：TRK   1 / 79 Packing "));
  EXPECT_TRUE(has("入力中　　：TRK   3 / 79 Data: 41"));
  EXPECT_TRUE(has("入力中　　：TRK  79 / 79 Data: f6"));
  // "Packing" only once a unit is known to need compressing: not for one repeated byte, nor for a free unit.
  EXPECT_FALSE(has("入力中　　：TRK   3 / 79 Packing "));
  EXPECT_FALSE(has("入力中　　：TRK  79 / 79 Packing "));
  // The type line comes before the first unit is read.
  ASSERT_EQ(rig.prompter().typeLines.size(), 1u);
  EXPECT_EQ(rig.prompter().typeLines[0].first, "タイプ：2HC(1.44M)  NO VOLUME LABEL");
  EXPECT_EQ(rig.prompter().typeLines[0].second, 0u);
  // The incompressible unit ends with the plain line after the packing attempt.
  const auto packing = std::find(s.begin(), s.end(), "入力中　　：TRK   2 / 79 Packing ");
  ASSERT_NE(packing, s.end());
  EXPECT_EQ(*(packing + 1), "入力中　　：TRK   2 / 79         ");
  EXPECT_EQ(rig.prompter().progressMaximums.front(), 80);
  EXPECT_EQ(rig.prompter().progress.back(), 0);
  EXPECT_EQ(rig.prompter().pumpCalls, 80);
}

TEST(CreateImage, ATargetNotEndingInKdlGetsTheRawDisk) {
  DriveRig rig;
  rig.disk.bytes = MixedDisk().bytes();
  EXPECT_EQ(rig.Create("disk.img"), 80 * static_cast<int32_t>(kUnit));
  EXPECT_EQ(kdltest::ReadFile(rig.Path("disk.img")), rig.disk.bytes);
  // Any letter case of ".KDL" makes an image.
  const int32_t length = rig.Create("upper.KdL");
  ASSERT_GT(length, 0);
  const std::vector<uint8_t> image = kdltest::ReadFile(rig.Path("upper.KdL"));
  EXPECT_EQ(image.size(), static_cast<size_t>(length));
  EXPECT_EQ(std::string(image.begin(), image.begin() + 8), "KAD_LONE");
}

}  // namespace
}  // namespace kdl
