// ImageDisk (".IMD"): an ASCII header line "IMD v.vv: dd/mm/yyyy hh:mm:ss", a comment, the byte 0x1A, then
// one record per track:
//
//   mode (0-5: 500/300/250 kbps FM, then 500/300/250 kbps MFM), cylinder, head (bit 7: a cylinder map
//   follows, bit 6: a head map follows), sector count, size code (0-6: 128 << code bytes),
//   the sector numbering map, the optional cylinder and head maps (one byte per sector each),
//   then one data record per sector: a type byte and its data
//     0 unavailable                        (nothing follows)
//     1 normal, 3 deleted, 5 data error, 7 deleted with data error    (a sector of data follows)
//     2 compressed, 4 deleted, 6 data error, 8 deleted with data error (one byte repeated over the sector)
#include <algorithm>
#include <cstdio>

#include "common/text_format.h"
#include "drive/formats/sector_map.h"
#include "drive/media.h"

namespace kdl::formats {
namespace {

constexpr std::string_view kSignature = "IMD ";
constexpr uint8_t kEndOfComment = 0x1A;
constexpr uint8_t kCylinderMap = 0x80;
constexpr uint8_t kHeadMap = 0x40;
constexpr uint8_t kMaxMode = 5;
constexpr uint8_t kMaxSizeCode = 6;
constexpr uint8_t kMaxRecordType = 8;
constexpr uint8_t kMode500Fm = 0;
constexpr uint8_t kMode500Mfm = 3;
constexpr uint8_t kMode250Mfm = 5;
constexpr uint8_t kRecordNormal = 1;
constexpr uint8_t kRecordCompressed = 2;

constexpr const char* kNoEnd = "コメントの終わり (0x1A) がありません";
constexpr const char* kTrackCut = "%llu バイト目のトラックがファイルの終わりで切れています";
constexpr const char* kBadTrack =
    "%llu バイト目のトラックヘッダが正しくありません（モード %u, ヘッド %u, サイズ %u）";
constexpr const char* kBadRecord = "%llu バイト目のセクタレコードの種類 %u は正しくありません";

uint8_t ModeOf(int32_t type) {
  switch (type) {
    case 3:
    case 4:
    case 5:
      return kMode250Mfm;
    case kMediaType8Inch:
      return kMode500Fm;
    default:
      return kMode500Mfm;
  }
}

// The comment split into lines (CR LF or LF), trailing blank lines dropped.
std::vector<std::string> CommentLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(start, end - start));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

bool PrintableAscii(const std::string& line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

}  // namespace

bool LooksLikeImd(ByteView head) { return head.size() >= kSignature.size() && head.Equals(0, kSignature); }

ContainerRead DecodeImd(ByteView file) {
  if (!LooksLikeImd(file)) return {std::nullopt, "IMD のヘッダではありません"};
  const uint8_t* begin = file.data();
  const uint8_t* eof = std::find(begin, begin + file.size(), kEndOfComment);
  if (eof == begin + file.size()) return {std::nullopt, kNoEnd};
  const size_t commentEnd = static_cast<size_t>(eof - begin);
  const std::string_view header = file.Text(0, commentEnd);
  const size_t firstLine = std::min(header.find('\n'), header.size());
  std::vector<std::string> comment =
      CommentLines(firstLine < header.size() ? header.substr(firstLine + 1) : std::string_view());

  std::vector<std::string> notes;
  SectorAssembler assembler;
  size_t pos = commentEnd + 1;
  while (pos < file.size()) {
    const auto at = static_cast<unsigned long long>(pos);
    if (!RangeFits(pos, 5, file.size())) {
      notes.push_back(Format(kTrackCut, at));
      break;
    }
    const uint8_t mode = file.U8(pos);
    const uint8_t cylinder = file.U8(pos + 1);
    const uint8_t headByte = file.U8(pos + 2);
    const uint8_t count = file.U8(pos + 3);
    const uint8_t sizeCode = file.U8(pos + 4);
    const uint8_t head = headByte & static_cast<uint8_t>(~(kCylinderMap | kHeadMap));
    if (mode > kMaxMode || head > 1 || sizeCode > kMaxSizeCode) {
      notes.push_back(Format(kBadTrack, at, mode, head, sizeCode));
      break;
    }
    pos += 5;
    const size_t maps = 1 + ((headByte & kCylinderMap) ? 1 : 0) + ((headByte & kHeadMap) ? 1 : 0);
    if (!RangeFits(pos, maps * count, file.size())) {
      notes.push_back(Format(kTrackCut, at));
      break;
    }
    const ByteView numbers = file.Sub(pos, count);
    pos += count;
    ByteView cylinders, heads;
    if (headByte & kCylinderMap) {
      cylinders = file.Sub(pos, count);
      pos += count;
    }
    if (headByte & kHeadMap) {
      heads = file.Sub(pos, count);
      pos += count;
    }
    const size_t size = size_t{128} << sizeCode;
    bool broken = false;
    for (size_t i = 0; i < count; ++i) {
      StoredSector s;
      s.cylinder = cylinder;
      s.head = head;
      s.r = numbers.U8(i);
      s.c = cylinders.size() > 0 ? cylinders.U8(i) : cylinder;
      s.h = heads.size() > 0 ? heads.U8(i) : head;
      s.n = sizeCode;
      if (!RangeFits(pos, 1, file.size())) {
        notes.push_back(Format(kTrackCut, at));
        broken = true;
        break;
      }
      const uint8_t kind = file.U8(pos);
      if (kind > kMaxRecordType) {
        notes.push_back(Format(kBadRecord, static_cast<unsigned long long>(pos), kind));
        broken = true;
        break;
      }
      ++pos;
      if (kind == 0) {
        s.unavailable = true;
        assembler.Add(s);
        continue;
      }
      const bool compressed = kind % 2 == 0;
      s.deleted = kind == 3 || kind == 4 || kind == 7 || kind == 8;
      s.crcError = kind >= 5;
      const size_t stored = compressed ? 1 : size;
      if (!RangeFits(pos, stored, file.size())) {
        notes.push_back(Format(kTrackCut, at));
        broken = true;
        break;
      }
      if (compressed) {
        s.fill = file.U8(pos);
      } else {
        s.data = file.Sub(pos, size);
      }
      s.length = size;
      pos += stored;
      assembler.Add(s);
    }
    if (broken) break;
  }
  return assembler.Assemble(ContainerFormat::kImd, std::move(notes), std::move(comment));
}

std::vector<uint8_t> EncodeImd(int32_t type, ByteView disk, const ContainerText& text) {
  const PhysicalLayout l = LayoutOf(type);
  const size_t size = static_cast<size_t>(l.sectorSize);
  if (disk.size() != static_cast<size_t>(l.cylinders * l.heads * l.sectors) * size) return {};
  std::tm when{};
  localtime_r(&text.time, &when);
  char line[64];
  std::snprintf(line, sizeof line, "IMD 1.18: %02d/%02d/%04d %02d:%02d:%02d\r\n", when.tm_mday,
                when.tm_mon + 1, when.tm_year + 1900, when.tm_hour, when.tm_min, when.tm_sec);
  std::vector<uint8_t> out(line, line + std::char_traits<char>::length(line));
  for (const std::string& c : text.comment) {
    if (!PrintableAscii(c)) continue;
    out.insert(out.end(), c.begin(), c.end());
    out.push_back('\r');
    out.push_back('\n');
  }
  out.push_back(kEndOfComment);
  size_t from = 0;
  for (int32_t c = 0; c < l.cylinders; ++c) {
    for (int32_t h = 0; h < l.heads; ++h) {
      out.insert(out.end(), {ModeOf(type), static_cast<uint8_t>(c), static_cast<uint8_t>(h),
                             static_cast<uint8_t>(l.sectors), static_cast<uint8_t>(SizeCode(l.sectorSize))});
      for (int32_t r = 1; r <= l.sectors; ++r) out.push_back(static_cast<uint8_t>(r));
      for (int32_t r = 1; r <= l.sectors; ++r) {
        const ByteView sector = disk.Sub(from, size);
        from += size;
        const uint8_t first = sector.U8(0);
        if (std::all_of(sector.data(), sector.data() + size, [&](uint8_t b) { return b == first; })) {
          out.insert(out.end(), {kRecordCompressed, first});
        } else {
          out.push_back(kRecordNormal);
          out.insert(out.end(), sector.data(), sector.data() + size);
        }
      }
    }
  }
  return out;
}

}  // namespace kdl::formats
