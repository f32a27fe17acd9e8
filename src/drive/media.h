// The eight floppy formats the program supports, all FAT12, held in one constant table.
//
// A media type is an index 0..7 into the table. A disk's type is recognised by one rule only: the 16-bit
// total sector count of its boot sector must equal a row's count. All geometry the program uses comes
// from the row (copied into every image header), never from the disk's own BIOS parameter block.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "common/bytes.h"

namespace kdl {

// Geometry of one media type, 13 signed 16-bit fields in their stored order (26 bytes in files).
// A "track" here is a track unit: one cylinder, both heads together.
struct MediaGeometry {
  int16_t cylinders = 0;        // number of track units
  int16_t sectorSize = 0;       // bytes per sector
  int16_t sectorsPerTrack = 0;  // sectors per track unit
  int16_t trackSize = 0;        // bytes per track unit
  // Bytes per cluster. Stored as 16 bits like every field, but held wider: a disk's own layout may have
  // 32 KiB clusters, one more than a signed 16-bit value holds.
  int32_t clusterSize = 0;
  int16_t sectorsPerCluster = 0;
  int16_t fatStart = 0;    // first sector of the first FAT (reserved sectors)
  int16_t fatSectors = 0;  // sectors of one FAT copy
  int16_t rootStart = 0;   // first sector of the root directory
  int16_t rootSectors = 0;
  int16_t rootEntries = 0;
  int16_t dataStart = 0;    // first sector of cluster 2
  int16_t lastCluster = 0;  // number of data clusters + 1

  bool operator==(const MediaGeometry&) const = default;
};

inline constexpr int kMediaTypeCount = 8;
inline constexpr size_t kMediaGeometryBytes = 26;
// Offset of the cluster size within the stored geometry record.
inline constexpr size_t kClusterSizeField = 8;
inline constexpr size_t kMediaNameLength = 10;
// Index of the name-table entry that labels an archive file rather than a media type.
inline constexpr int kArchiveNameIndex = 8;
// Shown where a name is needed for a type the table does not know.
inline constexpr std::string_view kUnknownMediaName = " Unkown ";
// The media type that is read with the table's own geometry whatever its header holds, and never restored.
inline constexpr int kMediaTypeDmf = 7;
// The 8-inch single-sided type, whose track units do not start on cluster boundaries.
inline constexpr int kMediaType8Inch = 6;

struct MediaRow {
  std::string_view name;
  int32_t totalSectors;
  uint8_t fillByte;
  MediaGeometry geometry;
};

// The media table itself, row n being media type n.
const std::array<MediaRow, kMediaTypeCount>& MediaTable();

// Index of the first row whose total sector count equals `totalSectors`, or -1.
int32_t LookupMediaType(int32_t totalSectors);
// Entry `type` (0..8) of the name table, 10 characters; entry 8 is "KDZ File  ".
std::string_view MediaName(int32_t type);
// Fill byte of the row (0xE5 or 0xF6).
uint8_t MediaFillByte(int32_t type);
// A copy of the row's geometry.
MediaGeometry MediaGeometryOf(int32_t type);

// True for 0..7.
inline bool IsMediaType(int32_t type) { return type >= 0 && type < kMediaTypeCount; }

// The 26-byte stored form of a geometry record.
MediaGeometry ReadMediaGeometry(ByteView bytes, size_t offset);
void WriteMediaGeometry(ByteSpan bytes, size_t offset, const MediaGeometry& geometry);

// The media type of a raw disk or image from its boot sector: the 16-bit total sector count at byte 19.
// Needs at least 21 bytes; -1 when shorter or when no row has that count.
int32_t MediaTypeFromBootSector(ByteView bootSector);

}  // namespace kdl
