// Other tools' disk image containers: every format with every media type it can hold, read back from our own
// writer and from an independent one (tests/fixtures/disk_containers.py, written from the formats' public
// descriptions), damage found sector by sector, refusals that say what the file holds, and hostile bytes.
#include "drive/formats/container.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>

#include "drive/drive.h"
#include "drive/drive_settings.h"
#include "drive/formats/sector_map.h"
#include "drive/host_drive.h"
#include "drive/media.h"
#include "support/scripted_prompter.h"
#include "support/test_support.h"

namespace kdl {
namespace {

using formats::LayoutOf;
using kdltest::ReadFile;
using kdltest::RunCommand;
using kdltest::ShellQuote;
using kdltest::TempDir;
using Bytes = std::vector<uint8_t>;

constexpr ContainerFormat kWritten[] = {ContainerFormat::kRaw, ContainerFormat::kHdm, ContainerFormat::kD88,
                                        ContainerFormat::kFdi, ContainerFormat::kImd, ContainerFormat::kGzip};

// A whole disk of media type `type`: a boot sector with the type's total count, then every sector holding its
// own number and position, except that every third sector is one repeated byte (as blank sectors are).
Bytes SyntheticDisk(int32_t type) {
  const MediaGeometry g = MediaGeometryOf(type);
  const size_t size = static_cast<size_t>(g.sectorSize);
  Bytes disk(static_cast<size_t>(g.cylinders) * static_cast<size_t>(g.trackSize));
  for (size_t s = 0; s < disk.size() / size; ++s) {
    for (size_t i = 0; i < size; ++i)
      disk[s * size + i] =
          s % 3 == 2 ? static_cast<uint8_t>(s) : static_cast<uint8_t>(s * 7 + i * 13 + (i >> 8));
  }
  disk[0] = 0xEB;
  disk[1] = 0x3C;
  disk[2] = 0x90;
  const uint32_t total = static_cast<uint32_t>(disk.size() / size);
  disk[19] = static_cast<uint8_t>(total);
  disk[20] = static_cast<uint8_t>(total >> 8);
  return disk;
}

int32_t SectorOf(int32_t type, int c, int h, int r) {
  const formats::PhysicalLayout l = LayoutOf(type);
  return (c * l.heads + h) * l.sectors + (r - 1);
}

// The independent script, run once over a batch of jobs: the containers it writes of disks, and its checks of
// containers we wrote.
class Oracle {
 public:
  explicit Oracle(const TempDir& dir) : dir_(dir) {}
  // Queues its container of `disk`; Output(n) holds it after Run().
  size_t Write(const std::string& format, const Bytes& disk, const std::string& options = {}) {
    const std::string out = Path("out" + std::to_string(outputs_.size()));
    jobs_ += "write " + format + " " + Raw(disk) + " " + out + " " + options + "\n";
    outputs_.push_back(out);
    return outputs_.size() - 1;
  }
  // Queues its check that `file` is `disk` in `format`, as the format's description has it.
  void Check(const std::string& format, const Bytes& file, const Bytes& disk) {
    const std::string path = Path("check" + std::to_string(checks_++));
    kdltest::WriteFile(path, file);
    jobs_ += "check " + format + " " + path + " " + Raw(disk) + "\n";
  }
  void Run() {
    kdltest::WriteFile(Path("jobs"), Bytes(jobs_.begin(), jobs_.end()));
    const auto r = RunCommand(
        "python3 " + ShellQuote(std::string(KDL_SOURCE_DIR) + "/tests/fixtures/disk_containers.py") +
            " batch " + ShellQuote(Path("jobs")),
        true);
    EXPECT_EQ(r.status, 0) << r.output;
    jobs_.clear();
  }
  Bytes Output(size_t n) const { return ReadFile(outputs_.at(n)); }

