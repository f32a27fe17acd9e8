// `kdl mount` against the disks mkfs.fat and mtools built: for every media type, a folder holding the disk as
// a
// ".KDL", as the raw disk and inside an archive is mounted, and `find`, `stat`, `cmp` against mcopy's files
// and `getfattr` must see exactly what mtools put on the disk. A damaged unit must give EIO for exactly the
// bytes it holds, concurrent readers must see the right bytes through a cache far smaller than what they
// read, and every mount must end (fusermount3 -u, or Ctrl-C in the foreground).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "oracle/oracle_support.h"

namespace fs = std::filesystem;

namespace {

using kdloracle::KdlMount;
using kdloracle::ManifestEntry;
using kdltest::ReadFile;
using kdltest::RunCommand;
using kdltest::ShellQuote;

std::string Kdl() { return std::string(KDL_BINARY); }

// Undoes getfattr's quoting of file names: "\ooo" for bytes it does not print, "\\" for a backslash.
std::string Unquote(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const bool octal =
        s[i] == '\\' && i + 3 < s.size() &&
        std::all_of(s.begin() + static_cast<ptrdiff_t>(i + 1), s.begin() + static_cast<ptrdiff_t>(i + 4),
                    [](char c) { return c >= '0' && c <= '7'; });
    if (octal) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == '\\') {
      out += '\\';
      ++i;
    } else {
      out += s[i];
    }
  }
  return out;
}

// user.dos.attrib of every file and folder below `root`, by relative path, as getfattr reads it.
std::map<std::string, int> DosAttributes(const fs::path& root) {
  const auto r = RunCommand("getfattr -R -d -m - -e hex --absolute-names " + ShellQuote(root.string()));
  std::map<std::string, int> out;
  std::string file;
  std::stringstream ss(r.output);
  for (std::string line; std::getline(ss, line);) {
    if (line.rfind("# file: ", 0) == 0) {
      file = fs::relative(Unquote(line.substr(8)), root).string();
    } else if (line.rfind("user.dos.attrib=0x", 0) == 0) {
      out[file] = std::stoi(line.substr(18), nullptr, 16);
    }
  }
  return out;
}

// What find(1) sees below `root`: relative path -> type letter and size.
std::map<std::string, std::pair<char, uint64_t>> FindTree(const fs::path& root) {
  const auto r = RunCommand("find " + ShellQuote(root.string()) + " -mindepth 1 -printf '%P\\t%y\\t%s\\n'");
  std::map<std::string, std::pair<char, uint64_t>> out;
  std::stringstream ss(r.output);
  for (std::string line; std::getline(ss, line);) {
    const size_t a = line.find('\t'), b = line.rfind('\t');
    out[line.substr(0, a)] = {line[a + 1], std::stoull(line.substr(b + 1))};
  }
  return out;
}

class MountOracle : public kdloracle::FixtureSuite<::testing::TestWithParam<int>> {
 protected:
  void SetUp() override {
    KDL_SKIP_WITHOUT_FUSE();
    FixtureSuite::SetUp();
  }

