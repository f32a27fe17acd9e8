// One track unit of an image as it is stored: reading its bytes, checking its CRCs, expanding it and
// restoring its free clusters. Each function works on one unit alone, with buffers and a codec of its
// caller's, so that units can be checked or restored side by side.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "codec/codec.h"
#include "common/bytes.h"
#include "common/file.h"
#include "image/kdl_format.h"

namespace kdl {

// Buffers for one unit: the stored bytes as read, and the data bytes after expansion.
struct UnitBuffers {
  std::vector<uint8_t> stored = std::vector<uint8_t>(kTrackBufferSize);
  std::vector<uint8_t> data = std::vector<uint8_t>(kWorkBufferSize);
};

// Why the entry of unit `unit` cannot be read into our buffers (a kind the writer never makes, lengths that
// do not fit, a plain unit whose stored and data lengths differ), as the message the user sees; empty when it
// can.
std::optional<std::string> TrackEntryMessage(int unit, const TrackEntry& entry, const MediaGeometry& g);

// Reads the stored bytes of unit `unit` from `file` (the image starting at `base`), checks them and turns
// them into the unit's data bytes in buffers.data (entry.dataLength bytes; nothing for a same-byte unit).
// Empty on success, else the message that tells why the unit cannot be read: a bad entry, an image that ends
// before the unit's bytes, a CRC that does not match, an expansion that fails.
std::optional<std::string> DecodeStoredUnit(const File& file, int64_t base, int unit, const TrackEntry& entry,
                                            const MediaGeometry& g, TrackCodec& codec, UnitBuffers& buffers);

// DecodeStoredUnit, then the whole unit restored into `track` (kTrackBufferSize bytes): free clusters left
// out by the writer come back as the media fill byte by `unitFat` (the header geometry's first FAT).
std::optional<std::string> ReadStoredUnit(const File& file, int64_t base, int unit, const TrackEntry& entry,
                                          const KdlHeader& header, ByteView unitFat, TrackCodec& codec,
                                          UnitBuffers& buffers, uint8_t* track);

// The codec of the calling thread, initialised on first use: what units read or compressed side by side on
// the worker pool use.
TrackCodec& ThreadCodec();

}  // namespace kdl