 private:
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  // Each disk is written once, however many jobs use it.
  std::string Raw(const Bytes& disk) {
    for (size_t i = 0; i < raws_.size(); ++i) {
      if (raws_[i] == disk) return Path("raw" + std::to_string(i));
    }
    raws_.push_back(disk);
    const std::string path = Path("raw" + std::to_string(raws_.size() - 1));
    kdltest::WriteFile(path, disk);
    return path;
  }
  const TempDir& dir_;
  std::string jobs_;
  std::vector<std::string> outputs_;
  std::vector<Bytes> raws_;
  int checks_ = 0;
};

// The independent writer's container of one disk.
Bytes OracleWrite(const TempDir& dir, const std::string& format, const Bytes& disk,
                  const std::string& options = {}) {
  Oracle oracle(dir);
  const size_t n = oracle.Write(format, disk, options);
  oracle.Run();
  return oracle.Output(n);
}

ContainerRead Decode(const Bytes& file) { return DecodeContainer(ByteView(file.data(), file.size())); }

std::string FormatArgument(ContainerFormat f) {
  switch (f) {
    case ContainerFormat::kD88:
      return "d88";
    case ContainerFormat::kFdi:
      return "fdi";
    case ContainerFormat::kImd:
      return "imd";
    case ContainerFormat::kHdm:
      return "hdm";
    default:
      return "gz";
  }
}

TEST(Containers, EveryFormatRoundTripsEveryMediaTypeItCanHold) {
  for (int32_t type = 0; type < kMediaTypeCount; ++type) {
    const Bytes disk = SyntheticDisk(type);
    for (const ContainerFormat f : kWritten) {
      SCOPED_TRACE(std::string(MediaName(type)) + " " + std::string(ContainerFormatName(f)));
      const bool holds = f == ContainerFormat::kHdm   ? type == 0
                         : f == ContainerFormat::kFdi ? type != kMediaType8Inch
                                                      : true;
      ASSERT_EQ(FormatCanHold(f, type), holds);
      const Bytes file = EncodeContainer(f, type, ByteView(disk.data(), disk.size()));
      if (!holds) {
        EXPECT_TRUE(file.empty());
        continue;
      }
      ASSERT_FALSE(file.empty());
      const ContainerFormat read = f == ContainerFormat::kHdm ? ContainerFormat::kRaw : f;
      EXPECT_EQ(DetectContainer(ByteView(file.data(), std::min<size_t>(file.size(), 4096)), file.size()),
                read);
      ContainerRead r = Decode(file);
      ASSERT_TRUE(r.disk) << r.error;
      EXPECT_EQ(r.disk->format, read);
      EXPECT_EQ(r.disk->mediaType, type);
      EXPECT_TRUE(r.disk->bytes == disk);
      EXPECT_TRUE(r.disk->damage.empty());
      EXPECT_TRUE(r.disk->notes.empty());
      EXPECT_EQ(r.disk->ignoredSectors, 0);
      // Any container compressed with gzip reads as what it holds.
      if (f == ContainerFormat::kD88 || f == ContainerFormat::kFdi || f == ContainerFormat::kImd) {
        const std::vector<uint8_t> wrapped = formats::Gzip(ByteView(file.data(), file.size()));
        r = Decode(wrapped);
        ASSERT_TRUE(r.disk) << r.error;
        EXPECT_EQ(r.disk->format, ContainerFormat::kGzip);
        EXPECT_EQ(r.disk->inner, f);
        EXPECT_TRUE(r.disk->bytes == disk);
      }
    }
  }
}

// Both directions against the independent script: its containers read identically, and ours pass its check.
TEST(Containers, IndependentWriterAndCheckerAgree) {
  TempDir dir;
  Oracle oracle(dir);
  struct Job {
    int32_t type;
    ContainerFormat format;
    size_t theirs;
  };
  std::vector<Job> jobs;
  for (int32_t type = 0; type < kMediaTypeCount; ++type) {
    const Bytes disk = SyntheticDisk(type);
    for (const ContainerFormat f : kWritten) {
      if (f == ContainerFormat::kRaw || !FormatCanHold(f, type)) continue;
      const std::string name = FormatArgument(f);
      // Sectors stored interleaved, and ImageDisk's optional cylinder and head maps, are not damage.
      const std::string options = f == ContainerFormat::kD88   ? "--interleave"
                                  : f == ContainerFormat::kImd ? "--interleave --maps"
                                                               : "";
      jobs.push_back({type, f, oracle.Write(name, disk, options)});
      oracle.Check(name, EncodeContainer(f, type, ByteView(disk.data(), disk.size())), disk);
    }
  }
  oracle.Run();
  for (const Job& job : jobs) {
    SCOPED_TRACE(std::string(MediaName(job.type)) + " " + std::string(ContainerFormatName(job.format)));
    const ContainerRead r = Decode(oracle.Output(job.theirs));
    ASSERT_TRUE(r.disk) << r.error;
    EXPECT_EQ(r.disk->mediaType, job.type);
    EXPECT_TRUE(r.disk->bytes == SyntheticDisk(job.type));
    EXPECT_TRUE(r.disk->damage.empty());
  }
}

struct Expected {
  int c, h, r;
  SectorDamage kind;
};

struct DamageCase {
  const char* name;
  int32_t type;
  const char* format;
  std::string options;
  std::vector<Expected> damage;  // the damaged sectors; with `from`, also every sector from there on
  int32_t missingFrom = -1;      // logical sector from which on everything is missing
  int32_t ignored = 0;
  bool notes = false;
};

TEST(Containers, DamageIsFoundSectorBySectorAndFilled) {
  const int32_t t0 = 0, t6 = kMediaType8Inch;
  const std::vector<DamageCase> cases = {
      {"d88 crc", t0, "d88", "--crc 5:0:3", {{5, 0, 3, SectorDamage::kCrcError}}},
      {"d88 missing", t0, "d88", "--missing 6:1:8", {{6, 1, 8, SectorDamage::kMissing}}},
      {"d88 deleted", t0, "d88", "--deleted 10:0:1", {{10, 0, 1, SectorDamage::kDeleted}}},
      {"d88 bad id", t0, "d88", "--bad-id 2:1:4", {{2, 1, 4, SectorDamage::kBadId}}},
      {"d88 all at once, interleaved",
       t0,
       "d88",
       "--interleave --crc 0:0:1 --missing 76:1:8 --deleted 40:1:5",
       {{0, 0, 1, SectorDamage::kCrcError},
        {40, 1, 5, SectorDamage::kDeleted},
        {76, 1, 8, SectorDamage::kMissing}}},
      {"d88 extra sector", t0, "d88", "--extra 3:0", {}, -1, 1},
      {"d88 single-sided one entry per cylinder", t6, "d88", "--per-cylinder", {}},
      {"d88 single-sided crc", t6, "d88", "--crc 30:0:26", {{30, 0, 26, SectorDamage::kCrcError}}},
      {"d88 lying track offset", t0, "d88", "--lie-track 7:0x7FFFFFF0", {}, -1, 0, true},
      {"d88 lying size", t0, "d88", "--lie-size 100000000", {}, -1, 0, true},
      {"d88 truncated", t0, "d88", "--truncate 700000", {}, -1, 0, true},
      {"imd unavailable", t0, "imd", "--missing 1:0:1", {{1, 0, 1, SectorDamage::kMissing}}},
      {"imd data error", t6, "imd", "--crc 0:0:2", {{0, 0, 2, SectorDamage::kCrcError}}},
      {"imd deleted", t0, "imd", "--deleted 9:1:2", {{9, 1, 2, SectorDamage::kDeleted}}},
      {"imd deleted with data error",
       t0,
       "imd",
       "--deleted 9:1:2 --crc 9:1:2",
       {{9, 1, 2, SectorDamage::kCrcError}}},
      {"imd bad id", t0, "imd", "--maps --bad-id 4:0:4", {{4, 0, 4, SectorDamage::kBadId}}},
      {"imd extra sector", t6, "imd", "--extra 0:0", {}, -1, 1},
      {"imd truncated", t0, "imd", "--truncate 300000", {}, -1, 0, true},
      {"fdi truncated", t0, "fdi", "--truncate 500000", {}, (500000 - 4096) / 1024, 0, true},
      {"fdi fewer cylinders", t0, "fdi", "--cylinders 40", {}, 40 * 16},
      {"hdm truncated", t0, "hdm", "--truncate 1000000", {}, 1000000 / 1024, 0, true},
  };
  TempDir dir;
  Oracle oracle(dir);
  std::vector<size_t> written;
  for (const DamageCase& c : cases)
    written.push_back(oracle.Write(c.format, SyntheticDisk(c.type), c.options));
  oracle.Run();
  for (size_t n = 0; n < cases.size(); ++n) {
    const DamageCase& c = cases[n];
    SCOPED_TRACE(c.name);
    const Bytes disk = SyntheticDisk(c.type);
    const ContainerRead r = Decode(oracle.Output(written[n]));
    ASSERT_TRUE(r.disk) << r.error;
    ASSERT_EQ(r.disk->mediaType, c.type);
    const int32_t size = MediaGeometryOf(c.type).sectorSize;
    const int32_t total = static_cast<int32_t>(disk.size()) / size;
    std::vector<DamagedSector> expected;
    for (const Expected& e : c.damage) expected.push_back({SectorOf(c.type, e.c, e.h, e.r), e.kind});
    // A cut file loses everything after the cut; where exactly depends on the format's layout.
    const bool cut = c.options.find("--truncate") != std::string::npos && c.missingFrom < 0;
    int32_t from = c.missingFrom;
    if (cut) {
      ASSERT_FALSE(r.disk->damage.empty());
      from = r.disk->damage.front().sector;
      EXPECT_GT(from, total / 4);
      // The sector the cut runs through is short, or missing when the cut is in its header.
      if (r.disk->damage.front().kind == SectorDamage::kShort)
        expected.push_back({from++, SectorDamage::kShort});
    }
    if (c.options.find("--lie-track 7:") != std::string::npos) {
      for (int r7 = 1; r7 <= 8; ++r7)
        expected.push_back({SectorOf(c.type, 3, 1, r7), SectorDamage::kMissing});
    }
    if (from >= 0) {
      for (int32_t s = from; s < total; ++s) expected.push_back({s, SectorDamage::kMissing});
    }
    std::sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return a.sector < b.sector; });
    ASSERT_EQ(r.disk->damage.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(r.disk->damage[i].sector, expected[i].sector) << i;
      EXPECT_EQ(r.disk->damage[i].kind, expected[i].kind) << i;
    }
    EXPECT_EQ(r.disk->ignoredSectors, c.ignored);
    EXPECT_EQ(!r.disk->notes.empty(), c.notes);
    // Damaged sectors hold the fill byte; every other sector is the disk's own.
    size_t next = 0;
    for (int32_t s = 0; s < total; ++s) {
      const bool damaged = next < expected.size() && expected[next].sector == s;
      if (damaged) ++next;
      const auto at = disk.begin() + static_cast<ptrdiff_t>(s) * size;
      const auto got = r.disk->bytes.begin() + static_cast<ptrdiff_t>(s) * size;
      if (damaged) {
        ASSERT_TRUE(std::all_of(got, got + size, [&](uint8_t b) { return b == MediaFillByte(c.type); })) << s;
      } else {
        ASSERT_TRUE(std::equal(at, at + size, got)) << s;
      }
    }
    if (!expected.empty() || c.ignored > 0 || c.notes) {
      EXPECT_FALSE(DescribeDamage(*r.disk).empty());
    }
  }
}

