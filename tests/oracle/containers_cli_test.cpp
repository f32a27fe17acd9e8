// Other tools' disk images through `kdl`, checked against disks built by mkfs.fat and mtools and against the
// independent container script (tests/fixtures/disk_containers.py).
#include <gtest/gtest.h>

#include <algorithm>

#include "support/test_support.h"

namespace {

using kdltest::ReadFile;
using kdltest::RunCommand;
using kdltest::ShellQuote;

std::string Kdl() { return std::string(KDL_BINARY); }
std::string Oracle() {
  return "python3 " + ShellQuote(std::string(KDL_SOURCE_DIR) + "/tests/fixtures/disk_containers.py");
}
std::string Q(const std::filesystem::path& p) { return ShellQuote(p.string()); }

struct Format {
  const char* name;  // the oracle's name, and the extension `kdl raw` takes it from
  bool (*holds)(int type);
};

const Format kFormats[] = {
    {"d88", [](int) { return true; }}, {"fdi", [](int type) { return type != 6; }},
    {"imd", [](int) { return true; }}, {"hdm", [](int type) { return type == 0; }},
    {"gz", [](int) { return true; }},
};

// For every fixture disk: our container of each format passes the independent check and `kdl create` gives
// the disk back byte for byte; a container from the independent writer does too, lists as the disk does,
// and its name or comment becomes the label.
TEST(ContainersCli, EveryFormatCarriesEveryFixtureDiskThroughKdl) {
  kdltest::TempDir dir;
  const auto made =
      RunCommand("bash " + ShellQuote(std::string(KDL_SOURCE_DIR) + "/tests/fixtures/make_floppies.sh") +
                     " " + Q(dir.path()),
                 true);
  ASSERT_EQ(made.status, 0) << made.output;
  auto raw = [&](int type) { return dir / ("type" + std::to_string(type) + ".img"); };
  auto ours = [&](int type, const Format& f) { return dir / ("ours" + std::to_string(type) + "." + f.name); };
  auto theirs = [&](int type, const Format& f) {
    return dir / ("theirs" + std::to_string(type) + "." + f.name);
  };
  // One container of the independent writer per disk, the format changing from disk to disk.
  auto independent = [](int type) -> const Format& { return kFormats[type % 2 == 0 ? (type / 2) % 3 : 4]; };

  // Ours, in every format that holds the disk (the extension chooses the format; --format does for any name).
  std::string jobs;
  for (int type = 0; type < 8; ++type) {
    for (const Format& f : kFormats) {
      SCOPED_TRACE("type " + std::to_string(type) + " " + f.name);
      const std::string target = type % 2 == 0 ? Q(ours(type, f)) : Q(dir / "out") + " --format " + f.name;
      const auto r = RunCommand(Kdl() + " raw " + Q(raw(type)) + " " + target, true);
      if (!f.holds(type)) {
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_NE(r.output.find("形式には"), std::string::npos) << r.output;
        continue;
      }
      ASSERT_EQ(r.status, 0) << r.output;
      if (type % 2 != 0) std::filesystem::rename(dir / "out", ours(type, f));
      jobs += std::string("check ") + f.name + " " + ours(type, f).string() + " " + raw(type).string() + "\n";
    }
    const Format& f = independent(type);
    jobs += std::string("write ") + f.name + " " + raw(type).string() + " " + theirs(type, f).string() +
            " --interleave\n";
  }
  // The independent script checks ours and writes its own, in one run.
  kdltest::WriteFile(dir / "jobs", std::vector<uint8_t>(jobs.begin(), jobs.end()));
  const auto checked = RunCommand(Oracle() + " batch " + Q(dir / "jobs"), true);
  EXPECT_EQ(checked.status, 0) << checked.output;

  for (int type = 0; type < 8; ++type) {
    const std::vector<uint8_t> disk = ReadFile(raw(type));
    std::vector<std::filesystem::path> containers;
    for (const Format& f : kFormats) {
      if (f.holds(type)) containers.push_back(ours(type, f));
    }
    containers.push_back(theirs(type, independent(type)));
    for (const std::filesystem::path& container : containers) {
      SCOPED_TRACE(container.filename().string());
      std::filesystem::remove(dir / "back.img");
      const auto r = RunCommand(Kdl() + " create " + Q(container) + " " + Q(dir / "back.img"), true);
      ASSERT_EQ(r.status, 0) << r.output;
      EXPECT_TRUE(ReadFile(dir / "back.img") == disk);
    }
    // The independent writer's disk name (D88) or comment (ImageDisk) becomes the image's first label line.
    const std::string independentName = independent(type).name;
    const std::string carried = independentName == "d88"   ? "ORACLE"
                                : independentName == "imd" ? "written by the test oracle"
                                                           : "";
    if (!carried.empty()) {
      std::filesystem::remove(dir / "named.KDL");
      const auto r = RunCommand(Kdl() + " create " + Q(containers.back()) + " " + Q(dir / "named.KDL"), true);
      ASSERT_EQ(r.status, 0) << r.output;
      const auto labels = RunCommand(Kdl() + " labels " + Q(dir / "named.KDL"));
      EXPECT_NE(labels.output.find("\n" + carried + "\n"), std::string::npos) << labels.output;
    }
    const auto listed = RunCommand(Kdl() + " ls -R " + Q(containers.back()));
    const auto expected = RunCommand(Kdl() + " ls -R " + Q(raw(type)));
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.output, expected.output);
  }
}

