// The ".KDL" image file: a 256-byte header, a directory of 80 track entries, then the stored track units.
//
//   offset  size   content
//        0   256   KdlHeader
//      256  1280   80 x TrackEntry (16 bytes), entry n describes track unit n
//     1536     -   stored bytes of every kind-0 and kind-2 unit, in track order, without gaps
//
// Offsets are relative to the start of the image, which is a base offset inside an archive file.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "drive/media.h"

namespace kdl {

inline constexpr size_t kKdlHeaderSize = 256;
inline constexpr size_t kTrackEntrySize = 16;
inline constexpr int kTrackDirectoryEntries = 80;
inline constexpr size_t kTrackDirectorySize = kTrackEntrySize * kTrackDirectoryEntries;  // 1280
inline constexpr int32_t kTrackDataOffset = 1536;
// Every track buffer holds this much: the largest unit plus room for an overlong last unit.
inline constexpr size_t kTrackBufferSize = 25600;
// Holds the stored bytes of a unit, or its expanded bytes, or compressor output.
inline constexpr size_t kWorkBufferSize = 26624;
// The largest cluster of any media type; the image's cluster buffer holds one.
inline constexpr int kMaxClusterSize = 2048;
// Track unit 79 alone may carry more data than a track unit holds (up to a whole track buffer).
inline constexpr int kOverlongUnit = 79;

inline constexpr std::string_view kKdlMagic = "KAD_LONE";
inline constexpr std::string_view kKdlVersion = "0100";
inline constexpr size_t kVolumeLabelLength = 12;
inline constexpr size_t kLabelLineLength = 40;
inline constexpr int kLabelLineCount = 4;

// How a track unit is stored.
enum TrackKind : uint8_t {
  kTrackNormal = 0,      // stored as is ("通常")
  kTrackSameByte = 1,    // one byte fills the unit, nothing stored ("同一")
  kTrackCompressed = 2,  // -lh5- stream ("圧縮")
};

// Header layout:
//   0  8 magic "KAD_LONE"        28 2 media type          60 41 label line 1 (40 bytes + NUL)
//   8  4 version "0100"          30 2 data offset 1536    101 41 label line 2
//  12 12 volume label            32 26 MediaGeometry      142 41 label line 3
//  24  2 label time (FAT)        58 2 omit unused         183 41 label line 4
//  26  2 label date (FAT)                                 224 32 reserved, zero
struct KdlHeader {
  std::string version = std::string(kKdlVersion);
  std::string volumeLabel = std::string(kVolumeLabelLength, ' ');  // Shift-JIS, space padded, 12 bytes
  uint16_t labelTime = 0;
  uint16_t labelDate = 0;
  int16_t mediaType = 0;
  int16_t dataOffset = kTrackDataOffset;
  MediaGeometry geometry;
  int16_t omitUnused = 0;
  // Shift-JIS bytes, space padded to 40.
  std::array<std::string, kLabelLineCount> labels{
      std::string(kLabelLineLength, ' '), std::string(kLabelLineLength, ' '),
      std::string(kLabelLineLength, ' '), std::string(kLabelLineLength, ' ')};

