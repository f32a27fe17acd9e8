// FDI: a 4,096-byte header whose first 32 bytes describe the disk, then the sectors in logical order.
//
//   0 u32 zero, 4 u32 drive type, 8 u32 header size (4,096), 12 u32 data size, 16 u32 sector size,
//   20 u32 sectors per track, 24 u32 heads, 28 u32 cylinders; the rest of the header is zero
//
// Drive types: 0x10 1 MB/640 KB 2DD, 0x30 1.44 MB 2HD, 0x50 320 KB 2D, 0x70 640 KB 2DD, 0x90 1 MB 2HD.
#include <algorithm>

#include "common/text_format.h"
#include "drive/formats/sector_map.h"
#include "drive/media.h"

namespace kdl::formats {
namespace {

constexpr size_t kHeaderFields = 32;
constexpr uint32_t kHeaderSize = 4096;
constexpr size_t kDriveType = 4;
constexpr size_t kHeaderLength = 8;
constexpr size_t kDataSize = 12;
constexpr size_t kSectorSize = 16;
constexpr size_t kSectors = 20;
constexpr size_t kHeads = 24;
constexpr size_t kCylinders = 28;
// A header larger than this is no FDI header.
constexpr uint32_t kMaxHeaderSize = 65536;

constexpr const char* kTruncated = "ファイルがヘッダの示す長さより %llu バイト短くなっています";
constexpr const char* kTrailing = "データの後ろの %llu バイトは読みません";

struct Fields {
  uint32_t headerSize, dataSize, sectorSize, sectors, heads, cylinders;
};

std::optional<Fields> ReadFields(ByteView head) {
  if (head.size() < kHeaderFields || head.U32(0) != 0) return std::nullopt;
  const Fields f{head.U32(kHeaderLength), head.U32(kDataSize), head.U32(kSectorSize),
                 head.U32(kSectors),      head.U32(kHeads),    head.U32(kCylinders)};
  if (f.headerSize < kHeaderFields || f.headerSize > kMaxHeaderSize ||
      SizeCode(static_cast<int32_t>(std::min<uint32_t>(f.sectorSize, 1u << 15))) < 0 || f.sectors < 1 ||
      f.sectors > 255 || f.heads < 1 || f.heads > 2 || f.cylinders < 1 || f.cylinders > 255)
    return std::nullopt;
  const uint64_t size = uint64_t{f.sectorSize} * f.sectors * f.heads * f.cylinders;
  if (size != f.dataSize) return std::nullopt;
  return f;
}

uint32_t DriveTypeOf(int32_t type) {
  switch (type) {
    case 2:
    case 7:
      return 0x30;
    case 3:
      return 0x10;
    case 4:
      return 0x70;
    case 5:
      return 0x50;
    default:  // 1.25M and 1.21M
      return 0x90;
  }
}

}  // namespace

bool LooksLikeFdi(ByteView head, uint64_t fileSize) {
  const std::optional<Fields> f = ReadFields(head);
  return f && f->headerSize <= fileSize;
}

ContainerRead DecodeFdi(ByteView file) {
  const std::optional<Fields> f = ReadFields(file);
  if (!f || f->headerSize > file.size()) return {std::nullopt, "FDI のヘッダではありません"};
  const PhysicalLayout found{static_cast<int32_t>(f->cylinders), static_cast<int32_t>(f->heads),
                             static_cast<int32_t>(f->sectors), static_cast<int32_t>(f->sectorSize)};
  const ByteView data = file.Sub(f->headerSize, file.size() - f->headerSize);
  const size_t sectorSize = f->sectorSize;
  std::vector<uint8_t> boot;
  if (data.size() >= sectorSize) boot.assign(data.data(), data.data() + sectorSize);
  std::string error;
  const std::optional<int32_t> type = MatchLayout(found, boot.empty() ? nullptr : &boot, error);
  if (!type) return {std::nullopt, error};
  // The stored cylinders are the first of the disk's; any the header leaves out are missing.
  const ByteView stored = data.Sub(0, static_cast<size_t>(std::min<uint64_t>(data.size(), f->dataSize)));
  ContainerDisk disk = LinearDisk(ContainerFormat::kFdi, *type, stored);
  if (data.size() < f->dataSize) {
    disk.notes.push_back(Format(kTruncated, static_cast<unsigned long long>(f->dataSize - data.size())));
  } else if (data.size() > f->dataSize) {
    disk.notes.push_back(Format(kTrailing, static_cast<unsigned long long>(data.size() - f->dataSize)));
  }
  if (std::optional<std::string> refused = CheckBootSector(disk)) return {std::nullopt, *refused};
  return {std::move(disk), {}};
}

std::vector<uint8_t> EncodeFdi(int32_t type, ByteView disk) {
  const PhysicalLayout l = LayoutOf(type);
  const size_t size =
      static_cast<size_t>(l.cylinders * l.heads * l.sectors) * static_cast<size_t>(l.sectorSize);
  if (disk.size() != size || type == kMediaType8Inch) return {};
  std::vector<uint8_t> out(kHeaderSize + size, 0);
  ByteSpan o(out.data(), out.size());
  o.PutU32(kDriveType, DriveTypeOf(type));
  o.PutU32(kHeaderLength, kHeaderSize);
  o.PutU32(kDataSize, static_cast<uint32_t>(size));
  o.PutU32(kSectorSize, static_cast<uint32_t>(l.sectorSize));
  o.PutU32(kSectors, static_cast<uint32_t>(l.sectors));
  o.PutU32(kHeads, static_cast<uint32_t>(l.heads));
  o.PutU32(kCylinders, static_cast<uint32_t>(l.cylinders));
  std::copy(disk.data(), disk.data() + size, out.begin() + kHeaderSize);
  return out;
}

}  // namespace kdl::formats
