// Disks made by mkfs.fat and filled by mtools, read through a raw image file acting as the drive: the image's
// raw output must give mtools the same files and fsck.fat a sound file system.
#include <gtest/gtest.h>

#include "image/create_rig.h"

namespace kdl {
namespace {

using kdltest::DriveRig;

class CreateFromFixture : public testing::TestWithParam<int> {
 protected:
  int type() const { return GetParam(); }
  std::filesystem::path Source() const {
    return kdltest::Floppies() / ("type" + std::to_string(type()) + ".img");
  }
};

TEST_P(CreateFromFixture, RawOutputGivesTheSameDiskWithFreeClustersAsTheFillByte) {
  const std::vector<uint8_t> source = kdltest::ReadFile(Source());
  const bool canOmit = CanOmitUnused(type());
  for (const bool omit : {true, false}) {
    for (const bool compress : {true, false}) {
      SCOPED_TRACE(testing::Message() << "omit " << omit << " compress " << compress);
      kdltest::ImageBench bench;
      HostDrives host({Source().string()});
      DriveLayer drives(host, &bench.prompter);
      bench.work.omitUnused = omit;
      bench.work.compress = compress;
      const std::string kdl = (bench.dir / "disk.kdl").string();
      const std::string raw = (bench.dir / "disk.img").string();
      std::string typeLabel;
      const int32_t length = CreateImage(bench.image, drives, kdl, 1, {}, typeLabel);
      ASSERT_GT(length, 0);
      EXPECT_EQ(static_cast<size_t>(length), std::filesystem::file_size(kdl));
      EXPECT_EQ(typeLabel, "タイプ：" + std::string(MediaName(type())) + "  Volume LABEL : KDLW TYP.E " +
                               std::to_string(type()));
      EXPECT_TRUE(bench.prompter.asks.empty()) << bench.prompter.asks[0].text;
      ASSERT_EQ(WriteRawImage(bench.image, kdl, raw), static_cast<int32_t>(source.size()));

      const std::vector<uint8_t> out = kdltest::ReadFile(raw);
      if (omit && canOmit) {
        EXPECT_EQ(out, kdltest::WithFreeClustersBlank(source, type()));
        EXPECT_NE(out, source) << "the fixture should have free clusters that are not the fill byte";
        EXPECT_EQ(kdltest::FilesDifferFromFixture(raw, type()), "");
        if (type() != kMediaType8Inch) {
          EXPECT_EQ(kdltest::FsckReport(raw), kdltest::FsckReport(Source()));
        }
      } else {
        EXPECT_EQ(out, source);
      }
      // The kinds a real disk gives: compressed units, and units left out as the fill byte.
      const TrackDirectory d = kdltest::StoredDirectory(kdl);
      const auto kinds = [&](uint8_t k) {
        return std::count_if(d.begin(), d.end(), [&](const TrackEntry& e) { return e.kind == k; });
      };
      EXPECT_EQ(kinds(kTrackCompressed) > 0, compress);
      if (omit && canOmit) {
        EXPECT_GT(kinds(kTrackSameByte), 0);
      }
    }
  }
}

TEST_P(CreateFromFixture, ARawTargetIsTheDiskItself) {
  kdltest::ImageBench bench;
  HostDrives host({Source().string()});
  DriveLayer drives(host, &bench.prompter);
  const std::string raw = (bench.dir / "copy.ima").string();
  std::string typeLabel;
  const std::vector<uint8_t> source = kdltest::ReadFile(Source());
  ASSERT_EQ(CreateImage(bench.image, drives, raw, 1, {}, typeLabel), static_cast<int32_t>(source.size()));
  EXPECT_EQ(kdltest::ReadFile(raw), source);
}

INSTANTIATE_TEST_SUITE_P(EveryMediaType, CreateFromFixture, testing::Range(0, kMediaTypeCount));

}  // namespace
}  // namespace kdl
