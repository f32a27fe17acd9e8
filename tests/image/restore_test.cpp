#include <gtest/gtest.h>

#include "image/create_rig.h"

namespace kdl {
namespace {

using kdltest::DriveRig;
using kdltest::FatDiskBuilder;

constexpr size_t kUnit = 18432;

// A source disk of type 2 with data in units 1-3 and 30, and leftover noise in its free clusters.
std::vector<uint8_t> SourceDisk() {
  FatDiskBuilder d(2);
  d.AddFile(FatDiskBuilder::kRoot, "FIRST   BIN", kdltest::NoiseBytes(3 * kUnit - 3000));
  std::vector<int> c;
  for (int i = 0; i < 5; ++i) c.push_back(kdltest::FirstClusterOf(30, d.geometry()) + i);
  d.AddFileAt(FatDiskBuilder::kRoot, "LATER   TXT", kdltest::TextBytes(2500), c);
  kdltest::LitterFreeClusters(d);
  return d.bytes();
}

// A formatted disk of `type` whose data area holds a pattern, so that units left alone can be told apart.
std::vector<uint8_t> TargetDisk(int type = 2) {
  std::vector<uint8_t> d = FatDiskBuilder(type).bytes();
  const MediaGeometry g = MediaGeometryOf(type);
  for (size_t i = static_cast<size_t>(g.trackSize); i < d.size(); ++i) d[i] = static_cast<uint8_t>(i % 13);
  return d;
}

struct RestoreRig : DriveRig {
  std::vector<uint8_t> source = SourceDisk();
  // Writes the source as "src.kdl" (free clusters left out unless told) and points the work area at it.
  void MakeImage(bool omitUnused = true) {
    kdltest::KdlOptions o;
    o.omitUnused = omitUnused;
    bench.Write("src.kdl", kdltest::MakeKdl(source, 2, o).bytes);
    work().currentImagePath = Path("src.kdl");
    work().openCloseFlags = kOpenFirst | kCloseAfter;
  }
  int32_t Restore(int32_t* verified = nullptr) { return RestoreToDrive(image(), drives, 1, verified); }
};

TEST(RestoreToDrive, WritesTheUnitsThatHoldDataInOrderAndLeavesFreeUnitsAlone) {
  RestoreRig rig;
  rig.MakeImage();
  rig.disk.bytes = TargetDisk();
  const std::vector<uint8_t> before = rig.disk.bytes;
  ASSERT_EQ(rig.Restore(), 0);
  EXPECT_TRUE(rig.prompter().asks.empty());
  EXPECT_FALSE(rig.image().IsOpen());

  const std::vector<uint8_t> blank = kdltest::WithFreeClustersBlank(rig.source, 2);
  std::vector<size_t> written;
  for (const kdltest::Access& w : rig.disk.writes) {
    ASSERT_EQ(w.length, kUnit);
    ASSERT_EQ(w.offset % kUnit, 0u);
    written.push_back(w.offset / kUnit);
  }
  EXPECT_EQ(written, (std::vector<size_t>{0, 1, 2, 3, 30}));
  for (size_t unit = 0; unit < 80; ++unit) {
    const auto from = static_cast<ptrdiff_t>(unit * kUnit);
    const std::vector<uint8_t>& expected =
        std::find(written.begin(), written.end(), unit) != written.end() ? blank : before;
    EXPECT_TRUE(std::equal(rig.disk.bytes.begin() + from, rig.disk.bytes.begin() + from + kUnit,
                           expected.begin() + from))
        << "unit " << unit;
  }
  EXPECT_EQ(rig.prompter().progressMaximums.front(), 79);
  EXPECT_EQ(rig.prompter().statuses.front(), "リストア中：TRK   0 / 79");
  EXPECT_EQ(rig.prompter().statuses.back(), "リストア中：TRK  79 / 79");
}

TEST(RestoreToDrive, AnImageWithEveryClusterGivesBackEveryByteAndVerifies) {
  RestoreRig rig;
  rig.MakeImage(false);
  rig.disk.bytes = TargetDisk();
  rig.work().verify = true;
  int32_t verified = kNotVerified;
  ASSERT_EQ(rig.Restore(&verified), 0);
  EXPECT_EQ(rig.disk.bytes, rig.source);
  EXPECT_EQ(verified, 0);
  EXPECT_TRUE(rig.prompter().asks.empty());
}

TEST(RestoreToDrive, ADiskOfAnotherTypeIsRefusedUntilTheUserChangesIt) {
  RestoreRig rig;
  rig.MakeImage();
  const std::vector<uint8_t> other = TargetDisk(0);
  rig.disk.bytes = other;
  EXPECT_EQ(rig.Restore(), -1);
  ASSERT_EQ(rig.prompter().asks.size(), 1u);
  EXPECT_EQ(rig.prompter().asks[0].caption, "ＦＤ再生");
  EXPECT_EQ(rig.prompter().asks[0].text, "違うタイプのメディアです( 2HD(1.25M) )\n交換してやり直しますか");
  EXPECT_EQ(rig.prompter().asks[0].buttons, Buttons::kYesNo);
  EXPECT_TRUE(rig.disk.writes.empty());
  EXPECT_EQ(rig.disk.bytes, other);

  // An unformatted disk first, then the right one.
  rig.prompter().Clear();
  rig.disk.inserted = {std::vector<uint8_t>(rig.source.size(), 0xF6), TargetDisk()};
  rig.prompter().answers = {Answer::kYes};
  EXPECT_EQ(rig.Restore(), 0);
  EXPECT_EQ(rig.prompter().Texts(),
            std::vector<std::string>{"違うタイプのメディアです(  Unkown  )\n交換してやり直しますか"});
  EXPECT_FALSE(rig.disk.writes.empty());
}

TEST(RestoreToDrive, ADmfImageIsRefusedWithoutTouchingTheDrive) {
  RestoreRig rig;
  FatDiskBuilder dmf(kMediaTypeDmf);
  dmf.AddFile(FatDiskBuilder::kRoot, "FILE    TXT", kdltest::TextBytes(5000));
  rig.bench.Write("dmf.kdl", kdltest::MakeKdl(dmf.bytes(), kMediaTypeDmf).bytes);
  rig.work().currentImagePath = rig.Path("dmf.kdl");
  rig.work().openCloseFlags = kOpenFirst | kCloseAfter;
  rig.disk.bytes = dmf.bytes();
  EXPECT_EQ(rig.Restore(), -1);
  EXPECT_EQ(rig.prompter().Texts(), std::vector<std::string>{"ＤＭＦディスクは再生できません"});
  EXPECT_EQ(rig.disk.opens, 0);
  EXPECT_FALSE(rig.image().IsOpen());
}

TEST(RestoreToDrive, AWriteErrorStopsWithTheUnitsBeforeItOnTheDisk) {
  RestoreRig rig;
  rig.MakeImage(false);
  rig.disk.bytes = TargetDisk();
  rig.disk.failWritesFrom = 10 * kUnit + 1;
  EXPECT_EQ(rig.Restore(), -1);
  EXPECT_EQ(rig.prompter().Texts(), std::vector<std::string>{"ドライブ出力エラー発生"});
  EXPECT_EQ(rig.disk.writes.size(), 11u);  // never retried
  EXPECT_TRUE(std::equal(rig.source.begin(), rig.source.begin() + 10 * kUnit, rig.disk.bytes.begin()));
}

// Regression: a damaged unit used to stop the restore after unit 0 (boot sector, FAT, root) was written,
// leaving a new directory over old data. Every unit is checked first; the user declines, nothing is written.
TEST(RestoreToDrive, AnImageReadErrorIsFoundBeforeTheFirstWrite) {
  RestoreRig rig;
  rig.MakeImage();
  std::vector<uint8_t> bytes = kdltest::ReadFile(rig.Path("src.kdl"));
  const TrackEntry unit2 = kdltest::StoredDirectory(rig.Path("src.kdl"))[2];
  bytes[static_cast<size_t>(unit2.offset) + 100] ^= 0xFF;
  rig.bench.Write("src.kdl", bytes);
  rig.disk.bytes = TargetDisk();
  EXPECT_EQ(rig.Restore(), -1);
  const std::vector<std::string> texts = rig.prompter().Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].rfind("イメージの TRK 2 が壊れています", 0), 0u) << texts[0];
  EXPECT_TRUE(rig.disk.writes.empty());
}

