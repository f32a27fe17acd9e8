// D88 (also ".D98", ".88D"): a header with the disk's name, write-protect flag, media byte, file size and a
// table of 164 track offsets (160 in older files), then each track as a run of sectors, every sector a
// 16-byte header with its ID (C, H, R, N), the sector count of its track, density, deleted mark, the
// controller's status, and its data length, followed by the data.
//
//   header   0 16 name, 16 NUL, 26 write protect (non-zero: protected), 27 media (0x00 2D, 0x10 2DD,
//            0x20 2HD, 0x30 1D, 0x40 1DD), 28 u32 file size, 32 164 x u32 track offsets (0: no track)
//   sector   0 C, 1 H, 2 R, 3 N (128 << N bytes), 4 u16 sectors in track, 6 density (0x00 double,
//            0x40 single), 7 deleted mark (0x10), 8 status (0x00 normal, 0x10 deleted data, 0xA0 ID CRC
//            error, 0xB0 data CRC error, others: not found), 9-13 reserved, 14 u16 data length
//
// Track n of the table is cylinder n / 2, head n % 2. A single-sided disk may also be stored one cylinder
// per entry; that is recognised by sectors of head 0 stored in odd entries.
#include <algorithm>

#include "common/sjis.h"
#include "common/text_format.h"
#include "drive/formats/sector_map.h"
#include "drive/media.h"

