// Reads one track entry and restores its unit from arbitrary bytes, as the image reader does after its file
// reads: the entry check, CRCs, expansion and the restore with free clusters filled in.
//
// Input layout: 256 header bytes (the magic is forced), a 16-byte track entry, one byte choosing the unit,
// the stored bytes of the entry, then FAT bytes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/codec.h"
#include "codec/crc.h"
#include "image/kdl_format.h"

using namespace kdl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kEntryAt = kKdlHeaderSize, kUnitAt = kEntryAt + kTrackEntrySize, kStoredAt = kUnitAt + 1;
  static TrackCodec codec;
  static const int ready = codec.CodecInit();
  if (ready != 0 || size < kStoredAt) return 0;

  std::vector<uint8_t> head(data, data + kKdlHeaderSize);
  std::memcpy(head.data(), kKdlMagic.data(), kKdlMagic.size());
  KdlHeader header = *ParseKdlHeader(ByteView(head.data(), head.size()));
  if (header.mediaType == kMediaTypeDmf) header.geometry = MediaGeometryOf(kMediaTypeDmf);
  const MediaGeometry& g = header.geometry;
  if (!IsMediaType(header.mediaType) || !IsUsableGeometry(g)) return 0;
  const TrackEntry entry = ReadTrackEntry(ByteView(data + kEntryAt, kTrackEntrySize), 0);
  const int unit = data[kUnitAt] % kTrackDirectoryEntries;
  if (unit >= g.cylinders || TrackEntryProblem(entry, unit, g)) return 0;

  std::vector<uint8_t> track(kTrackBufferSize);
  if (entry.kind == kTrackSameByte) {
    std::fill(track.begin(), track.end(), entry.fill);
    return 0;
  }
  if (entry.kind != kTrackNormal && entry.kind != kTrackCompressed) return 0;

  // Buffers of exactly the sizes the entry claims, so that any read or write past them is caught.
  const size_t rest = size - kStoredAt;
  const size_t storedLength = static_cast<size_t>(entry.storedLength);
  // (At least one byte each: the reader's own buffers are never empty.)
  std::vector<uint8_t> stored(std::max<size_t>(storedLength, 1));
  std::copy_n(data + kStoredAt, std::min(rest, storedLength), stored.begin());
  const size_t fatOffset = kStoredAt + std::min(rest, storedLength);
  const size_t fatLength = std::min(size - fatOffset, static_cast<size_t>(g.fatSectors) * g.sectorSize);
  const ByteView fat(data + fatOffset, fatLength);
  std::vector<uint8_t> expanded(std::max<size_t>(static_cast<size_t>(entry.dataLength), 1));
  (void)TrackCrc(stored.data(), storedLength);
  if (entry.kind == kTrackNormal) {
    std::copy_n(stored.begin(), std::min(storedLength, static_cast<size_t>(entry.dataLength)),
                expanded.begin());
  } else if (codec.ExpandTrack(stored.data(), expanded.data(), entry.dataLength, entry.storedLength) != 0) {
    return 0;
  }
  (void)TrackCrc(expanded.data(), static_cast<size_t>(entry.dataLength));
  RestoreTrackUnit(unit, expanded.data(), entry.dataLength, header, fat, track.data());
  return 0;
}
