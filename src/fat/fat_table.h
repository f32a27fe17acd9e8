// The file allocation table of a disk held in memory: 12-bit entries read from the first copy and written to
// every copy, cluster chains walked without ever leaving the disk, and clusters taken and given back.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "drive/media.h"

namespace kdl {

// FAT12 entry values.
inline constexpr uint16_t kFatFree = 0x000;
inline constexpr uint16_t kFatBad = 0xFF7;
inline constexpr uint16_t kFatEndMin = 0xFF8;  // from here on an entry ends its chain
inline constexpr uint16_t kFatEnd = 0xFFF;     // the end mark this program writes

class FatTable {
 public:
  // `disk` holds the whole disk; `layout` says where the FAT copies and the clusters lie. The layout must be
  // one the disk can hold (every FAT copy, the root and every cluster inside `disk`).
  FatTable(std::span<uint8_t> disk, const MediaGeometry& layout);

  // Entry `cluster` of the first copy.
  uint16_t Get(int32_t cluster) const;
  // Writes entry `cluster` in every copy.
  void Set(int32_t cluster, uint16_t value);

  int32_t LastCluster() const { return layout_.lastCluster; }
  bool IsDataCluster(int32_t cluster) const { return cluster >= 2 && cluster <= LastCluster(); }
  int32_t ClusterSize() const { return layout_.clusterSize; }
  // Byte offset of data cluster `cluster` on the disk.
  size_t ClusterOffset(int32_t cluster) const;
  int32_t CountFree() const;

  // The clusters of the chain that starts at `first`, in order. The walk stops at an end mark, at an entry
  // that is not a data cluster (free, bad or reserved values) and before a cluster it met already.
  std::vector<int32_t> Chain(int32_t first) const;
  // Takes `count` free clusters, lowest numbers first, links them into one chain with an end mark and returns
  // them; empty (and nothing taken) when fewer are free.
  std::vector<int32_t> Allocate(int32_t count);
  // Marks every cluster of the chain from `first` free.
  void FreeChain(int32_t first);

 private:
  std::span<uint8_t> disk_;
  MediaGeometry layout_;
  int32_t copies_;
};

}  // namespace kdl