namespace kdl::formats {
namespace {

constexpr size_t kHeaderSize = 0x2B0;
constexpr size_t kOldHeaderSize = 0x2A0;
constexpr size_t kNameLength = 16;
constexpr size_t kWriteProtect = 0x1A;
constexpr size_t kMedia = 0x1B;
constexpr size_t kDiskSize = 0x1C;
constexpr size_t kTrackTable = 0x20;
constexpr int32_t kTracks = 164;
constexpr int32_t kOldTracks = 160;
constexpr size_t kSectorHeaderSize = 16;
// More sectors than any soft-sectored track holds: a count above it is a broken header.
constexpr int32_t kMaxSectorsPerTrack = 256;

constexpr uint8_t kMedia2D = 0x00;
constexpr uint8_t kMedia2DD = 0x10;
constexpr uint8_t kMedia2HD = 0x20;
constexpr uint8_t kDensityDouble = 0x00;
constexpr uint8_t kDensitySingle = 0x40;
constexpr uint8_t kStatusDeleted = 0x10;
constexpr uint8_t kStatusIdCrc = 0xA0;
constexpr uint8_t kStatusDataCrc = 0xB0;

constexpr const char* kSizeBeyondFile = "ヘッダのファイルサイズ %llu がファイルの長さ %llu を超えています";
constexpr const char* kTrailingBytes = "ディスクの後ろの %llu バイト（2 枚目以降のディスク）は読みません";
constexpr const char* kTrackOutside = "トラック %d のオフセット %llu がディスクの外を指しています";
constexpr const char* kSectorCut = "トラック %d の %d 番目のセクタがディスクの終わりで切れています";
constexpr const char* kBadSectorCount = "トラック %d のセクタ数 %d は正しくありません";

bool IsMediaByte(uint8_t b) { return b == 0x00 || b == 0x10 || b == 0x20 || b == 0x30 || b == 0x40; }

// The first non-zero track offset, which is where the header ends; 0 when the table is empty.
uint32_t FirstTrackOffset(ByteView head, int32_t entries) {
  for (int32_t t = 0; t < entries; ++t) {
    const size_t at = kTrackTable + 4 * static_cast<size_t>(t);
    if (!RangeFits(at, 4, head.size())) break;
    if (const uint32_t offset = head.U32(at)) return offset;
  }
  return 0;
}

uint8_t MediaByteOf(int32_t type) {
  switch (type) {
    case 3:
    case 4:
      return kMedia2DD;
    case 5:
      return kMedia2D;
    default:  // 1.25M, 1.21M, 1.44M, DMF, and the 8-inch disk at the same data rate
      return kMedia2HD;
  }
}

}  // namespace

bool LooksLikeD88(ByteView head, uint64_t fileSize) {
  if (fileSize < kOldHeaderSize || head.size() < kOldHeaderSize) return false;
  if (!IsMediaByte(head.U8(kMedia)) || head.U32(kDiskSize) < kOldHeaderSize) return false;
  const uint32_t first = FirstTrackOffset(head, kTracks);
  return first == kHeaderSize || first == kOldHeaderSize;
}

ContainerRead DecodeD88(ByteView file) {
  if (!LooksLikeD88(file, file.size())) return {std::nullopt, "D88 のヘッダではありません"};
  std::vector<std::string> notes;
  const uint32_t first = FirstTrackOffset(file, kTracks);
  // A file cut inside its track table holds only the entries before the cut.
  const int32_t entries = std::min(first == kOldHeaderSize ? kOldTracks : kTracks,
                                   static_cast<int32_t>((file.size() - kTrackTable) / 4));
  const uint64_t diskSize = file.U32(kDiskSize);
  const uint64_t end = std::min<uint64_t>(diskSize, file.size());
  if (diskSize > file.size()) {
    notes.push_back(Format(kSizeBeyondFile, static_cast<unsigned long long>(diskSize),
                           static_cast<unsigned long long>(file.size())));
  } else if (diskSize < file.size()) {
    notes.push_back(Format(kTrailingBytes, static_cast<unsigned long long>(file.size() - diskSize)));
  }

  // Every sector with the table entry it is stored under; cylinders and heads are known once all are read.
  std::vector<StoredSector> stored;
  for (int32_t t = 0; t < entries; ++t) {
    const uint64_t offset = file.U32(kTrackTable + 4 * static_cast<size_t>(t));
    if (offset == 0) continue;
    if (offset < first || offset >= end) {
      notes.push_back(Format(kTrackOutside, t, static_cast<unsigned long long>(offset)));
      continue;
    }
    uint64_t pos = offset;
    int32_t count = 1;  // known from the first sector's header
    for (int32_t i = 0; i < count; ++i) {
      if (!RangeFits(pos, kSectorHeaderSize, end)) {
        notes.push_back(Format(kSectorCut, t, i + 1));
        break;
      }
      const ByteView h = file.Sub(static_cast<size_t>(pos), kSectorHeaderSize);
      if (i == 0) {
        count = h.U16(4);
        if (count < 1 || count > kMaxSectorsPerTrack) {
          notes.push_back(Format(kBadSectorCount, t, count));
          count = std::clamp(count, 1, kMaxSectorsPerTrack);
        }
      }
      StoredSector s;
      s.cylinder = t;
      s.c = h.U8(0);
      s.h = h.U8(1);
      s.r = h.U8(2);
      s.n = h.U8(3);
      const uint8_t status = h.U8(8);
      s.deleted = h.U8(7) != 0 || status == kStatusDeleted;
      s.crcError = status == kStatusIdCrc || status == kStatusDataCrc;
      s.unavailable = status != 0 && status != kStatusDeleted && !s.crcError;
      const uint64_t length = h.U16(14);
      const uint64_t dataAt = pos + kSectorHeaderSize;
      const bool cut = !RangeFits(dataAt, length, end);
      const uint64_t have = cut ? end - dataAt : length;
      s.data = file.Sub(static_cast<size_t>(dataAt), static_cast<size_t>(have));
      s.length = static_cast<size_t>(have);
      stored.push_back(s);
      if (cut) {
        notes.push_back(Format(kSectorCut, t, i + 1));
        break;
      }
      pos = dataAt + length;
    }
  }

  // Entry n is cylinder n / 2, head n % 2, unless a single-sided disk was stored one cylinder per entry.
  const bool anyHeadOne =
      std::any_of(stored.begin(), stored.end(), [](const StoredSector& s) { return s.h == 1; });
  const bool oddEntries =
      std::any_of(stored.begin(), stored.end(), [](const StoredSector& s) { return s.cylinder % 2 == 1; });
  const bool perCylinder = !anyHeadOne && oddEntries;
  SectorAssembler assembler;
  for (StoredSector& s : stored) {
    const int32_t t = s.cylinder;
    s.cylinder = perCylinder ? t : t / 2;
    s.head = perCylinder ? 0 : t % 2;
    assembler.Add(s);
  }
  std::vector<std::string> comment;
  std::string name(file.Text(0, kNameLength));
  name.resize(std::min(name.find('\0'), name.size()));
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (!name.empty()) comment.push_back(name);
  ContainerRead read = assembler.Assemble(ContainerFormat::kD88, std::move(notes), std::move(comment));
  if (read.disk) read.disk->writeProtected = file.U8(kWriteProtect) != 0;
  return read;
}

std::vector<uint8_t> EncodeD88(int32_t type, ByteView disk, const ContainerText& text) {
  const PhysicalLayout l = LayoutOf(type);
  const size_t size = static_cast<size_t>(l.sectorSize);
  const size_t sectors = static_cast<size_t>(l.cylinders * l.heads * l.sectors);
  if (disk.size() != sectors * size || l.cylinders * 2 > kTracks) return {};
  std::vector<uint8_t> out(kHeaderSize + sectors * (kSectorHeaderSize + size), 0);
  ByteSpan o(out.data(), out.size());
  const std::string_view name = CutSjisText(text.name, kNameLength);
  o.PutText(0, kNameLength, name, 0);
  o.PutU8(kMedia, MediaByteOf(type));
  o.PutU32(kDiskSize, static_cast<uint32_t>(out.size()));
  size_t pos = kHeaderSize;
  size_t from = 0;
  for (int32_t c = 0; c < l.cylinders; ++c) {
    for (int32_t h = 0; h < l.heads; ++h) {
      o.PutU32(kTrackTable + 4 * static_cast<size_t>(c * 2 + h), static_cast<uint32_t>(pos));
      for (int32_t r = 1; r <= l.sectors; ++r) {
        o.PutU8(pos + 0, static_cast<uint8_t>(c));
        o.PutU8(pos + 1, static_cast<uint8_t>(h));
        o.PutU8(pos + 2, static_cast<uint8_t>(r));
        o.PutU8(pos + 3, static_cast<uint8_t>(SizeCode(l.sectorSize)));
        o.PutU16(pos + 4, static_cast<uint16_t>(l.sectors));
        o.PutU8(pos + 6, type == kMediaType8Inch ? kDensitySingle : kDensityDouble);
        o.PutU16(pos + 14, static_cast<uint16_t>(size));
        const ByteView data = disk.Sub(from, size);
        std::copy(data.data(), data.data() + size,
                  out.begin() + static_cast<ptrdiff_t>(pos + kSectorHeaderSize));
        pos += kSectorHeaderSize + size;
        from += size;
      }
    }
  }
  return out;
}

}  // namespace kdl::formats
