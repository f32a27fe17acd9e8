// Archives beyond 2 GiB: images that start past the 32-bit range are listed, read, cut out and appended to.
// The first image is a real image followed by a hole of almost 2 GiB, so the file is sparse and cheap.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "archive/archive_rig.h"

namespace kdltest {
namespace {

constexpr int64_t kHugeImage = 0x7FFFF000;

TEST(ArchiveLarge, ImagesPastTwoGibibytesAreReadAndAdded) {
  ArchiveRig rig;
  KdlOptions packed;
  packed.omitUnused = true;
  const std::vector<uint8_t> small = MakeKdl(ReadFile(Floppies() / "type5.img"), 5, packed).bytes;
  const std::string source = rig.Write("small.KDL", small);
  ASSERT_EQ(rig.AddFiles("big.KDZ", {source}, true), 1);

  // Stretch the first image to almost 2 GiB: its record says so, and the file gets a hole.
  const std::string path = rig.Path("big.KDZ");
  {
    kdl::File file;
    ASSERT_TRUE(file.Open(path, kdl::File::Mode::kReadWrite));
    uint8_t length[4];
    for (int i = 0; i < 4; ++i)
      length[i] = static_cast<uint8_t>(static_cast<uint64_t>(kHugeImage) >> (8 * i));
    ASSERT_EQ(file.WriteAt(128 + 13, length, 4), 4);
    uint8_t sum = 0;
    std::vector<uint8_t> record(32);
    ASSERT_EQ(file.ReadAt(128, record.data(), 31), 31);
    for (int i = 0; i < 31; ++i) sum = static_cast<uint8_t>(sum + record[static_cast<size_t>(i)]);
    ASSERT_EQ(file.WriteAt(128 + 31, &sum, 1), 1);
    ASSERT_TRUE(file.Truncate(static_cast<uint64_t>(160 + kHugeImage + 32)));
  }
  ASSERT_EQ(rig.AddFiles("big.KDZ", {source, source}, false), 2);
  const int64_t size = static_cast<int64_t>(std::filesystem::file_size(path));
  EXPECT_EQ(size, 160 + kHugeImage + 2 * (32 + static_cast<int64_t>(small.size())) + 32);
  EXPECT_GT(size, int64_t{1} << 31);

  EXPECT_EQ(rig.List("big.KDZ").size(), 3u);
  EXPECT_TRUE(rig.Extract("big.KDZ", 1) == small);
  EXPECT_TRUE(rig.Extract("big.KDZ", 2) == small);
  std::vector<std::string> report;
  EXPECT_EQ(rig.Report("big.KDZ", &report), 0);
  EXPECT_EQ(std::count_if(report.begin(), report.end(),
                          [](const std::string& l) { return l.rfind("KDL :", 0) == 0; }),
            3);

  // The third image lies where a signed 32-bit position cannot reach, not over the first image.
  ASSERT_GE(kdl::OpenArchive(rig.archive, path), 0);
  ASSERT_EQ(kdl::PositionOnEntry(rig.archive, 2), 1);
  EXPECT_EQ(rig.archive.baseOffset(), 160 + kHugeImage + 32 + static_cast<int64_t>(small.size()) + 32);
  kdl::CloseArchive(rig.archive);
}

}  // namespace
}  // namespace kdltest
