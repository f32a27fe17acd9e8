#include "drive/media.h"

namespace kdl {
namespace {

constexpr std::array<MediaRow, kMediaTypeCount> kTable{{
    {"2HD(1.25M)", 1232, 0xE5, {77, 1024, 16, 16384, 1024, 1, 1, 2, 5, 6, 192, 11, 1222}},
    {"2HC(1.21M)", 2400, 0xF6, {80, 512, 30, 15360, 512, 1, 1, 7, 15, 14, 224, 29, 2372}},
    {"2HC(1.44M)", 2880, 0xF6, {80, 512, 36, 18432, 512, 1, 1, 9, 19, 14, 224, 33, 2848}},
    {"2DD(720K) ", 1440, 0xF6, {80, 512, 18, 9216, 1024, 2, 1, 3, 7, 7, 112, 14, 714}},
    {"2DD(640K) ", 1280, 0xE5, {80, 512, 16, 8192, 1024, 2, 1, 2, 5, 7, 112, 12, 635}},
    {"2D (360K) ", 720, 0xF6, {40, 512, 18, 9216, 1024, 2, 1, 2, 5, 7, 112, 12, 355}},
    {"1S (8inch)", 2002, 0xE5, {77, 128, 26, 3328, 512, 4, 1, 6, 13, 17, 68, 30, 494}},
    {"DMF(Win95)", 3360, 0xF6, {80, 512, 42, 21504, 2048, 4, 1, 3, 7, 1, 16, 8, 839}},
}};

constexpr std::string_view kArchiveName = "KDZ File  ";

// Byte 19 of a FAT boot sector: the 16-bit total sector count.
constexpr size_t kBootTotalSectorsOffset = 19;

}  // namespace

const std::array<MediaRow, kMediaTypeCount>& MediaTable() { return kTable; }

int32_t LookupMediaType(int32_t totalSectors) {
  for (int32_t i = 0; i < kMediaTypeCount; ++i) {
    if (kTable[i].totalSectors == totalSectors) return i;
  }
  return -1;
}

std::string_view MediaName(int32_t type) {
  if (type == kArchiveNameIndex) return kArchiveName;
  if (!IsMediaType(type)) return kUnknownMediaName;
  return kTable[type].name;
}

uint8_t MediaFillByte(int32_t type) { return IsMediaType(type) ? kTable[type].fillByte : 0xE5; }

MediaGeometry MediaGeometryOf(int32_t type) {
  return IsMediaType(type) ? kTable[type].geometry : MediaGeometry{};
}

MediaGeometry ReadMediaGeometry(ByteView bytes, size_t offset) {
  MediaGeometry g;
  int16_t* fields[] = {&g.cylinders,         &g.sectorSize, &g.sectorsPerTrack, &g.trackSize, nullptr,
                       &g.sectorsPerCluster, &g.fatStart,   &g.fatSectors,      &g.rootStart, &g.rootSectors,
                       &g.rootEntries,       &g.dataStart,  &g.lastCluster};
  for (size_t i = 0; i < std::size(fields); ++i) {
    if (fields[i] != nullptr) *fields[i] = bytes.I16(offset + 2 * i);
  }
  g.clusterSize = bytes.I16(offset + kClusterSizeField);
  return g;
}

void WriteMediaGeometry(ByteSpan bytes, size_t offset, const MediaGeometry& g) {
  const int16_t fields[] = {
      g.cylinders,         g.sectorSize, g.sectorsPerTrack, g.trackSize, static_cast<int16_t>(g.clusterSize),
      g.sectorsPerCluster, g.fatStart,   g.fatSectors,      g.rootStart, g.rootSectors,
      g.rootEntries,       g.dataStart,  g.lastCluster};
  for (size_t i = 0; i < std::size(fields); ++i) bytes.PutI16(offset + 2 * i, fields[i]);
}

int32_t MediaTypeFromBootSector(ByteView bootSector) {
  if (bootSector.size() < kBootTotalSectorsOffset + 2) return -1;
  return LookupMediaType(bootSector.U16(kBootTotalSectorsOffset));
}

}  // namespace kdl