// A D88 of `cylinders` x 2 heads x `sectors` sectors of 128 << `code` bytes, by hand.
Bytes HandMadeD88(int cylinders, int sectors, int code, const Bytes& boot = {}) {
  const size_t size = size_t{128} << code;
  Bytes out(0x2B0, 0);
  out[0x1B] = 0x00;
  for (int t = 0; t < cylinders * 2; ++t) {
    const uint32_t offset = static_cast<uint32_t>(out.size());
    std::memcpy(&out[0x20 + 4 * static_cast<size_t>(t)], &offset, 4);
    for (int r = 1; r <= sectors; ++r) {
      const uint8_t header[16] = {static_cast<uint8_t>(t / 2),
                                  static_cast<uint8_t>(t % 2),
                                  static_cast<uint8_t>(r),
                                  static_cast<uint8_t>(code),
                                  static_cast<uint8_t>(sectors),
                                  0,
                                  0,
                                  0,
                                  0,
                                  0,
                                  0,
                                  0,
                                  0,
                                  0,
                                  static_cast<uint8_t>(size),
                                  static_cast<uint8_t>(size >> 8)};
      out.insert(out.end(), header, header + 16);
      Bytes data(size, static_cast<uint8_t>(r));
      if (t == 0 && r == 1 && !boot.empty())
        std::copy(boot.begin(), boot.begin() + std::min(size, boot.size()), data.begin());
      out.insert(out.end(), data.begin(), data.end());
    }
  }
  const uint32_t total = static_cast<uint32_t>(out.size());
  std::memcpy(&out[0x1C], &total, 4);
  return out;
}