class DamagedContainer : public ::testing::Test {
 protected:
  void SetUp() override {
    // A 1.44 MB disk made by mkfs.fat, README in the first data cluster (sector 33: C0 H1 R16).
    disk_ = dir_ / "disk.img";
    ASSERT_EQ(RunCommand("mkfs.fat -C -F 12 -f 2 -r 224 -R 1 -s 1 -S 512 -g 2/18 -M 0xF0 " + Q(disk_) +
                         " 1440 >/dev/null && MTOOLS_SKIP_CHECK=1 mcopy -i " + Q(disk_) + " " +
                         ShellQuote(std::string(KDL_SOURCE_DIR) + "/README.md") + " ::/README.TXT")
                  .status,
              0);
    damaged_ = dir_ / "damaged.d88";
    const auto r =
        RunCommand(Oracle() + " write d88 " + Q(disk_) + " " + Q(damaged_) + " --crc 0:1:16", true);
    ASSERT_EQ(r.status, 0) << r.output;
  }
  kdltest::TempDir dir_;
  std::filesystem::path disk_, damaged_;
};

TEST_F(DamagedContainer, IsReportedByTestAndTheUserDecidesWhenReadingIt) {
  auto r = RunCommand(Kdl() + " test " + Q(damaged_), true);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("TRK: 0  損傷したセクタがあります\nC 0 H1 R16  CRC エラー"), std::string::npos)
      << r.output;

  // Answered No: nothing is made. Answered Yes: the sector is ignored and holds the fill byte; like any
  // drive's ignored sector it is listed, and the command fails although the image is kept.
  r = RunCommand(Kdl() + " --no create " + Q(damaged_) + " " + Q(dir_ / "no.KDL"), true);
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "no.KDL"));
  r = RunCommand(Kdl() + " --yes create " + Q(damaged_) + " " + Q(dir_ / "yes.img"), true);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(
      r.output.find("damaged.d88 : D88 形式のイメージに損傷があります（読めないセクタ 1 個）\nC 0 H1 R16"),
      std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("1 unreadable sector(s) ignored, left filled with the media fill byte: 33"),
            std::string::npos)
      << r.output;
  std::vector<uint8_t> expected = ReadFile(disk_);
  std::fill(expected.begin() + 33 * 512, expected.begin() + 34 * 512, 0xF6);
  EXPECT_TRUE(ReadFile(dir_ / "yes.img") == expected);

  // A damaged container added to an archive is read the same way.
  r = RunCommand(Kdl() + " --yes add " + Q(dir_ / "A.KDZ") + " " + Q(damaged_), true);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("ignored, left filled with the media fill byte: 33"), std::string::npos)
      << r.output;
  EXPECT_NE(RunCommand(Kdl() + " labels " + Q(dir_ / "A.KDZ") + ":1").output.find("\nORACLE\n"),
            std::string::npos);
  r = RunCommand(Kdl() + " raw " + Q(dir_ / "A.KDZ") + ":1 " + Q(dir_ / "fromzip.img"), true);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(
      std::equal(expected.begin(), expected.begin() + 34 * 512, ReadFile(dir_ / "fromzip.img").begin()));
}

