// Copying an existing image file, or a raw sector image behind a header made for it, into an archive.
#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "archive/archive_add.h"
#include "archive/messages.h"
#include "browse/copyout.h"
#include "image/track_encode.h"

namespace kdl {

using namespace archive_text;

namespace {

constexpr size_t kCopyPiece = 16384;
constexpr int64_t kMaxEntryLength = std::numeric_limits<int32_t>::max();

// Checks that `file` (of `size` bytes) holds an image the reader can use: the magic, a media type with a
// geometry our buffers hold, and for every unit of the disk an entry whose stored bytes lie inside the file.
bool CheckImageFile(ArchiveState& archive, const std::string& source, const File& file, int64_t size) {
  std::array<uint8_t, kKdlHeaderSize + kTrackDirectorySize> head{};
  const bool whole = file.ReadAt(0, head.data(), head.size()) == static_cast<int64_t>(head.size());
  const std::optional<KdlHeader> header =
      whole ? ParseKdlHeader(ByteView(head.data(), kKdlHeaderSize)) : std::nullopt;
  if (!header) {
    ShowArchiveError(archive, Format(kNotAnImage, source.c_str()));
    return false;
  }
  // The reader takes type 7 with the table's geometry whatever the header holds.
  const MediaGeometry g =
      header->mediaType == kMediaTypeDmf ? MediaGeometryOf(kMediaTypeDmf) : header->geometry;
  if (!IsMediaType(header->mediaType) || !IsUsableGeometry(g)) {
    ShowArchiveError(archive, Format(kBadGeometry, source.c_str()));
    return false;
  }
  const TrackDirectory directory =
      *ParseTrackDirectory(ByteView(head.data() + kKdlHeaderSize, kTrackDirectorySize));
  for (int unit = 0; unit < g.cylinders; ++unit) {
    const TrackEntry& e = directory[static_cast<size_t>(unit)];
    const bool known = e.kind == kTrackNormal || e.kind == kTrackSameByte || e.kind == kTrackCompressed;
    bool fits =
        known && !TrackEntryProblem(e, unit, g) && (e.kind != kTrackNormal || e.storedLength == e.dataLength);
    if (fits && e.kind != kTrackSameByte) fits = static_cast<int64_t>(e.offset) + e.storedLength <= size;
    if (!fits) {
      ShowArchiveError(archive, Format(kBadTrackEntry, source.c_str(), unit));
      return false;
    }
  }
  return true;
}

// Copies `length` bytes of `from` (from its start) into the archive at `at`.
bool CopyInto(ArchiveState& archive, const File& from, int64_t length, int64_t at) {
  std::vector<uint8_t> buffer(kCopyPiece);
  for (int64_t done = 0; done < length;) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(length - done, kCopyPiece));
    if (from.ReadAt(static_cast<uint64_t>(done), buffer.data(), n) != static_cast<int64_t>(n)) {
      ShowArchiveError(archive, kInputError);
      return false;
    }
    if (!archive.WriteAt(at + done, buffer.data(), n)) {
      ShowArchiveError(archive, kOutputError);
      return false;
    }
    done += static_cast<int64_t>(n);
  }
  return true;
}

}  // namespace

