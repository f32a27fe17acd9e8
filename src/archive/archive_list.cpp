// The archive list, the summary shown by the archive dialog and the report of a whole archive.
#include <sys/stat.h>

#include <algorithm>

#include "archive/archive.h"
#include "archive/messages.h"
#include "browse/copyout.h"
#include "common/sjis.h"

namespace kdl {

using namespace archive_text;

namespace {

// Columns of a list line.
constexpr size_t kLineWidth = 80;
constexpr size_t kMediaColumn = 10;
constexpr size_t kDateColumn = 22;
constexpr size_t kLabelColumn = 38;
constexpr size_t kVolumeColumn = 53;
constexpr std::string_view kVolumeCaption = "Volume LABEL :";

// Puts `text` into `line` at `column`, never past the line's end.
void Place(std::string& line, size_t column, std::string_view text) {
  for (size_t i = 0; i < text.size() && column + i < line.size(); ++i) line[column + i] = text[i];
}

}  // namespace

std::string FormatEntryLine(const ArchiveEntry& entry, ByteView imageHeader) {
  std::array<uint8_t, kKdlHeaderSize> h{};
  std::copy_n(imageHeader.data(), std::min(imageHeader.size(), h.size()), h.begin());
  const ByteView head(h.data(), h.size());

  std::string line(kLineWidth, ' ');
  // A name byte that prints as nothing (a damaged or crafted record) shows as "?": the line never starts
  // blank or ends at the name.
  for (size_t i = 0; i < kEntryNameLength && entry.name[i] != '.'; ++i) {
    const auto b = static_cast<uint8_t>(entry.name[i]);
    line[i] = b < 0x20 || b == 0x7F ? '?' : entry.name[i];
  }
  const int16_t mediaType = head.I16(kdl_header::kMediaType);
  Place(line, kMediaColumn, MediaName(mediaType));
  Place(line, kDateColumn, DateText(entry.time, entry.date));

  const std::string_view volume = head.Text(kdl_header::kVolumeLabel, kVolumeLabelLength);
  const std::string_view label = head.Text(kdl_header::kLabelLines, kLabelLineLength);
  if (mediaType == kArchiveNameIndex || label[0] != ' ' || volume[0] == ' ') {
    Place(line, kLabelColumn, label);
  } else {
    Place(line, kLabelColumn, kVolumeCaption);
    Place(line, kVolumeColumn, volume.substr(0, std::min(volume.find('\0'), volume.size())));
  }
  // The line is a C string in the list: a zero byte taken from the image ends it.
  line.resize(std::min(line.find('\0'), line.size()));
  return line;
}

int32_t ListArchive(ArchiveState& archive, const std::function<void(const std::string&)>& line) {
  RewindArchive(archive);
  int32_t lines = 0;
  for (; lines < archive.header.count; ++lines) {
    const int32_t r = ReadEntry(archive);
    if (r < 0) return -1;
    if (r == 0) break;
    // An image shorter than its header shows zeros for what it lacks, never the next record's bytes.
    std::array<uint8_t, kKdlHeaderSize> head{};
    const size_t want = static_cast<size_t>(std::min<int64_t>(archive.entry.length, kKdlHeaderSize));
    const int64_t got = archive.file().ReadAt(static_cast<uint64_t>(archive.baseOffset()), head.data(), want);
    line(FormatEntryLine(archive.entry,
                         ByteView(head.data(), static_cast<size_t>(std::max<int64_t>(got, 0)))));
    SkipImage(archive);
  }
  // Records beyond the count (an addition that stopped before it raised the count) or fewer than it are said.
  return ChainEndsAtCount(archive, lines) ? lines : -1;
}

int32_t ShowArchiveSummary(ArchiveState& archive, const std::string& path, int32_t flags,
                           std::string& statusText) {
  if ((flags & kOpenArchiveFirst) != 0 && OpenArchive(archive, path) < 0) return -1;
  for (int i = 0; i < kArchiveLabelCount; ++i)
    archive.labelTexts[static_cast<size_t>(i)] = archive.header.LabelText(i);
  statusText = Format(kImageCount, archive.header.count);
  if ((flags & kCloseArchiveAfter) != 0) CloseArchive(archive);
  return 0;
}

int32_t ArchiveReport(ArchiveState& archive, ImageState& image, int32_t flags,
                      const std::function<void(const std::string&)>& line) {
  ImageWork& work = archive.work();
  if ((flags & kOpenArchiveFirst) != 0 && OpenArchive(archive, archive.path) < 0) return -1;
  struct stat st {};
  const bool stated = ::fstat(archive.file().fd(), &st) == 0;
  const uint32_t modified = stated ? HostTimeToDos(st.st_mtime) : 0;
  line(Format(kReportFirstLine, archive.path.c_str(), stated ? static_cast<long long>(st.st_size) : 0LL,
              DateText(static_cast<uint16_t>(modified), static_cast<uint16_t>(modified >> 16)).c_str()));
  line(" ");

  const int32_t savedFlags = work.openCloseFlags;
  int32_t failures = 0;
  RewindArchive(archive);
  int32_t walked = 0;
  bool broken = false;
  for (int32_t i = 0; i < archive.header.count; ++i) {
    const int32_t r = ReadEntry(archive);
    broken = r < 0;
    if (r < 0) ++failures;
    if (r <= 0) break;
    ++walked;
    line(" ");
    const ArchiveImageInfo info = CurrentImageInfo(archive);
    work.currentImagePath = info.name;
    work.openCloseFlags = (savedFlags & ~0x0F) | kOpenFirst | kCloseAfter;
    work.followingImage = FollowingImageOffset(archive);
    std::vector<std::string> lines;
    const int32_t errors = ListImageInfo(image, lines, kOpenFirst | kCloseAfter, &info);
    for (const std::string& l : lines) line(l);
    failures += errors < 0 ? 1 : errors;
    SkipImage(archive);
  }
  if (!broken && !ChainEndsAtCount(archive, walked)) ++failures;
  work.openCloseFlags = savedFlags;
  work.followingImage = 0;
  image.DropLookAhead();
  if ((flags & kCloseArchiveAfter) != 0) CloseArchive(archive);
  return failures;
}

}  // namespace kdl
