// Changing what an image holds, judged by mtools and fsck.fat rather than by our own reader: for every media
// type a blank disk is formatted as a compressed ".KDL" image with free clusters left out, then a tree is put
// on it and entries are made, moved, changed and removed with `kdl`. After every step the raw disk `kdl raw`
// gives must satisfy fsck.fat (which cannot read the 8-inch disk's 128-byte sectors) and must hold, as `mcopy
// -s -m` extracts it, exactly the expected tree with its bytes and times; the track units a step did not
// touch must still be stored byte for byte as before, and a refused step must leave the image byte-identical.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "drive/media.h"
#include "image/kdl_format.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

using kdltest::ReadFile;
using kdltest::RunCommand;
using kdltest::ShellQuote;
using kdltest::WriteFile;

const std::string kEnv = "TZ=UTC LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 ";

std::string Kdl() { return kEnv + std::string(KDL_BINARY); }

// 2001-02-03 04:05:06 UTC plus `n` minutes: even seconds, as FAT stores them.
std::time_t Stamp(int n) { return 981173106 + 60 * n; }

void SetTime(const fs::path& p, std::time_t t) {
  struct timespec times[2] = {{t, 0}, {t, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0) << p;
}

void Put(const fs::path& p, const std::string& text, int minute) {
  fs::create_directories(p.parent_path());
  WriteFile(p, std::vector<uint8_t>(text.begin(), text.end()));
  SetTime(p, Stamp(minute));
}

// How mtools names a Shift-JIS short name it cannot decode: the bytes read as code page 850.
std::string Cp850(const std::string& utf8) {
  std::string sjis(64, '\0'), out(256, '\0');
  iconv_t to = iconv_open("CP932", "UTF-8"), from = iconv_open("UTF-8", "CP850");
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size(), midLeft = sjis.size(), outLeft = out.size();
  char* mid = sjis.data();
  iconv(to, &in, &inLeft, &mid, &midLeft);
  sjis.resize(sjis.size() - midLeft);
  in = sjis.data();
  inLeft = sjis.size();
  char* o = out.data();
  iconv(from, &in, &inLeft, &o, &outLeft);
  out.resize(out.size() - outLeft);
  iconv_close(to);
  iconv_close(from);
  return out;
}

// Copies a host tree keeping the files' times.
void CopyWithTimes(const fs::path& from, const fs::path& to) {
  fs::copy(from, to, fs::copy_options::recursive);
  struct stat top {};
  stat(from.c_str(), &top);
  SetTime(to, top.st_mtime);
  if (!fs::is_directory(from)) return;
  for (const auto& e : fs::recursive_directory_iterator(from)) {
    struct stat st {};
    stat(e.path().c_str(), &st);
    SetTime(to / fs::relative(e.path(), from), st.st_mtime);
  }
}

// What a directory tree holds: relative path -> file bytes and time (directories: empty bytes, time -1).
struct Tree {
  std::map<std::string, std::pair<std::vector<uint8_t>, std::time_t>> files;
  std::set<std::string> dirs;
};

Tree ReadTree(const fs::path& root) {
  Tree t;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string rel = fs::relative(e.path(), root).string();
    if (e.is_directory()) {
      t.dirs.insert(rel);
    } else {
      struct stat st {};
      stat(e.path().c_str(), &st);
      t.files[rel] = {ReadFile(e.path()), st.st_mtime};
    }
  }
  return t;
}

// The FAT12 entry of a cluster in the first FAT of a raw disk of media type `type`.
int FatEntry(const std::vector<uint8_t>& raw, int type, int cluster) {
  const kdl::MediaGeometry g = kdl::MediaGeometryOf(type);
  const size_t at = static_cast<size_t>(g.fatStart) * g.sectorSize + static_cast<size_t>(cluster) * 3 / 2;
  const int pair = raw[at] | (raw[at + 1] << 8);
  return cluster % 2 != 0 ? pair >> 4 : pair & 0xFFF;
}