int32_t BuildRawImageHeader(ArchiveState& archive, const std::string& source, File& raw,
                            std::array<uint8_t, kKdlHeaderSize>& headerBytes,
                            std::array<uint8_t, kTrackDirectorySize>& directoryBytes) {
  if (!raw.Open(source, File::Mode::kRead)) {
    ShowArchiveError(archive, Format(kCannotOpen, source.c_str()));
    return -1;
  }
  std::array<uint8_t, 24> boot{};
  if (raw.ReadAt(0, boot.data(), boot.size()) != static_cast<int64_t>(boot.size())) {
    ShowArchiveError(archive, kInputError);
    raw.Close();
    return -1;
  }
  const int32_t type = MediaTypeFromBootSector(ByteView(boot.data(), boot.size()));
  if (type < 0) {
    ShowArchiveError(archive, kUnsupportedDisk);
    raw.Close();
    return -1;
  }
  KdlHeader header = MakeKdlHeader(static_cast<int16_t>(type));
  const MediaGeometry& g = header.geometry;
  // The stored units start behind the header and directory that precede them in the archive.
  TrackDirectory directory{};
  for (int j = 0; j < g.cylinders; ++j) {
    TrackEntry& e = directory[static_cast<size_t>(j)];
    e.offset = j * g.trackSize + kTrackDataOffset;
    e.storedLength = g.trackSize;
    e.dataLength = g.trackSize;
  }
  // The volume label and its date come from the root directory, read as far as the file holds it.
  std::vector<uint8_t> head(static_cast<size_t>(g.rootStart + g.rootSectors) *
                            static_cast<size_t>(g.sectorSize));
  const int64_t got = raw.ReadAt(0, head.data(), head.size());
  head.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
  TakeVolumeLabelFromRoot(ByteView(head.data(), head.size()), header, true);
  SerializeKdlHeader(header, ByteSpan(headerBytes.data(), headerBytes.size()));
  SerializeTrackDirectory(directory, ByteSpan(directoryBytes.data(), directoryBytes.size()));
  return raw.fd();
}

int64_t AddImageFile(ArchiveState& archive, const std::string& source, const LabelTexts& labels) {
  ImageWork& work = archive.work();
  struct stat st {};
  if (::stat(source.c_str(), &st) != 0) {
    ShowArchiveError(archive, kNoInputFile);
    return 0;
  }
  struct stat self {};
  if (::fstat(archive.file().fd(), &self) == 0 && self.st_dev == st.st_dev && self.st_ino == st.st_ino) {
    ShowArchiveError(archive, Format(kIsTheArchive, source.c_str()));
    return -1;
  }
  File file;
  if (!S_ISREG(st.st_mode) || !file.Open(source, File::Mode::kRead)) {
    ShowArchiveError(archive, kCannotOpenInput);
    return 0;
  }
  const int64_t size = file.Size();
  const int64_t at = archive.baseOffset();
  int64_t length = size;
  if (work.rawSource) {
    std::array<uint8_t, kKdlHeaderSize> header{};
    std::array<uint8_t, kTrackDirectorySize> directory{};
    if (BuildRawImageHeader(archive, source, file, header, directory) < 0) return -1;
    const KdlHeader parsed = *ParseKdlHeader(ByteView(header.data(), header.size()));
    const int64_t disk = static_cast<int64_t>(parsed.geometry.cylinders) * parsed.geometry.trackSize;
    if (size < disk) {
      ShowArchiveError(archive, Format(kRawTooShort, source.c_str()));
      return -1;
    }
    length = size + kRawImageOverhead;
    if (length > kMaxEntryLength) {
      ShowArchiveError(archive, Format(kTooLarge, source.c_str()));
      return -1;
    }
    KdlHeader labelled = parsed;
    for (int i = 0; i < kLabelLineCount; ++i) {
      std::string text(CutSjisText(labels[static_cast<size_t>(i)], kLabelLineLength));
      text.resize(kLabelLineLength, ' ');
      labelled.labels[static_cast<size_t>(i)] = text;
    }
    SerializeLabelLines(labelled, ByteSpan(header.data(), header.size()));
    if (!archive.WriteAt(at, header.data(), header.size()) ||
        !archive.WriteAt(at + static_cast<int64_t>(kKdlHeaderSize), directory.data(), directory.size())) {
      ShowArchiveError(archive, kOutputError);
      return -1;
    }
    if (!CopyInto(archive, file, size, at + kRawImageOverhead)) return -1;
  } else {
    if (size > kMaxEntryLength) {
      ShowArchiveError(archive, Format(kTooLarge, source.c_str()));
      return -1;
    }
    if (!CheckImageFile(archive, source, file, size)) return -1;
    if (!CopyInto(archive, file, size, at)) return -1;
  }
  const uint32_t when = HostTimeToDos(st.st_mtime);
  archive.entry.time = static_cast<uint16_t>(when);
  archive.entry.date = static_cast<uint16_t>(when >> 16);
  return length;
}

}  // namespace kdl
