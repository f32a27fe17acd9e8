#include "image/listing.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "common/sjis.h"
#include "common/text_format.h"

namespace kdl {
namespace {

constexpr const char* kTypeLine = "タイプ：%s  %s";
constexpr const char* kTypeNoLabel = "NO VOLUME LABEL";
constexpr const char* kTypeVolumeLabel = "Volume LABEL : %s";
constexpr const char* kArchiveFirstLine = "KDL :%-8.8s    FDD type:%s %8lld Bytes  Created %s";
constexpr const char* kFileFirstLine = "FILE:%s FDD type:%s %8lld Bytes  Created %s";
constexpr const char* kNoVolumeLine = "VOLUME LABEL ";
constexpr const char* kVolumeLine = "VOLUME LABEL %s    CREATED  %s";
constexpr const char* kLabelLine = "  %s";
constexpr const char* kTableHead = "TRK  type  data   CRC     len    Rate    CRC2 ";
constexpr const char* kTableRule = "===  ====  ====  ======  =====  ======  ======";
constexpr const char* kNormalUnit = "%3d  通常         %04hX%8d";
constexpr const char* kSameByteUnit = "%3d  同一   %02X";
constexpr const char* kCompressedUnit = "%3d  圧縮         %04hX%8d   0.%03d   %04hX";
constexpr const char* kUnknownUnit = "%3d  不明   %02X";
constexpr const char* kUnitError = "    Error";
constexpr const char* kLabelTooLong = "ラベルは40バイトまでです";
constexpr const char* kOutputError = "ファイル出力エラー";

// A stored Shift-JIS field as "%-W.Ws" shows it (up to its first NUL, cut or padded to `width` bytes), in
// UTF-8.
std::string Field(const std::string& sjis, size_t width) {
  std::string text = sjis.substr(0, std::min(sjis.find('\0'), width));
  text.resize(width, ' ');
  return SjisToUtf8(text);
}

// True for a label line or volume label that shows nothing (raw images leave their label lines as NULs).
bool IsBlankField(const std::string& field) { return field.empty() || field[0] == ' ' || field[0] == '\0'; }

// The file's modification time in local time as a FAT time and date (years before 1980 show as 1980).
std::string ModificationDateText(const File& file) {
  struct stat st {};
  if (::fstat(file.fd(), &st) != 0) return DateText(0, 0);
  std::tm local{};
  const time_t seconds = st.st_mtime;
  if (localtime_r(&seconds, &local) == nullptr) return DateText(0, 0);
  const int years = std::max(0, std::min(127, local.tm_year + 1900 - 1980));
  const auto date = static_cast<uint16_t>((years << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
  const auto time = static_cast<uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
  return DateText(time, date);
}

std::string UnitLine(int unit, const TrackEntry& e, const MediaGeometry& g) {
  switch (e.kind) {
    case kTrackNormal:
      return Format(kNormalUnit, unit, static_cast<unsigned short>(e.dataCrc), e.storedLength);
    case kTrackSameByte:
      return Format(kSameByteUnit, unit, e.fill);
    case kTrackCompressed:
      return Format(kCompressedUnit, unit, static_cast<unsigned short>(e.storedCrc), e.storedLength,
                    e.storedLength * 1000 / g.trackSize, static_cast<unsigned short>(e.dataCrc));
    default:
      return Format(kUnknownUnit, unit, e.kind);
  }
}

// Opens the image when the flags ask for it; false when it is not open afterwards.
bool OpenIfAsked(ImageState& image, const std::string& path, int32_t flags) {
  if ((flags & kOpenFirst) != 0 && image.OpenImage(path) < 0) return false;
  return image.IsOpen();
}

void CloseIfAsked(ImageState& image, int32_t flags) {
  if ((flags & kCloseAfter) != 0) image.CloseImage();
}

}  // namespace

std::string DateText(uint16_t time, uint16_t date) {
  const int d0 = date & 0xFF, d1 = date >> 8, t0 = time & 0xFF, t1 = time >> 8;
  return Format("%02d-%02d-%02d %02d:%02d", ((d1 / 2) + 80) % 100, (d1 & 1) * 8 + d0 / 32, d0 & 31, t1 / 8,
                (t1 & 7) * 8 + t0 / 32);
}

int32_t ReadLabels(ImageState& image, const std::string& path, int32_t flags, std::string& typeLabel,
                   LabelTexts& texts) {
  if (!OpenIfAsked(image, path, flags)) return -1;
  const KdlHeader& h = image.header;
  for (int i = 0; i < kLabelLineCount; ++i) texts[static_cast<size_t>(i)] = h.LabelText(i);
  const std::string volume = IsBlankField(h.volumeLabel)
                                 ? std::string(kTypeNoLabel)
                                 : Format(kTypeVolumeLabel, Field(h.volumeLabel, kVolumeLabelLength).c_str());
  typeLabel = Format(kTypeLine, std::string(MediaName(h.mediaType)).c_str(), volume.c_str());
  CloseIfAsked(image, flags);
  return 0;
}

int32_t WriteLabels(ImageState& image, const std::string& path, int32_t flags, const LabelTexts& texts) {
  for (const std::string& text : texts) {
    if (text.size() > kLabelLineLength) {
      image.ShowImageError(kLabelTooLong);
      return -1;
    }
  }
  if (!OpenIfAsked(image, path, flags)) return -1;
  KdlHeader updated = image.header;
  for (int i = 0; i < kLabelLineCount; ++i) updated.SetLabelText(i, texts[static_cast<size_t>(i)]);
  // Rewrite the header as stored, changing only its label lines: what the reader adjusted in its copy of the
  // header (the type-7 geometry) must not reach the file.
  std::array<uint8_t, kKdlHeaderSize> stored{};
  File& file = image.file();
  const uint64_t base = static_cast<uint64_t>(image.baseOffset());
  bool ok = file.ReadAt(base, stored.data(), stored.size()) == static_cast<int64_t>(stored.size());
  if (ok) {
    SerializeLabelLines(updated, ByteSpan(stored.data(), stored.size()));
    ok = file.WriteAt(base, stored.data(), stored.size()) == static_cast<int64_t>(stored.size());
  }
  if (ok) {
    image.header.labels = updated.labels;
  } else {
    image.ShowImageError(kOutputError);
  }
  const bool inArchive = image.inArchive();
  CloseIfAsked(image, flags);
  if (!ok) return -1;
  if (!inArchive) image.work().listChanged = true;
  return 0;
}

int32_t ListImageInfo(ImageState& image, std::vector<std::string>& lines, int32_t flags,
                      const ArchiveImageInfo* inArchive) {
  if (!OpenIfAsked(image, image.work().currentImagePath, flags)) return -1;
  const KdlHeader& h = image.header;
  const MediaGeometry& g = h.geometry;
  const std::string media(MediaName(h.mediaType));
  if (inArchive != nullptr) {
    lines.push_back(Format(
        kArchiveFirstLine, inArchive->name.c_str(), media.c_str(), static_cast<long long>(inArchive->length),
        DateText(static_cast<uint16_t>(inArchive->dosTime), static_cast<uint16_t>(inArchive->dosTime >> 16))
            .c_str()));
  } else {
    lines.push_back(Format(kFileFirstLine, image.work().currentImagePath.c_str(), media.c_str(),
                           static_cast<long long>(image.file().Size()),
                           ModificationDateText(image.file()).c_str()));
  }
  if (IsBlankField(h.volumeLabel)) {
    lines.push_back(kNoVolumeLine);
  } else {
    lines.push_back(Format(kVolumeLine, Field(h.volumeLabel, kVolumeLabelLength).c_str(),
                           DateText(h.labelTime, h.labelDate).c_str()));
  }
  lines.push_back(" ");
  for (const std::string& label : h.labels) {
    if (!IsBlankField(label)) lines.push_back(Format(kLabelLine, Field(label, kLabelLineLength).c_str()));
  }
  lines.push_back(" ");
  lines.push_back(kTableHead);
  lines.push_back(kTableRule);
  int32_t errors = 0;
  image.PreloadUnits();
  for (int unit = 0; unit < g.cylinders; ++unit) {
    image.Pump();
    std::string line = UnitLine(unit, image.directory[static_cast<size_t>(unit)], g);
    if (image.ReadTrack(unit) != 0) {
      line += kUnitError;
      ++errors;
    }
    lines.push_back(std::move(line));
  }
  CloseIfAsked(image, flags);
  return errors;
}

}  // namespace kdl
