#include "drive/media.h"

#include <gtest/gtest.h>

#include <set>

namespace kdl {
namespace {

// Every row must describe a FAT12 disk whose areas follow one another and whose clusters cover the data area.
TEST(MediaTable, EveryRowIsConsistent) {
  std::set<int32_t> counts;
  for (int type = 0; type < kMediaTypeCount; ++type) {
    SCOPED_TRACE(type);
    const MediaRow& row = MediaTable()[type];
    const MediaGeometry& g = row.geometry;
    EXPECT_EQ(row.totalSectors, g.cylinders * g.sectorsPerTrack);
    EXPECT_EQ(g.trackSize, g.sectorsPerTrack * g.sectorSize);
    EXPECT_EQ(g.clusterSize, g.sectorsPerCluster * g.sectorSize);
    EXPECT_EQ(g.rootStart, g.fatStart + 2 * g.fatSectors);
    EXPECT_EQ(g.rootSectors, g.rootEntries * 32 / g.sectorSize);
    EXPECT_EQ(g.dataStart, g.rootStart + g.rootSectors);
    EXPECT_EQ(g.lastCluster, (row.totalSectors - g.dataStart) / g.sectorsPerCluster + 1);
    // The FAT must hold a 12-bit entry for every cluster up to the last.
    EXPECT_GE(g.fatSectors * g.sectorSize * 2 / 3, g.lastCluster + 1);
    EXPECT_LE(g.trackSize, 25600);
    EXPECT_TRUE(row.fillByte == 0xE5 || row.fillByte == 0xF6);
    EXPECT_EQ(row.name.size(), kMediaNameLength);
    EXPECT_TRUE(counts.insert(row.totalSectors).second) << "sector counts must be unique";
    EXPECT_EQ(LookupMediaType(row.totalSectors), type);
    EXPECT_EQ(MediaName(type), row.name);
    EXPECT_EQ(MediaFillByte(type), row.fillByte);
    EXPECT_EQ(MediaGeometryOf(type), g);
  }
}

TEST(MediaTable, NamesAndRecognition) {
  EXPECT_EQ(MediaName(8), "KDZ File  ");
  EXPECT_EQ(MediaName(5), "2D (360K) ");
  EXPECT_EQ(MediaName(6), "1S (8inch)");
  EXPECT_EQ(kUnknownMediaName, " Unkown ");
  EXPECT_EQ(LookupMediaType(1440), 3);
  EXPECT_EQ(LookupMediaType(1280), 4);
  EXPECT_EQ(LookupMediaType(0), -1);
  EXPECT_EQ(LookupMediaType(2881), -1);
}

TEST(MediaTable, BootSectorCountAtByte19) {
  std::array<uint8_t, 512> boot{};
  boot[19] = 2880 & 0xFF;
  boot[20] = 2880 >> 8;
  EXPECT_EQ(MediaTypeFromBootSector(ByteView(boot.data(), boot.size())), 2);
  boot[19] = boot[20] = 0;  // media that use the 32-bit count
  EXPECT_EQ(MediaTypeFromBootSector(ByteView(boot.data(), boot.size())), -1);
  EXPECT_EQ(MediaTypeFromBootSector(ByteView(boot.data(), 20)), -1);
}

TEST(MediaTable, GeometryStoredAsThirteenLittleEndianWords) {
  std::array<uint8_t, 30> bytes{};
  ByteSpan out(bytes.data(), bytes.size());
  WriteMediaGeometry(out, 2, MediaGeometryOf(7));
  EXPECT_EQ(bytes[2], 80);  // cylinders
  EXPECT_EQ(bytes[3], 0);
  EXPECT_EQ(bytes[8], 0x00);  // track size 21504 = 0x5400
  EXPECT_EQ(bytes[9], 0x54);
  EXPECT_EQ(bytes[26], 0x47);  // last cluster 839 = 0x0347
  EXPECT_EQ(bytes[27], 0x03);
  EXPECT_EQ(bytes[28], 0);  // nothing past the record
  EXPECT_EQ(ReadMediaGeometry(out.View(), 2), MediaGeometryOf(7));
}

}  // namespace
}  // namespace kdl
