#include "image/unit_loader.h"

#include <algorithm>

#include "codec/crc.h"
#include "common/text_format.h"

namespace kdl {
namespace {

constexpr const char* kBadTrackEntry = "TRK:%2d  トラック情報が正しくありません";
constexpr const char* kCrcError = "TRK:%2d  CRC Error (%04X,%04X)";
constexpr const char* kCrcError2 = "TRK:%2d  CRC Error (%04X,%04X)  (%04X,%04X)";
constexpr const char* kExpandError = "データの解凍でエラーがありました";

bool ReadExactly(const File& file, uint64_t offset, uint8_t* data, size_t size) {
  return file.ReadAt(offset, data, size) == static_cast<int64_t>(size);
}

}  // namespace

bool LoadUnit(const UnitSource& source, int32_t unit, TrackCodec& codec, uint8_t* work, uint8_t* track,
              std::string& message) {
  message.clear();
  const TrackEntry& e = (*source.directory)[static_cast<size_t>(unit)];
  const KdlHeader& header = *source.header;
  const MediaGeometry& g = header.geometry;
  // Entries the writer never makes cannot be read into our buffers: a kind we do not know, lengths that do
  // not fit, or a plain unit whose data and stored lengths differ.
  const bool knownKind = e.kind == kTrackNormal || e.kind == kTrackSameByte || e.kind == kTrackCompressed;
  if (!knownKind || TrackEntryProblem(e, unit, g) ||
      (e.kind == kTrackNormal && e.storedLength != e.dataLength)) {
    message = Format(kBadTrackEntry, unit);
    return false;
  }
  const uint64_t at = source.base + static_cast<uint64_t>(e.offset);
  const size_t stored = static_cast<size_t>(e.storedLength);
  switch (e.kind) {
    case kTrackNormal: {
      if (!ReadExactly(*source.file, at, work, stored)) return false;
      if (e.dataCrc != 0) {
        const uint16_t crc = TrackCrc(work, stored);
        if (crc != e.dataCrc) {
          message = Format(kCrcError, unit, e.dataCrc, crc);
          return false;
        }
      }
      RestoreTrackUnit(unit, work, e.dataLength, header, source.fat, track);
      return true;
    }
    case kTrackSameByte:
      std::fill(track, track + kTrackBufferSize, e.fill);
      return true;
    default: {
      if (!ReadExactly(*source.file, at, track, stored)) return false;
      const uint16_t storedCrc = TrackCrc(track, stored);
      if (codec.ExpandTrack(track, work, e.dataLength, e.storedLength) != 0) {
        message = kExpandError;
        return false;
      }
      const uint16_t dataCrc = TrackCrc(work, static_cast<size_t>(e.dataLength));
      if (dataCrc != e.dataCrc || storedCrc != e.storedCrc) {
        message = Format(kCrcError2, unit, e.dataCrc, dataCrc, e.storedCrc, storedCrc);
        return false;
      }
      RestoreTrackUnit(unit, work, e.dataLength, header, source.fat, track);
      return true;
    }
  }
}

TrackCodec& ThreadCodec() {
  thread_local TrackCodec codec;
  if (!codec.Initialized()) codec.CodecInit();
  return codec;
}

}  // namespace kdl
