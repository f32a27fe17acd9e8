// Images whose units cannot all be read - a CRC that does not match, a file cut short - made from a disk that
// mkfs.fat formatted and mcopy filled: a restore checks every unit before it writes the first, a raw output
// keeps what can be read, and each damaged unit is told once per operation.
#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <chrono>

#include "browse/copyout.h"
#include "browse/dir_list.h"
#include "image/create_rig.h"
#include "image/drive_messages.h"

namespace kdl {
namespace {

namespace fs = std::filesystem;
using kdltest::ReadFile;
using kdltest::ShellQuote;

constexpr int kType = 2;
constexpr int kDamagedUnit = 2;
constexpr uint8_t kFill = 0xF6;

// A 1.44 MB disk whose first file, BIG.BIN, runs from unit 0 over units 1 to 4, and the same disk freshly
// formatted.
struct Disks {
  kdltest::TempDir dir;
  std::vector<uint8_t> full, blank;

  Disks() {
    const std::string mkfs = "mkfs.fat -C -a -F 12 -f 2 -R 1 -h 0 -S 512 -s 1 -r 224 -g 2/18 -M 0xF0 ";
    const std::string mtools = "MTOOLS_SKIP_CHECK=1 HOME=" + ShellQuote(dir.path().string()) + " ";
    kdltest::WriteFile(dir / "BIG.BIN", kdltest::NoiseBytes(60000, 3));
    kdltest::WriteFile(dir / "SMALL.TXT", kdltest::TextBytes(900, 4));
    const std::string img = ShellQuote((dir / "full.img").string());
    const kdltest::CommandResult r = kdltest::RunCommand(
        "set -e; " + mkfs + ShellQuote((dir / "blank.img").string()) + " 1440 >/dev/null; " + mkfs + img +
            " 1440 >/dev/null; touch -d '1995-06-01 12:00' " + ShellQuote((dir / "BIG.BIN").string()) + "; " +
            mtools + "mcopy -m -i " + img + " " + ShellQuote((dir / "BIG.BIN").string()) + " " +
            ShellQuote((dir / "SMALL.TXT").string()) + " ::",
        true);
    EXPECT_EQ(r.status, 0) << r.output;
    full = ReadFile(dir / "full.img");
    blank = ReadFile(dir / "blank.img");
  }

