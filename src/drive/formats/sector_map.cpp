#include "drive/formats/sector_map.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "common/text_format.h"
#include "drive/media.h"

namespace kdl::formats {
namespace {

constexpr const char* kNoMediaType =
    "%d シリンダ, %d 面, %d セクタ/トラック, %d バイト/セクタのディスクです"
    "（この配置のメディアタイプはありません）";
constexpr const char* kTooManyCylinders =
    "%d シリンダ, %d 面, %d セクタ/トラック, %d バイト/セクタのディスクです"
    "（%s は %d シリンダまでです）";
constexpr const char* kBootDisagrees =
    "%s の配置ですが、ブートセクタの総セクタ数は %u です（FAT12 の %s のディスクではありません）";
constexpr const char* kNoSectors = "セクタがひとつもありません";

// The sector of `disk` at logical number `sector`.
uint8_t* SectorAt(ContainerDisk& disk, int32_t sector, int32_t size) {
  return disk.bytes.data() + static_cast<size_t>(sector) * static_cast<size_t>(size);
}

void CopySector(const StoredSector& s, uint8_t* into, size_t size) {
  if (s.fill) {
    std::memset(into, *s.fill, size);
  } else {
    std::memcpy(into, s.data.data(), size);
  }
}

bool SameContent(const StoredSector& a, const StoredSector& b, size_t size) {
  if (a.fill && b.fill) return *a.fill == *b.fill;
  if (a.fill || b.fill) {
    const StoredSector& filled = a.fill ? a : b;
    const StoredSector& stored = a.fill ? b : a;
    return std::all_of(stored.data.data(), stored.data.data() + size,
                       [&](uint8_t v) { return v == *filled.fill; });
  }
  return std::memcmp(a.data.data(), b.data.data(), size) == 0;
}

template <typename T>
T MostFrequent(const std::map<T, int>& counts) {
  T best{};
  int bestCount = -1;
  for (const auto& [value, count] : counts) {
    // Ties go to the larger value: a track that lost sectors must not make the others look shorter.
    if (count >= bestCount) {
      best = value;
      bestCount = count;
    }
  }
  return best;
}

}  // namespace

PhysicalLayout LayoutOf(int32_t type) {
  if (!IsMediaType(type)) return {};
  const MediaGeometry g = MediaGeometryOf(type);
  const int32_t heads = type == kMediaType8Inch ? 1 : 2;
  return {g.cylinders, heads, g.sectorsPerTrack / heads, g.sectorSize};
}

int32_t SizeCode(int32_t sectorSize) {
  for (int32_t n = 0; n <= 7; ++n) {
    if ((128 << n) == sectorSize) return n;
  }
  return -1;
}

std::optional<int32_t> MatchLayout(const PhysicalLayout& found, const std::vector<uint8_t>* boot,
                                   std::string& error) {
  std::vector<int32_t> shaped;
  for (int32_t t = 0; t < kMediaTypeCount; ++t) {
    const PhysicalLayout l = LayoutOf(t);
    if (l.heads == found.heads && l.sectors == found.sectors && l.sectorSize == found.sectorSize)
      shaped.push_back(t);
  }
  if (shaped.empty()) {
    error = Format(kNoMediaType, found.cylinders, found.heads, found.sectors, found.sectorSize);
    return std::nullopt;
  }
  std::vector<int32_t> fits;
  for (const int32_t t : shaped) {
    if (LayoutOf(t).cylinders >= found.cylinders) fits.push_back(t);
  }
  if (fits.empty()) {
    const int32_t t = shaped.back();
    error = Format(kTooManyCylinders, found.cylinders, found.heads, found.sectors, found.sectorSize,
                   std::string(MediaName(t)).c_str(), LayoutOf(t).cylinders);
    return std::nullopt;
  }
  if (fits.size() > 1 && boot != nullptr) {
    const int32_t bootType = MediaTypeFromBootSector(ByteView(boot->data(), boot->size()));
    if (std::find(fits.begin(), fits.end(), bootType) != fits.end()) return bootType;
  }
  // Otherwise the smallest disk that holds every cylinder found.
  return *std::min_element(fits.begin(), fits.end(), [](int32_t a, int32_t b) {
    return LayoutOf(a).cylinders < LayoutOf(b).cylinders;
  });
}

std::optional<std::string> CheckBootSector(const ContainerDisk& disk) {
  const bool bootDamaged = !disk.damage.empty() && disk.damage.front().sector == 0;
  if (bootDamaged || disk.bytes.size() < 24) return std::nullopt;
  const ByteView boot(disk.bytes.data(), disk.bytes.size());
  if (MediaTypeFromBootSector(boot) == disk.mediaType) return std::nullopt;
  const std::string name(MediaName(disk.mediaType));
  return Format(kBootDisagrees, name.c_str(), static_cast<unsigned>(boot.U16(19)), name.c_str());
}

PhysicalLayout SectorAssembler::FoundLayout() const {
  std::map<int32_t, int> codes;
  bool twoHeads = false;
  int32_t cylinders = 0;
  for (const StoredSector& s : sectors_) {
    ++codes[s.n];
    twoHeads = twoHeads || s.head == 1;
    cylinders = std::max(cylinders, s.cylinder + 1);
  }
  const int32_t code = MostFrequent(codes);
  std::map<std::pair<int32_t, int32_t>, int> perTrack;
  for (const StoredSector& s : sectors_) {
    if (s.n == code) ++perTrack[{s.cylinder, s.head}];
  }
  std::map<int32_t, int> counts;
  for (const auto& [track, count] : perTrack) ++counts[count];
  const int32_t size = code >= 0 && code <= 7 ? (128 << code) : 0;
  return {cylinders, twoHeads ? 2 : 1, MostFrequent(counts), size};
}

bool SectorAssembler::IsGood(const StoredSector& s, int32_t cylinder, int32_t head, int32_t sizeCode,
                             size_t size) const {
  return s.c == cylinder && s.h == head && s.n == sizeCode && !s.deleted && !s.crcError && !s.unavailable &&
         s.length >= size;
}

ContainerRead SectorAssembler::Assemble(ContainerFormat format, std::vector<std::string> notes,
                                        std::vector<std::string> comment) {
  if (sectors_.empty()) return {std::nullopt, kNoSectors};
  const PhysicalLayout found = FoundLayout();
  // The boot sector, when the container holds it intact, tells apart disks that differ only in cylinders.
  std::optional<std::vector<uint8_t>> boot;
  const int32_t foundCode = SizeCode(found.sectorSize);
  for (const StoredSector& s : sectors_) {
    if (s.cylinder == 0 && s.head == 0 && s.r == 1 && foundCode >= 0 &&
        IsGood(s, 0, 0, foundCode, static_cast<size_t>(found.sectorSize))) {
      boot.emplace(static_cast<size_t>(found.sectorSize));
      CopySector(s, boot->data(), boot->size());
      break;
    }
  }
  std::string error;
  const std::optional<int32_t> type = MatchLayout(found, boot ? &*boot : nullptr, error);
  if (!type) return {std::nullopt, error};

  const PhysicalLayout l = LayoutOf(*type);
  const int32_t code = SizeCode(l.sectorSize);
  const size_t size = static_cast<size_t>(l.sectorSize);
  ContainerDisk disk;
  disk.format = format;
  disk.inner = format;
  disk.mediaType = *type;
  disk.notes = std::move(notes);
  disk.comment = std::move(comment);
  disk.bytes.assign(static_cast<size_t>(l.cylinders * l.heads * l.sectors) * size, MediaFillByte(*type));

  // The stored sectors of each track that claim a sector number of the layout; the rest are not read.
  std::vector<std::vector<const StoredSector*>> tracks(static_cast<size_t>(l.cylinders * l.heads));
  for (const StoredSector& s : sectors_) {
    if (s.cylinder >= l.cylinders || s.head >= l.heads || s.r < 1 || s.r > l.sectors) {
      ++disk.ignoredSectors;
      continue;
    }
    tracks[static_cast<size_t>(s.cylinder * l.heads + s.head)].push_back(&s);
  }
  for (int32_t cylinder = 0; cylinder < l.cylinders; ++cylinder) {
    for (int32_t head = 0; head < l.heads; ++head) {
      const auto& stored = tracks[static_cast<size_t>(cylinder * l.heads + head)];
      for (int32_t r = 1; r <= l.sectors; ++r) {
        const int32_t sector = (cylinder * l.heads + head) * l.sectors + (r - 1);
        const StoredSector* good = nullptr;
        const StoredSector* first = nullptr;
        bool conflict = false;
        for (const StoredSector* s : stored) {
          if (s->r != r) continue;
          if (first == nullptr) first = s;
          if (!IsGood(*s, cylinder, head, code, size)) continue;
          if (good == nullptr) {
            good = s;
          } else if (!SameContent(*good, *s, size)) {
            conflict = true;
          }
        }
        if (good != nullptr && !conflict) {
          CopySector(*good, SectorAt(disk, sector, l.sectorSize), size);
          continue;
        }
        SectorDamage kind = SectorDamage::kMissing;
        if (conflict) {
          kind = SectorDamage::kDuplicate;
        } else if (first != nullptr && !first->unavailable) {
          if (first->crcError) {
            kind = SectorDamage::kCrcError;
          } else if (first->deleted) {
            kind = SectorDamage::kDeleted;
          } else if (first->c != cylinder || first->h != head || first->n != code) {
            kind = SectorDamage::kBadId;
          } else {
            kind = SectorDamage::kShort;
          }
        }
        disk.damage.push_back({sector, kind});
      }
    }
  }
  if (std::optional<std::string> refused = CheckBootSector(disk)) return {std::nullopt, *refused};
  return {std::move(disk), {}};
}

ContainerDisk LinearDisk(ContainerFormat format, int32_t type, ByteView data) {
  const PhysicalLayout l = LayoutOf(type);
  const size_t size = static_cast<size_t>(l.sectorSize);
  const int32_t total = l.cylinders * l.heads * l.sectors;
  ContainerDisk disk;
  disk.format = format;
  disk.inner = format;
  disk.mediaType = type;
  disk.bytes.assign(static_cast<size_t>(total) * size, MediaFillByte(type));
  // Only whole sectors are taken: a sector cut by the end of the data is missing like those after it.
  const int32_t whole =
      static_cast<int32_t>(std::min<size_t>(data.size() / size, static_cast<size_t>(total)));
  if (whole > 0) std::memcpy(disk.bytes.data(), data.data(), static_cast<size_t>(whole) * size);
  for (int32_t s = whole; s < total; ++s) disk.damage.push_back({s, SectorDamage::kMissing});
  return disk;
}

}  // namespace kdl::formats
