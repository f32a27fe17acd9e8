#include "drive/host_drive.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "drive/media.h"
#include "support/test_support.h"

namespace kdl {
namespace {

using kdltest::ReadFile;
using kdltest::TempDir;
using kdltest::WriteFile;

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + i / 251);
  return v;
}

TEST(HostDrive, ARegularFileActsAsADriveAndNeverChangesItsLength) {
  TempDir dir;
  const auto path = dir / "disk.img";
  const std::vector<uint8_t> pattern = Pattern(4096);
  WriteFile(path, pattern);
  HostDrives drives({path.string()});

  std::unique_ptr<SectorDevice> reader = drives.Open(0, false);
  ASSERT_TRUE(reader);
  std::vector<uint8_t> buf(1024, 0xEE);
  ASSERT_TRUE(reader->ReadAt(1024, buf.data(), buf.size()));
  EXPECT_EQ(buf, std::vector<uint8_t>(pattern.begin() + 1024, pattern.begin() + 2048));
  // A read past the end fails and leaves the buffer as it was.
  std::vector<uint8_t> tail(1024, 0xEE);
  EXPECT_FALSE(reader->ReadAt(3584, tail.data(), tail.size()));
  EXPECT_EQ(tail, std::vector<uint8_t>(1024, 0xEE));
  // Opened for reading, the file refuses writes.
  EXPECT_FALSE(reader->WriteAt(0, buf.data(), 512));
  reader.reset();

  std::unique_ptr<SectorDevice> writer = drives.Open(0, true);
  ASSERT_TRUE(writer);
  const std::vector<uint8_t> ones(512, 1);
  EXPECT_TRUE(writer->WriteAt(3584, ones.data(), ones.size()));
  EXPECT_FALSE(writer->WriteAt(3584, buf.data(), 1024));  // would run past the end
  EXPECT_FALSE(writer->WriteAt(8192, ones.data(), ones.size()));
  writer.reset();
  const std::vector<uint8_t> after = ReadFile(path);
  ASSERT_EQ(after.size(), 4096u);
  EXPECT_EQ(after[3584], 1);
  EXPECT_EQ(after[3583], pattern[3583]);
}

TEST(HostDrive, WhatIsNeitherAFileNorABlockDeviceIsNoDrive) {
  TempDir dir;
  EXPECT_FALSE(OpenHostDevice(dir.path().string(), false));
  EXPECT_FALSE(OpenHostDevice((dir / "missing.img").string(), false));
  EXPECT_FALSE(OpenHostDevice("", false));
  EXPECT_FALSE(OpenHostDevice("/dev/null", false));  // a character device
  HostDrives drives({"", (dir / "missing.img").string()});
  EXPECT_FALSE(drives.Open(0, false));
  EXPECT_FALSE(drives.Open(1, false));
  EXPECT_FALSE(drives.Open(2, false));
  EXPECT_FALSE(drives.Open(-1, false));
}

