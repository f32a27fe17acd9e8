// `kdl` on damaged images and archives: a disk made by mkfs.fat and mcopy, archived by `kdl create`, then
// damaged as a failing disk or a crash would. Every command that meets damage says what failed on standard
// error and exits 1; nothing is written over an existing image.
#include <gtest/gtest.h>

#include <functional>

#include "support/image_builder.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using kdltest::ReadFile;
using kdltest::RunCommand;
using kdltest::ShellQuote;
using kdltest::WriteFile;

std::string Kdl() { return std::string(KDL_BINARY) + " "; }

uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
int32_t I32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<int32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
                              (static_cast<uint32_t>(b[at + 3]) << 24));
}
void PutI32(std::vector<uint8_t>& b, size_t at, int32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
}

class DamagedCli : public ::testing::Test {
 protected:
  void SetUp() override {
    // BIG.BIN is the disk's first file: clusters 2 on, sectors 33 to 150, units 0 to 4. SUB lies behind it.
    WriteFile(dir_ / "BIG.BIN", kdltest::NoiseBytes(60000, 9));
    WriteFile(dir_ / "INNER.TXT", kdltest::TextBytes(3000, 2));
    disk_ = (dir_ / "disk.img").string();
    const std::string mtools = "MTOOLS_SKIP_CHECK=1 HOME=" + ShellQuote(dir_.path().string()) + " ";
    const std::string i = " -i " + ShellQuote(disk_) + " ";
    ASSERT_EQ(RunCommand("set -e; mkfs.fat -C -a -F 12 -f 2 -R 1 -h 0 -S 512 -s 1 -r 224 -g 2/18 -M 0xF0 " +
                         ShellQuote(disk_) + " 1440 >/dev/null; " + mtools + "mcopy" + i +
                         ShellQuote((dir_ / "BIG.BIN").string()) + " ::; " + mtools + "mmd" + i + "::SUB; " +
                         mtools + "mcopy" + i + ShellQuote((dir_ / "INNER.TXT").string()) + " ::SUB/")
                  .status,
              0);
    // Every cluster stored as it is, so that a restore gives back the disk byte for byte.
    good_ = (dir_ / "GOOD.KDL").string();
    ASSERT_EQ(RunCommand(Kdl() + "create --no-compress --keep-unused " + ShellQuote(disk_) + " " +
                         ShellQuote(good_) + " >/dev/null 2>&1")
                  .status,
              0);
  }

  // A variant of the good image with `spoil` applied to its bytes.
  std::string Variant(const std::string& name, const std::function<void(std::vector<uint8_t>&)>& spoil) {
    std::vector<uint8_t> bytes = ReadFile(good_);
    spoil(bytes);
    WriteFile(dir_ / name, bytes);
    return (dir_ / name).string();
  }
  // Offset of the stored bytes of unit `unit` in an image.
  static size_t UnitOffset(const std::vector<uint8_t>& image, int unit) {
    return static_cast<size_t>(I32(image, 256 + 16 * static_cast<size_t>(unit)));
  }

  kdltest::TempDir dir_;
  std::string disk_, good_;
};

