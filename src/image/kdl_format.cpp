#include "image/kdl_format.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

#include "common/sjis.h"

namespace kdl {

std::string KdlHeader::LabelText(int line) const {
  const std::string& s = labels.at(static_cast<size_t>(line));
  // Raw images have label lines of NUL bytes; both count as blank.
  size_t end = s.find_last_not_of(std::string_view(" \0", 2));
  return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

bool KdlHeader::SetLabelText(int line, std::string_view sjis) {
  if (sjis.size() > kLabelLineLength) return false;
  std::string padded(sjis);
  padded.resize(kLabelLineLength, ' ');
  labels.at(static_cast<size_t>(line)) = std::move(padded);
  return true;
}

bool HasKdlExtension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::toupper(c); });
  return ext == ".KDL";
}

std::string HeaderVolumeLabel(std::string name) {
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (!name.empty() && static_cast<uint8_t>(name[0]) == 0x05) name[0] = static_cast<char>(0xE5);
  // A Shift-JIS character across the eighth byte is never split: the "." follows it.
  size_t split = 0;
  while (split < 8 && split < name.size()) split += IsSjisLeadByte(static_cast<uint8_t>(name[split])) ? 2 : 1;
  if (name.size() > split) name = name.substr(0, split) + "." + name.substr(split);
  name.resize(kVolumeLabelLength, ' ');
  return name;
}

KdlHeader MakeKdlHeader(int16_t mediaType) {
  KdlHeader h;
  h.mediaType = mediaType;
  h.geometry = MediaGeometryOf(mediaType);
  return h;
}

std::optional<KdlHeader> ParseKdlHeader(ByteView bytes) {
  using namespace kdl_header;
  if (bytes.size() < kKdlHeaderSize || !bytes.Equals(kMagic, kKdlMagic)) return std::nullopt;
  KdlHeader h;
  h.version = std::string(bytes.Text(kVersion, 4));
  h.volumeLabel = std::string(bytes.Text(kVolumeLabel, kVolumeLabelLength));
  h.labelTime = bytes.U16(kLabelTime);
  h.labelDate = bytes.U16(kLabelDate);
  h.mediaType = bytes.I16(kMediaType);
  h.dataOffset = bytes.I16(kDataOffset);
  h.geometry = ReadMediaGeometry(bytes, kGeometry);
  h.omitUnused = bytes.I16(kOmitUnused);
  for (int i = 0; i < kLabelLineCount; ++i) {
    h.labels[static_cast<size_t>(i)] =
        std::string(bytes.Text(kLabelLines + kLabelStride * static_cast<size_t>(i), kLabelLineLength));
  }
  return h;
}

void SerializeLabelLines(const KdlHeader& header, ByteSpan out) {
  using namespace kdl_header;
  for (size_t i = 0; i < kLabelLineCount; ++i) {
    size_t off = kLabelLines + kLabelStride * i;
    out.PutText(off, kLabelLineLength, header.labels[i].substr(0, kLabelLineLength));
    out.PutU8(off + kLabelLineLength, 0);
  }
}

void SerializeKdlHeader(const KdlHeader& header, ByteSpan out) {
  using namespace kdl_header;
  out.Fill(0, kKdlHeaderSize, 0);
  out.PutText(kMagic, kKdlMagic.size(), kKdlMagic);
  out.PutText(kVersion, 4, std::string_view(header.version).substr(0, 4));
  out.PutText(kVolumeLabel, kVolumeLabelLength,
              std::string_view(header.volumeLabel).substr(0, kVolumeLabelLength));
  out.PutU16(kLabelTime, header.labelTime);
  out.PutU16(kLabelDate, header.labelDate);
  out.PutI16(kMediaType, header.mediaType);
  out.PutI16(kDataOffset, header.dataOffset);
  WriteMediaGeometry(out, kGeometry, header.geometry);
  out.PutI16(kOmitUnused, header.omitUnused);
  SerializeLabelLines(header, out);
}

bool IsUsableGeometry(const MediaGeometry& g) {
  if (g.cylinders <= 0 || g.cylinders > kTrackDirectoryEntries) return false;
  if (g.sectorSize <= 0 || g.sectorsPerTrack <= 0 || g.sectorsPerCluster <= 0) return false;
  if (g.trackSize != g.sectorSize * g.sectorsPerTrack || g.trackSize > static_cast<int>(kTrackBufferSize))
    return false;
  if (g.clusterSize != g.sectorSize * g.sectorsPerCluster || g.clusterSize > g.trackSize ||
      g.clusterSize > kMaxClusterSize)
    return false;
  const int total = g.cylinders * g.sectorsPerTrack;
  if (g.fatStart < 0 || g.fatSectors <= 0 || g.rootStart < 0 || g.rootSectors <= 0 || g.dataStart < 0)
    return false;
  if (g.fatStart + g.fatSectors > total || g.rootStart + g.rootSectors > total || g.dataStart > total)
    return false;
  if (g.rootEntries <= 0 || g.rootEntries * 32 > g.rootSectors * g.sectorSize) return false;
  // The clusters must lie on the disk: a larger last cluster would send chain walks past its end.
  return g.lastCluster >= 1 && g.dataStart + (g.lastCluster - 1) * g.sectorsPerCluster <= total;
}