// A drive whose device is missing or is no drive says so and names the device, for both faces of the
// program; a device that is there but holds no readable disk says nothing here.
TEST(HostDrive, ADeviceThatCannotBeOpenedIsNamedInTheReason) {
  TempDir dir;
  const std::string missing = (dir / "fd0").string();
  const std::string character = (dir / "null").string();
  ASSERT_EQ(mknod(character.c_str(), S_IFCHR | 0600, makedev(1, 3)), 0);
  HostDrives drives({missing, "", character});
  const struct {
    int32_t index;
    std::string reason;
  } cases[] = {
      {0, "ドライブのデバイス " + missing + " がありません"},
      {1, "ドライブ B: にはデバイスがありません"},
      {2, character + " はドライブのデバイスではありません"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(drives.Open(c.index, false));
    EXPECT_EQ(drives.WhyNotOpen(c.index), c.reason) << c.index;
  }
  EXPECT_EQ(DeviceOpenFailureText("/dev/fd0", ENOMEDIUM), "");
  EXPECT_EQ(DeviceOpenFailureText("/dev/fd0", EBUSY), "ドライブのデバイス /dev/fd0 は使用中です");
  // A disk-image file without write bits is a write-protected disk: it is read, never written.
  const std::string locked = (dir / "locked.img").string();
  WriteFile(locked, std::vector<uint8_t>(512, 0));
  ASSERT_EQ(chmod(locked.c_str(), 0444), 0);
  HostDrives protectedDrive({locked});
  EXPECT_TRUE(protectedDrive.Open(0, false));
  EXPECT_FALSE(protectedDrive.Open(0, true));
  EXPECT_EQ(protectedDrive.WhyNotOpen(0), locked + " のディスクは書き込み禁止です");
  // The layer keeps the reason of its last open, and forgets it once a drive opens.
  WriteFile(dir / "disk.img", std::vector<uint8_t>(512, 0));
  HostDrives mixed({missing, (dir / "disk.img").string()});
  DriveLayer layer(mixed, nullptr);
  EXPECT_EQ(layer.OpenDrive(kDriveModeRead, 0), 1);
  EXPECT_EQ(layer.OpenFailure(), "ドライブのデバイス " + missing + " がありません");
  EXPECT_EQ(layer.OpenDrive(kDriveModeRead, 1), 0);
  EXPECT_EQ(layer.OpenFailure(), "");
}

// A loop device stands in for a USB floppy drive where the test may attach one (root, loop devices present).
class LoopDevice {
 public:
  explicit LoopDevice(const std::filesystem::path& file) {
    if (getuid() != 0 || !kdltest::HaveTool("losetup")) return;
    const kdltest::CommandResult r =
        kdltest::RunCommand("losetup -f --show " + kdltest::ShellQuote(file.string()));
    if (r.status == 0 && !r.output.empty()) path_ = r.output.substr(0, r.output.find('\n'));
  }
  ~LoopDevice() {
    if (!path_.empty()) kdltest::RunCommand("losetup -d " + kdltest::ShellQuote(path_));
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(HostDrive, ABlockDeviceKeepsTheBytesAroundARunThatIsNotWholeBlocks) {
  TempDir dir;
  const auto file = dir / "usb.img";
  const std::vector<uint8_t> pattern = Pattern(64 * 1024);
  WriteFile(file, pattern);
  LoopDevice loop(file);
  if (loop.path().empty()) GTEST_SKIP() << "no loop device can be attached here";
  {
    std::unique_ptr<SectorDevice> writer = OpenHostDevice(loop.path(), true);
    ASSERT_TRUE(writer);
    // Sectors of 128 bytes (the 8-inch format) never fill a device block of 512.
    const std::vector<uint8_t> ones(3 * 128, 1);
    ASSERT_TRUE(writer->WriteAt(5 * 128, ones.data(), ones.size()));
    std::vector<uint8_t> back(2048);
    ASSERT_TRUE(writer->ReadAt(0, back.data(), back.size()));
    std::vector<uint8_t> expected(pattern.begin(), pattern.begin() + 2048);
    std::fill_n(expected.begin() + 5 * 128, 3 * 128, 1);
    EXPECT_EQ(back, expected);
    std::vector<uint8_t> beyond(512, 0xEE);
    EXPECT_FALSE(writer->ReadAt(64 * 1024 - 256, beyond.data(), beyond.size()));
    EXPECT_EQ(beyond, std::vector<uint8_t>(512, 0xEE));
  }
  // Writing takes the device for itself: a second writer is refused while the first holds it.
  std::unique_ptr<SectorDevice> first = OpenHostDevice(loop.path(), true);
  ASSERT_TRUE(first);
  EXPECT_FALSE(OpenHostDevice(loop.path(), true));
  first.reset();
  std::vector<uint8_t> after = ReadFile(file);
  ASSERT_EQ(after.size(), pattern.size());
  EXPECT_EQ(after[5 * 128], 1);
  EXPECT_EQ(after[8 * 128], pattern[8 * 128]);
  EXPECT_EQ(after[5 * 128 - 1], pattern[5 * 128 - 1]);
}

// The driver's own table entry for DMF ("H1680": 3360 units, 21 per track, 2 heads, 80 tracks, gap 0x1C,
// rate 0, spec1 0xCF, format gap 0x0C) is the reference for the parameters made from the media table.
TEST(FloppyParameters, DmfMatchesTheDriversOwnEntry) {
  const std::optional<FloppyParameters> p = FloppyParametersFor(kMediaTypeDmf);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->size, 3360u);
  EXPECT_EQ(p->sect, 21u);
  EXPECT_EQ(p->head, 2u);
  EXPECT_EQ(p->track, 80u);
  EXPECT_EQ(p->stretch, 0u);
  EXPECT_EQ(p->gap, 0x1C);
  EXPECT_EQ(p->rate, 0x00);
  EXPECT_EQ(p->spec1, 0xCF);
  EXPECT_EQ(p->fmtGap, 0x0C);
}

TEST(FloppyParameters, TheKilobyteSectorFormatCountsIn512ByteUnits) {
  const std::optional<FloppyParameters> p = FloppyParametersFor(0);
  ASSERT_TRUE(p);
  // 77 cylinders x 2 heads x 8 sectors of 1,024 bytes.
  EXPECT_EQ(p->size, 2464u);
  EXPECT_EQ(p->sect, 16u);
  EXPECT_EQ(p->head, 2u);
  EXPECT_EQ(p->track, 77u);
  // The driver reads the sector size code from bits 3-5 as (bits + 2) % 8: 3 means 1,024 bytes.
  EXPECT_EQ((((p->rate & 0x38) >> 3) + 2) % 8, 3);
  EXPECT_EQ(p->rate & 0x07, 0);  // 500 kbit/s
  EXPECT_EQ(p->size * 512u, static_cast<uint32_t>(MediaTable()[0].totalSectors * 1024));
}

TEST(FloppyParameters, OnlyFormatsTheDriverCannotDetectAreSetAndThe8InchOneCannotBe) {
  // 26 sectors of 128 bytes make 3,328-byte tracks, which the driver cannot count in 512-byte units.
  EXPECT_FALSE(FloppyParametersFor(kMediaType8Inch));
  for (int type : {1, 2, 3, 4, 5}) EXPECT_FALSE(FloppyParametersFor(type)) << type;
  EXPECT_FALSE(FloppyParametersFor(-1));
  for (int32_t type : FloppyProbeTypes()) EXPECT_TRUE(FloppyParametersFor(type)) << type;
}

}  // namespace
}  // namespace kdl