TEST(Containers, RefusedWithWhatTheFileHolds) {
  struct Case {
    const char* name;
    Bytes file;
    std::string says;
  };
  Bytes boot2880(512, 0);
  boot2880[19] = 0x40;  // 2880 sectors: a 1.44 MB disk
  boot2880[20] = 0x0B;
  Bytes fdi(4096 + 1024, 0);
  const uint32_t fields[] = {0, 0x90, 4096, 80u * 2 * 8 * 1024, 1024, 8, 2, 80};
  std::memcpy(fdi.data(), fields, sizeof fields);
  const Bytes d88 = HandMadeD88(2, 8, 3, boot2880);
  const Bytes gz = formats::Gzip(ByteView(d88.data(), d88.size()));
  const std::vector<Case> cases = {
      {"256-byte sectors, 16 a track", HandMadeD88(2, 16, 1), "16 セクタ/トラック, 256 バイト/セクタ"},
      {"more cylinders than the type", fdi, "80 シリンダ"},
      {"boot sector of another disk", d88, "総セクタ数は 2880"},
      {"gzip in gzip", formats::Gzip(ByteView(gz.data(), gz.size())), "gzip"},
      {"ImageDisk without the end of its comment", Bytes{'I', 'M', 'D', ' ', '1', '.', '1', '8'}, "0x1A"},
      {"gzip cut short", Bytes(gz.begin(), gz.begin() + 40), "途中で切れて"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ContainerRead r = Decode(c.file);
    EXPECT_FALSE(r.disk);
    EXPECT_NE(r.error.find(c.says), std::string::npos) << r.error;
  }
  const Bytes text = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n',
                      0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0};
  EXPECT_EQ(DetectContainer(ByteView(text.data(), text.size()), text.size()), ContainerFormat::kUnknown);
}

