#include <gtest/gtest.h>

#include <array>
#include <numeric>

#include "drive/drive.h"
#include "drive/media.h"
#include "support/fake_drive.h"
#include "support/scripted_prompter.h"

namespace kdl {
namespace {

using kdltest::FakeDisk;
using kdltest::FakeDrives;
using kdltest::ScriptedPrompter;

constexpr std::string_view kFddReadText = "フロッピーディスクの入力でエラーがありました";

// A disk of `sectors` sectors of 512 bytes, each filled with its own number.
std::vector<uint8_t> NumberedDisk(int sectors) {
  std::vector<uint8_t> d(static_cast<size_t>(sectors) * 512);
  for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<uint8_t>(i / 512 + 1);
  return d;
}

// A boot sector whose 16-bit total sector count is `total`, padded to `length` bytes.
std::vector<uint8_t> BootWithCount(uint16_t total, size_t length) {
  std::vector<uint8_t> d(length, 0);
  d[19] = static_cast<uint8_t>(total);
  d[20] = static_cast<uint8_t>(total >> 8);
  return d;
}

struct Rig {
  FakeDisk a, b;
  FakeDrives source{{&a, &b}};
  ScriptedPrompter prompter;
  DriveLayer drives{source, &prompter};
};

TEST(DriveLayer, ReadsAndWritesRunsAtLogicalSectorsOfTheOpenedDrive) {
  Rig r;
  r.a.bytes = NumberedDisk(8);
  r.b.bytes = std::vector<uint8_t>(8 * 512, 0);
  ASSERT_EQ(r.drives.OpenDrive(kDriveModeRead, 0), 0);
  std::vector<uint8_t> run(3 * 512);
  ASSERT_EQ(r.drives.ReadDriveSectors(run.data(), 2, 3, 512), 0);
  EXPECT_EQ(run[0], 3);
  EXPECT_EQ(run[3 * 512 - 1], 5);
  ASSERT_EQ(r.a.reads.size(), 1u);  // one request for the whole run
  r.drives.CloseDrive();

  // Index 1 is the second drive: the write lands there and nowhere else.
  ASSERT_EQ(r.drives.OpenDrive(kDriveModeWrite, 1), 0);
  ASSERT_EQ(r.drives.WriteDriveSectors(run.data(), 5, 3, 512), 0);
  r.drives.CloseDrive();
  EXPECT_EQ(r.b.bytes[5 * 512], 3);
  EXPECT_EQ(r.b.bytes[4 * 512], 0);
  EXPECT_TRUE(r.a.writes.empty());
}

TEST(DriveLayer, ModesOtherThanReadAndWriteOpenNothingAndEveryTransferFails) {
  Rig r;
  r.a.bytes = NumberedDisk(4);
  EXPECT_EQ(r.drives.OpenDrive(2, 0), 1);
  EXPECT_EQ(r.drives.OpenDrive(-1, 0), 1);
  std::vector<uint8_t> buf(512);
  EXPECT_EQ(r.drives.ReadDriveSectors(buf.data(), 0, 1, 512), -1);
  EXPECT_EQ(r.drives.WriteDriveSectors(buf.data(), 0, 1, 512), -1);
  EXPECT_EQ(r.a.opens, 0);
  // No drive behind an index: the open reports it and transfers fail.
  EXPECT_EQ(r.drives.OpenDrive(kDriveModeRead, 5), 1);
  EXPECT_EQ(r.drives.ReadDriveSectors(buf.data(), 0, 1, 512), -1);
}

TEST(DriveLayer, FailedRunFailsAtOnceWithoutAQuestionByDefault) {
  Rig r;
  r.a.bytes = NumberedDisk(8);
  r.a.MakeUnreadable(3 * 512, 1);
  r.drives.OpenDrive(kDriveModeRead, 0);
  std::vector<uint8_t> run(4 * 512, 0xAA);
  EXPECT_EQ(r.drives.ReadDriveSectors(run.data(), 2, 4, 512), -1);
  EXPECT_TRUE(r.prompter.asks.empty());
  EXPECT_EQ(r.a.reads.size(), 1u);
}

TEST(DriveLayer, SectorFallbackAsksForEachBadSectorAndIgnoreKeepsTheBufferThere) {
  Rig r;
  r.drives.setReadFailure(ReadFailure::kSectorBySector);
  r.a.bytes = NumberedDisk(8);
  r.a.MakeUnreadable(3 * 512, 1);
  r.a.MakeUnreadable(5 * 512 + 100, 1);
  r.prompter.answers = {Answer::kRetry, Answer::kIgnore, Answer::kIgnore};
  r.drives.OpenDrive(kDriveModeRead, 0);
  std::vector<uint8_t> run(4 * 512, 0xAA);
  ASSERT_EQ(r.drives.ReadDriveSectors(run.data(), 2, 4, 512), 0);
  ASSERT_EQ(r.prompter.asks.size(), 3u);
  EXPECT_EQ(r.prompter.asks[0].caption, "FDD Read");
  EXPECT_EQ(r.prompter.asks[0].text, kFddReadText);
  EXPECT_EQ(r.prompter.asks[0].buttons, Buttons::kAbortRetryIgnore);
  EXPECT_EQ(run[0], 3);           // sector 2 read
  EXPECT_EQ(run[512], 0xAA);      // sector 3 ignored: untouched
  EXPECT_EQ(run[2 * 512], 5);     // sector 4 read
  EXPECT_EQ(run[3 * 512], 0xAA);  // sector 5 ignored
  // The run, then sectors 2, 3, 3 (retry), 4, 5.
  EXPECT_EQ(r.a.reads.size(), 6u);
  EXPECT_EQ(r.a.ReadsTouching(3 * 512, 512), 3);
  // The ignored sectors are kept for the end of the run, but not a boot sector ignored while the media type
  // is detected (no data of the disk is lost there).
  EXPECT_EQ(r.drives.IgnoredSectors(), (std::vector<int32_t>{3, 5}));
  r.a.MakeUnreadable(0, 1);
  r.prompter.answers = {Answer::kIgnore};
  EXPECT_EQ(r.drives.DetectMediaType(1), -1);
  EXPECT_EQ(r.drives.IgnoredSectors(), (std::vector<int32_t>{3, 5}));
}

TEST(DriveLayer, AbortFailsTheRunEvenAfterEarlierSectorsWereRead) {
  Rig r;
  r.drives.setReadFailure(ReadFailure::kSectorBySector);
  r.a.bytes = NumberedDisk(8);
  r.a.MakeUnreadable(4 * 512, 512);
  r.prompter.answers = {Answer::kAbort};
  r.drives.OpenDrive(kDriveModeRead, 0);
  std::vector<uint8_t> run(4 * 512, 0);
  EXPECT_EQ(r.drives.ReadDriveSectors(run.data(), 2, 4, 512), -1);
  EXPECT_EQ(run[0], 3);
  EXPECT_EQ(r.prompter.asks.size(), 1u);
  // Sector 5 was only part of the first run: nothing is read after the aborted sector.
  EXPECT_EQ(r.a.ReadsTouching(5 * 512, 512), 1);
}

TEST(DriveLayer, WritesAreNeverRetriedOnEitherBehaviour) {
  for (ReadFailure mode : {ReadFailure::kFailRun, ReadFailure::kSectorBySector}) {
    Rig r;
    r.drives.setReadFailure(mode);
    r.a.bytes = std::vector<uint8_t>(8 * 512, 0);
    r.a.failWritesFrom = 512;
    r.drives.OpenDrive(kDriveModeWrite, 0);
    std::vector<uint8_t> run(2 * 512, 7);
    EXPECT_EQ(r.drives.WriteDriveSectors(run.data(), 0, 2, 512), -1);
    EXPECT_EQ(r.a.writes.size(), 1u);
    EXPECT_TRUE(r.prompter.asks.empty());
  }
}

TEST(DriveLayer, DetectMediaTypeReadsTheBootSectorCountOnly) {
  Rig r;
  for (int type = 0; type < kMediaTypeCount; ++type) {
    r.a.bytes = BootWithCount(static_cast<uint16_t>(MediaTable()[type].totalSectors), 1024);
    EXPECT_EQ(r.drives.DetectMediaType(1), type);
  }
  r.a.bytes = BootWithCount(0, 1024);  // disks that use the 32-bit count
  EXPECT_EQ(r.drives.DetectMediaType(1), -1);
  r.a.bytes = BootWithCount(1234, 1024);
  EXPECT_EQ(r.drives.DetectMediaType(1), -1);
  // Drive number 2 is B:.
  r.b.bytes = BootWithCount(2880, 1024);
  EXPECT_EQ(r.drives.DetectMediaType(2), 2);
  EXPECT_FALSE(r.drives.IsOpen());
}

TEST(DriveLayer, DetectMediaTypeOfAnUnreadableDisk) {
  Rig r;
  r.a.bytes = BootWithCount(2880, 1024);
  r.a.MakeUnreadable(0, 1);
  EXPECT_EQ(r.drives.DetectMediaType(1), -1);
  EXPECT_TRUE(r.prompter.asks.empty());
  // Sector by sector with Ignore: the buffer stays 0xFF, whose count 65,535 names no type.
  r.drives.setReadFailure(ReadFailure::kSectorBySector);
  r.prompter.answers = {Answer::kIgnore};
  EXPECT_EQ(r.drives.DetectMediaType(1), -1);
  EXPECT_EQ(r.prompter.asks.size(), 1u);
  r.prompter.answers = {Answer::kAbort};
  EXPECT_EQ(r.drives.DetectMediaType(1), -1);
  // A drive that cannot be opened at all.
  r.a.absent = true;
  r.drives.setReadFailure(ReadFailure::kFailRun);
  EXPECT_EQ(r.drives.DetectMediaType(1), -1);
}

// A device like the floppy controller's: a disk of a format it was not told cannot be read at all.
class PickyDevice : public SectorDevice {
 public:
  PickyDevice(std::vector<uint8_t>& disk, int32_t format, std::vector<int32_t>& told)
      : disk_(disk), format_(format), told_(told) {}
  bool ReadAt(uint64_t offset, uint8_t* data, size_t length) override {
    if (current_ != format_ || offset + length > disk_.size()) return false;
    std::copy_n(disk_.begin() + static_cast<ptrdiff_t>(offset), length, data);
    return true;
  }
  bool WriteAt(uint64_t, const uint8_t*, size_t) override { return false; }
  std::span<const int32_t> ProbeTypes() const override { return probes_; }
  bool UseMediaType(int32_t type) override {
    told_.push_back(type);
    current_ = type;
    return true;
  }

