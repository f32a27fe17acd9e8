#include "drive/formats/container.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "common/file.h"
#include "common/text_format.h"
#include "drive/formats/sector_map.h"
#include "drive/media.h"

namespace kdl {
namespace {

constexpr const char* kCannotRead = "%s が読めません";
constexpr const char* kTooLarge = "%s は %llu バイトあり、フロッピーディスクのイメージとしては大きすぎます";
constexpr const char* kUnknown = "ディスクイメージの形式がわかりません";
constexpr const char* kNested = "gzip の中にさらに gzip があります";
constexpr const char* kMoreDamaged = "ほか %zu セクタ";
constexpr const char* kIgnored = "メディアタイプの配置にないセクタ %d 個は読みません";

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

std::string_view DamageText(SectorDamage kind) {
  switch (kind) {
    case SectorDamage::kMissing:
      return "セクタがありません";
    case SectorDamage::kDeleted:
      return "削除マーク付きです";
    case SectorDamage::kCrcError:
      return "CRC エラーで読まれています";
    case SectorDamage::kBadId:
      return "ID (C/H/N) が違います";
    case SectorDamage::kShort:
      return "データが足りません";
    case SectorDamage::kDuplicate:
      return "内容の違う同じ番号のセクタがあります";
  }
  return "";
}

// Reads a file that holds no container format itself: a raw image, or the contents of a gzip stream.
ContainerRead DecodePlain(ByteView bytes, ContainerFormat format) {
  switch (format) {
    case ContainerFormat::kD88:
      return formats::DecodeD88(bytes);
    case ContainerFormat::kFdi:
      return formats::DecodeFdi(bytes);
    case ContainerFormat::kImd:
      return formats::DecodeImd(bytes);
    case ContainerFormat::kRaw:
      return formats::DecodeRaw(bytes);
    default:
      return {std::nullopt, kUnknown};
  }
}

}  // namespace

ContainerFormat DetectContainer(ByteView head, uint64_t fileSize) {
  if (formats::LooksLikeGzip(head)) return ContainerFormat::kGzip;
  if (formats::LooksLikeImd(head)) return ContainerFormat::kImd;
  if (formats::LooksLikeFdi(head, fileSize)) return ContainerFormat::kFdi;
  if (formats::LooksLikeD88(head, fileSize)) return ContainerFormat::kD88;
  if (MediaTypeFromBootSector(head) >= 0) return ContainerFormat::kRaw;
  return ContainerFormat::kUnknown;
}

bool IsForeignContainer(ContainerFormat format) {
  return format == ContainerFormat::kD88 || format == ContainerFormat::kFdi ||
         format == ContainerFormat::kImd || format == ContainerFormat::kGzip;
}

ContainerRead DecodeContainer(ByteView file) {
  const ContainerFormat format = DetectContainer(file, file.size());
  if (format != ContainerFormat::kGzip) return DecodePlain(file, format);
  std::string error;
  const std::optional<std::vector<uint8_t>> inner = formats::Gunzip(file, kMaxContainerBytes, error);
  if (!inner) return {std::nullopt, error};
  const ByteView bytes(inner->data(), inner->size());
  const ContainerFormat innerFormat = DetectContainer(bytes, bytes.size());
  if (innerFormat == ContainerFormat::kGzip) return {std::nullopt, kNested};
  ContainerRead read = DecodePlain(bytes, innerFormat);
  if (read.disk) {
    read.disk->format = ContainerFormat::kGzip;
    read.disk->inner = innerFormat;
  }
  return read;
}

ContainerRead ReadContainerFile(const std::string& path) {
  File file;
  const int64_t size = file.Open(path, File::Mode::kRead) ? file.Size() : -1;
  if (size < 0) return {std::nullopt, Format(kCannotRead, path.c_str())};
  if (static_cast<uint64_t>(size) > kMaxContainerBytes)
    return {std::nullopt, Format(kTooLarge, path.c_str(), static_cast<unsigned long long>(size))};
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (file.ReadAt(0, bytes.data(), bytes.size()) != size)
    return {std::nullopt, Format(kCannotRead, path.c_str())};
  return DecodeContainer(ByteView(bytes.data(), bytes.size()));
}

bool FormatCanHold(ContainerFormat format, int32_t type) {
  if (!IsMediaType(type)) return false;
  switch (format) {
    case ContainerFormat::kRaw:
    case ContainerFormat::kD88:
    case ContainerFormat::kImd:
    case ContainerFormat::kGzip:
      return true;
    case ContainerFormat::kHdm:
      return type == 0;
    case ContainerFormat::kFdi:
      // Its drive types name no single-density 8-inch disk.
      return type != kMediaType8Inch;
    case ContainerFormat::kUnknown:
      return false;
  }
  return false;
}

std::vector<uint8_t> EncodeContainer(ContainerFormat format, int32_t type, ByteView disk,
                                     const ContainerText& text) {
  if (!FormatCanHold(format, type)) return {};
  const MediaGeometry g = MediaGeometryOf(type);
  if (disk.size() != static_cast<size_t>(g.cylinders) * static_cast<size_t>(g.trackSize)) return {};
  switch (format) {
    case ContainerFormat::kRaw:
    case ContainerFormat::kHdm:
      return std::vector<uint8_t>(disk.data(), disk.data() + disk.size());
    case ContainerFormat::kD88:
      return formats::EncodeD88(type, disk, text);
    case ContainerFormat::kFdi:
      return formats::EncodeFdi(type, disk);
    case ContainerFormat::kImd:
      return formats::EncodeImd(type, disk, text);
    case ContainerFormat::kGzip:
      return formats::Gzip(disk);
    case ContainerFormat::kUnknown:
      break;
  }
  return {};
}

std::string_view ContainerFormatName(ContainerFormat format) {
  switch (format) {
    case ContainerFormat::kRaw:
      return "raw";
    case ContainerFormat::kHdm:
      return "HDM";
    case ContainerFormat::kD88:
      return "D88";
    case ContainerFormat::kFdi:
      return "FDI";
    case ContainerFormat::kImd:
      return "IMD";
    case ContainerFormat::kGzip:
      return "gzip";
    case ContainerFormat::kUnknown:
      break;
  }
  return "?";
}

std::optional<ContainerFormat> ContainerFormatFromName(std::string_view name) {
  const std::string n = Lower(name);
  if (n == "raw" || n == "img") return ContainerFormat::kRaw;
  if (n == "hdm") return ContainerFormat::kHdm;
  if (n == "d88") return ContainerFormat::kD88;
  if (n == "fdi") return ContainerFormat::kFdi;
  if (n == "imd") return ContainerFormat::kImd;
  if (n == "gz" || n == "gzip") return ContainerFormat::kGzip;
  return std::nullopt;
}

std::optional<ContainerFormat> ContainerFormatFromExtension(const std::string& path) {
  const std::string ext = Lower(std::filesystem::path(path).extension().string());
  if (ext == ".d88" || ext == ".d98" || ext == ".88d") return ContainerFormat::kD88;
  if (ext == ".fdi") return ContainerFormat::kFdi;
  if (ext == ".hdm") return ContainerFormat::kHdm;
  if (ext == ".imd") return ContainerFormat::kImd;
  if (ext == ".gz") return ContainerFormat::kGzip;
  return std::nullopt;
}

std::string SectorAddress(int32_t type, int32_t sector) {
  const formats::PhysicalLayout l = formats::LayoutOf(type);
  if (l.sectors <= 0) return {};
  const int32_t track = sector / l.sectors;
  return Format("C%2d H%d R%2d", track / l.heads, track % l.heads, sector % l.sectors + 1);
}

std::string DescribeSectorDamage(int32_t type, const DamagedSector& damage) {
  return SectorAddress(type, damage.sector) + "  " + std::string(DamageText(damage.kind));
}

std::string DescribeDamage(const ContainerDisk& disk, size_t limit) {
  std::string text;
  for (size_t i = 0; i < disk.damage.size() && i < limit; ++i)
    text += DescribeSectorDamage(disk.mediaType, disk.damage[i]) + "\n";
  if (disk.damage.size() > limit) text += Format(kMoreDamaged, disk.damage.size() - limit) + "\n";
  if (disk.ignoredSectors > 0) text += Format(kIgnored, disk.ignoredSectors) + "\n";
  for (const std::string& note : disk.notes) text += note + "\n";
  if (!text.empty()) text.pop_back();
  return text;
}

}  // namespace kdl
