#include "support/image_builder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "codec/codec.h"
#include "codec/crc.h"

namespace kdltest {
namespace {

using kdl::ByteSpan;
using kdl::ByteView;

constexpr uint8_t kMediaDescriptor[kdl::kMediaTypeCount] = {0xFE, 0xF9, 0xF0, 0xF9, 0xFB, 0xFD, 0xFE, 0xF0};

void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

FatDiskBuilder::FatDiskBuilder(int mediaType) : mediaType_(mediaType), g_(kdl::MediaGeometryOf(mediaType)) {
  const auto& row = kdl::MediaTable()[static_cast<size_t>(mediaType)];
  disk_.assign(static_cast<size_t>(g_.cylinders) * static_cast<size_t>(g_.trackSize), row.fillByte);
  // System area: boot sector, both FATs and the root directory start out zero.
  std::fill(disk_.begin(), disk_.begin() + static_cast<ptrdiff_t>(g_.dataStart) * g_.sectorSize, uint8_t{0});
  uint8_t* boot = disk_.data();
  const uint8_t jump[] = {0xEB, 0x3C, 0x90};
  std::memcpy(boot, jump, 3);
  std::memcpy(boot + 3, "KDLTEST ", 8);
  const int heads = mediaType == kdl::kMediaType8Inch ? 1 : 2;
  PutU16(boot + 11, static_cast<uint16_t>(g_.sectorSize));
  boot[13] = static_cast<uint8_t>(g_.sectorsPerCluster);
  PutU16(boot + 14, static_cast<uint16_t>(g_.fatStart));
  boot[16] = 2;
  PutU16(boot + 17, static_cast<uint16_t>(g_.rootEntries));
  PutU16(boot + 19, static_cast<uint16_t>(row.totalSectors));
  boot[21] = kMediaDescriptor[mediaType];
  PutU16(boot + 22, static_cast<uint16_t>(g_.fatSectors));
  PutU16(boot + 24, static_cast<uint16_t>(g_.sectorsPerTrack / heads));
  PutU16(boot + 26, static_cast<uint16_t>(heads));
  if (g_.sectorSize >= 512) {
    boot[510] = 0x55;
    boot[511] = 0xAA;
  }
  SetFat(0, static_cast<uint16_t>(0xF00 | kMediaDescriptor[mediaType]));
  SetFat(1, 0xFFF);
}

uint8_t* FatDiskBuilder::Sector(int sector) {
  return disk_.data() + static_cast<size_t>(sector) * static_cast<size_t>(g_.sectorSize);
}

uint8_t* FatDiskBuilder::Cluster(int cluster) {
  return Sector((cluster - 2) * g_.sectorsPerCluster + g_.dataStart);
}

void FatDiskBuilder::SetFat(int cluster, uint16_t value) {
  for (int copy = 0; copy < 2; ++copy) {
    uint8_t* fat = Sector(g_.fatStart + copy * g_.fatSectors);
    const size_t at = static_cast<size_t>(cluster) * 3 / 2;
    if (cluster % 2 == 0) {
      fat[at] = static_cast<uint8_t>(value);
      fat[at + 1] = static_cast<uint8_t>((fat[at + 1] & 0xF0) | ((value >> 8) & 0x0F));
    } else {
      fat[at] = static_cast<uint8_t>((fat[at] & 0x0F) | ((value & 0x0F) << 4));
      fat[at + 1] = static_cast<uint8_t>(value >> 4);
    }
  }
}

uint16_t FatDiskBuilder::Fat(int cluster) const {
  const size_t fatBytes = static_cast<size_t>(g_.fatSectors) * static_cast<size_t>(g_.sectorSize);
  return kdl::Fat12Entry(
      ByteView(disk_.data() + static_cast<size_t>(g_.fatStart) * static_cast<size_t>(g_.sectorSize),
               fatBytes),
      cluster);
}

std::vector<int> FatDiskBuilder::FreeClusters(int count) const {
  std::vector<int> found;
  for (int c = 2; c <= g_.lastCluster && static_cast<int>(found.size()) < count; ++c) {
    if (Fat(c) == 0) found.push_back(c);
  }
  if (static_cast<int>(found.size()) < count) throw std::runtime_error("test disk is full");
  return found;
}

size_t FatDiskBuilder::SlotOffset(uint16_t dir, size_t slot) const {
  const size_t sectorSize = static_cast<size_t>(g_.sectorSize);
  if (dir == kRoot) {
    if (slot >= static_cast<size_t>(g_.rootEntries)) return std::string::npos;
    return static_cast<size_t>(g_.rootStart) * sectorSize + slot * kdl::kDirectoryEntrySize;
  }
  const std::vector<int>& clusters = directoryClusters_.at(dir);
  const size_t perCluster = static_cast<size_t>(g_.clusterSize) / kdl::kDirectoryEntrySize;
  if (slot >= clusters.size() * perCluster) return std::string::npos;
  const int cluster = clusters[slot / perCluster];
  return (static_cast<size_t>((cluster - 2) * g_.sectorsPerCluster + g_.dataStart)) * sectorSize +
         (slot % perCluster) * kdl::kDirectoryEntrySize;
}

void FatDiskBuilder::AddEntry(uint16_t dir, const kdl::DirectoryEntry& entry,
                              const std::u16string& longName) {
  std::vector<kdl::DirectoryEntry> entries;
  if (!longName.empty())
    entries =
        LongNamePieces(longName, std::string_view(reinterpret_cast<const char*>(entry.bytes().data()), 11));
  entries.push_back(entry);
  for (const kdl::DirectoryEntry& e : entries) {
    const size_t at = SlotOffset(dir, nextSlot_[dir]++);
    if (at == std::string::npos) throw std::runtime_error("test directory is full");
    std::memcpy(disk_.data() + at, e.bytes().data(), kdl::kDirectoryEntrySize);
  }
}

kdl::DirectoryEntry FatDiskBuilder::ShortEntry(std::string_view name11, const EntryOptions& options,
                                               uint16_t cluster, uint32_t size) {
  if (name11.size() != 11) throw std::invalid_argument("short names have 11 bytes");
  kdl::DirectoryEntry e;
  uint8_t* b = e.bytes().data();
  std::memcpy(b, name11.data(), 11);
  b[11] = options.attribute;
  b[12] = options.caseFlags;
  PutU16(b + 22, options.time);
  PutU16(b + 24, options.date);
  PutU16(b + 26, cluster);
  for (int i = 0; i < 4; ++i) b[28 + i] = static_cast<uint8_t>(size >> (8 * i));
  return e;
}

uint8_t FatDiskBuilder::ShortNameChecksum(std::string_view name11) {
  uint8_t sum = 0;
  for (size_t i = 0; i < 11; ++i)
    sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + static_cast<uint8_t>(name11[i]));
  return sum;
}

std::vector<kdl::DirectoryEntry> FatDiskBuilder::LongNamePieces(const std::u16string& name,
                                                                std::string_view name11) {
  // Thirteen units per piece; a name that does not fill its last piece ends with 0x0000 and 0xFFFF padding.
  std::vector<uint16_t> units(name.begin(), name.end());
  const size_t count = (units.size() + 12) / 13;
  if (units.size() % 13 != 0) units.push_back(0);
  units.resize(count * 13, 0xFFFF);
  static constexpr size_t kUnitOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  const uint8_t sum = ShortNameChecksum(name11);
  std::vector<kdl::DirectoryEntry> pieces;
  for (size_t n = count; n >= 1; --n) {
    kdl::DirectoryEntry e;
    uint8_t* b = e.bytes().data();
    b[0] = static_cast<uint8_t>(n | (n == count ? kdl::kLongNameLastPiece : 0));
    b[11] = kdl::kAttrLongName;
    b[13] = sum;
    for (size_t i = 0; i < 13; ++i) PutU16(b + kUnitOffsets[i], units[(n - 1) * 13 + i]);
    pieces.push_back(e);
  }
  return pieces;
}

void FatDiskBuilder::AddFileAt(uint16_t dir, std::string_view name11, const std::vector<uint8_t>& content,
                               const std::vector<int>& clusters, const EntryOptions& options) {
  const size_t clusterSize = static_cast<size_t>(g_.clusterSize);
  for (size_t i = 0; i < clusters.size(); ++i) {
    uint8_t* dest = Cluster(clusters[i]);
    std::memset(dest, 0, clusterSize);
    if (i * clusterSize < content.size())
      std::memcpy(dest, content.data() + i * clusterSize,
                  std::min(clusterSize, content.size() - i * clusterSize));
    SetFat(clusters[i], i + 1 < clusters.size() ? static_cast<uint16_t>(clusters[i + 1]) : uint16_t{0xFFF});
  }
  const uint16_t first = clusters.empty() ? 0 : static_cast<uint16_t>(clusters[0]);
  AddEntry(dir, ShortEntry(name11, options, first, static_cast<uint32_t>(content.size())), options.longName);
}

uint16_t FatDiskBuilder::AddFile(uint16_t dir, std::string_view name11, const std::vector<uint8_t>& content,
                                 const EntryOptions& options) {
  const size_t clusterSize = static_cast<size_t>(g_.clusterSize);
  const std::vector<int> clusters =
      FreeClusters(static_cast<int>((content.size() + clusterSize - 1) / clusterSize));
  AddFileAt(dir, name11, content, clusters, options);
  return clusters.empty() ? 0 : static_cast<uint16_t>(clusters[0]);
}

uint16_t FatDiskBuilder::AddDirectory(uint16_t parent, std::string_view name11, const EntryOptions& options,
                                      int clusters) {
  EntryOptions dirOptions = options;
  dirOptions.attribute = kdl::kAttrDirectory;
  const std::vector<int> list = FreeClusters(clusters);
  for (size_t i = 0; i < list.size(); ++i) {
    std::memset(Cluster(list[i]), 0, static_cast<size_t>(g_.clusterSize));
    SetFat(list[i], i + 1 < list.size() ? static_cast<uint16_t>(list[i + 1]) : uint16_t{0xFFF});
  }
  const auto first = static_cast<uint16_t>(list[0]);
  directoryClusters_[first] = list;
  AddEntry(parent, ShortEntry(name11, dirOptions, first, 0), options.longName);
  AddEntry(first, ShortEntry(".          ", dirOptions, first, 0));
  AddEntry(first, ShortEntry("..         ", dirOptions, parent, 0));
  return first;
}

void FatDiskBuilder::AddVolumeLabel(std::string_view name11, uint16_t time, uint16_t date) {
  EntryOptions o;
  o.attribute = kdl::kAttrVolumeLabel;
  o.time = time;
  o.date = date;
  AddEntry(kRoot, ShortEntry(name11, o, 0, 0));
}

void KdlImage::SetEntry(int unit, const kdl::TrackEntry& entry) {
  directory[static_cast<size_t>(unit)] = entry;
  kdl::WriteTrackEntry(ByteSpan(bytes.data(), bytes.size()),
                       kdl::kKdlHeaderSize + static_cast<size_t>(unit) * kdl::kTrackEntrySize, entry);
}

void KdlImage::SetHeader(const kdl::KdlHeader& h) {
  header = h;
  kdl::SerializeKdlHeader(h, ByteSpan(bytes.data(), kdl::kKdlHeaderSize));
}

KdlImage MakeKdl(const std::vector<uint8_t>& raw, int mediaType, const KdlOptions& options) {
  KdlImage image;
  image.header = kdl::MakeKdlHeader(static_cast<int16_t>(mediaType));
  image.header.omitUnused = options.omitUnused ? 1 : 0;
  image.header.volumeLabel = options.volumeLabel;
  image.header.labelTime = options.labelTime;
  image.header.labelDate = options.labelDate;
  for (int i = 0; i < kdl::kLabelLineCount; ++i)
    image.header.SetLabelText(i, options.labels[static_cast<size_t>(i)]);
  const kdl::MediaGeometry& g = image.header.geometry;
  const size_t trackSize = static_cast<size_t>(g.trackSize);
  const ByteView fat(raw.data() + static_cast<size_t>(g.fatStart) * static_cast<size_t>(g.sectorSize),
                     static_cast<size_t>(g.fatSectors) * static_cast<size_t>(g.sectorSize));

  image.bytes.assign(static_cast<size_t>(kdl::kTrackDataOffset), 0);
  kdl::TrackCodec codec;
  codec.CodecInit();
  std::vector<uint8_t> data(kdl::kTrackBufferSize), packed(kdl::kWorkBufferSize);
  for (int unit = 0; unit < g.cylinders; ++unit) {
    std::copy_n(raw.begin() + static_cast<ptrdiff_t>(unit * trackSize), trackSize, data.begin());
    int32_t length = static_cast<int32_t>(trackSize);
    if (options.omitUnused) length = kdl::RemoveFreeClusters(unit, data.data(), g, fat);
    kdl::TrackEntry e;
    e.offset = static_cast<int32_t>(image.bytes.size());
    e.dataLength = static_cast<int16_t>(length);
    const bool same =
        std::all_of(data.begin(), data.begin() + length, [&](uint8_t b) { return b == data[0]; });
    if (same) {
      e.kind = kdl::kTrackSameByte;
      e.fill = length == 0 ? kdl::MediaFillByte(mediaType) : data[0];
      e.offset = 0;
    } else {
      e.dataCrc = kdl::TrackCrc(data.data(), static_cast<size_t>(length));
      const int packedLength =
          options.compress ? codec.CompressTrack(data.data(), packed.data(), length) : -1;
      const uint8_t* stored = data.data();
      int32_t storedLength = length;
      if (packedLength >= 0) {
        e.kind = kdl::kTrackCompressed;
        stored = packed.data();
        storedLength = packedLength;
        e.storedCrc = kdl::TrackCrc(stored, static_cast<size_t>(storedLength));
      }
      e.storedLength = static_cast<int16_t>(storedLength);
      image.bytes.insert(image.bytes.end(), stored, stored + storedLength);
    }
    image.directory[static_cast<size_t>(unit)] = e;
  }
  kdl::SerializeKdlHeader(image.header, ByteSpan(image.bytes.data(), kdl::kKdlHeaderSize));
  kdl::SerializeTrackDirectory(image.directory,
                               ByteSpan(image.bytes.data() + kdl::kKdlHeaderSize, kdl::kTrackDirectorySize));
  return image;
}

std::vector<uint8_t> TextBytes(size_t count, uint32_t seed) {
  static constexpr std::string_view kWords[] = {"floppy ", "track ", "cluster ",
                                                "sector ", "image ", "label\n"};
  std::vector<uint8_t> out;
  uint32_t x = seed;
  while (out.size() < count) {
    x = x * 1103515245u + 12345u;
    const std::string_view w = kWords[(x >> 16) % std::size(kWords)];
    out.insert(out.end(), w.begin(), w.end());
  }
  out.resize(count);
  return out;
}

std::vector<uint8_t> NoiseBytes(size_t count, uint32_t seed) {
  std::vector<uint8_t> out(count);
  uint64_t x = 0x9E3779B97F4A7C15ull ^ seed;
  for (uint8_t& b : out) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    b = static_cast<uint8_t>(x >> 24);
  }
  return out;
}

}  // namespace kdltest