TEST_F(DamagedCli, EveryCommandThatMeetsDamageSaysSoAndFails) {
  const std::string crc = Variant("CRC.KDL", [](std::vector<uint8_t>& b) { b[UnitOffset(b, 2) + 7] ^= 1; });
  const std::string track0 =
      Variant("TRACK0.KDL", [](std::vector<uint8_t>& b) { b[UnitOffset(b, 0) + 600] ^= 1; });
  const std::string cut =
      Variant("CUT.KDL", [](std::vector<uint8_t>& b) { b.resize(UnitOffset(b, 3) + 100); });
  // The chain of BIG.BIN broken at its 50th cluster: its FAT entry (in both copies) made free.
  const std::string chain = Variant("CHAIN.KDL", [&](std::vector<uint8_t>& b) {
    std::vector<uint8_t> raw = ReadFile(disk_);
    for (const size_t fat : {size_t{512}, size_t{512 + 9 * 512}}) {
      const size_t at = fat + 51 * 3 / 2;  // cluster 51, odd
      raw[at] &= 0x0F;
      raw[at + 1] = 0;
    }
    WriteFile(dir_ / "chain.img", raw);
    ASSERT_EQ(
        RunCommand(Kdl() + "create --no-compress --keep-unused " + ShellQuote((dir_ / "chain.img").string()) +
                   " " + ShellQuote((dir_ / "C.KDL").string()) + " >/dev/null 2>&1")
            .status,
        0);
    b = ReadFile(dir_ / "C.KDL");
  });
  struct Case {
    std::string image;
    std::string command;  // after "kdl", with IMAGE for the image
    int status;
    std::string told;  // part of standard error; empty: nothing
  };
  const std::string broken = "のクラスタチェーンが途中で切れています";
  const std::vector<Case> cases = {
      {good_, "cat IMAGE BIG.BIN", 0, ""},
      {good_, "ls -R IMAGE", 0, ""},
      {crc, "cat IMAGE BIG.BIN", 1, "TRK: 2  CRC Error"},
      {crc, "view IMAGE BIG.BIN", 1, "TRK: 2  CRC Error"},
      {crc, "view --dump IMAGE BIG.BIN", 1, "TRK: 2  CRC Error"},
      {crc, "ls -R IMAGE", 0, ""},  // the damage lies in a file, not in a directory
      {track0, "ls IMAGE", 1, "TRK: 0  CRC Error"},
      {cut, "cat IMAGE BIG.BIN", 1, "TRK: 3  イメージが途中で切れています"},
      {cut, "ls -R IMAGE", 1, "イメージが途中で切れています"},
      {chain, "cat IMAGE BIG.BIN", 1, "BIG.BIN " + broken},
      {chain, "view IMAGE BIG.BIN", 1, "BIG.BIN " + broken},
      {chain, "--yes copy IMAGE --to OUT", 1, broken},
      {crc, "--yes copy IMAGE --to OUT", 1, "はイメージの壊れた部分を含むため"},
      {crc, "raw IMAGE OUT/raw.img", 1, "TRK 2 は読めないため"},
  };
  for (const Case& c : cases) {
    std::string command = c.command;
    command.replace(command.find("IMAGE"), 5, ShellQuote(c.image));
    const fs::path out = dir_ / "OUT";
    fs::remove_all(out);
    fs::create_directories(out);
    if (const size_t at = command.find("OUT"); at != std::string::npos) command.replace(at, 3, out.string());
    SCOPED_TRACE(command);
    const auto stderrOnly = RunCommand(Kdl() + command + " 2>&1 >/dev/null </dev/null", false);
    EXPECT_EQ(stderrOnly.status, c.status) << stderrOnly.output;
    if (c.told.empty()) {
      EXPECT_EQ(stderrOnly.output, "");
    } else {
      EXPECT_NE(stderrOnly.output.find(c.told), std::string::npos) << stderrOnly.output;
    }
    // One damaged unit is told once, however many clusters of it a command reads.
    if (c.told.rfind("TRK: 2", 0) == 0) {
      EXPECT_EQ(stderrOnly.output.find(c.told), stderrOnly.output.rfind(c.told)) << stderrOnly.output;
    }
  }
  // The raw output of the damaged image is kept: the disk with unit 2 as the fill byte.
  const fs::path raw = dir_ / "OUT" / "raw.img";
  std::vector<uint8_t> expected = ReadFile(disk_);
  std::fill_n(expected.begin() + 2 * 18432, 18432, uint8_t{0xF6});
  EXPECT_TRUE(ReadFile(raw) == expected);
}

