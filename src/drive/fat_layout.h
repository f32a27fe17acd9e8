// The FAT layout a disk's own boot sector describes.
//
// The media table gives every supported disk one layout per sector count, and images store it in their
// header. Real disks do not always follow it: mkfs.fat's default 640K disk has 4-sector clusters and 512 root
// entries, a 1.44 MB disk may be formatted with 2 or 4 sectors per cluster, a DMF disk with 1,024-byte
// clusters. When the BIOS parameter block is sound, it is the truth about where the FATs, the root and the
// clusters lie.
//
//   offset  size  BIOS parameter block field
//       11     2  bytes per sector
//       13     1  sectors per cluster
//       14     2  reserved sectors (first sector of the first FAT)
//       16     1  number of FAT copies
//       17     2  root directory entries
//       19     2  total sectors
//       21     1  media descriptor
//       22     2  sectors per FAT copy
#pragma once

#include <cstdint>
#include <optional>

#include "common/bytes.h"
#include "drive/media.h"

namespace kdl {

namespace bpb {
inline constexpr size_t kBytesPerSector = 11;
inline constexpr size_t kSectorsPerCluster = 13;
inline constexpr size_t kReservedSectors = 14;
inline constexpr size_t kFatCount = 16;
inline constexpr size_t kRootEntries = 17;
inline constexpr size_t kTotalSectors = 19;
inline constexpr size_t kMediaDescriptor = 21;
inline constexpr size_t kFatSectors = 22;
inline constexpr size_t kEnd = 24;
}  // namespace bpb

// The largest cluster a disk's own layout may have (a 1.44 MB disk formatted with 64 sectors per cluster).
inline constexpr int32_t kMaxLayoutClusterSize = 32768;

// The layout of a disk of media type `mediaType` as its boot sector describes it: the table's track geometry
// (cylinders, sector size, sectors and bytes per track unit) with the BPB's clusters, FATs and root. Empty
// when the BPB is not a sound FAT12 layout of this disk (another system's disk, a damaged or missing boot
// sector): a sector size or total other than the table's, clusters that are not a power of two sectors, no
// FAT, no root, FATs too small for the clusters, more clusters than FAT12 holds, or areas that do not fit on
// the disk.
std::optional<MediaGeometry> FatLayoutFromBootSector(ByteView bootSector, int32_t mediaType);

// The number of FAT copies a layout holds: the sectors between the first FAT and the root, in whole copies.
int32_t FatCopies(const MediaGeometry& layout);

// True when `layout` places the FATs, root or clusters anywhere else than the table row of `mediaType` does.
bool DiffersFromTable(const MediaGeometry& layout, int32_t mediaType);

// True when every FAT copy of `layout` gives every data cluster the same entry. `fats` holds the FAT area
// from the first sector of the first copy on; copies it does not hold whole are not judged.
bool FatCopiesAgree(ByteView fats, const MediaGeometry& layout);

}  // namespace kdl