// Mutated and cut containers of every format: decoding never touches memory outside its buffers (the
// sanitizer build runs this too), and whatever it returns is a whole disk with its damage in order.
TEST(Containers, HostileBytesGiveAWholeDiskOrARefusal) {
  TempDir dir;
  const Bytes disk = SyntheticDisk(0);
  Oracle oracle(dir);
  oracle.Write("d88", disk, "--cylinders 2 --crc 0:1:2");
  oracle.Write("imd", disk, "--cylinders 2 --maps --missing 1:0:1");
  oracle.Write("fdi", disk, "--cylinders 2");
  oracle.Run();
  std::vector<Bytes> seeds = {oracle.Output(0), oracle.Output(1), oracle.Output(2)};
  seeds.push_back(formats::Gzip(ByteView(seeds[0].data(), seeds[0].size())));
  std::mt19937 random(17);
  int disks = 0;
  for (const Bytes& seed : seeds) {
    for (int round = 0; round < 300; ++round) {
      Bytes b = seed;
      const int edits = 1 + static_cast<int>(random() % 8);
      for (int e = 0; e < edits; ++e) {
        // Most edits land in the headers, where lengths and offsets are.
        const size_t span = random() % 2 ? std::min<size_t>(b.size(), 0x400) : b.size();
        b[random() % span] = static_cast<uint8_t>(random());
      }
      if (round % 5 == 0) b.resize(random() % b.size());
      const ContainerRead r = Decode(b);
      if (!r.disk) {
        EXPECT_FALSE(r.error.empty());
        continue;
      }
      ++disks;
      const MediaGeometry g = MediaGeometryOf(r.disk->mediaType);
      ASSERT_EQ(r.disk->bytes.size(), static_cast<size_t>(g.cylinders) * static_cast<size_t>(g.trackSize));
      const int32_t total = g.cylinders * g.sectorsPerTrack;
      for (size_t i = 0; i < r.disk->damage.size(); ++i) {
        ASSERT_LT(r.disk->damage[i].sector, total);
        if (i > 0) {
          ASSERT_LT(r.disk->damage[i - 1].sector, r.disk->damage[i].sector);
        }
      }
    }
  }
  EXPECT_GT(disks, 100);  // the mutations mostly keep a readable disk, so the placing is exercised
}