// The clusters of unit `t` that hold data (what decides a unit's stored form when free clusters are left
// out).
std::vector<bool> UsedClusters(const std::vector<uint8_t>& raw, int type, int t) {
  const kdl::MediaGeometry g = kdl::MediaGeometryOf(type);
  std::vector<bool> used;
  if (t == 0) return used;
  const int first = (t * g.sectorsPerTrack - g.dataStart) / g.sectorsPerCluster + 2;
  for (int i = 0; i < g.sectorsPerTrack / g.sectorsPerCluster; ++i) {
    const int v = FatEntry(raw, type, first + i);
    used.push_back(v != 0 && v != 0xFF7);
  }
  return used;
}

class EditOracle : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    image_ = (dir_ / "DISK.KDL").string();
    raw_ = (dir_ / "disk.img").string();
    model_ = dir_ / "model";
    fs::create_directories(model_);
  }

  int Type() const { return GetParam(); }

  // Runs `kdl ARGS` on the image; the exit status (output kept in last_).
  int Run(const std::string& args) {
    const auto r = RunCommand(Kdl() + " " + args + " </dev/null", true);
    last_ = r.output;
    return r.status;
  }
  std::string Img() const { return ShellQuote(image_); }

  // The raw disk of the image as `kdl raw` writes it.
  std::vector<uint8_t> Raw() {
    fs::remove(raw_);
    EXPECT_EQ(Run("raw " + Img() + " " + ShellQuote(raw_)), 0) << last_;
    return ReadFile(raw_);
  }

  // fsck.fat finds nothing to fix, and mcopy -s extracts exactly the model tree. `knownNames`: the Shift-JIS
  // short names with a 0x5C trail byte that fsck.fat takes for "\" whatever its code page (the mtools fixture
  // disks hold three); exactly those reports are allowed then.
  void CheckAgainstOracles(const std::string& step, bool knownNames = false) {
    SCOPED_TRACE(step);
    const std::vector<uint8_t> raw = Raw();
    ASSERT_EQ(raw.size(), static_cast<size_t>(kdl::MediaTable()[Type()].totalSectors) *
                              kdl::MediaGeometryOf(Type()).sectorSize);
    if (Type() != kdl::kMediaType8Inch) {
      const auto fsck = RunCommand("fsck.fat -n " + ShellQuote(raw_), true);
      std::stringstream lines(fsck.output);
      int badNames = 0;
      for (std::string line; std::getline(lines, line);) {
        if (line.rfind("fsck.fat ", 0) == 0 || line.find(" files, ") != std::string::npos || line.empty())
          continue;
        const bool badName = line.rfind("  Bad short file name", 0) == 0;
        if (knownNames && (badName || line.rfind("  Auto-renaming", 0) == 0 ||
                           line.rfind("  Renamed to", 0) == 0 || line == "Leaving filesystem unchanged." ||
                           (line[0] == '/' && line.find('\\') != std::string::npos))) {
          badNames += badName ? 1 : 0;
          continue;
        }
        ADD_FAILURE() << "fsck.fat: " << line;
      }
      EXPECT_EQ(badNames, knownNames ? 3 : 0) << fsck.output;
      EXPECT_LE(fsck.status, knownNames ? 1 : 0) << fsck.output;
    }
    const fs::path out = dir_ / ("mcopy-" + std::to_string(++steps_));
    fs::create_directories(out);
    ASSERT_EQ(RunCommand(kEnv + "mcopy -s -m -n -i " + ShellQuote(raw_) + " ::/ " + ShellQuote(out.string()))
                  .status,
              0);
    const Tree got = ReadTree(out), want = ReadTree(model_);
    EXPECT_EQ(got.dirs, want.dirs);
    for (const auto& [path, file] : want.files) {
      const auto it = got.files.find(path);
      if (it == got.files.end()) {
        ADD_FAILURE() << path << " is not on the disk";
        continue;
      }
      EXPECT_TRUE(it->second.first == file.first) << path << ": bytes differ";
      EXPECT_EQ(it->second.second, file.second) << path << ": time differs";
    }
    for (const auto& [path, file] : got.files)
      EXPECT_TRUE(want.files.count(path) != 0) << path << " is on the disk but not expected";
  }

  // A change: runs it, checks the oracles, and checks that every unit whose disk bytes and used clusters are
  // the same is stored as it was. Returns the number of units stored anew.
  // `expect` brings the model tree to what the step should make of the disk.
  int Change(const std::string& step, const std::string& args,
             const std::function<void()>& expect = nullptr) {
    const std::vector<uint8_t> oldKdl = ReadFile(image_), oldRaw = Raw();
    if (expect) expect();
    EXPECT_EQ(Run(args), 0) << step << ": " << last_;
    CheckAgainstOracles(step, knownNames_);
    return Reencoded(oldKdl, oldRaw, ReadFile(image_), ReadFile(raw_));
  }

  // A change that must be refused: exit status 1, the image byte-identical, nothing left beside it.
  void Refused(const std::string& step, const std::string& args, const std::string& message) {
    SCOPED_TRACE(step);
    const std::vector<uint8_t> before = ReadFile(image_);
    EXPECT_EQ(Run(args), 1) << last_;
    EXPECT_NE(last_.find(message), std::string::npos) << last_;
    EXPECT_TRUE(ReadFile(image_) == before);
    for (const auto& e : fs::directory_iterator(dir_.path()))
      EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
  }

  int Reencoded(const std::vector<uint8_t>& oldKdl, const std::vector<uint8_t>& oldRaw,
                const std::vector<uint8_t>& newKdl, const std::vector<uint8_t>& newRaw) {
    const kdl::MediaGeometry g = kdl::MediaGeometryOf(Type());
    const auto oldDir = *kdl::ParseTrackDirectory(kdl::ByteView(oldKdl.data() + 256, 1280));
    const auto newDir = *kdl::ParseTrackDirectory(kdl::ByteView(newKdl.data() + 256, 1280));
    const bool omit = kdl::ParseKdlHeader(kdl::ByteView(newKdl.data(), 256))->omitUnused != 0;
    EXPECT_TRUE(std::equal(oldKdl.begin() + 60, oldKdl.begin() + 224, newKdl.begin() + 60)) << "label lines";
    int fresh = 0;
    for (int t = 0; t < g.cylinders; ++t) {
      const size_t at = static_cast<size_t>(t) * g.trackSize;
      const bool sameBytes =
          std::equal(oldRaw.begin() + at, oldRaw.begin() + at + g.trackSize, newRaw.begin() + at);
      const bool sameClusters = !omit || UsedClusters(oldRaw, Type(), t) == UsedClusters(newRaw, Type(), t);
      kdl::TrackEntry a = oldDir[t], b = newDir[t];
      const auto stored = [](const std::vector<uint8_t>& f, const kdl::TrackEntry& e) {
        return std::vector<uint8_t>(f.begin() + e.offset, f.begin() + e.offset + e.storedLength);
      };
      const bool sameStored = stored(oldKdl, a) == stored(newKdl, b);
      a.offset = b.offset = 0;
      if (sameBytes && sameClusters) {
        EXPECT_TRUE(a == b && sameStored) << "unit " << t << " was not touched but is stored differently";
      } else {
        ++fresh;
      }
    }
    return fresh;
  }

  // Free bytes as mdir counts them.
  int64_t FreeBytes() {
    Raw();
    const auto r = RunCommand(kEnv + "mdir -i " + ShellQuote(raw_) + " ::/");
    const size_t end = r.output.find(" bytes free");
    EXPECT_NE(end, std::string::npos) << r.output;
    size_t begin = r.output.rfind('\n', end) + 1;
    std::string digits;
    for (size_t i = begin; i < end; ++i) {
      if (isdigit(static_cast<unsigned char>(r.output[i]))) digits += r.output[i];
    }
    return std::stoll(digits);
  }

  std::string Attributes(const std::string& path) {
    Raw();
    const auto r = RunCommand(kEnv + "mattrib -i " + ShellQuote(raw_) + " " + ShellQuote("::" + path));
    std::string letters;
    for (const char c : r.output.substr(0, r.output.find("::"))) {
      if (c != ' ') letters += c;
    }
    return letters;
  }

  std::string Label() {
    Raw();
    return RunCommand(kEnv + "mlabel -s -i " + ShellQuote(raw_) + " ::").output;
  }

  kdltest::TempDir dir_;
  bool knownNames_ = false;
  std::string image_, raw_, last_;
  fs::path model_;
  int steps_ = 0;
};

