// Images of disks made by mkfs.fat and mtools, restored onto freshly formatted disk files of the same type:
// mtools must find the same files on them and fsck.fat what it finds on the original.
#include <gtest/gtest.h>

#include "image/create_rig.h"

namespace kdl {
namespace {

class RestoreFromFixture : public testing::TestWithParam<int> {
 protected:
  int type() const { return GetParam(); }
  std::filesystem::path Fixture(const std::string& name) const { return kdltest::Floppies() / name; }
  std::filesystem::path Source() const { return Fixture("type" + std::to_string(type()) + ".img"); }
  std::filesystem::path Blank() const { return Fixture("blank/type" + std::to_string(type()) + ".img"); }

  // Makes the image of the fixture disk, then restores it onto a copy of the blank disk in `bench`'s folder.
  int32_t RoundTrip(kdltest::ImageBench& bench, bool omitUnused, const std::string& disk) {
    HostDrives source({Source().string()});
    DriveLayer reader(source, &bench.prompter);
    bench.work.omitUnused = omitUnused;
    const std::string kdl = (bench.dir / "disk.kdl").string();
    std::string typeLabel;
    if (CreateImage(bench.image, reader, kdl, 1, {}, typeLabel) <= 0) return -100;
    std::filesystem::copy_file(Blank(), disk, std::filesystem::copy_options::overwrite_existing);
    HostDrives target({disk});
    DriveLayer writer(target, &bench.prompter);
    bench.work.currentImagePath = kdl;
    bench.work.openCloseFlags = kOpenFirst | kCloseAfter;
    bench.work.verify = true;
    int32_t verified = kNotVerified;
    const int32_t r = RestoreToDrive(bench.image, writer, 1, &verified);
    if (r == 0) {
      EXPECT_EQ(verified, 0);
    }
    return r;
  }
};

TEST_P(RestoreFromFixture, GivesADiskWithTheSameFilesAndEveryByteWhenNothingWasLeftOut) {
  const std::vector<uint8_t> source = kdltest::ReadFile(Source());
  const std::vector<uint8_t> blank = kdltest::ReadFile(Blank());
  for (const bool omit : {true, false}) {
    SCOPED_TRACE(omit);
    kdltest::ImageBench bench;
    const std::string disk = (bench.dir / "restored.img").string();
    ASSERT_EQ(RoundTrip(bench, omit, disk), 0);
    EXPECT_TRUE(bench.prompter.asks.empty()) << bench.prompter.asks[0].text;
    const std::vector<uint8_t> restored = kdltest::ReadFile(disk);
    ASSERT_EQ(restored.size(), source.size());
    if (!omit || !CanOmitUnused(type())) {
      EXPECT_EQ(restored, source);
      continue;
    }
    // Every cluster in use holds the source's bytes; a unit without one keeps the blank disk's bytes.
    const MediaGeometry g = MediaGeometryOf(type());
    const ByteView fat(source.data() + static_cast<size_t>(g.fatStart * g.sectorSize),
                       static_cast<size_t>(g.fatSectors * g.sectorSize));
    EXPECT_TRUE(std::equal(source.begin(), source.begin() + g.trackSize, restored.begin()));
    for (int c = 2; c <= g.lastCluster; ++c) {
      if (!ClusterHoldsData(Fat12Entry(fat, c))) continue;
      const auto at = static_cast<ptrdiff_t>(kdltest::ClusterOffset(c, g));
      ASSERT_TRUE(std::equal(source.begin() + at, source.begin() + at + g.clusterSize, restored.begin() + at))
          << "cluster " << c;
    }
    EXPECT_EQ(kdltest::FilesDifferFromFixture(disk, type()), "");
    if (type() != kMediaType8Inch) {
      EXPECT_EQ(kdltest::FsckReport(disk), kdltest::FsckReport(Source()));
    }
  }
}

TEST_P(RestoreFromFixture, NeverChangesTheLengthOfADiskFile) {
  kdltest::ImageBench bench;
  const std::string disk = (bench.dir / "short.img").string();
  // A formatted disk file cut short: its boot sector still names the type.
  HostDrives source({Source().string()});
  DriveLayer reader(source, &bench.prompter);
  const std::string kdl = (bench.dir / "disk.kdl").string();
  bench.work.omitUnused = false;
  std::string typeLabel;
  ASSERT_GT(CreateImage(bench.image, reader, kdl, 1, {}, typeLabel), 0);
  std::vector<uint8_t> blank = kdltest::ReadFile(Blank());
  blank.resize(blank.size() / 2 + 100);
  kdltest::WriteFile(disk, blank);
  HostDrives target({disk});
  DriveLayer writer(target, &bench.prompter);
  bench.work.currentImagePath = kdl;
  bench.work.openCloseFlags = kOpenFirst | kCloseAfter;
  EXPECT_EQ(RestoreToDrive(bench.image, writer, 1), -1);
  EXPECT_EQ(bench.prompter.Texts(), std::vector<std::string>{"ドライブ出力エラー発生"});
  EXPECT_EQ(std::filesystem::file_size(disk), blank.size());
}

TEST(RestoreFromFixture, ADmfImageCanBeOutputRawButNotRestored) {
  kdltest::ImageBench bench;
  const std::filesystem::path dmf = kdltest::Floppies() / "type7.img";
  HostDrives source({dmf.string()});
  DriveLayer reader(source, &bench.prompter);
  const std::string kdl = (bench.dir / "dmf.kdl").string();
  std::string typeLabel;
  ASSERT_GT(CreateImage(bench.image, reader, kdl, 1, {}, typeLabel), 0);
  const std::string raw = (bench.dir / "dmf.img").string();
  ASSERT_GT(WriteRawImage(bench.image, kdl, raw), 0);
  EXPECT_EQ(kdltest::ReadFile(raw), kdltest::ReadFile(dmf));

  const std::string disk = (bench.dir / "blank.img").string();
  std::filesystem::copy_file(kdltest::Floppies() / "blank" / "type7.img", disk);
  const std::vector<uint8_t> before = kdltest::ReadFile(disk);
  HostDrives target({disk});
  DriveLayer writer(target, &bench.prompter);
  bench.work.currentImagePath = kdl;
  bench.work.openCloseFlags = kOpenFirst | kCloseAfter;
  EXPECT_EQ(RestoreToDrive(bench.image, writer, 1), -1);
  EXPECT_EQ(bench.prompter.Texts(), std::vector<std::string>{"ＤＭＦディスクは再生できません"});
  EXPECT_EQ(kdltest::ReadFile(disk), before);
}

// DMF images are never restored (the test above).
INSTANTIATE_TEST_SUITE_P(EveryRestorableType, RestoreFromFixture, testing::Range(0, kMediaTypeDmf));

}  // namespace
}  // namespace kdl