// Crafted trees: a directory holding two entries that point back at it (a walk that guards only against one
// path looping fans out to 2^64 listings), and a directory entry whose first cluster is 0 under a name other
// than "..". Every command enters each directory once, tells the one met again, and treats cluster 0 alike.
TEST_F(DamagedCli, CraftedTreesAreWalkedOnceAndTreatedAlikeEverywhere) {
  constexpr uint16_t kRoot = kdltest::FatDiskBuilder::kRoot;
  kdltest::FatDiskBuilder disk(2);
  kdltest::EntryOptions directory;
  directory.attribute = kdl::kAttrDirectory;
  const uint16_t d = disk.AddDirectory(kRoot, "D          ");
  disk.AddFile(d, "F       TXT", kdltest::TextBytes(20));
  for (const char* name : {"X          ", "Y          "})
    disk.AddEntry(d, kdltest::FatDiskBuilder::ShortEntry(name, directory, d, 0));
  const uint16_t sub = disk.AddDirectory(kRoot, "SUB        ");
  disk.AddEntry(sub, kdltest::FatDiskBuilder::ShortEntry("ZERO       ", directory, 0, 0));
  disk.AddFile(kRoot, "ROOT    TXT", kdltest::TextBytes(30));
  const std::string image = (dir_ / "TREE.KDL").string();
  WriteFile(image, kdltest::MakeKdl(disk.bytes(), 2).bytes);
  const std::string again = "は他のディレクトリと同じ場所を指しているため読みません";
  struct Case {
    std::string command;  // after "kdl IMAGE-command"
    int status;
    std::string told;         // part of standard error; empty: nothing
    std::string notInOutput;  // never on standard output
  };
  const std::vector<Case> cases = {
      {"ls -R IMAGE", 1, "\\D\\X " + again, "\\D\\X:"},
      {"ls IMAGE D", 0, "", ""},
      {"ls -R IMAGE SUB", 0, "", "ROOT"},
      {"ls IMAGE SUB/ZERO", 0, "", "ROOT"},
      {"--yes copy IMAGE --to OUT", 1, again, ""},
  };
  for (const Case& c : cases) {
    std::string command = c.command;
    command.replace(command.find("IMAGE"), 5, ShellQuote(image));
    const fs::path out = dir_ / "OUT";
    fs::remove_all(out);
    fs::create_directories(out);
    if (const size_t at = command.find("OUT"); at != std::string::npos) command.replace(at, 3, out.string());
    SCOPED_TRACE(command);
    const auto all =
        RunCommand(Kdl() + command + " 2>" + ShellQuote((dir_ / "err").string()) + " </dev/null");
    const std::vector<uint8_t> errBytes = ReadFile(dir_ / "err");
    const std::string err(errBytes.begin(), errBytes.end());
    EXPECT_EQ(all.status, c.status) << err;
    EXPECT_LT(all.output.size(), 4000u) << "each directory is listed once";
    if (c.told.empty()) {
      EXPECT_EQ(err, "");
    } else {
      EXPECT_NE(err.find(c.told), std::string::npos) << err;
    }
    if (!c.notInOutput.empty()) {
      EXPECT_EQ(all.output.find(c.notInOutput), std::string::npos) << all.output;
    }
  }
  // The copy holds D once, with its file, and an empty SUB\ZERO.
  EXPECT_TRUE(fs::exists(dir_ / "OUT" / "D" / "F.TXT"));
  EXPECT_FALSE(fs::exists(dir_ / "OUT" / "D" / "X"));
  EXPECT_TRUE(fs::is_empty(dir_ / "OUT" / "SUB" / "ZERO"));
}

// A damaged image is never restored without --force (not even with --yes); with it the readable units are
// written and the damaged one filled, and the command still fails.
TEST_F(DamagedCli, RestoreOfADamagedImageNeedsForce) {
  const std::string crc = Variant("CRC.KDL", [](std::vector<uint8_t>& b) { b[UnitOffset(b, 2) + 7] ^= 1; });
  const std::string target = (dir_ / "target.img").string();
  ASSERT_EQ(RunCommand("mkfs.fat -C -a -F 12 -f 2 -R 1 -h 0 -S 512 -s 1 -r 224 -g 2/18 -M 0xF0 " +
                       ShellQuote(target) + " 1440 >/dev/null")
                .status,
            0);
  const std::vector<uint8_t> blank = ReadFile(target);
  auto r = RunCommand(Kdl() + "--yes restore " + ShellQuote(crc) + " " + ShellQuote(target), true);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("イメージの TRK 2 が壊れているため再生しません"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("--force"), std::string::npos) << r.output;
  EXPECT_TRUE(ReadFile(target) == blank);

  r = RunCommand(Kdl() + "restore --force " + ShellQuote(crc) + " " + ShellQuote(target) + " </dev/null",
                 true);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("TRK 2 は読めないため F6 で埋めて書き込みました"), std::string::npos) << r.output;
  std::vector<uint8_t> expected = ReadFile(disk_);
  std::fill_n(expected.begin() + 2 * 18432, 18432, uint8_t{0xF6});
  EXPECT_TRUE(ReadFile(target) == expected);

  EXPECT_EQ(RunCommand(Kdl() + "restore " + ShellQuote(good_) + " " + ShellQuote(target) + " 2>&1").status,
            0);
  EXPECT_TRUE(ReadFile(target) == ReadFile(disk_));
}

