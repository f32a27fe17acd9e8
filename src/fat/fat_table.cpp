#include "fat/fat_table.h"

#include "common/bytes.h"
#include "drive/fat_layout.h"

namespace kdl {

FatTable::FatTable(std::span<uint8_t> disk, const MediaGeometry& layout)
    : disk_(disk), layout_(layout), copies_(FatCopies(layout)) {}

uint16_t FatTable::Get(int32_t cluster) const {
  const size_t at = static_cast<size_t>(layout_.fatStart) * static_cast<size_t>(layout_.sectorSize) +
                    static_cast<size_t>(cluster) * 3 / 2;
  const ByteView v(disk_.data(), disk_.size());
  const uint16_t pair = v.U16(at);
  return static_cast<uint16_t>((cluster & 1) != 0 ? pair >> 4 : pair & 0x0FFF);
}

void FatTable::Set(int32_t cluster, uint16_t value) {
  const size_t fatBytes = static_cast<size_t>(layout_.fatSectors) * static_cast<size_t>(layout_.sectorSize);
  ByteSpan s(disk_.data(), disk_.size());
  for (int32_t copy = 0; copy < copies_; ++copy) {
    const size_t at = static_cast<size_t>(layout_.fatStart) * static_cast<size_t>(layout_.sectorSize) +
                      static_cast<size_t>(copy) * fatBytes + static_cast<size_t>(cluster) * 3 / 2;
    const uint16_t pair = s.View().U16(at);
    const uint16_t merged = (cluster & 1) != 0 ? static_cast<uint16_t>((pair & 0x000F) | (value << 4))
                                               : static_cast<uint16_t>((pair & 0xF000) | (value & 0x0FFF));
    s.PutU16(at, merged);
  }
}

size_t FatTable::ClusterOffset(int32_t cluster) const {
  const size_t sector = static_cast<size_t>(layout_.dataStart) +
                        static_cast<size_t>(cluster - 2) * static_cast<size_t>(layout_.sectorsPerCluster);
  return sector * static_cast<size_t>(layout_.sectorSize);
}

int32_t FatTable::CountFree() const {
  int32_t free = 0;
  for (int32_t c = 2; c <= LastCluster(); ++c) free += Get(c) == kFatFree ? 1 : 0;
  return free;
}

std::vector<int32_t> FatTable::Chain(int32_t first) const {
  std::vector<int32_t> chain;
  std::vector<bool> seen(static_cast<size_t>(LastCluster()) + 1);
  for (int32_t c = first; IsDataCluster(c) && !seen[static_cast<size_t>(c)]; c = Get(c)) {
    seen[static_cast<size_t>(c)] = true;
    chain.push_back(c);
  }
  return chain;
}

std::vector<int32_t> FatTable::Allocate(int32_t count) {
  std::vector<int32_t> clusters;
  for (int32_t c = 2; c <= LastCluster() && static_cast<int32_t>(clusters.size()) < count; ++c) {
    if (Get(c) == kFatFree) clusters.push_back(c);
  }
  if (static_cast<int32_t>(clusters.size()) < count) return {};
  for (size_t i = 0; i < clusters.size(); ++i)
    Set(clusters[i], i + 1 < clusters.size() ? static_cast<uint16_t>(clusters[i + 1]) : kFatEnd);
  return clusters;
}

void FatTable::FreeChain(int32_t first) {
  for (const int32_t c : Chain(first)) Set(c, kFatFree);
}

}  // namespace kdl
