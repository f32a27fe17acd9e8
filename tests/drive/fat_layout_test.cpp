#include "drive/fat_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace kdl {
namespace {

using kdltest::RunCommand;
using kdltest::ShellQuote;
using kdltest::TempDir;

ByteView View(const std::vector<uint8_t>& v) { return ByteView(v.data(), v.size()); }

struct Formatted {
  int32_t type;
  std::string mkfsOptions;  // sector size, geometry and anything that changes the layout
  std::string kib;
  bool matchesTable;
};

// Disks formatted by mkfs.fat, some with the table's layout and some with the layouts real disks have. Each
// gets a file copied on by mcopy; the layout must lead to its directory entry and to its bytes exactly where
// mtools put them.
TEST(FatLayout, LeadsToTheFilesMtoolsWrote) {
  if (!kdltest::HaveTool("mkfs.fat") || !kdltest::HaveTool("mcopy"))
    GTEST_SKIP() << "mkfs.fat or mtools missing";
  const std::vector<Formatted> disks = {
      {0, "-S 1024 -s 1 -r 192 -g 2/8 -M 0xFE", "1232", true},
      {1, "-S 512 -s 1 -r 224 -g 2/15 -M 0xF9", "1200", true},
      {2, "-S 512 -s 1 -r 224 -g 2/18 -M 0xF0", "1440", true},
      {3, "-S 512 -s 2 -r 112 -g 2/9 -M 0xF9", "720", true},
      {4, "-S 512 -s 2 -r 112 -g 2/8 -M 0xFB", "640", true},
      {5, "-S 512 -s 2 -r 112 -g 2/9 -M 0xFD", "360", true},
      {7, "-S 512 -s 4 -r 16 -g 2/21 -M 0xF0", "1680", true},
      {4, "-S 512 -s 4 -r 512 -g 2/8 -M 0xFB", "640", false},
      {2, "-S 512 -s 2 -r 224 -g 2/18 -M 0xF0", "1440", false},
      {2, "-S 512 -s 4 -r 224 -g 2/18 -M 0xF0", "1440", false},
      {2, "-S 512 -s 16 -r 224 -g 2/18 -M 0xF0", "1440", false},
      {7, "-S 512 -s 2 -r 16 -g 2/21 -M 0xF0", "1680", false},
      {3, "-S 512 -s 2 -r 112 -f 1 -g 2/9 -M 0xF9", "720", false},
      {2, "-S 512 -s 1 -r 224 -R 4 -g 2/18 -M 0xF0", "1440", false},
  };
  TempDir dir;
  std::vector<uint8_t> content(5000);
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>(i * 7 + i / 251);
  kdltest::WriteFile(dir / "data.bin", content);
  for (const Formatted& d : disks) {
    SCOPED_TRACE(d.mkfsOptions);
    const auto img = dir / "disk.img";
    std::filesystem::remove(img);
    const std::string reserved = d.mkfsOptions.find("-R ") == std::string::npos ? " -R 1" : "";
    const std::string fats = d.mkfsOptions.find("-f ") == std::string::npos ? " -f 2" : "";
    ASSERT_EQ(RunCommand("mkfs.fat -C -a -F 12 -h 0" + reserved + fats + " " + d.mkfsOptions + " " +
                         ShellQuote(img.string()) + " " + d.kib + " >/dev/null")
                  .status,
              0);
    ASSERT_EQ(RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -i " + ShellQuote(img.string()) + " " +
                         ShellQuote((dir / "data.bin").string()) + " ::DATA.BIN")
                  .status,
              0);
    const std::vector<uint8_t> disk = kdltest::ReadFile(img);
    const auto layout = FatLayoutFromBootSector(View(disk), d.type);
    ASSERT_TRUE(layout.has_value());
    EXPECT_EQ(DiffersFromTable(*layout, d.type), !d.matchesTable);
    if (d.matchesTable) {
      EXPECT_EQ(*layout, MediaGeometryOf(d.type));
    }

    const MediaGeometry& g = *layout;
    const size_t root = static_cast<size_t>(g.rootStart) * g.sectorSize;
    int32_t first = -1;
    uint32_t size = 0;
    for (int e = 0; e < g.rootEntries; ++e) {
      const size_t at = root + static_cast<size_t>(e) * 32;
      if (View(disk).Text(at, 11) == "DATA    BIN") {
        first = View(disk).U16(at + 26);
        size = View(disk).U32(at + 28);
      }
    }
    ASSERT_GE(first, 2) << "root directory not where the layout puts it";
    ASSERT_EQ(size, content.size());
    ASSERT_LE(first + static_cast<int32_t>(content.size() / g.clusterSize), g.lastCluster);
    // mcopy writes a fresh disk's first file in consecutive clusters.
    const size_t data =
        (static_cast<size_t>(g.dataStart) + static_cast<size_t>(first - 2) * g.sectorsPerCluster) *
        g.sectorSize;
    ASSERT_LE(data + content.size(), disk.size());
    EXPECT_TRUE(std::equal(content.begin(), content.end(), disk.begin() + static_cast<ptrdiff_t>(data)));
    EXPECT_EQ(FatCopies(g), d.mkfsOptions.find("-f 1") == std::string::npos ? 2 : 1);
  }
}

