#include "drive/fat_layout.h"

#include <algorithm>

namespace kdl {
namespace {

// FAT12 numbers clusters from 2 to 0xFF6; 0xFF7 marks a bad cluster and above it a chain ends.
constexpr int32_t kFat12MaxClusters = 4084;
constexpr int32_t kDirectoryEntrySize = 32;

bool IsPowerOfTwo(int32_t v) { return v > 0 && (v & (v - 1)) == 0; }

// The 12-bit entry of `cluster` in a FAT copy that is known to hold it.
uint16_t Entry(ByteView fat, int32_t cluster) {
  const size_t at = static_cast<size_t>(cluster) * 3 / 2;
  const uint16_t pair = fat.U16(at);
  return cluster % 2 == 0 ? static_cast<uint16_t>(pair & 0x0FFF) : static_cast<uint16_t>(pair >> 4);
}

}  // namespace

std::optional<MediaGeometry> FatLayoutFromBootSector(ByteView boot, int32_t mediaType) {
  if (!IsMediaType(mediaType) || boot.size() < bpb::kEnd) return std::nullopt;
  const MediaRow& row = MediaTable()[static_cast<size_t>(mediaType)];
  const int32_t sectorSize = boot.U16(bpb::kBytesPerSector);
  const int32_t perCluster = boot.U8(bpb::kSectorsPerCluster);
  const int32_t reserved = boot.U16(bpb::kReservedSectors);
  const int32_t fats = boot.U8(bpb::kFatCount);
  const int32_t rootEntries = boot.U16(bpb::kRootEntries);
  const int32_t total = boot.U16(bpb::kTotalSectors);
  const uint8_t media = boot.U8(bpb::kMediaDescriptor);
  const int32_t fatSectors = boot.U16(bpb::kFatSectors);

  if (sectorSize != row.geometry.sectorSize || total != row.totalSectors) return std::nullopt;
  if (!IsPowerOfTwo(perCluster) || perCluster * sectorSize > kMaxLayoutClusterSize) return std::nullopt;
  if (reserved < 1 || fats < 1 || fatSectors < 1 || rootEntries < 1) return std::nullopt;
  if (media < 0xF0 || (media > 0xF0 && media < 0xF8)) return std::nullopt;

  const int32_t rootSectors = (rootEntries * kDirectoryEntrySize + sectorSize - 1) / sectorSize;
  const int64_t dataStart = int64_t{reserved} + int64_t{fats} * fatSectors + rootSectors;
  if (dataStart >= total) return std::nullopt;
  const int32_t clusters = static_cast<int32_t>((total - dataStart) / perCluster);
  if (clusters < 1 || clusters > kFat12MaxClusters) return std::nullopt;
  // Every cluster number up to the last one needs its 12-bit entry in each FAT copy.
  if (int64_t{fatSectors} * sectorSize * 2 < (int64_t{clusters} + 2) * 3) return std::nullopt;

  MediaGeometry g = row.geometry;
  g.clusterSize = perCluster * sectorSize;
  g.sectorsPerCluster = static_cast<int16_t>(perCluster);
  g.fatStart = static_cast<int16_t>(reserved);
  g.fatSectors = static_cast<int16_t>(fatSectors);
  g.rootStart = static_cast<int16_t>(reserved + fats * fatSectors);
  g.rootSectors = static_cast<int16_t>(rootSectors);
  g.rootEntries = static_cast<int16_t>(rootEntries);
  g.dataStart = static_cast<int16_t>(dataStart);
  g.lastCluster = static_cast<int16_t>(clusters + 1);
  return g;
}

int32_t FatCopies(const MediaGeometry& layout) {
  if (layout.fatSectors <= 0 || layout.rootStart <= layout.fatStart) return 1;
  return (layout.rootStart - layout.fatStart) / layout.fatSectors;
}

bool FatCopiesAgree(ByteView fats, const MediaGeometry& layout) {
  const size_t copyBytes = static_cast<size_t>(std::max<int16_t>(layout.fatSectors, 0)) *
                           static_cast<size_t>(std::max<int16_t>(layout.sectorSize, 0));
  const int32_t last = layout.lastCluster;
  // The highest byte any data cluster's entry touches must lie inside a copy.
  if (copyBytes == 0 || last < 2 || static_cast<size_t>(last) * 3 / 2 + 2 > copyBytes) return true;
  const ByteView first = fats.Sub(0, std::min(copyBytes, fats.size()));
  if (first.size() < copyBytes) return true;
  for (int32_t copy = 1; copy < FatCopies(layout); ++copy) {
    const size_t at = static_cast<size_t>(copy) * copyBytes;
    if (!RangeFits(at, copyBytes, fats.size())) break;
    const ByteView other = fats.Sub(at, copyBytes);
    for (int32_t c = 2; c <= last; ++c) {
      if (Entry(first, c) != Entry(other, c)) return false;
    }
  }
  return true;
}

bool DiffersFromTable(const MediaGeometry& layout, int32_t mediaType) {
  return !IsMediaType(mediaType) || layout != MediaGeometryOf(mediaType);
}

}  // namespace kdl