TEST_P(EditOracle, FormatPutMkdirMvAttribVolRmAndFillTheDisk) {
  const int type = Type();
  // Format: an empty disk with its label in the root and in the boot sector.
  ASSERT_EQ(Run("format " + Img() + " --type " + std::to_string(type) + " --label 'kdlw t" +
                std::to_string(type) + "' -l 'blank disk'"),
            0)
      << last_;
  CheckAgainstOracles("format");
  EXPECT_NE(Label().find("Volume label is KDLW T" + std::to_string(type)), std::string::npos);
  const std::vector<uint8_t> blank = Raw();
  EXPECT_EQ(std::string(blank.begin() + 43, blank.begin() + 54), "KDLW T" + std::to_string(type) + "    ");
  EXPECT_EQ(blank[21], blank[static_cast<size_t>(kdl::MediaGeometryOf(type).sectorSize)]) << "media byte";

  // Put a tree: long names of one, two and three pieces, Shift-JIS names with and without long names,
  // lower-case 8.3 names, nested folders and empty files, all with their own times.
  const fs::path host = dir_ / "host";
  const fs::path tree = host / "Tree";
  Put(tree / "README.TXT", "plain 8.3 name\n", 1);
  Put(tree / "lower.txt", "an 8.3 name in lower case\n", 2);
  Put(tree / "Hello World.c", "one long-name piece\n", 3);
  Put(tree / "Two pieces of name.txt", "two long-name pieces\n", 4);
  Put(tree / "A name that needs three pieces.text", std::string(3000, 'x'), 5);
  Put(tree / "日本語のファイル名.txt", "Shift-JIS long name\n", 6);
  Put(tree / "漢字.TXT", "Shift-JIS 8.3 name\n", 7);
  Put(tree / "empty.dat", "", 8);
  Put(tree / "Level 1" / "Level 2" / "Level 3" / "deep file.bin", std::string(5000, '\x5A'), 9);
  Put(tree / "Level 1" / "EMPTY", "", 10);
  SetTime(tree / "Level 1" / "Level 2" / "Level 3", Stamp(20));
  CopyWithTimes(tree, model_ / "Tree");
  fs::rename(model_ / "Tree" / "漢字.TXT", model_ / "Tree" / Cp850("漢字.TXT"));
  Change("put", "put " + Img() + " " + ShellQuote(tree.string()) + " -r");
  // The same tree again: every entry exists and is not older, so the default policy keeps them all.
  EXPECT_EQ(Change("put again", "put " + Img() + " " + ShellQuote(tree.string()) + " -r"), 0);
  // A newer file replaces its entry in place.
  Put(tree / "README.TXT", "a newer README\n", 30);
  Change("put newer", "put " + Img() + " " + ShellQuote((tree / "README.TXT").string()) + " --to /tree",
         [&] { Put(model_ / "Tree" / "README.TXT", "a newer README\n", 30); });

  Change("mkdir", "mkdir " + Img() + " /NEWDIR '/Tree/Level 1/New folder name'", [&] {
    fs::create_directories(model_ / "NEWDIR");
    fs::create_directories(model_ / "Tree" / "Level 1" / "New folder name");
  });

  // Rename in place (to a long name, and by case only), move a file and a folder elsewhere.
  const fs::path m = model_;
  Change("mv rename", "mv " + Img() + " /Tree/README.TXT '/Tree/Read me first.txt'",
         [&] { fs::rename(m / "Tree" / "README.TXT", m / "Tree" / "Read me first.txt"); });
  Change("mv case", "mv " + Img() + " '/Tree/Hello World.c' '/Tree/HELLO WORLD.C'",
         [&] { fs::rename(m / "Tree" / "Hello World.c", m / "Tree" / "HELLO WORLD.C"); });
  Change("mv file", "mv " + Img() + " '/Tree/Two pieces of name.txt' /NEWDIR",
         [&] { fs::rename(m / "Tree" / "Two pieces of name.txt", m / "NEWDIR" / "Two pieces of name.txt"); });
  Change("mv dir", "mv " + Img() + " '/Tree/Level 1/Level 2' /NEWDIR/moved",
         [&] { fs::rename(m / "Tree" / "Level 1" / "Level 2", m / "NEWDIR" / "moved"); });
  Change("mv to the root", "mv " + Img() + " /Tree/lower.txt /",
         [&] { fs::rename(m / "Tree" / "lower.txt", m / "lower.txt"); });

  // Attributes change one directory entry: at most the units holding it are stored anew.
  EXPECT_LE(Change("attrib", "attrib " + Img() + " /NEWDIR/moved/Level\\ 3/deep\\ file.bin +r +h -a"), 2);
  EXPECT_EQ(Attributes("/NEWDIR/moved/Level 3/deep file.bin"), "HR");
  EXPECT_EQ(Attributes("/lower.txt"), "A");

  EXPECT_LE(Change("vol", "vol " + Img() + " 'New Label'"), 2);
  EXPECT_NE(Label().find("Volume label is NEW LABEL"), std::string::npos);
  const std::vector<uint8_t> relabelled = Raw();
  EXPECT_EQ(std::string(relabelled.begin() + 43, relabelled.begin() + 54), "NEW LABEL  ");

  // A read-only entry is removed only after a Yes.
  Refused("rm read-only", "rm " + Img() + " '/NEWDIR/moved/Level 3/deep file.bin'", "読み込み専用");
  Change("rm", "--yes rm " + Img() + " '/NEWDIR/moved/Level 3/deep file.bin' /Tree/empty.dat", [&] {
    fs::remove(m / "NEWDIR" / "moved" / "Level 3" / "deep file.bin");
    fs::remove(m / "Tree" / "empty.dat");
  });
  Change("rm -r", "rm " + Img() + " -r '/Tree/Level 1'", [&] { fs::remove_all(m / "Tree" / "Level 1"); });

  // A file one byte larger than the room is refused; one that fills the disk exactly fits.
  const int64_t free = FreeBytes();
  ASSERT_GT(free, 0);
  std::vector<uint8_t> fill(static_cast<size_t>(free) + 1);
  for (size_t i = 0; i < fill.size(); ++i) fill[i] = static_cast<uint8_t>(i * 7 + i / 1000);
  WriteFile(host / "FILL.BIN", fill);
  Refused("one byte too many", "put " + Img() + " " + ShellQuote((host / "FILL.BIN").string()),
          "が入りません");
  fill.pop_back();
  WriteFile(host / "FILL.BIN", fill);
  SetTime(host / "FILL.BIN", Stamp(40));
  Change("fill", "put " + Img() + " " + ShellQuote((host / "FILL.BIN").string()),
         [&] { CopyWithTimes(host / "FILL.BIN", model_ / "FILL.BIN"); });
  EXPECT_EQ(FreeBytes(), 0);
  Refused("full disk", "mkdir " + Img() + " /MORE", "が入りません");
}

