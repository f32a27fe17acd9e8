// The command line's own behaviour around the core: exit statuses, messages on standard error, and
// questions answered in advance.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

using kdltest::ReadFile;
using kdltest::RunCommand;
using kdltest::ShellQuote;

std::string Kdl() { return std::string(KDL_BINARY); }

class KdlCli : public ::testing::Test {
 protected:
  void SetUp() override {
    // A 1.44 MB disk with a file on it, made by mkfs.fat and mtools, archived as a .KDL.
    disk_ = (dir_ / "disk.img").string();
    kdl_ = (dir_ / "DISK.KDL").string();
    ASSERT_EQ(
        RunCommand("mkfs.fat -C -F 12 -f 2 -r 224 -R 1 -s 1 -S 512 -g 2/18 -M 0xF0 " + ShellQuote(disk_) +
                   " 1440 >/dev/null && MTOOLS_SKIP_CHECK=1 mcopy -i " + ShellQuote(disk_) + " " +
                   ShellQuote(std::string(KDL_SOURCE_DIR) + "/README.md") + " ::/README.TXT")
            .status,
        0);
    ASSERT_EQ(
        RunCommand(Kdl() + " create " + ShellQuote(disk_) + " " + ShellQuote(kdl_) + " 2>/dev/null").status,
        0);
  }

  kdltest::TempDir dir_;
  std::string disk_, kdl_;
};

TEST_F(KdlCli, DamagedUnitFailsTheTestWithItsMessage) {
  // Without compression unit 0 is stored as it is, so a flipped byte is caught by its data CRC.
  const std::string plain = (dir_ / "PLAIN.KDL").string();
  ASSERT_EQ(RunCommand(Kdl() + " create --no-compress " + ShellQuote(disk_) + " " + ShellQuote(plain) +
                       " 2>/dev/null")
                .status,
            0);
  std::vector<uint8_t> bytes = ReadFile(plain);
  bytes[1536 + 100] ^= 0xFF;
  kdltest::WriteFile(dir_ / "BAD.KDL", bytes);
  const auto r = RunCommand(Kdl() + " test " + ShellQuote((dir_ / "BAD.KDL").string()), true);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("TRK: 0  CRC Error"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("  0  "), std::string::npos);
  EXPECT_NE(r.output.find("    Error"), std::string::npos);
  EXPECT_EQ(RunCommand(Kdl() + " test " + ShellQuote(kdl_) + " >/dev/null 2>&1").status, 0);
}

TEST_F(KdlCli, WrongMagicAndBadCommandLines) {
  std::vector<uint8_t> bytes = ReadFile(kdl_);
  bytes[0] = 'X';
  const std::string bad = (dir_ / "NOTKDL.KDL").string();
  kdltest::WriteFile(bad, bytes);
  auto r = RunCommand(Kdl() + " ls " + ShellQuote(bad), true);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find(bad + " はカドローンではありません"), std::string::npos) << r.output;
  // A label longer than 40 bytes once in Shift-JIS is refused before anything is written.
  r = RunCommand(Kdl() + " labels " + ShellQuote(kdl_) + " -l " +
                     ShellQuote(std::string(23, 'x') + "日本語日本語日本語"),
                 true);
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_EQ(RunCommand(Kdl() + " frobnicate 2>/dev/null").status, 2);
}

// --yes answers a retry question in advance; a disk of the wrong type stays wrong, so the restore must end
// instead of asking forever, and the disk must be untouched.
TEST_F(KdlCli, PresetAnswerDoesNotRetryForever) {
  const std::string other = (dir_ / "720k.img").string();
  ASSERT_EQ(RunCommand("mkfs.fat -C -F 12 -f 2 -r 112 -R 1 -s 2 -S 512 -g 2/9 -M 0xF9 " + ShellQuote(other) +
                       " 720 >/dev/null")
                .status,
            0);
  const std::vector<uint8_t> before = ReadFile(other);
  const auto r = RunCommand(
      "timeout 60 " + Kdl() + " --yes restore " + ShellQuote(kdl_) + " " + ShellQuote(other), true);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_TRUE(ReadFile(other) == before);
}

}  // namespace