// A boot sector that is not a sound FAT12 layout of the disk leaves the table in charge.
TEST(FatLayout, RefusesWhatIsNotASoundLayout) {
  std::vector<uint8_t> boot(512);
  auto put16 = [&](size_t at, int v) {
    ByteSpan(boot.data(), boot.size()).PutU16(at, static_cast<uint16_t>(v));
  };
  auto sound = [&] {  // the 1.44 MB table layout
    std::fill(boot.begin(), boot.end(), 0);
    put16(bpb::kBytesPerSector, 512);
    boot[bpb::kSectorsPerCluster] = 1;
    put16(bpb::kReservedSectors, 1);
    boot[bpb::kFatCount] = 2;
    put16(bpb::kRootEntries, 224);
    put16(bpb::kTotalSectors, 2880);
    boot[bpb::kMediaDescriptor] = 0xF0;
    put16(bpb::kFatSectors, 9);
  };
  sound();
  ASSERT_TRUE(FatLayoutFromBootSector(View(boot), 2).has_value());
  EXPECT_EQ(*FatLayoutFromBootSector(View(boot), 2), MediaGeometryOf(2));

  const std::vector<std::pair<const char*, std::function<void()>>> faults = {
      {"zeroed", [&] { std::fill(boot.begin(), boot.end(), 0); }},
      {"sector size of another type", [&] { put16(bpb::kBytesPerSector, 1024); }},
      {"total of another type", [&] { put16(bpb::kTotalSectors, 1440); }},
      {"no sectors per cluster", [&] { boot[bpb::kSectorsPerCluster] = 0; }},
      {"three sectors per cluster", [&] { boot[bpb::kSectorsPerCluster] = 3; }},
      {"no reserved sector", [&] { put16(bpb::kReservedSectors, 0); }},
      {"no FAT", [&] { boot[bpb::kFatCount] = 0; }},
      {"no root", [&] { put16(bpb::kRootEntries, 0); }},
      {"FAT too small for the clusters", [&] { put16(bpb::kFatSectors, 8); }},
      {"media byte that is no media byte", [&] { boot[bpb::kMediaDescriptor] = 0x12; }},
      {"areas past the disk", [&] { put16(bpb::kFatSectors, 1500); }},
  };
  for (const auto& [what, spoil] : faults) {
    sound();
    spoil();
    EXPECT_FALSE(FatLayoutFromBootSector(View(boot), 2).has_value()) << what;
  }
  sound();
  EXPECT_FALSE(FatLayoutFromBootSector(ByteView(boot.data(), bpb::kEnd - 1), 2).has_value()) << "too short";
  EXPECT_FALSE(FatLayoutFromBootSector(View(boot), 8).has_value()) << "no such media type";
}

}  // namespace
}  // namespace kdl