// A disk mkfs.fat and mtools filled (fragmented files, deleted entries, long names straddling clusters,
// Shift-JIS short names), archived as a .KDL: removing a fragmented file frees holes that a new file fills
// again, a directory moves into one of many entries, and a new folder with a long name grows that directory.
TEST_P(EditOracle, ChangesOnADiskMtoolsFilled) {
  const int type = Type();
  const fs::path fixture = kdltest::Floppies() / ("type" + std::to_string(type) + ".img");
  ASSERT_EQ(Run("create " + ShellQuote(fixture.string()) + " " + Img()), 0) << last_;
  CopyWithTimes(kdltest::Floppies() / ("type" + std::to_string(type) + ".files"), model_);
  knownNames_ = true;
  const fs::path m = model_;
  CheckAgainstOracles("as created", true);

  const std::vector<uint8_t> fragment = ReadFile(m / "FRAG.BIN");
  Change("rm", "rm " + Img() + " /FRAG.BIN '/Long name two entries.txt'", [&] {
    fs::remove(m / "FRAG.BIN");
    fs::remove(m / "Long name two entries.txt");
  });
  std::vector<uint8_t> fresh(fragment.size() + 3000);
  for (size_t i = 0; i < fresh.size(); ++i) fresh[i] = static_cast<uint8_t>((i * 131) ^ (i >> 9));
  WriteFile(dir_ / "Fresh fragments.bin", fresh);
  SetTime(dir_ / "Fresh fragments.bin", Stamp(50));
  Change("put into the holes", "put " + Img() + " " + ShellQuote((dir_ / "Fresh fragments.bin").string()),
         [&] { CopyWithTimes(dir_ / "Fresh fragments.bin", m / "Fresh fragments.bin"); });
  Change("mv dir", "mv " + Img() + " /DIR1/DIR2 /MANY",
         [&] { fs::rename(m / "DIR1" / "DIR2", m / "MANY" / "DIR2"); });
  Change("mkdir", "mkdir " + Img() + " '/MANY/A folder with a rather long name to need more slots'",
         [&] { fs::create_directories(m / "MANY" / "A folder with a rather long name to need more slots"); });
}