TrackEntry ReadTrackEntry(ByteView bytes, size_t offset) {
  TrackEntry e;
  e.offset = bytes.I32(offset + 0);
  e.storedLength = bytes.I16(offset + 4);
  e.kind = bytes.U8(offset + 6);
  e.fill = bytes.U8(offset + 7);
  e.dataCrc = bytes.U16(offset + 8);
  e.storedCrc = bytes.U16(offset + 10);
  e.dataLength = bytes.I16(offset + 12);
  return e;
}

void WriteTrackEntry(ByteSpan bytes, size_t offset, const TrackEntry& e) {
  bytes.PutI32(offset + 0, e.offset);
  bytes.PutI16(offset + 4, e.storedLength);
  bytes.PutU8(offset + 6, e.kind);
  bytes.PutU8(offset + 7, e.fill);
  bytes.PutU16(offset + 8, e.dataCrc);
  bytes.PutU16(offset + 10, e.storedCrc);
  bytes.PutI16(offset + 12, e.dataLength);
  bytes.PutU16(offset + 14, 0);
}

std::optional<TrackDirectory> ParseTrackDirectory(ByteView bytes) {
  if (bytes.size() < kTrackDirectorySize) return std::nullopt;
  TrackDirectory d;
  for (size_t i = 0; i < d.size(); ++i) d[i] = ReadTrackEntry(bytes, i * kTrackEntrySize);
  return d;
}

void SerializeTrackDirectory(const TrackDirectory& directory, ByteSpan out) {
  for (size_t i = 0; i < directory.size(); ++i) WriteTrackEntry(out, i * kTrackEntrySize, directory[i]);
}

std::optional<std::string> TrackEntryProblem(const TrackEntry& e, int unit, const MediaGeometry& g) {
  if (e.kind == kTrackSameByte) return std::nullopt;
  if (e.storedLength < 0 || e.storedLength > static_cast<int>(kTrackBufferSize))
    return "stored length " + std::to_string(e.storedLength) + " does not fit a track buffer";
  const int limit = unit == kOverlongUnit ? static_cast<int>(kTrackBufferSize) : g.trackSize;
  if (e.dataLength < 0 || e.dataLength > limit)
    return "data length " + std::to_string(e.dataLength) + " does not fit a track buffer";
  if (e.offset < 0) return "negative track offset " + std::to_string(e.offset);
  return std::nullopt;
}

uint16_t Fat12Entry(ByteView fat, int32_t cluster) {
  if (cluster < 0) return 0xFFF;
  const size_t at = static_cast<size_t>(cluster) * 3 / 2;
  if (!RangeFits(at, 2, fat.size())) return 0xFFF;
  const uint16_t lo = fat.U8(at), hi = fat.U8(at + 1);
  if (cluster % 2 == 0) return static_cast<uint16_t>(lo | ((hi & 0x0F) << 8));
  return static_cast<uint16_t>((lo >> 4) | (hi << 4));
}

UnitClusters ClustersOfUnit(int unit, const MediaGeometry& g) {
  UnitClusters c;
  if (g.sectorsPerCluster <= 0) return c;
  c.first = (unit * g.sectorsPerTrack - g.dataStart) / g.sectorsPerCluster + 2;
  c.count = g.sectorsPerTrack / g.sectorsPerCluster;
  return c;
}

bool CanOmitUnused(int mediaType) { return mediaType != kMediaType8Inch && mediaType != kMediaTypeDmf; }

int32_t RemoveFreeClusters(int unit, uint8_t* data, const MediaGeometry& g, ByteView fat) {
  if (unit == 0) return g.trackSize;
  const UnitClusters c = ClustersOfUnit(unit, g);
  const size_t size = static_cast<size_t>(g.clusterSize);
  int32_t kept = 0;
  for (int32_t i = 0; i < c.count; ++i) {
    if (!ClusterHoldsData(Fat12Entry(fat, c.first + i))) continue;
    const size_t from = static_cast<size_t>(i) * size;
    if (static_cast<size_t>(kept) != from) std::memmove(data + kept, data + from, size);
    kept += g.clusterSize;
  }
  return kept;
}

void RestoreTrackUnit(int unit, const uint8_t* data, int32_t dataLength, const KdlHeader& header,
                      ByteView fat, uint8_t* track) {
  const MediaGeometry& g = header.geometry;
  const size_t length = std::min(static_cast<size_t>(std::max(dataLength, 0)), kTrackBufferSize);
  if (unit == 0 || header.omitUnused == 0 || (unit == kOverlongUnit && dataLength > g.trackSize)) {
    if (length > 0) std::memcpy(track, data, length);
    return;
  }
  const size_t trackSize = std::min(static_cast<size_t>(std::max<int16_t>(g.trackSize, 0)), kTrackBufferSize);
  std::memset(track, MediaFillByte(header.mediaType), trackSize);
  const UnitClusters c = ClustersOfUnit(unit, g);
  const size_t size = static_cast<size_t>(std::max(g.clusterSize, 0));
  size_t used = 0;
  for (int32_t i = 0; i < c.count && size > 0; ++i) {
    const size_t to = static_cast<size_t>(i) * size;
    if (to + size > trackSize || used + size > length) break;
    if (!ClusterHoldsData(Fat12Entry(fat, c.first + i))) continue;
    std::memcpy(track + to, data + used, size);
    used += size;
  }
}

}  // namespace kdl