  // The label line with trailing blanks removed, as shown and edited.
  std::string LabelText(int line) const;
  // Stores Shift-JIS text as label line `line`; false (and nothing changed) when it exceeds 40 bytes.
  bool SetLabelText(int line, std::string_view sjis);
};

namespace kdl_header {
inline constexpr size_t kMagic = 0;
inline constexpr size_t kVersion = 8;
inline constexpr size_t kVolumeLabel = 12;
inline constexpr size_t kLabelTime = 24;
inline constexpr size_t kLabelDate = 26;
inline constexpr size_t kMediaType = 28;
inline constexpr size_t kDataOffset = 30;
inline constexpr size_t kGeometry = 32;
inline constexpr size_t kOmitUnused = 58;
inline constexpr size_t kLabelLines = 60;
inline constexpr size_t kLabelStride = 41;
inline constexpr size_t kReserved = 224;
}  // namespace kdl_header

// The header's 12-byte volume label for the 11 name bytes of a disk's label entry: the name without trailing
// blanks, with "." after the eighth byte when it is longer (after the ninth when a Shift-JIS character
// spans the eighth), as the system reports a label; a leading 0x05 reads as 0xE5.
std::string HeaderVolumeLabel(std::string name11);

// True when `path` names a ".KDL" image by its extension, in any letter case; any other name is a raw image.
bool HasKdlExtension(const std::string& path);

// A header for a disk of `mediaType` with the table's geometry and blank labels.
KdlHeader MakeKdlHeader(int16_t mediaType);

// Reads a header; empty when fewer than 256 bytes are given or the magic is wrong (the version is not
// checked).
std::optional<KdlHeader> ParseKdlHeader(ByteView bytes);
// Writes the 256-byte header; the label lines get their NUL and the reserved bytes are zero.
void SerializeKdlHeader(const KdlHeader& header, ByteSpan out);
// Writes only the four label lines (bytes 60..223) of a stored header.
void SerializeLabelLines(const KdlHeader& header, ByteSpan out);

// True when the geometry describes a disk whose units fit the track buffers and whose clusters can be walked:
// a reader refuses anything else instead of dividing by zero or running past a buffer.
bool IsUsableGeometry(const MediaGeometry& g);

// Track entry layout:
//   0 4 offset (from the image start)   8 2 data CRC             14 2 reserved, zero
//   4 2 stored length                  10 2 stored CRC (kind 2)
//   6 1 kind                           12 2 data length
//   7 1 fill byte (kind 1)
struct TrackEntry {
  int32_t offset = 0;
  int16_t storedLength = 0;
  uint8_t kind = 0;
  uint8_t fill = 0;
  uint16_t dataCrc = 0;
  uint16_t storedCrc = 0;
  int16_t dataLength = 0;

  bool operator==(const TrackEntry&) const = default;
};

using TrackDirectory = std::array<TrackEntry, kTrackDirectoryEntries>;

TrackEntry ReadTrackEntry(ByteView bytes, size_t offset);
void WriteTrackEntry(ByteSpan bytes, size_t offset, const TrackEntry& entry);
// The 80 entries from 1,280 bytes (fewer bytes: empty).
std::optional<TrackDirectory> ParseTrackDirectory(ByteView bytes);
void SerializeTrackDirectory(const TrackDirectory& directory, ByteSpan out);

// Why a reader cannot hold a track entry's bytes in its buffers, or empty when it can: a stored length above
// 25,600, a negative length, or a data length above the track size (above 25,600 for track unit 79).
std::optional<std::string> TrackEntryProblem(const TrackEntry& entry, int unit, const MediaGeometry& g);

// The FAT12 entry of `cluster` in a FAT copy. An entry the copy does not hold reads as 0xFFF (in use),
// so that a short FAT never makes data disappear.
uint16_t Fat12Entry(ByteView fat, int32_t cluster);
// A cluster whose entry is 0 (free) or 0xFF7 (bad) is not stored when free clusters are left out.
inline bool ClusterHoldsData(uint16_t fatEntry) { return fatEntry != 0 && fatEntry != 0xFF7; }

struct UnitClusters {
  int32_t first = 0;  // cluster number of the unit's first data sector
  int32_t count = 0;  // clusters in one track unit
};
// The clusters that make up track unit `unit` (unit >= 1) of a disk whose units start on cluster boundaries.
UnitClusters ClustersOfUnit(int unit, const MediaGeometry& g);

// True when free clusters may be left out for this media type (types 6 and 7 always store every cluster).
bool CanOmitUnused(int mediaType);

// Writer side: moves the clusters of track unit `unit` that hold data down to the start of `data` (one track
// unit of bytes) and returns the number of bytes kept. Unit 0 is always kept whole.
int32_t RemoveFreeClusters(int unit, uint8_t* data, const MediaGeometry& g, ByteView fat);

// Reader side: turns the data bytes of track unit `unit` (after expansion) back into the track unit in
// `track` (kTrackBufferSize bytes). With free clusters left out, free clusters get the media's fill byte;
// data that runs short leaves the remaining clusters filled, and extra data is ignored.
void RestoreTrackUnit(int unit, const uint8_t* data, int32_t dataLength, const KdlHeader& header,
                      ByteView fat, uint8_t* track);

}  // namespace kdl