  // Checks one mounted image against the manifest and mcopy's files.
  void CheckImage(const fs::path& root) {
    SCOPED_TRACE(root.string());
    const int type = GetParam();
    const std::vector<ManifestEntry> manifest = kdloracle::ReadManifest(disks_->Fixture(type, ".manifest"));
    const fs::path reference = disks_->Fixture(type, ".files");
    auto seen = FindTree(root);
    const std::map<std::string, int> attributes = DosAttributes(root);
    std::multiset<std::vector<uint8_t>> unmatchedOurs, unmatchedTheirs;
    size_t files = 0;
    for (const ManifestEntry& m : manifest) {
      if (m.kind == 'v') continue;
      const auto it = seen.find(m.path);
      ASSERT_NE(it, seen.end()) << m.path << " is not in the mount";
      EXPECT_EQ(it->second.first, m.kind) << m.path;
      seen.erase(it);
      struct stat st {};
      ASSERT_EQ(stat((root / m.path).c_str(), &st), 0) << m.path;
      EXPECT_EQ(kdloracle::LocalTimeText(st.st_mtime), m.mtime) << m.path;
      // The byte copy-out writes: for a file unless it is the plain archive bit, for a folder unless plain.
      const bool carries = m.kind == 'f' ? m.attribute != 0x20 : m.attribute != 0x10;
      const auto attribute = attributes.find(m.path);
      EXPECT_EQ(attribute != attributes.end(), carries) << m.path;
      if (carries && attribute != attributes.end()) {
        EXPECT_EQ(attribute->second, m.attribute) << m.path;
      }
      if (m.kind == 'd') continue;
      ++files;
      EXPECT_EQ(static_cast<uint64_t>(st.st_size), m.size) << m.path;
      EXPECT_EQ((st.st_mode & 0222) == 0, (m.attribute & 0x01) != 0) << m.path;
      const std::vector<uint8_t> bytes = ReadFile(root / m.path);
      EXPECT_EQ(bytes.size(), m.size) << m.path;
      if (fs::exists(reference / m.path)) {
        EXPECT_TRUE(bytes == ReadFile(reference / m.path)) << m.path << " differs from mcopy's copy";
      } else {
        unmatchedOurs.insert(bytes);
      }
    }
    EXPECT_TRUE(seen.empty()) << "in the mount but not on the disk: " << seen.begin()->first;
    // mcopy cannot name Shift-JIS short names; those files are matched by their bytes.
    for (const auto& e : fs::recursive_directory_iterator(reference)) {
      const std::string rel = fs::relative(e.path(), reference).string();
      if (e.is_regular_file() && std::none_of(manifest.begin(), manifest.end(),
                                              [&](const ManifestEntry& m) { return m.path == rel; }))
        unmatchedTheirs.insert(ReadFile(e.path()));
    }
    EXPECT_TRUE(unmatchedOurs == unmatchedTheirs);
    EXPECT_FALSE(unmatchedOurs.empty()) << "the Shift-JIS names should be among them";
    EXPECT_GT(files, 20u);
  }
};

TEST_P(MountOracle, FolderOfImageRawDiskContainersAndArchiveShowsWhatMtoolsWrote) {
  const int type = GetParam();
  kdltest::TempDir folder;
  fs::create_directories(folder / "sub/deeper");
  fs::copy_file(disks_->PackedKdl(type, "packed.KDL"), folder / "disk.KDL");
  fs::copy_file(disks_->Fixture(type, ".img"), folder / "sub/raw.img");
  kdltest::WriteFile(folder / "sub/notes.txt", {'h', 'i', '\n'});
  // Other tools' containers of the disk are disks too; a gzip file not named as a disk is not.
  for (const char* name : {"sub/disk.d88", "sub/disk.img.gz"}) {
    ASSERT_EQ(RunCommand(Kdl() + " raw " + ShellQuote(disks_->Fixture(type, ".img").string()) + " " +
                         ShellQuote((folder / name).string()) + " >/dev/null 2>&1")
                  .status,
              0);
  }
  ASSERT_EQ(RunCommand("gzip -c " + ShellQuote(disks_->Fixture(type, ".img").string()) + " >" +
                       ShellQuote((folder / "sub/notes.gz").string()))
                .status,
            0);
  const std::string archive = (folder / "sub/deeper/set.KDZ").string();
  ASSERT_EQ(
      RunCommand(Kdl() + " add " + ShellQuote(archive) + " " + ShellQuote((folder / "disk.KDL").string()) +
                 " " + ShellQuote(disks_->Fixture(type, ".img").string()) + " >/dev/null 2>&1")
          .status,
      0);
  // A label line becomes part of the image's folder name, made safe as a file name.
  ASSERT_EQ(RunCommand(Kdl() + " labels " + ShellQuote(archive + ":2") + " -l " + ShellQuote("Box 3/日本語") +
                       " >/dev/null 2>&1")
                .status,
            0);

  KdlMount mount(Kdl(), folder.path());
  ASSERT_TRUE(mount.ok()) << mount.output();
  // The folder is mirrored: folders, images and archives as folders, the text file left out.
  const auto top = FindTree(mount.path());
  for (const char* expected :
       {"disk.KDL", "sub", "sub/raw.img", "sub/disk.d88", "sub/disk.img.gz", "sub/deeper",
        "sub/deeper/set.KDZ", "sub/deeper/set.KDZ/DISK1", "sub/deeper/set.KDZ/DISK2 Box 3_日本語"}) {
    ASSERT_TRUE(top.count(expected)) << expected;
    EXPECT_EQ(top.at(expected).first, 'd') << expected;
  }
  EXPECT_EQ(top.count("sub/notes.txt"), 0u);
  EXPECT_EQ(top.count("sub/notes.gz"), 0u);

  CheckImage(mount / "disk.KDL");
  CheckImage(mount / "sub/raw.img");
  CheckImage(mount / "sub/disk.d88");
  CheckImage(mount / "sub/disk.img.gz");
  CheckImage(mount / "sub/deeper/set.KDZ/DISK2 Box 3_日本語");
}