  // The full disk with unit `unit` as the fill byte.
  std::vector<uint8_t> WithUnitFilled(int unit) const {
    std::vector<uint8_t> out = full;
    const size_t trackSize = static_cast<size_t>(MediaGeometryOf(kType).trackSize);
    std::fill_n(out.begin() + static_cast<ptrdiff_t>(trackSize * static_cast<size_t>(unit)), trackSize,
                kFill);
    return out;
  }
};

// An image of the full disk (free clusters left out when asked) with a byte of unit `unit` flipped.
std::vector<uint8_t> DamagedImage(const std::vector<uint8_t>& disk, int unit, bool omit) {
  kdltest::KdlOptions options;
  options.compress = false;
  options.omitUnused = omit;
  kdltest::KdlImage image = kdltest::MakeKdl(disk, kType, options);
  const TrackEntry& e = image.directory[static_cast<size_t>(unit)];
  EXPECT_EQ(e.kind, kTrackNormal);
  image.bytes[static_cast<size_t>(e.offset) + 100] ^= 0x5A;
  return image.bytes;
}

size_t CountAsks(const kdltest::ScriptedPrompter& p, std::string_view part) {
  return static_cast<size_t>(std::count_if(p.asks.begin(), p.asks.end(), [&](const kdltest::AskRecord& a) {
    return a.text.find(part) != std::string::npos;
  }));
}

TEST(DamagedImage, RestoreChecksEveryUnitBeforeItWritesTheFirst) {
  if (!kdltest::HaveTool("mkfs.fat") || !kdltest::HaveTool("mcopy"))
    GTEST_SKIP() << "mkfs.fat or mtools missing";
  const Disks disks;
  struct Case {
    const char* what;
    int unit;
    bool omit;
    DamagedUnitPolicy policy;
    Answer answer;     // to the question, where one is asked
    bool written;      // the disk was written, with the damaged unit filled
    const char* told;  // part of the message or question
  };
  const Case cases[] = {
      {"refused", kDamagedUnit, false, DamagedUnitPolicy::kRefuse, Answer::kYes, false, "再生しません"},
      {"asked, no", kDamagedUnit, false, DamagedUnitPolicy::kAsk, Answer::kNo, false, "埋めますか"},
      {"asked, yes", kDamagedUnit, false, DamagedUnitPolicy::kAsk, Answer::kYes, true, "埋めますか"},
      {"forced", kDamagedUnit, false, DamagedUnitPolicy::kFill, Answer::kYes, true, "埋めて書き込みました"},
      // Without unit 0 an image that leaves free clusters out cannot place the clusters of any other unit.
      {"unit 0 of an omitted image", 0, true, DamagedUnitPolicy::kFill, Answer::kYes, false,
       "書き込めるトラック"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    kdltest::DriveRig rig;
    rig.disk.bytes = disks.blank;
    const std::string path = rig.bench.Write("bad.kdl", DamagedImage(disks.full, c.unit, c.omit));
    rig.work().damagedUnits = c.policy;
    rig.work().currentImagePath = path;
    rig.work().openCloseFlags = kOpenFirst | kCloseAfter;
    rig.prompter().answers = {c.answer};
    std::vector<int32_t> filled;
    const int32_t result = RestoreToDrive(rig.image(), rig.drives, 1, nullptr, &filled);
    EXPECT_EQ(CountAsks(rig.prompter(), c.told), 1u) << testing::PrintToString(rig.prompter().Texts());
    if (c.written) {
      EXPECT_EQ(result, 0);
      EXPECT_TRUE(rig.disk.bytes == disks.WithUnitFilled(c.unit)) << "the other units are the image's";
      EXPECT_EQ(filled, std::vector<int32_t>{c.unit});
      EXPECT_EQ(CountAsks(rig.prompter(), "TRK " + std::to_string(c.unit) + " は読めないため"), 1u);
    } else {
      EXPECT_EQ(result, -1);
      EXPECT_TRUE(rig.disk.writes.empty()) << "not one sector may be written";
      EXPECT_TRUE(rig.disk.bytes == disks.blank);
    }
  }
}

TEST(DamagedImage, RawOutputKeepsEveryReadableUnitAndNamesTheFilledOnes) {
  if (!kdltest::HaveTool("mkfs.fat") || !kdltest::HaveTool("mcopy"))
    GTEST_SKIP() << "mkfs.fat or mtools missing";
  const Disks disks;
  kdltest::ImageBench bench;
  const std::string path = bench.Write("bad.kdl", DamagedImage(disks.full, kDamagedUnit, false));
  const std::string out = (bench.dir / "out.img").string();
  std::vector<int32_t> filled;
  EXPECT_EQ(WriteRawImage(bench.image, path, out, &filled), static_cast<int32_t>(disks.full.size()));
  EXPECT_TRUE(ReadFile(out) == disks.WithUnitFilled(kDamagedUnit));
  EXPECT_EQ(filled, std::vector<int32_t>{kDamagedUnit});
  EXPECT_EQ(CountAsks(bench.prompter, "CRC Error"), 1u);
  EXPECT_EQ(CountAsks(bench.prompter, "TRK 2 は読めないため F6 で埋めて出力しました"), 1u);
}

// BIG.BIN has 36 one-sector clusters in the damaged unit: its CRC error is told once per copy, not 36 times,
// and the partial copy is kept and marked. A copy from a sound image later replaces it under "newer".
TEST(DamagedImage, ACopyAcrossADamagedUnitIsToldOnceKeptAndMarked) {
  if (!kdltest::HaveTool("mkfs.fat") || !kdltest::HaveTool("mcopy"))
    GTEST_SKIP() << "mkfs.fat or mtools missing";
  const Disks disks;
  kdltest::ImageBench bench;
  const fs::path out = bench.dir / "out";
  fs::create_directories(out);
  const std::string bad = bench.Write("bad.kdl", DamagedImage(disks.full, kDamagedUnit, false));
  ASSERT_GE(bench.image.OpenImage(bad), 0);
  const std::optional<ResolvedPath> big = ResolveImagePath(bench.image, "BIG.BIN");
  ASSERT_TRUE(big && big->entry);
  for (int pass = 1; pass <= 2; ++pass) {
    EXPECT_EQ(CopyFileOut(bench.image, big->table, big->index, out, OverwritePolicy::kAll, false), 0);
    EXPECT_EQ(CountAsks(bench.prompter, "TRK: 2  CRC Error"), static_cast<size_t>(pass)) << "once per copy";
    EXPECT_EQ(CountAsks(bench.prompter, "BIG.BIN はイメージの壊れた部分を含むため"),
              static_cast<size_t>(pass));
  }
  bench.image.CloseImage();
  const std::vector<uint8_t> copied = ReadFile(out / "BIG.BIN");
  const std::vector<uint8_t> expected = ReadFile(disks.dir / "BIG.BIN");
  ASSERT_EQ(copied.size(), expected.size());
  // Bytes outside the damaged unit are there; the unit's own bytes are not.
  const size_t unitStart = (static_cast<size_t>(kDamagedUnit) * 36 - 33) * 512;
  EXPECT_TRUE(
      std::equal(expected.begin(), expected.begin() + static_cast<ptrdiff_t>(unitStart), copied.begin()));
  EXPECT_FALSE(std::equal(expected.begin(), expected.end(), copied.begin()));
  const std::optional<std::time_t> entryTime = DosToHostTime(big->entry->Time(), big->entry->Date());
  ASSERT_TRUE(entryTime);
  struct stat st {};
  ASSERT_EQ(stat((out / "BIG.BIN").c_str(), &st), 0);
  EXPECT_GT(st.st_mtime, *entryTime + 86400) << "a damaged copy does not get the entry's time";
  char mark[128] = {};
  const ssize_t n =
      getxattr((out / "BIG.BIN").c_str(), std::string(kDamagedXattr).c_str(), mark, sizeof mark);
  const bool xattrs = n >= 0 || errno != ENOTSUP;
  if (xattrs) {
    EXPECT_EQ(std::string(mark, static_cast<size_t>(std::max<ssize_t>(n, 0))),
              "units=2;bytes=" + std::to_string(unitStart) + "-" + std::to_string(unitStart + 36 * 512 - 1));
  }

  // The sound image's copy replaces the marked one although the marked file is newer by its time stamp.
  bench.prompter.Clear();
  kdltest::KdlOptions plain;
  const std::string good = bench.Write("good.kdl", kdltest::MakeKdl(disks.full, kType, plain).bytes);
  ASSERT_GE(bench.image.OpenImage(good), 0);
  const std::optional<ResolvedPath> again = ResolveImagePath(bench.image, "BIG.BIN");
  ASSERT_TRUE(again && again->entry);
  EXPECT_EQ(CopyFileOut(bench.image, again->table, again->index, out, OverwritePolicy::kNewer, false), 0);
  bench.image.CloseImage();
  EXPECT_TRUE(bench.prompter.asks.empty()) << bench.prompter.asks[0].text;
  EXPECT_TRUE(ReadFile(out / "BIG.BIN") == expected);
  if (xattrs) {
    EXPECT_LT(getxattr((out / "BIG.BIN").c_str(), std::string(kDamagedXattr).c_str(), nullptr, 0), 0);
  }
}

// An image file cut short says so for the units it no longer holds.
TEST(DamagedImage, ACutImageSaysWhichUnitsItLacks) {
  if (!kdltest::HaveTool("mkfs.fat") || !kdltest::HaveTool("mcopy"))
    GTEST_SKIP() << "mkfs.fat or mtools missing";
  const Disks disks;
  kdltest::ImageBench bench;
  kdltest::KdlOptions plain;
  plain.compress = false;
  const kdltest::KdlImage image = kdltest::MakeKdl(disks.full, kType, plain);
  std::vector<uint8_t> cut = image.bytes;
  cut.resize(static_cast<size_t>(image.directory[3].offset) + 1000);
  const std::string path = bench.Write("cut.kdl", cut);
  ASSERT_GE(bench.image.OpenImage(path), 0);
  EXPECT_EQ(bench.image.ReadTrack(2), 0);
  EXPECT_EQ(bench.image.ReadTrack(3), -1);
  EXPECT_TRUE(bench.prompter.Asked("TRK: 3  イメージが途中で切れています"));
}

}  // namespace
}  // namespace kdl