// Archives damaged as a crash or a failing disk leaves them: the next `add` must never write over an image,
// `list` and `test` say what is wrong, and `kdl repair` mends what can be mended.
TEST_F(DamagedCli, ArchivesWhoseChainAndCountDisagreeAreNotAppendedToAndCanBeRepaired) {
  const std::string kdz = (dir_ / "A.KDZ").string();
  ASSERT_EQ(RunCommand(Kdl() + "add --new " + ShellQuote(kdz) + " " + ShellQuote(good_) + " " +
                       ShellQuote(disk_) + " >/dev/null 2>&1")
                .status,
            0);
  const std::vector<uint8_t> sound = ReadFile(kdz);
  const size_t first = 128;
  const int32_t length = I32(sound, first + 13);
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> spoil;
    const char* told;
    int imagesAfterRepair;
  };
  const std::vector<Case> cases = {
      // A crash between writing the record and raising the count: the second image is complete.
      {"count lower than the chain", [](std::vector<uint8_t>& b) { b[94] = 1; }, "一致しません", 2},
      {"first length one too long", [&](std::vector<uint8_t>& b) { PutI32(b, first + 13, length + 1); },
       "2 番目のエントリーが正しくありません", 2},
      {"first length one too short", [&](std::vector<uint8_t>& b) { PutI32(b, first + 13, length - 1); },
       "1 番目のエントリーが正しくありません", 2},
      {"second record spoilt",
       [&](std::vector<uint8_t>& b) { b[first + 32 + static_cast<size_t>(length)] = 'X'; },
       "2 番目のエントリーが正しくありません", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bytes = sound;
    c.spoil(bytes);
    WriteFile(kdz, bytes);
    for (const char* command : {"list", "test"}) {
      const auto r = RunCommand(Kdl() + command + " " + ShellQuote(kdz) + " 2>&1 >/dev/null", false);
      EXPECT_EQ(r.status, 1) << command;
      EXPECT_NE(r.output.find(c.told), std::string::npos) << command << ": " << r.output;
    }
    auto r = RunCommand(Kdl() + "add " + ShellQuote(kdz) + " " + ShellQuote(good_), true);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("kdl repair"), std::string::npos) << r.output;
    EXPECT_TRUE(ReadFile(kdz) == bytes) << "nothing may be appended";
    EXPECT_EQ(RunCommand(Kdl() + "--no repair " + ShellQuote(kdz) + " 2>&1").status, 1);
    EXPECT_TRUE(ReadFile(kdz) == bytes) << "a declined repair changes nothing";
    r = RunCommand(Kdl() + "--yes repair " + ShellQuote(kdz), true);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(U16(ReadFile(kdz), 94), c.imagesAfterRepair);
    r = RunCommand(Kdl() + "test " + ShellQuote(kdz), true);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(
        RunCommand(Kdl() + "add " + ShellQuote(kdz) + " " + ShellQuote(good_) + " >/dev/null 2>&1").status,
        0);
    EXPECT_EQ(
        RunCommand(Kdl() + "extract " + ShellQuote(kdz) + " " + std::to_string(c.imagesAfterRepair + 1) +
                   " " + ShellQuote((dir_ / "x.KDL").string()) + " 2>&1 </dev/null")
            .status,
        0);
    EXPECT_TRUE(ReadFile(dir_ / "x.KDL") == ReadFile(good_));
    fs::remove(dir_ / "x.KDL");
  }
}

// `add --new` over an archive whose sources add nothing keeps the old archive and its images.
TEST_F(DamagedCli, AddNewThatAddsNothingKeepsTheOldArchive) {
  const std::string kdz = (dir_ / "B.KDZ").string();
  ASSERT_EQ(RunCommand(Kdl() + "add --new " + ShellQuote(kdz) + " " + ShellQuote(good_) + " >/dev/null 2>&1")
                .status,
            0);
  const std::vector<uint8_t> before = ReadFile(kdz);
  WriteFile(dir_ / "NOT.KDL", std::vector<uint8_t>(4000, 'x'));
  const auto r = RunCommand(
      Kdl() + "add --new " + ShellQuote(kdz) + " " + ShellQuote((dir_ / "NOT.KDL").string()), true);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(ReadFile(kdz) == before);
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(dir_.path())) files += e.path().extension() == ".part" ? 1 : 0;
  EXPECT_EQ(files, 0u) << "no temporary file is left behind";
  EXPECT_EQ(RunCommand(Kdl() + "add --new " + ShellQuote(kdz) + " " + ShellQuote(disk_) + " >/dev/null 2>&1")
                .status,
            0);
  EXPECT_EQ(U16(ReadFile(kdz), 94), 1);
  EXPECT_NE(ReadFile(kdz), before) << "an archive that holds an image replaces the old one";
}

}  // namespace