// The bytes of BIG.BIN (random, so every sector of it is unique) lie in many units; one of them is damaged.
// Which file bytes that unit holds is found by looking for each sector of mcopy's copy in the raw disk.
TEST_P(MountOracle, DamagedUnitGivesEioForExactlyItsBytes) {
  const int type = GetParam();
  const std::vector<uint8_t> raw = ReadFile(disks_->Fixture(type, ".img"));
  const std::vector<uint8_t> big = ReadFile(disks_->Fixture(type, ".files") / "BIG.BIN");
  // Sector size and sectors per track unit from the disk's own boot sector.
  const size_t sectorSize = raw[11] | (raw[12] << 8);
  const size_t perUnit = static_cast<size_t>(raw[24] | (raw[25] << 8)) * (raw[26] | (raw[27] << 8));
  // Every piece of the file starts a sector on the disk; the disk's sectors are looked up by their bytes.
  std::map<std::string, size_t> sectorOf;
  for (size_t s = 0; s * sectorSize < raw.size(); ++s)
    sectorOf.emplace(std::string(raw.begin() + static_cast<ptrdiff_t>(s * sectorSize),
                                 raw.begin() + static_cast<ptrdiff_t>((s + 1) * sectorSize)),
                     s);
  std::vector<int> unitOf;  // per sector-sized piece of the file
  for (size_t at = 0; at < big.size(); at += sectorSize) {
    const size_t n = std::min(sectorSize, big.size() - at);
    std::string piece(big.begin() + static_cast<ptrdiff_t>(at), big.begin() + static_cast<ptrdiff_t>(at + n));
    auto found = sectorOf.lower_bound(piece);
    ASSERT_TRUE(found != sectorOf.end() && found->first.compare(0, n, piece) == 0) << "piece at " << at;
    unitOf.push_back(static_cast<int>(found->second / perUnit));
  }
  const int damaged = unitOf[unitOf.size() / 2];
  ASSERT_NE(damaged, unitOf.front());

  // One byte of that unit's stored bytes flipped: its CRC no longer holds.
  std::vector<uint8_t> image = ReadFile(disks_->PackedKdl(type, "damaged.KDL"));
  const size_t entry = 256 + 16 * static_cast<size_t>(damaged);
  const uint32_t offset = image[entry] | (image[entry + 1] << 8) | (image[entry + 2] << 16) |
                          (static_cast<uint32_t>(image[entry + 3]) << 24);
  const size_t stored = image[entry + 4] | (image[entry + 5] << 8);
  ASSERT_NE(image[entry + 6], 1) << "a unit of random data is never one repeated byte";
  image[offset + stored / 2] ^= 0x5A;
  kdltest::TempDir dir;
  kdltest::WriteFile(dir / "damaged.KDL", image);

  KdlMount mount(Kdl(), dir / "damaged.KDL");
  ASSERT_TRUE(mount.ok()) << mount.output();
  const fs::path file = mount / "BIG.BIN";
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(static_cast<size_t>(st.st_size), big.size());

  // Piece by piece, from the end backwards: EIO exactly where the damaged unit lies.
  const int fd = open(file.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  size_t firstBad = big.size();
  for (size_t k = unitOf.size(); k-- > 0;) {
    const size_t at = k * sectorSize, n = std::min(sectorSize, big.size() - at);
    std::vector<uint8_t> piece(n);
    const ssize_t got = pread(fd, piece.data(), n, static_cast<off_t>(at));
    if (unitOf[k] == damaged) {
      firstBad = at;
      EXPECT_EQ(got, -1) << "piece " << k;
      EXPECT_EQ(errno, EIO) << "piece " << k;
    } else {
      ASSERT_EQ(got, static_cast<ssize_t>(n)) << "piece " << k;
      EXPECT_TRUE(std::equal(piece.begin(), piece.end(), big.begin() + static_cast<ptrdiff_t>(at))) << k;
    }
  }
  // Read straight through in large blocks: every byte before the damage, then EIO.
  std::vector<uint8_t> all;
  std::vector<uint8_t> block(65536);
  ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
  ssize_t got = 0;
  while ((got = read(fd, block.data(), block.size())) > 0)
    all.insert(all.end(), block.begin(), block.begin() + got);
  EXPECT_EQ(got, -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(all.size(), firstBad);
  EXPECT_TRUE(std::equal(all.begin(), all.end(), big.begin()));
  close(fd);
  const auto cmp = RunCommand("cmp " + ShellQuote(file.string()) + " " +
                                  ShellQuote((disks_->Fixture(type, ".files") / "BIG.BIN").string()),
                              true);
  EXPECT_EQ(cmp.status, 2);
  EXPECT_NE(cmp.output.find("Input/output error"), std::string::npos) << cmp.output;
  // The rest of the disk reads as ever.
  EXPECT_TRUE(ReadFile(mount / "README.TXT") == ReadFile(disks_->Fixture(type, ".files") / "README.TXT"));
}

INSTANTIATE_TEST_SUITE_P(AllMediaTypes, MountOracle, ::testing::Range(0, 8));

class MountRun : public kdloracle::FixtureSuite<> {
 protected:
  void SetUp() override {
    KDL_SKIP_WITHOUT_FUSE();
    FixtureSuite::SetUp();
  }
};

// Eight threads read every file of an archive of all eight disks, each in its own order, through a cache of
// one megabyte (a small part of what they read), and must all see mcopy's bytes.
TEST_F(MountRun, ConcurrentReadersThroughASmallCache) {
  kdltest::TempDir dir;
  const std::string archive = (dir / "all.KDZ").string();
  std::string sources;
  for (int t = 0; t < 8; ++t)
    sources += " " + ShellQuote(disks_->PackedKdl(t, "disk" + std::to_string(t) + ".KDL").string());
  ASSERT_EQ(RunCommand(Kdl() + " add " + ShellQuote(archive) + sources + " >/dev/null 2>&1").status, 0);
  KdlMount mount(Kdl(), archive, "--cache 1");
  ASSERT_TRUE(mount.ok()) << mount.output();

  struct Job {
    fs::path ours;
    std::vector<uint8_t> expected;
  };
  std::vector<Job> jobs;
  for (int t = 0; t < 8; ++t) {
    const fs::path reference = disks_->Fixture(t, ".files");
    for (const auto& e : fs::recursive_directory_iterator(reference)) {
      const fs::path rel = fs::relative(e.path(), reference);
      if (e.is_regular_file() && fs::exists(mount / ("DISK" + std::to_string(t + 1)) / rel))
        jobs.push_back({mount / ("DISK" + std::to_string(t + 1)) / rel, ReadFile(e.path())});
    }
  }
  ASSERT_GT(jobs.size(), 400u);
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 8; ++r) {
    readers.emplace_back([&, r] {
      for (size_t i = 0; i < jobs.size(); ++i) {
        const Job& job = jobs[(i * 7 + static_cast<size_t>(r) * jobs.size() / 8) % jobs.size()];
        if (ReadFile(job.ours) != job.expected) ++wrong;
      }
    });
  }
  for (std::thread& t : readers) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

// Disks whose boot sector lays out clusters and root otherwise than the media table (formatted by other
// programs) are served by their own layout, as a raw disk and as an image: diff -r against mcopy -s.
TEST_F(MountRun, DisksOfTheirOwnLayoutShowWhatMtoolsReads) {
  const char* layouts[][2] = {
      {"-S 512 -s 4 -r 512 -g 2/8 -M 0xFB", "640"},     // mkfs.fat's own 640K layout
      {"-S 512 -s 64 -r 224 -g 2/18 -M 0xF0", "1440"},  // 32 KiB clusters, larger than a unit
      {"-S 512 -s 2 -r 16 -g 2/21 -M 0xF0", "1680"},    // DMF with 1 KiB clusters
  };
  for (const auto& layout : layouts) {
    SCOPED_TRACE(layout[0]);
    kdltest::TempDir dir;
    const std::string d = ShellQuote(dir.path().string());
    const std::string env = "MTOOLS_SKIP_CHECK=1 HOME=" + d + " ";
    const auto made = RunCommand(
        "set -e; cd " + d + "; mkdir -p shelf src/SUB; head -c 90001 /dev/urandom > src/NOISE.BIN; " +
            "seq 1 9000 > src/TEXT.TXT; seq 1 700 > 'src/Long file name.dat'; head -c 40000 /dev/urandom > "
            "src/SUB/INNER.BIN; mkfs.fat -C -a -F 12 -h 0 -R 1 -f 2 " +
            layout[0] + " shelf/raw.img " + layout[1] + " >/dev/null; " + env +
            "mcopy -s -m -i shelf/raw.img src/NOISE.BIN src/TEXT.TXT 'src/Long file name.dat' src/SUB ::; " +
            env + "mkdir mtools; mcopy -s -m -i shelf/raw.img :: mtools/; " + Kdl() +
            " create shelf/raw.img shelf/disk.KDL >/dev/null",
        true);
    ASSERT_EQ(made.status, 0) << made.output;
    KdlMount mount(Kdl(), dir / "shelf");
    ASSERT_TRUE(mount.ok()) << mount.output();
    for (const char* image : {"raw.img", "disk.KDL"}) {
      const auto diff =
          RunCommand("diff -r " + ShellQuote((mount / image).string()) + " " + d + "/mtools", true);
      EXPECT_EQ(diff.status, 0) << image << ": " << diff.output;
    }
  }
}

TEST_F(MountRun, ForegroundMountEndsOnCtrlCAndDaemonOnUnmount) {
  const fs::path image = disks_->PackedKdl(2, "disk.KDL");
  kdltest::TempDir dir;
  const fs::path point = dir / "mnt";
  fs::create_directory(point);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    // A mount point named relative to where kdl starts is still the one unmounted when it ends.
    if (chdir(dir.path().c_str()) != 0) _exit(126);
    execl(KDL_BINARY, "kdl", "mount", "-f", image.c_str(), "mnt", static_cast<char*>(nullptr));
    _exit(127);
  }
  bool mounted = false;
  for (int i = 0; i < 100 && !mounted; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    mounted = kdltest::IsMounted(point);
  }
  ASSERT_TRUE(mounted);
  EXPECT_TRUE(ReadFile(point / "README.TXT") == ReadFile(disks_->Fixture(2, ".files") / "README.TXT"));
  ASSERT_EQ(kill(child, SIGINT), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(kdltest::IsMounted(point));

  // As a daemon: `kdl mount` returns once the mount is there, fusermount3 -u ends it.
  {
    KdlMount daemon(Kdl(), image);
    ASSERT_TRUE(daemon.ok()) << daemon.output();
    EXPECT_EQ(RunCommand("fusermount3 -u " + ShellQuote(daemon.path().string())).status, 0);
    EXPECT_FALSE(kdltest::IsMounted(daemon.path()));
  }
  // What cannot be mounted is refused before anything is mounted.
  kdltest::WriteFile(dir / "text.txt", {'x'});
  KdlMount notAnImage(Kdl(), dir / "text.txt");
  EXPECT_FALSE(notAnImage.ok());
  EXPECT_NE(notAnImage.output().find("はカドローンではありません"), std::string::npos) << notAnImage.output();
  EXPECT_EQ(RunCommand(Kdl() + " mount " + ShellQuote(image.string()) + " " +
                       ShellQuote((dir / "none").string()) + " 2>/dev/null")
                .status,
            1);
}

}  // namespace