// A container acts as a drive: its media type is known without a boot-sector read, its damage is told once
// before anything is read, damaged sectors are asked about one by one even where runs fail at once, and it
// is never written.
TEST(Containers, ActAsAReadOnlyDriveThatAsksAboutEachDamagedSector) {
  TempDir dir;
  const Bytes disk = SyntheticDisk(0);
  const Bytes d88 = OracleWrite(dir, "d88", disk, "--crc 1:0:3 --missing 1:1:8");
  const std::string path = (dir / "damaged.d88").string();
  kdltest::WriteFile(path, d88);
  ASSERT_TRUE(IsForeignContainerFile(path));
  EXPECT_FALSE(IsForeignContainerFile((dir / "oracle.raw").string()));

  HostDrives devices({path});
  kdltest::ScriptedPrompter prompter;
  DriveLayer drives(devices, &prompter, ReadFailure::kFailRun);
  EXPECT_EQ(drives.DetectMediaType(1), 0);
  ASSERT_EQ(prompter.asks.size(), 1u);
  EXPECT_EQ(prompter.asks[0].caption, "FDD Read");
  EXPECT_NE(prompter.asks[0].text.find("C 1 H0 R 3  CRC"), std::string::npos) << prompter.asks[0].text;
  EXPECT_NE(prompter.asks[0].text.find("C 1 H1 R 8"), std::string::npos);

  // Unit 1 holds both damaged sectors: Ignore for the first, Abort at the second.
  ASSERT_EQ(drives.OpenDrive(kDriveModeRead, 0), 0);
  Bytes unit(16384, 0xE5);
  prompter.answers = {Answer::kIgnore, Answer::kIgnore};
  ASSERT_EQ(drives.ReadDriveSectors(unit.data(), 16, 16, 1024), 0);
  EXPECT_EQ(prompter.asks.size(), 3u);  // the report once, then one question per damaged sector
  EXPECT_TRUE(std::equal(unit.begin(), unit.begin() + 2048, disk.begin() + 16 * 1024));
  EXPECT_TRUE(std::all_of(unit.begin() + 2048, unit.begin() + 3072, [](uint8_t b) { return b == 0xE5; }));
  EXPECT_TRUE(std::equal(unit.begin() + 3072, unit.begin() + 15360, disk.begin() + 19 * 1024));
  prompter.answers = {Answer::kIgnore, Answer::kAbort};
  EXPECT_EQ(drives.ReadDriveSectors(unit.data(), 16, 16, 1024), -1);
  // An intact run reads at once.
  EXPECT_EQ(drives.ReadDriveSectors(unit.data(), 0, 16, 1024), 0);
  EXPECT_TRUE(std::equal(unit.begin(), unit.end(), disk.begin()));
  drives.CloseDrive();
  EXPECT_EQ(drives.OpenDrive(kDriveModeWrite, 0), 1);

  // A container without a disk of a media type is no drive, and says why.
  kdltest::WriteFile(path, HandMadeD88(2, 16, 1));
  std::string error;
  EXPECT_FALSE(ResolveDriveOperand(path, DriveSettings{}, error));
  EXPECT_NE(error.find("256 バイト/セクタ"), std::string::npos) << error;
}