TEST(RestoreToDrive, CancelAsksAndNoGoesOn) {
  RestoreRig rig;
  rig.MakeImage();
  rig.disk.bytes = TargetDisk();
  rig.prompter().cancelAtPump = {2};
  EXPECT_EQ(rig.Restore(), 0);
  EXPECT_EQ(rig.prompter().Texts(),
            std::vector<std::string>{"ＦＤ再生 ： ユーザー割り込みがありました\n中断しますか?"});
  EXPECT_EQ(rig.disk.writes.size(), 5u);

  rig.prompter().Clear();
  rig.disk.writes.clear();
  rig.prompter().cancelAtPump = {rig.prompter().pumpCalls + 2};
  rig.prompter().answers = {Answer::kYes};
  EXPECT_EQ(rig.Restore(), -1);
  EXPECT_EQ(rig.disk.writes.size(), 1u);
  EXPECT_FALSE(rig.image().IsOpen());
}

TEST(RestoreToDrive, TheOpenCloseFlagsDecideWhetherItOpensAndClosesTheImage) {
  RestoreRig rig;
  rig.MakeImage(false);
  rig.disk.bytes = TargetDisk();
  // Nothing open and not asked to open: it fails before writing anything.
  rig.work().openCloseFlags = 0;
  EXPECT_EQ(rig.Restore(), -1);
  EXPECT_TRUE(rig.disk.writes.empty());
  // Already open (here a raw sector image) and left open afterwards.
  rig.bench.Write("src.img", rig.source);
  rig.work().dialogMode = kModeOpenRaw;
  rig.work().rawImagePath = rig.Path("src.img");
  ASSERT_GE(rig.image().OpenImage(rig.Path("src.img")), 0);
  rig.work().dialogMode = kModeRestore;
  EXPECT_EQ(rig.Restore(), 0);
  EXPECT_TRUE(rig.image().IsOpen());
  EXPECT_EQ(rig.disk.bytes, rig.source);
  EXPECT_EQ(rig.disk.writes.size(), 80u);
}

