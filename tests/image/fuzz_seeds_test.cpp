// The seed inputs of the image fuzz targets, made here from test disks. The test checks that every seed
// starts the fuzzers from a readable image; with KDL_WRITE_FUZZ_SEEDS=<fuzz/corpus folder> it also writes
// them there.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "image/listing.h"
#include "support/image_builder.h"

namespace kdl {
namespace {

using kdltest::EntryOptions;
using kdltest::FatDiskBuilder;
using kdltest::KdlImage;
using kdltest::KdlOptions;
using Seeds = std::map<std::string, std::vector<uint8_t>>;

FatDiskBuilder TreeDisk(int type) {
  FatDiskBuilder disk(type);
  disk.AddVolumeLabel("SEED DISK  ", (9 << 11) | (30 << 5), (40 << 9) | (6 << 5) | 1);
  EntryOptions lower;
  lower.caseFlags = 0x18;
  disk.AddFile(FatDiskBuilder::kRoot, "README  TXT", kdltest::TextBytes(1500), lower);
  EntryOptions named;
  named.longName = u"A rather long file name.txt";
  disk.AddFile(FatDiskBuilder::kRoot, "ARATHE~1TXT", kdltest::TextBytes(2100, 2), named);
  const uint16_t sub = disk.AddDirectory(FatDiskBuilder::kRoot, "SUB        ");
  disk.AddFile(sub, "\x83\x65\x83\x58\x83\x67  TXT", kdltest::TextBytes(300, 3));
  const uint16_t deeper = disk.AddDirectory(sub, "DEEPER     ");
  disk.AddFileAt(deeper, "SCATTER BIN", kdltest::TextBytes(2000, 4), {60, 20, 33});
  disk.AddFile(FatDiskBuilder::kRoot, "EMPTY   TXT", {});
  return disk;
}

Seeds ImageWalkSeeds() {
  Seeds seeds;
  KdlOptions omit;
  omit.omitUnused = true;
  omit.labels = {"Seed image", "", "\x83\x89\x83\x78\x83\x8b", ""};
  omit.volumeLabel = "SEED DISK   ";
  for (int type : {0, 3, 5})
    seeds["kdl_type" + std::to_string(type)] = kdltest::MakeKdl(TreeDisk(type).bytes(), type, omit).bytes;
  for (int type : {6, 7})
    seeds["kdl_type" + std::to_string(type)] = kdltest::MakeKdl(TreeDisk(type).bytes(), type).bytes;
  KdlOptions plain;
  plain.compress = false;
  FatDiskBuilder small(5);
  small.AddFile(FatDiskBuilder::kRoot, "ONE     TXT", kdltest::TextBytes(700));
  seeds["kdl_plain"] = kdltest::MakeKdl(small.bytes(), 5, plain).bytes;
  // A chain that loops and one that runs past the disk.
  FatDiskBuilder broken = TreeDisk(5);
  broken.AddFileAt(FatDiskBuilder::kRoot, "LOOP    BIN", kdltest::TextBytes(5000, 9), {100, 101});
  broken.SetFat(101, 100);
  broken.AddFileAt(FatDiskBuilder::kRoot, "PAST    BIN", kdltest::TextBytes(5000, 9), {110});
  broken.SetFat(110, 0xF00);
  seeds["kdl_broken_chains"] = kdltest::MakeKdl(broken.bytes(), 5).bytes;
  // The first unit of a raw 360 KB disk: boot sector, FATs and root directory.
  const std::vector<uint8_t> raw = TreeDisk(5).bytes();
  seeds["raw_unit0"] = std::vector<uint8_t>(raw.begin(), raw.begin() + 9216);
  return seeds;
}

// Header, entry, unit number, stored bytes and FAT of one unit of an image.
std::vector<uint8_t> TrackSeed(const KdlImage& kdl, int unit) {
  const TrackEntry& e = kdl.directory[static_cast<size_t>(unit)];
  std::vector<uint8_t> seed(kdl.bytes.begin(), kdl.bytes.begin() + kKdlHeaderSize);
  const auto entry = kdl.bytes.begin() + kKdlHeaderSize + unit * kTrackEntrySize;
  seed.insert(seed.end(), entry, entry + kTrackEntrySize);
  seed.push_back(static_cast<uint8_t>(unit));
  if (e.kind != kTrackSameByte)
    seed.insert(seed.end(), kdl.bytes.begin() + e.offset, kdl.bytes.begin() + e.offset + e.storedLength);
  return seed;
}

Seeds TrackRestoreSeeds() {
  Seeds seeds;
  KdlOptions omit;
  omit.omitUnused = true;
  const FatDiskBuilder disk = TreeDisk(3);
  const KdlImage packed = kdltest::MakeKdl(disk.bytes(), 3, omit);
  KdlOptions plain = omit;
  plain.compress = false;
  const KdlImage stored = kdltest::MakeKdl(disk.bytes(), 3, plain);
  const MediaGeometry& g = disk.geometry();
  const std::vector<uint8_t> fat(disk.bytes().begin() + g.fatStart * g.sectorSize,
                                 disk.bytes().begin() + (g.fatStart + g.fatSectors) * g.sectorSize);
  auto add = [&](const std::string& name, const KdlImage& kdl, int unit) {
    std::vector<uint8_t> seed = TrackSeed(kdl, unit);
    seed.insert(seed.end(), fat.begin(), fat.end());
    seeds[name] = std::move(seed);
  };
  add("packed_unit0", packed, 0);
  add("packed_unit1_omit", packed, 1);
  add("plain_unit1_omit", stored, 1);
  add("same_byte_unit40", packed, 40);
  return seeds;
}

void WriteSeeds(const Seeds& seeds, const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  for (const auto& [name, bytes] : seeds) kdltest::WriteFile(folder / name, bytes);
}

TEST(FuzzSeeds, ImageSeedsOpenAndListCleanly) {
  size_t total = 0;
  for (const auto& [name, bytes] : ImageWalkSeeds()) {
    SCOPED_TRACE(name);
    kdltest::ImageBench bench;
    const std::string path = bench.Write(name, bytes);
    bench.work.currentImagePath = path;
    if (name.rfind("raw", 0) == 0) {
      bench.work.dialogMode = kModeOpenRaw;
      bench.work.rawImagePath = path;
    }
    std::vector<std::string> lines;
    // The raw seed holds only its first unit, so every later unit is a short read.
    const int32_t errors = ListImageInfo(bench.image, lines, kOpenFirst | kCloseAfter);
    EXPECT_EQ(errors, name == "raw_unit0" ? 39 : 0);
    // Each unit the file does not hold says so.
    EXPECT_EQ(bench.prompter.asks.size(), name == "raw_unit0" ? 39u : 0u);
    total += bytes.size();
  }
  const Seeds tracks = TrackRestoreSeeds();
  const std::map<std::string, int> kinds = {{"packed_unit0", kTrackCompressed},
                                            {"packed_unit1_omit", kTrackCompressed},
                                            {"plain_unit1_omit", kTrackNormal},
                                            {"same_byte_unit40", kTrackSameByte}};
  ASSERT_EQ(tracks.size(), kinds.size());
  for (const auto& [name, kind] : kinds) EXPECT_EQ(tracks.at(name).at(kKdlHeaderSize + 6), kind) << name;
  for (const auto& [name, bytes] : tracks) total += bytes.size();
  EXPECT_LT(total, 400u * 1024u);

  if (const char* corpus = std::getenv("KDL_WRITE_FUZZ_SEEDS")) {
    WriteSeeds(ImageWalkSeeds(), std::filesystem::path(corpus) / "image_walk");
    WriteSeeds(tracks, std::filesystem::path(corpus) / "track_restore");
  }
}

}  // namespace
}  // namespace kdl