// The seed inputs of the container fuzz targets (fuzz/container_*.cpp): small containers of several media
// types, intact and damaged, from the independent writer and our own. Each must read as a disk with its own
// format's reader (but the one named as refused); with KDL_WRITE_FUZZ_SEEDS=<fuzz/corpus folder> they are
// written there.
TEST(Containers, FuzzSeedsReadAsDisks) {
  TempDir dir;
  // A blank disk: a boot sector, then the fill byte, as a freshly formatted disk is (ImageDisk compresses
  // it).
  auto blank = [](int32_t type) {
    Bytes disk = SyntheticDisk(type);
    std::fill(disk.begin() + MediaGeometryOf(type).sectorSize, disk.end(), MediaFillByte(type));
    return disk;
  };
  auto ours = [](ContainerFormat f, int32_t type, const Bytes& disk) {
    return EncodeContainer(f, type, ByteView(disk.data(), disk.size()), {"SEED", {"seed comment"}, 0});
  };
  auto cut = [](Bytes b, size_t n) {
    b.resize(std::min(n, b.size()));
    return b;
  };
  using Decoder = ContainerRead (*)(ByteView);
  struct Target {
    Decoder decode;
    std::map<std::string, Bytes> seeds;
  };
  Oracle oracle(dir);
  oracle.Write("d88", SyntheticDisk(0), "--cylinders 2 --crc 1:1:3");
  oracle.Write("d88", SyntheticDisk(6), "--cylinders 3 --per-cylinder");
  oracle.Write("d88", SyntheticDisk(2), "--cylinders 1 --interleave --deleted 0:1:5 --extra 0:0");
  oracle.Write("d88", SyntheticDisk(3), "--cylinders 1 --bad-id 0:0:2 --missing 0:1:9");
  oracle.Write("fdi", SyntheticDisk(0), "--cylinders 1");
  oracle.Write("fdi", SyntheticDisk(7), "--cylinders 1");
  oracle.Write("imd", SyntheticDisk(0),
               "--cylinders 2 --maps --missing 0:0:2 --crc 1:0:1 --deleted 1:1:8 --bad-id 0:1:4");
  oracle.Write("imd", SyntheticDisk(6), "--cylinders 1 --extra 0:0");
  oracle.Run();
  std::map<std::string, Target> targets;
  targets["container_d88"] = {
      formats::DecodeD88,
      {{"type0_2cyl_crc", oracle.Output(0)},
       {"type6_3cyl_per_cylinder", oracle.Output(1)},
       {"type2_1cyl_interleaved", oracle.Output(2)},
       {"type3_1cyl_bad_id", oracle.Output(3)},
       {"type5_ours_cut", cut(ours(ContainerFormat::kD88, 5, SyntheticDisk(5)), 24000)}}};
  targets["container_fdi"] = {
      formats::DecodeFdi,
      {{"type0_1cyl", oracle.Output(4)},
       {"type7_1cyl", oracle.Output(5)},
       {"type4_ours_cut", cut(ours(ContainerFormat::kFdi, 4, SyntheticDisk(4)), 12000)}}};
  targets["container_imd"] = {formats::DecodeImd,
                              {{"type2_blank_ours", ours(ContainerFormat::kImd, 2, blank(2))},
                               {"type6_blank_ours", ours(ContainerFormat::kImd, 6, blank(6))},
                               {"type0_2cyl_maps_damaged", oracle.Output(6)},
                               {"type6_1cyl_extra", oracle.Output(7)}}};
  const Bytes d88Seed = targets["container_d88"].seeds["type0_2cyl_crc"];
  targets["container_gzip"] = {
      DecodeContainer,
      {{"type5_blank_raw", ours(ContainerFormat::kGzip, 5, blank(5))},
       {"type0_d88", formats::Gzip(ByteView(d88Seed.data(), d88Seed.size()))},
       {"type1_blank_raw_cut_refused", cut(ours(ContainerFormat::kGzip, 1, blank(1)), 300)}}};
  targets["container_hdm"] = {formats::DecodeRaw,
                              {{"type0_first_unit", cut(SyntheticDisk(0), 16384)},
                               {"type5_first_unit", cut(blank(5), 9216)},
                               {"type6_cut_sector", cut(SyntheticDisk(6), 3328 + 100)}}};
  size_t total = 0;
  for (const auto& [target, t] : targets) {
    for (const auto& [name, bytes] : t.seeds) {
      SCOPED_TRACE(target + "/" + name);
      const ContainerRead r = t.decode(ByteView(bytes.data(), bytes.size()));
      EXPECT_EQ(!r.disk, name.find("refused") != std::string::npos) << r.error;
      total += bytes.size();
    }
  }
  EXPECT_LT(total, 400u * 1024u);
  if (const char* corpus = std::getenv("KDL_WRITE_FUZZ_SEEDS")) {
    for (const auto& [target, t] : targets) {
      const std::filesystem::path folder = std::filesystem::path(corpus) / target;
      std::filesystem::create_directories(folder);
      for (const auto& [name, bytes] : t.seeds) kdltest::WriteFile(folder / name, bytes);
    }
  }
}

}  // namespace
}  // namespace kdl