 private:
  std::vector<uint8_t>& disk_;
  int32_t format_;
  std::vector<int32_t>& told_;
  int32_t current_ = -1;
  std::array<int32_t, 2> probes_{0, 7};
};

class PickySource : public DeviceSource {
 public:
  std::unique_ptr<SectorDevice> Open(int32_t, bool) override {
    return std::make_unique<PickyDevice>(disk, format, told);
  }
  std::vector<uint8_t> disk;
  int32_t format = -1;
  std::vector<int32_t> told;
};

TEST(DriveLayer, DetectMediaTypeTellsADeviceTheFormatsItCannotFindItself) {
  PickySource source;
  ScriptedPrompter prompter;
  DriveLayer drives(source, &prompter);
  source.disk = BootWithCount(3360, 1024);
  source.format = 7;
  EXPECT_EQ(drives.DetectMediaType(1), 7);
  EXPECT_EQ(source.told, (std::vector<int32_t>{0, 7, 7}));

  // A disk it can read as it is: nothing is probed.
  source.told.clear();
  source.format = -1;
  source.disk = BootWithCount(2880, 1024);
  EXPECT_EQ(drives.DetectMediaType(1), 2);
  EXPECT_EQ(source.told, (std::vector<int32_t>{2}));

  // Nothing fits: the device goes back to its own detection and the ordinary read decides.
  source.told.clear();
  source.format = 5;
  EXPECT_EQ(drives.DetectMediaType(1), -1);
  EXPECT_EQ(source.told, (std::vector<int32_t>{0, 7, -1}));
  EXPECT_TRUE(prompter.asks.empty());
}

}  // namespace
}  // namespace kdl
