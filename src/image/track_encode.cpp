#include "image/track_encode.h"

#include <algorithm>
#include <cstring>

#include "codec/crc.h"
#include "drive/fat_layout.h"

namespace kdl {

bool IsSameByteUnit(const uint8_t* data, int32_t dataLength) {
  const size_t n = static_cast<size_t>(std::max(dataLength, 0));
  return n <= 1 || std::all_of(data + 1, data + n, [&](uint8_t b) { return b == data[0]; });
}

EncodedUnit EncodeTrackUnit(const uint8_t* data, int32_t dataLength, bool compress, TrackCodec& codec,
                            uint8_t* work) {
  EncodedUnit u;
  const size_t n = static_cast<size_t>(std::max(dataLength, 0));
  if (IsSameByteUnit(data, dataLength)) {
    u.entry.kind = kTrackSameByte;
    // With no data bytes the unit is whatever its buffer was prefilled with: the media fill byte.
    u.entry.fill = data[0];
    u.entry.dataLength = static_cast<int16_t>(n);
    return u;
  }
  u.entry.dataLength = static_cast<int16_t>(n);
  u.entry.dataCrc = TrackCrc(data, n);
  if (compress) {
    const int32_t packed = codec.CompressTrack(data, work, dataLength);
    if (packed >= 0) {
      u.entry.kind = kTrackCompressed;
      u.entry.storedCrc = TrackCrc(work, static_cast<size_t>(packed));
      u.entry.storedLength = static_cast<int16_t>(packed);
      u.stored = work;
      u.storedLength = packed;
      return u;
    }
  }
  u.entry.kind = kTrackNormal;
  u.entry.storedLength = static_cast<int16_t>(n);
  u.stored = data;
  u.storedLength = dataLength;
  return u;
}

FreeClusterPlan PlanFreeClusters(ByteView unit0, int32_t mediaType) {
  FreeClusterPlan plan;
  plan.layout = MediaGeometryOf(mediaType);
  if (const std::optional<MediaGeometry> own = FatLayoutFromBootSector(unit0, mediaType)) {
    plan.layout = *own;
    if (DiffersFromTable(*own, mediaType)) plan.storeWhole = StoreWholeReason::kOwnLayout;
  }
  const size_t fatStart =
      static_cast<size_t>(plan.layout.fatStart) * static_cast<size_t>(plan.layout.sectorSize);
  if (fatStart < unit0.size()) {
    plan.fatCopiesAgree = FatCopiesAgree(unit0.Sub(fatStart, unit0.size() - fatStart), plan.layout);
    if (!plan.fatCopiesAgree && plan.storeWhole == StoreWholeReason::kNone)
      plan.storeWhole = StoreWholeReason::kFatCopiesDiffer;
  }
  return plan;
}

std::vector<uint8_t> FirstFatIn(ByteView unit0, const MediaGeometry& layout) {
  const size_t sectorSize = static_cast<size_t>(std::max<int16_t>(layout.sectorSize, 0));
  const size_t at = static_cast<size_t>(std::max<int16_t>(layout.fatStart, 0)) * sectorSize;
  const size_t length = static_cast<size_t>(std::max<int16_t>(layout.fatSectors, 0)) * sectorSize;
  if (at >= unit0.size()) return {};
  const ByteView fat = unit0.Sub(at, std::min(length, unit0.size() - at));
  return std::vector<uint8_t>(fat.data(), fat.data() + fat.size());
}

bool TakeVolumeLabelFromRoot(ByteView unit0, KdlHeader& header, bool takeName) {
  const MediaGeometry& g = header.geometry;
  const size_t start = static_cast<size_t>(g.rootStart) * static_cast<size_t>(g.sectorSize);
  for (int i = 0; i < g.rootEntries; ++i) {
    const size_t at = start + static_cast<size_t>(i) * 32;
    if (!RangeFits(at, 32, unit0.size())) return false;
    const uint8_t first = unit0.U8(at);
    if (first == 0xE5) continue;
    if (first == 0x00) return false;
    const uint8_t attribute = unit0.U8(at + 11);
    if (attribute != 0x0F && (attribute & 0x08) != 0) {
      header.labelTime = unit0.U16(at + 22);
      header.labelDate = unit0.U16(at + 24);
      if (takeName) header.volumeLabel = std::string(unit0.Text(at, 11)) + " ";
      return true;
    }
  }
  return false;
}

std::optional<std::vector<uint8_t>> KdlFromRawImage(ByteView raw, const KdlWriteOptions& options,
                                                    TrackCodec& codec) {
  const int32_t type = MediaTypeFromBootSector(raw);
  if (type < 0) return std::nullopt;
  KdlHeader header = MakeKdlHeader(static_cast<int16_t>(type));
  const MediaGeometry& g = header.geometry;
  const size_t trackSize = static_cast<size_t>(g.trackSize);
  if (raw.size() < trackSize * static_cast<size_t>(g.cylinders)) return std::nullopt;
  for (int i = 0; i < kLabelLineCount; ++i) {
    if (!header.SetLabelText(i, options.labels[static_cast<size_t>(i)])) return std::nullopt;
  }
  const FreeClusterPlan plan = PlanFreeClusters(raw.Sub(0, trackSize), type);
  header.omitUnused =
      options.omitUnused && CanOmitUnused(type) && plan.storeWhole == StoreWholeReason::kNone ? 1 : 0;
  TakeVolumeLabelFromRoot(raw.Sub(0, trackSize), header, true);

  // The FAT that decides which clusters are free is the first copy inside unit 0.
  const ByteView fat = raw.Sub(static_cast<size_t>(g.fatStart) * static_cast<size_t>(g.sectorSize),
                               static_cast<size_t>(g.fatSectors) * static_cast<size_t>(g.sectorSize));
  std::vector<uint8_t> out(static_cast<size_t>(kTrackDataOffset), 0);
  TrackDirectory directory{};
  std::vector<uint8_t> unit(kTrackBufferSize);
  std::vector<uint8_t> work(kWorkBufferSize);
  for (int t = 0; t < g.cylinders; ++t) {
    const ByteView src = raw.Sub(static_cast<size_t>(t) * trackSize, trackSize);
    std::memcpy(unit.data(), src.data(), trackSize);
    const int32_t length = header.omitUnused ? RemoveFreeClusters(t, unit.data(), g, fat) : g.trackSize;
    // A unit without a used cluster is stored as the media fill byte, as if it had never been read.
    if (length == 0) unit[0] = MediaFillByte(type);
    EncodedUnit e = EncodeTrackUnit(unit.data(), length, options.compress, codec, work.data());
    e.entry.offset = static_cast<int32_t>(out.size());
    out.insert(out.end(), e.stored, e.stored + e.storedLength);
    directory[static_cast<size_t>(t)] = e.entry;
  }
  ByteSpan span(out.data(), out.size());
  SerializeKdlHeader(header, span);
  SerializeTrackDirectory(directory, ByteSpan(out.data() + kKdlHeaderSize, kTrackDirectorySize));
  return out;
}

}  // namespace kdl