TEST(WriteRawImage, GivesEveryUnitRestoredAndFillBytesForSameByteUnits) {
  RestoreRig rig;
  rig.MakeImage();
  const std::string out = rig.Path("out.img");
  EXPECT_EQ(WriteRawImage(rig.image(), rig.Path("src.kdl"), out), 80 * static_cast<int32_t>(kUnit));
  EXPECT_EQ(kdltest::ReadFile(out), kdltest::WithFreeClustersBlank(rig.source, 2));
  EXPECT_EQ(rig.prompter().statuses.front(), "出力中　　：TRK   0 / 79         ");
  EXPECT_FALSE(rig.image().IsOpen());

  // Every unit of one byte: a file of that byte.
  kdltest::KdlImage same = kdltest::MakeKdl(rig.source, 2);
  TrackEntry e;
  e.kind = kTrackSameByte;
  e.fill = 0xE5;
  for (int unit = 0; unit < 80; ++unit) same.SetEntry(unit, e);
  rig.bench.Write("same.kdl", same.bytes);
  EXPECT_EQ(WriteRawImage(rig.image(), rig.Path("same.kdl"), out), 80 * static_cast<int32_t>(kUnit));
  EXPECT_EQ(kdltest::ReadFile(out), std::vector<uint8_t>(80 * kUnit, 0xE5));
}

