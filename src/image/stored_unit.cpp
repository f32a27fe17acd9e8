#include "image/stored_unit.h"

#include "codec/crc.h"
#include "common/text_format.h"

namespace kdl {
namespace {

constexpr const char* kBadTrackEntry = "TRK:%2d  トラック情報が正しくありません";
constexpr const char* kTruncated = "TRK:%2d  イメージが途中で切れています";
constexpr const char* kCrcError = "TRK:%2d  CRC Error (%04X,%04X)";
constexpr const char* kCrcError2 = "TRK:%2d  CRC Error (%04X,%04X)  (%04X,%04X)";
constexpr const char* kExpandError = "データの解凍でエラーがありました";

bool ReadExactly(const File& file, uint64_t offset, uint8_t* data, size_t size) {
  return file.ReadAt(offset, data, size) == static_cast<int64_t>(size);
}

}  // namespace

std::optional<std::string> TrackEntryMessage(int unit, const TrackEntry& e, const MediaGeometry& g) {
  const bool knownKind = e.kind == kTrackNormal || e.kind == kTrackSameByte || e.kind == kTrackCompressed;
  if (!knownKind || TrackEntryProblem(e, unit, g) ||
      (e.kind == kTrackNormal && e.storedLength != e.dataLength))
    return Format(kBadTrackEntry, unit);
  return std::nullopt;
}

std::optional<std::string> DecodeStoredUnit(const File& file, int64_t base, int unit, const TrackEntry& e,
                                            const MediaGeometry& g, TrackCodec& codec, UnitBuffers& buffers) {
  if (std::optional<std::string> bad = TrackEntryMessage(unit, e, g)) return bad;
  if (e.kind == kTrackSameByte) return std::nullopt;
  const uint64_t at = static_cast<uint64_t>(base) + static_cast<uint64_t>(e.offset);
  const size_t stored = static_cast<size_t>(e.storedLength);
  if (e.kind == kTrackNormal) {
    if (!ReadExactly(file, at, buffers.data.data(), stored)) return Format(kTruncated, unit);
    if (e.dataCrc != 0) {
      const uint16_t crc = TrackCrc(buffers.data.data(), stored);
      if (crc != e.dataCrc) return Format(kCrcError, unit, e.dataCrc, crc);
    }
    return std::nullopt;
  }
  if (!ReadExactly(file, at, buffers.stored.data(), stored)) return Format(kTruncated, unit);
  const uint16_t storedCrc = TrackCrc(buffers.stored.data(), stored);
  if (codec.ExpandTrack(buffers.stored.data(), buffers.data.data(), e.dataLength, e.storedLength) != 0)
    return std::string(kExpandError);
  const uint16_t dataCrc = TrackCrc(buffers.data.data(), static_cast<size_t>(e.dataLength));
  if (dataCrc != e.dataCrc || storedCrc != e.storedCrc)
    return Format(kCrcError2, unit, e.dataCrc, dataCrc, e.storedCrc, storedCrc);
  return std::nullopt;
}

std::optional<std::string> ReadStoredUnit(const File& file, int64_t base, int unit, const TrackEntry& e,
                                          const KdlHeader& header, ByteView unitFat, TrackCodec& codec,
                                          UnitBuffers& buffers, uint8_t* track) {
  if (std::optional<std::string> bad = DecodeStoredUnit(file, base, unit, e, header.geometry, codec, buffers))
    return bad;
  if (e.kind == kTrackSameByte) {
    std::fill(track, track + kTrackBufferSize, e.fill);
  } else {
    RestoreTrackUnit(unit, buffers.data.data(), e.dataLength, header, unitFat, track);
  }
  return std::nullopt;
}

TrackCodec& ThreadCodec() {
  thread_local TrackCodec codec;
  if (!codec.Initialized()) codec.CodecInit();
  return codec;
}

}  // namespace kdl
