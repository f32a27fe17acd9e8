// Rules of the runs over many disks and images: what one disk decides holds for that disk only, and an image
// that fails does not keep the later ones from being copied.
#include <gtest/gtest.h>

#include "archive/archive_rig.h"
#include "archive/archive_runs.h"
#include "image/create.h"
#include "support/fake_drive.h"

namespace kdltest {
namespace {

namespace fs = std::filesystem;

// An 8-inch disk (always stored whole) and then a 1.44 MB disk with free clusters that hold old data, read in
// one run: the second disk still leaves its free clusters out.
TEST(RunRules, OneDiskStoredWholeLeavesTheNextDiskToTheOption) {
  ArchiveRig rig;
  FakeDisk eight, second;
  eight.bytes = ReadFile(Floppies() / "type6.img");
  second.bytes = ReadFile(Floppies() / "type2.img");
  FakeDrives source{{&eight, &second}};
  kdl::DriveLayer drives(source, &rig.prompter);
  struct TwoDrives : kdl::ImageAdder {
    kdl::DriveLayer& drives;
    int32_t next = 1;
    explicit TwoDrives(kdl::DriveLayer& d) : drives(d) {}
    bool WantsAnother() override { return next <= 2; }
    int64_t AddImage(kdl::ArchiveState& archive, kdl::ImageState& image) override {
      std::string typeLabel;
      return kdl::CreateImage(image, drives, archive.work().currentImagePath, next++, {}, typeLabel);
    }
  } adder(drives);
  rig.work.omitUnused = true;
  ASSERT_EQ(kdl::AddFloppies(rig.archive, rig.image, rig.Path("R.KDZ"),
                             kdl::kCreateArchive | kdl::kCloseArchiveAfter, {}, adder),
            2);
  EXPECT_TRUE(rig.work.omitUnused);
  const std::string path = rig.Path("R.KDZ");
  const std::vector<uint8_t> first = rig.Extract("R.KDZ", 0), later = rig.Extract("R.KDZ", 1);
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(later.empty());
  EXPECT_EQ(first[kdl::kdl_header::kOmitUnused], 0);
  EXPECT_EQ(later[kdl::kdl_header::kOmitUnused], 1) << "the second disk leaves its free clusters out";
}

// Copying every image of an archive goes past an image that cannot be opened and names it at the end.
TEST(RunRules, CopyingEveryImageGoesPastOneThatFails) {
  ArchiveRig rig;
  const std::vector<uint8_t> type5 = ReadFile(Floppies() / "type5.img");
  const std::string one = rig.Write("one.KDL", MakeKdl(type5, 5).bytes);
  ASSERT_EQ(rig.AddFiles("C.KDZ", {one, one, one}, true), 3);
  // The second image loses its magic.
  std::vector<uint8_t> bytes = ReadFile(rig.Path("C.KDZ"));
  const size_t second = 128 + 32 + static_cast<size_t>(fs::file_size(one)) + 32;
  ASSERT_EQ(bytes[second], 'K');
  bytes[second] = 'Q';
  WriteFile(rig.dir / "C.KDZ", bytes);
  const fs::path out = rig.dir / "out";
  fs::create_directories(out);
  ASSERT_GE(kdl::OpenArchive(rig.archive, rig.Path("C.KDZ")), 0);
  rig.prompter.Clear();
  EXPECT_EQ(kdl::CopyAllImages(rig.archive, rig.image, out, false, kdl::OverwritePolicy::kAll,
                               kdl::kCloseArchiveAfter),
            -1);
  EXPECT_EQ(CompareWithMcopy(out / "DISK1", Floppies() / "type5.files"), "");
  EXPECT_EQ(CompareWithMcopy(out / "DISK3", Floppies() / "type5.files"), "")
      << "the image after it is copied";
  EXPECT_TRUE(rig.prompter.Asked("DISK2 はカドローンではありません"));
  EXPECT_TRUE(rig.prompter.Asked("次のイメージは正しくコピーできませんでした : DISK2"));
}

}  // namespace
}  // namespace kdltest
