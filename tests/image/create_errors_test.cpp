#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "image/create_rig.h"

namespace kdl {
namespace {

using kdltest::DriveRig;
using kdltest::FatDiskBuilder;

constexpr size_t kUnit = 18432;
constexpr std::string_view kInterrupt = "ＫＤＬ作成 ： ユーザー割り込みがありました\n中断しますか?";

std::vector<uint8_t> FilledDisk() {
  FatDiskBuilder d(2);
  d.AddFile(FatDiskBuilder::kRoot, "BIG     BIN", kdltest::NoiseBytes(700000));
  return d.bytes();
}

// The names in the rig's folder: a failed creation must leave no temporary file behind.
std::vector<std::string> FolderNames(const DriveRig& rig) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(rig.bench.dir.path()))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

const std::vector<uint8_t> kPrecious = {'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'};

TEST(CreateImage, AnExistingTargetIsReplacedOnlyAfterYes) {
  DriveRig rig;
  rig.disk.bytes = FilledDisk();
  const std::string target = rig.bench.Write("old.kdl", kPrecious);
  EXPECT_EQ(rig.Create("old.kdl"), -1);
  ASSERT_EQ(rig.prompter().asks.size(), 1u);
  EXPECT_EQ(rig.prompter().asks[0].caption, "ＫＤＬ　作成");
  EXPECT_EQ(rig.prompter().asks[0].text, target + " は存在します。上書きしますか？");
  EXPECT_EQ(rig.prompter().asks[0].buttons, Buttons::kYesNo);
  EXPECT_EQ(rig.disk.opens, 0);
  EXPECT_EQ(kdltest::ReadFile(target), kPrecious);

  rig.prompter().answers = {Answer::kYes};
  ASSERT_GT(rig.Create("old.kdl"), 0);
  EXPECT_EQ(rig.Units("old.kdl"), kdltest::WithFreeClustersBlank(rig.disk.bytes, 2));
  EXPECT_EQ(FolderNames(rig), std::vector<std::string>{"old.kdl"});
}

// Regression: a creation that stopped on a read error used to leave a file that began like an image with a
// zeroed directory, after the earlier file of that name had already been destroyed.
TEST(CreateImage, AFailedCreationLeavesTheEarlierFileAsItWas) {
  for (const char* name : {"old.kdl", "old.img"}) {
    SCOPED_TRACE(name);
    DriveRig rig;
    rig.disk.bytes = FilledDisk();
    rig.disk.MakeUnreadable(20 * kUnit + 1000, 1);
    const std::string target = rig.bench.Write(name, kPrecious);
    rig.prompter().answers = {Answer::kYes};
    EXPECT_EQ(rig.Create(name), -1);
    ASSERT_EQ(rig.prompter().asks.size(), 2u);
    EXPECT_EQ(rig.prompter().asks[1].caption, "KDL Form");
    EXPECT_EQ(rig.prompter().asks[1].text, "Drv Read Err");
    EXPECT_EQ(rig.prompter().asks[1].icon, Icon::kStop);
    EXPECT_EQ(kdltest::ReadFile(target), kPrecious);
    EXPECT_EQ(FolderNames(rig), std::vector<std::string>{name});
    // Nothing after the failing unit was read.
    EXPECT_EQ(rig.disk.ReadsTouching(21 * kUnit, 59 * kUnit), 0);
  }
}

TEST(CreateImage, CancelAsksAndNoGoesOnWhileYesStopsLeavingNoFile) {
  DriveRig rig;
  rig.disk.bytes = FilledDisk();
  rig.prompter().cancelAtPump = {5};
  ASSERT_GT(rig.Create("go-on.kdl"), 0);
  ASSERT_EQ(rig.prompter().asks.size(), 1u);
  EXPECT_EQ(rig.prompter().asks[0].caption, "ユーザー割り込み");
  EXPECT_EQ(rig.prompter().asks[0].text, kInterrupt);
  EXPECT_FALSE(rig.work().cancelRequested);
  EXPECT_EQ(rig.Units("go-on.kdl"), kdltest::WithFreeClustersBlank(rig.disk.bytes, 2));

  for (const char* name : {"stop.kdl", "stop.img"}) {
    DriveRig again;
    again.disk.bytes = FilledDisk();
    again.prompter().cancelAtPump = {5};
    again.prompter().answers = {Answer::kYes};
    EXPECT_EQ(again.Create(name), -1);
    EXPECT_FALSE(again.work().cancelRequested);
    EXPECT_TRUE(FolderNames(again).empty());
    EXPECT_EQ(again.disk.ReadsTouching(4 * kUnit, 76 * kUnit), 0);
  }
}

TEST(CreateImage, AnUnsupportedDiskAsksRetryOrCancel) {
  DriveRig rig;
  std::vector<uint8_t> odd = FilledDisk();
  odd[19] = 0x34;  // a sector count no media type has
  odd[20] = 0x12;
  rig.disk.inserted = {odd, FilledDisk()};
  rig.prompter().answers = {Answer::kRetry};
  ASSERT_GT(rig.Create("second.kdl"), 0);
  ASSERT_EQ(rig.prompter().asks.size(), 1u);
  EXPECT_EQ(rig.prompter().asks[0].caption, "ＫＤＬ　作成");
  EXPECT_EQ(rig.prompter().asks[0].text, "サポートしていないディスクです");
  EXPECT_EQ(rig.prompter().asks[0].buttons, Buttons::kRetryCancel);

  rig.disk.bytes = odd;
  rig.prompter().Clear();
  EXPECT_EQ(rig.Create("never.kdl"), -1);
  EXPECT_EQ(rig.prompter().asks.size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(rig.Path("never.kdl")));
}

// A drive letter whose device does not exist says so and names it, instead of calling the disk unsupported.
TEST(CreateImage, AMissingDriveDeviceIsNamed) {
  DriveRig rig;
  const std::string device = rig.Path("no-such-fd0");
  HostDrives missing({device});
  DriveLayer layer(missing, &rig.prompter());
  std::string typeLabel;
  EXPECT_EQ(CreateImage(rig.image(), layer, rig.Path("x.kdl"), 1, {}, typeLabel), -1);
  ASSERT_EQ(rig.prompter().asks.size(), 1u);
  EXPECT_EQ(rig.prompter().asks[0].text, "ドライブのデバイス " + device + " がありません");
  EXPECT_EQ(rig.prompter().asks[0].buttons, Buttons::kRetryCancel);
  EXPECT_FALSE(std::filesystem::exists(rig.Path("x.kdl")));
}

TEST(CreateImage, AFileThatCannotBeCreatedIsReported) {
  DriveRig rig;
  rig.disk.bytes = FilledDisk();
  EXPECT_EQ(rig.Create("no-such-folder/new.kdl"), -1);
  EXPECT_TRUE(rig.prompter().Asked("ファイルが作成できません"));
  // Nothing but a regular file is replaced: not a folder, and never a device node (a disk is written by a
  // restore) nor a FIFO. They are refused before the drive is touched, and stay what they were.
  const struct {
    const char* name;
    mode_t mode;
  } others[] = {{"folder.kdl", S_IFDIR}, {"pipe.img", S_IFIFO}, {"null.img", S_IFCHR}, {"fd.img", S_IFBLK}};
  for (const auto& o : others) {
    const std::string path = rig.Path(o.name);
    if (o.mode == S_IFDIR)
      ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    else
      ASSERT_EQ(mknod(path.c_str(), o.mode | 0600, o.mode == S_IFIFO ? 0 : makedev(1, 3)), 0) << o.name;
    rig.prompter().Clear();
    rig.prompter().answers = {Answer::kYes};
    rig.disk.reads.clear();
    EXPECT_EQ(rig.Create(o.name), -1);
    EXPECT_EQ(rig.prompter().Texts(), std::vector<std::string>{path + " は通常のファイルではありません"});
    EXPECT_TRUE(rig.disk.reads.empty());
    struct stat st {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & S_IFMT, o.mode) << o.name;
  }
}

// A full disk while writing the image: reported, and the earlier file survives.
TEST(CreateImage, AWriteErrorIsReportedAndLeavesTheEarlierFile) {
  DriveRig rig;
  rig.disk.bytes = FilledDisk();
  const std::string target = rig.bench.Write("old.kdl", kPrecious);
  rig.prompter().answers = {Answer::kYes};
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 100000;
  setrlimit(RLIMIT_FSIZE, &small);
  const int32_t kdl = rig.Create("old.kdl");
  const int32_t raw = rig.Create("old.img");
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, SIG_DFL);
  EXPECT_EQ(kdl, -1);
  EXPECT_EQ(raw, -1);
  EXPECT_TRUE(rig.prompter().Asked("ファイル出力エラー"));
  EXPECT_EQ(kdltest::ReadFile(target), kPrecious);
  EXPECT_EQ(FolderNames(rig), std::vector<std::string>{"old.kdl"});
}