// A damaged image written out in any format is kept with its unreadable unit as the fill byte, and the
// command fails; a target that is no regular file is refused in every format, and standard output takes any
// of them.
TEST_F(DamagedContainer, OutputInEveryFormatFillsWhatCannotBeReadAndRefusesSpecialTargets) {
  const std::filesystem::path good = dir_ / "G.KDL";
  ASSERT_EQ(
      RunCommand(Kdl() + " create --no-compress --keep-unused " + Q(disk_) + " " + Q(good) + " 2>/dev/null")
          .status,
      0);
  // One byte of unit 1 flipped: its CRC no longer matches.
  std::vector<uint8_t> image = ReadFile(good);
  const size_t unit1 = static_cast<size_t>(image[272]) | static_cast<size_t>(image[273]) << 8 |
                       static_cast<size_t>(image[274]) << 16 | static_cast<size_t>(image[275]) << 24;
  ASSERT_LT(unit1 + 7, image.size());
  image[unit1 + 7] ^= 1;
  kdltest::WriteFile(dir_ / "D.KDL", image);
  std::vector<uint8_t> expected = ReadFile(disk_);
  std::fill_n(expected.begin() + 18432, 18432, uint8_t{0xF6});
  kdltest::WriteFile(dir_ / "expected.img", expected);
  ASSERT_EQ(RunCommand("mkfifo " + Q(dir_ / "fifo")).status, 0);

  std::string jobs;
  for (const char* format : {"raw", "d88", "fdi", "imd", "gz"}) {
    SCOPED_TRACE(format);
    const std::filesystem::path out = dir_ / (std::string("out.") + format);
    auto r = RunCommand(Kdl() + " raw " + Q(dir_ / "D.KDL") + " " + Q(out) + " --format " + format, true);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("イメージの TRK 1 は読めないため F6 で埋めて出力しました"), std::string::npos)
        << r.output;
    if (std::string(format) == "raw") {
      EXPECT_TRUE(ReadFile(out) == expected);
    } else {
      jobs +=
          std::string("check ") + format + " " + out.string() + " " + (dir_ / "expected.img").string() + "\n";
    }
    for (const char* special : {"fifo", "/dev/null"}) {
      const std::string target = std::string(special) == "fifo" ? Q(dir_ / "fifo") : special;
      r = RunCommand("timeout 60 " + Kdl() + " raw " + Q(good) + " " + target + " --format " + format, true);
      EXPECT_EQ(r.status, 1) << special << ": " << r.output;
      EXPECT_NE(r.output.find("only a regular file is written"), std::string::npos) << r.output;
    }
    const std::filesystem::path piped = dir_ / (std::string("piped.") + format);
    r = RunCommand(Kdl() + " raw " + Q(good) + " - --format " + format + " >" + Q(piped) + " 2>/dev/null");
    EXPECT_EQ(r.status, 0);
    if (std::string(format) == "raw") {
      EXPECT_TRUE(ReadFile(piped) == ReadFile(disk_));
    } else {
      jobs += std::string("check ") + format + " " + piped.string() + " " + disk_.string() + "\n";
    }
  }
  kdltest::WriteFile(dir_ / "jobs", std::vector<uint8_t>(jobs.begin(), jobs.end()));
  const auto checked = RunCommand(Oracle() + " batch " + Q(dir_ / "jobs"), true);
  EXPECT_EQ(checked.status, 0) << checked.output;
}

TEST_F(DamagedContainer, RefusalsSayWhy) {
  // A cut gzip stream, a container as a restore target or changed in place, a format without the disk's
  // geometry, a bad name.
  const std::vector<uint8_t> gz = [&] {
    RunCommand(Oracle() + " write gz " + Q(disk_) + " " + Q(dir_ / "whole.gz"));
    std::vector<uint8_t> b = ReadFile(dir_ / "whole.gz");
    b.resize(b.size() / 2);
    return b;
  }();
  kdltest::WriteFile(dir_ / "cut.img.gz", gz);
  auto r = RunCommand(Kdl() + " create " + Q(dir_ / "cut.img.gz") + " " + Q(dir_ / "x.img"), true);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("gzip のデータが途中で切れています"), std::string::npos) << r.output;
  r = RunCommand(Kdl() + " ls " + Q(dir_ / "cut.img.gz"), true);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("途中で切れています"), std::string::npos) << r.output;

  ASSERT_EQ(RunCommand(Kdl() + " create " + Q(disk_) + " " + Q(dir_ / "D.KDL") + " 2>/dev/null").status, 0);
  const std::vector<uint8_t> before = ReadFile(damaged_);
  r = RunCommand(Kdl() + " --yes restore " + Q(dir_ / "D.KDL") + " " + Q(damaged_), true);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("never written"), std::string::npos) << r.output;
  // Nor is it changed in place: it would be written back as a raw disk, without its format.
  for (const std::string& change : {" put " + Q(damaged_) + " " + Q(disk_), " mkdir " + Q(damaged_) + " /NEW",
                                    " vol " + Q(damaged_) + " NEW"}) {
    r = RunCommand(Kdl() + change, true);
    EXPECT_EQ(r.status, 1) << change;
    EXPECT_NE(r.output.find("他のツールの形式のディスクイメージで、読み込み専用です"), std::string::npos)
        << r.output;
  }
  EXPECT_TRUE(ReadFile(damaged_) == before);

  r = RunCommand(Kdl() + " raw " + Q(dir_ / "D.KDL") + " " + Q(dir_ / "x.hdm"), true);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("HDM 形式には 2HC(1.44M) のディスクを書けません"), std::string::npos) << r.output;
  EXPECT_FALSE(std::filesystem::exists(dir_ / "x.hdm"));
  EXPECT_EQ(
      RunCommand(Kdl() + " raw " + Q(dir_ / "D.KDL") + " " + Q(dir_ / "y") + " --format zip 2>/dev/null")
          .status,
      2);
}

}  // namespace