INSTANTIATE_TEST_SUITE_P(AllMediaTypes, EditOracle, ::testing::Range(0, 8));

}  // namespace

namespace {

// An image inside an archive is never changed in place: the command says how to change it instead.
TEST(EditCli, ImagesInsideAnArchiveAreRefused) {
  kdltest::TempDir dir;
  const std::string image = ShellQuote((dir / "ONE.KDL").string());
  const std::string archive = (dir / "BOX.KDZ").string();
  ASSERT_EQ(RunCommand(Kdl() + " format " + image + " --type 5").status, 0);
  ASSERT_EQ(RunCommand(Kdl() + " add " + ShellQuote(archive) + " " + image + " </dev/null").status, 0);
  const std::vector<uint8_t> before = ReadFile(archive);
  auto r = RunCommand(Kdl() + " mkdir " + ShellQuote(archive + ":1") + " /NEW </dev/null", true);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("ＫＤＺの中のイメージです"), std::string::npos) << r.output;
  r = RunCommand(Kdl() + " put " + ShellQuote(archive) + " " + image + " </dev/null", true);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("is an archive"), std::string::npos) << r.output;
  EXPECT_TRUE(ReadFile(archive) == before);
}

}  // namespace

namespace {

// A disk whose boot sector lays it out otherwise than the media table (1.44 MB with 2-sector clusters and 112
// root entries) is written as its boot sector says; a .KDL image of it that left free clusters out by the
// table's FAT is refused.
TEST(EditCli, DisksWithTheirOwnLayout) {
  kdltest::TempDir dir;
  const std::string raw = (dir / "own.img").string();
  ASSERT_EQ(RunCommand("mkfs.fat -C -F 12 -f 2 -r 112 -R 1 -s 2 -S 512 -g 2/18 -M 0xF0 " + ShellQuote(raw) +
                       " 1440 >/dev/null")
                .status,
            0);
  WriteFile(dir / "DATA.BIN", std::vector<uint8_t>(5000, 0x42));
  auto r =
      RunCommand(Kdl() + " put " + ShellQuote(raw) + " " + ShellQuote((dir / "DATA.BIN").string()), true);
  ASSERT_EQ(r.status, 0) << r.output;
  r = RunCommand("fsck.fat -n " + ShellQuote(raw), true);
  EXPECT_EQ(r.status, 0) << r.output;
  ASSERT_EQ(RunCommand(kEnv + "mcopy -n -i " + ShellQuote(raw) + " ::/DATA.BIN " +
                       ShellQuote((dir / "back.bin").string()))
                .status,
            0);
  EXPECT_TRUE(ReadFile(dir / "back.bin") == std::vector<uint8_t>(5000, 0x42));

  const std::string image = (dir / "OWN.KDL").string();
  ASSERT_EQ(
      RunCommand(Kdl() + " create " + ShellQuote(raw) + " " + ShellQuote(image) + " >/dev/null 2>&1").status,
      0);
  const std::vector<uint8_t> before = ReadFile(image);
  r = RunCommand(Kdl() + " mkdir " + ShellQuote(image) + " /NEW", true);
  if (kdl::ParseKdlHeader(kdl::ByteView(before.data(), 256))->omitUnused != 0) {
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("ＦＡＴの配置が標準と違う"), std::string::npos) << r.output;
    EXPECT_TRUE(ReadFile(image) == before);
  } else {
    // An image that stores every cluster is changed like the raw disk.
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_EQ(RunCommand(Kdl() + " raw " + ShellQuote(image) + " " + ShellQuote(raw) + " --yes").status, 0);
    EXPECT_EQ(RunCommand("fsck.fat -n " + ShellQuote(raw)).status, 0);
    EXPECT_NE(RunCommand(kEnv + "mdir -i " + ShellQuote(raw) + " ::/").output.find("NEW"), std::string::npos);
  }
}

}  // namespace