TEST(CreateImage, InsideAnArchiveTheImageIsWrittenAtTheBaseOffsetAndTheArchiveStaysOpen) {
  DriveRig rig;
  rig.disk.bytes = FilledDisk();
  const std::string path = rig.bench.Write("archive.kdz", std::vector<uint8_t>(100, 0x5A));
  File archive;
  ASSERT_TRUE(archive.Open(path, File::Mode::kReadWrite));
  rig.work().archiveFile = &archive;
  rig.work().baseOffset = 100;
  rig.work().verify = true;
  std::string typeLabel;
  int32_t verified = kNotVerified;
  // No overwrite question inside an archive, whatever the name.
  const int32_t length = CreateImage(rig.image(), rig.drives, "DISK1", 1, {}, typeLabel, &verified);
  ASSERT_GT(length, 0);
  EXPECT_EQ(verified, 0);
  EXPECT_TRUE(rig.prompter().asks.empty());
  EXPECT_TRUE(archive.IsOpen());
  const std::vector<uint8_t> bytes = kdltest::ReadFile(path);
  ASSERT_EQ(bytes.size(), 100u + static_cast<size_t>(length));
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 100), std::vector<uint8_t>(100, 0x5A));
  EXPECT_EQ(kdltest::StoredDirectory(path, 100)[0].offset, 1536);

  // The image reads back through the archive like any image.
  ASSERT_GE(rig.image().OpenImage("DISK1"), 0);
  std::vector<uint8_t> units;
  for (int unit = 0; unit < 80; ++unit) {
    ASSERT_EQ(rig.image().ReadTrack(unit), 0);
    units.insert(units.end(), rig.image().track.begin(), rig.image().track.begin() + kUnit);
  }
  rig.image().CloseImage();
  EXPECT_TRUE(archive.IsOpen());
  EXPECT_EQ(units, kdltest::WithFreeClustersBlank(rig.disk.bytes, 2));
}