// Regression: a raw output that stopped early used to report the full length as if it had succeeded. An
// image cut short is written out whole now, its missing units as the fill byte; a stop keeps the earlier
// file.
TEST(WriteRawImage, ACutImageGivesItsReadableUnitsAndAStopKeepsTheEarlierFile) {
  RestoreRig rig;
  rig.MakeImage(false);
  std::vector<uint8_t> bytes = kdltest::ReadFile(rig.Path("src.kdl"));
  const TrackDirectory directory = kdltest::StoredDirectory(rig.Path("src.kdl"));
  bytes.resize(bytes.size() / 2);
  rig.bench.Write("cut.kdl", bytes);
  const std::string out = rig.bench.Write("out.img", {1, 2, 3});
  std::vector<int32_t> filled;
  EXPECT_EQ(WriteRawImage(rig.image(), rig.Path("cut.kdl"), out, &filled), 80 * static_cast<int32_t>(kUnit));
  const std::vector<uint8_t> written = kdltest::ReadFile(out);
  ASSERT_EQ(written.size(), 80 * kUnit);
  ASSERT_FALSE(filled.empty());
  for (int unit = 0; unit < 80; ++unit) {
    const TrackEntry& e = directory[static_cast<size_t>(unit)];
    const bool lost =
        e.kind != kTrackSameByte && static_cast<size_t>(e.offset + e.storedLength) > bytes.size();
    EXPECT_EQ(std::count(filled.begin(), filled.end(), unit), lost ? 1 : 0) << unit;
    const auto from = written.begin() + static_cast<ptrdiff_t>(unit * kUnit);
    if (lost) {
      EXPECT_TRUE(
          std::all_of(from, from + static_cast<ptrdiff_t>(kUnit), [](uint8_t b) { return b == 0xF6; }));
    } else {
      EXPECT_TRUE(std::equal(from, from + static_cast<ptrdiff_t>(kUnit),
                             rig.source.begin() + static_cast<ptrdiff_t>(unit * kUnit)))
          << unit;
    }
  }
  EXPECT_TRUE(rig.prompter().Asked("イメージの TRK " + [&] {
    std::string list;
    for (const int32_t u : filled) list += (list.empty() ? "" : ", ") + std::to_string(u);
    return list;
  }() + " は読めないため F6 で埋めて出力しました"));

  rig.bench.Write("out.img", {1, 2, 3});
  rig.prompter().Clear();
  rig.prompter().pumpCalls = 0;
  rig.prompter().cancelAtPump = {3};
  rig.prompter().answers = {Answer::kYes};
  EXPECT_EQ(WriteRawImage(rig.image(), rig.Path("src.kdl"), out), -1);
  EXPECT_EQ(kdltest::ReadFile(out), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_FALSE(rig.image().IsOpen());
}

TEST(WriteRawImage, AnImageThatCannotBeOpenedOrAnOutputThatCannotBeCreated) {
  RestoreRig rig;
  const std::string missing = rig.Path("missing.kdl");
  EXPECT_EQ(WriteRawImage(rig.image(), missing, rig.Path("out.img")), -1);
  // One message per failure: the open says why, and nothing is added to it.
  EXPECT_EQ(rig.prompter().Texts(), std::vector<std::string>{missing + " がオープンできません"});
  EXPECT_FALSE(std::filesystem::exists(rig.Path("out.img")));

  rig.MakeImage();
  rig.prompter().Clear();
  EXPECT_EQ(WriteRawImage(rig.image(), rig.Path("src.kdl"), rig.Path("none/out.img")), -1);
  EXPECT_EQ(rig.prompter().Texts(), std::vector<std::string>{"ファイルが作成できません"});
}

}  // namespace
}  // namespace kdl