// Regression: a raw creation that stopped early used to report the full length as if it had succeeded.
TEST(CreateImage, ARawCreationThatStopsEarlyReportsFailure) {
  DriveRig rig;
  rig.disk.bytes = FilledDisk();
  rig.disk.MakeUnreadable(40 * kUnit, 1);
  EXPECT_EQ(rig.Create("early.img"), -1);
  EXPECT_TRUE(rig.prompter().Asked("Drv Read Err"));
  EXPECT_FALSE(std::filesystem::exists(rig.Path("early.img")));
}

TEST(CreateImage, IgnoredSectorsOfARawImageHoldTheFillByte) {
  DriveRig rig;
  rig.disk.bytes = FilledDisk();
  rig.disk.MakeUnreadable(3 * kUnit + 512 * 5, 1);
  rig.drives.setReadFailure(ReadFailure::kSectorBySector);
  rig.prompter().answers = {Answer::kIgnore};
  ASSERT_EQ(rig.Create("ignored.img"), 80 * static_cast<int32_t>(kUnit));
  EXPECT_EQ(rig.prompter().asks.size(), 1u);
  std::vector<uint8_t> expected = rig.disk.bytes;
  std::fill_n(expected.begin() + static_cast<ptrdiff_t>(3 * kUnit + 512 * 5), 512, 0xF6);
  EXPECT_EQ(kdltest::ReadFile(rig.Path("ignored.img")), expected);
}

}  // namespace
}  // namespace kdl
