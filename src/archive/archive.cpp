#include "archive/archive.h"

#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>

#include "archive/messages.h"
#include "common/sjis.h"

namespace kdl {

using namespace archive_text;

namespace {

// How long one Retry waits for another process to finish its change before asking again.
constexpr int kLockWaitSteps = 300;
constexpr useconds_t kLockWaitStep = 100000;

bool TryLock(int fd) {
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

ArchiveState::ArchiveState(ImageWork& work) : work_(work) {}

ArchiveState::~ArchiveState() = default;

bool ArchiveState::WriteAt(int64_t offset, const void* data, size_t size) {
  if (writeGate && !writeGate()) return false;
  return offset >= 0 &&
         file_.WriteAt(static_cast<uint64_t>(offset), data, size) == static_cast<int64_t>(size);
}

void ShowArchiveError(ArchiveState& archive, std::string_view text) {
  if (archive.work().prompter != nullptr)
    archive.work().prompter->Ask(kCaptionArchive, text, Buttons::kOk, Icon::kStop);
}

std::string WithArchiveExtension(const std::string& path) {
  const std::string name = std::filesystem::path(path).filename().string();
  if (name.empty() || name.find('.') != std::string::npos) return path;
  return path + ".KDZ";
}

int32_t OpenArchive(ArchiveState& archive, const std::string& path) {
  CloseArchive(archive);
  const std::string name = WithArchiveExtension(path);
  ImageWork& work = archive.work();
  File& file = archive.file();
  if (!OpenForChange(file, name, work.readOnly)) {
    ShowArchiveError(archive, Format(kCannotOpen, path.c_str()));
    return -1;
  }
  std::array<uint8_t, kArchiveHeaderSize> bytes{};
  std::optional<ArchiveHeader> header;
  if (file.ReadAt(0, bytes.data(), bytes.size()) == static_cast<int64_t>(bytes.size()))
    header = ParseArchiveHeader(ByteView(bytes.data(), bytes.size()));
  if (!header) {
    file.Close();
    return -1;
  }
  archive.path = name;
  archive.header = *header;
  for (int i = 0; i < kArchiveLabelCount; ++i)
    archive.labelTexts[static_cast<size_t>(i)] = header->LabelText(i);
  work.archiveFile = &file;
  RewindArchive(archive);
  return file.fd();
}

void CloseArchive(ArchiveState& archive) {
  UnlockArchive(archive);
  archive.file().Close();
  ImageWork& work = archive.work();
  if (work.archiveFile == &archive.file()) work.archiveFile = nullptr;
  work.baseOffset = 0;
  archive.entryIndex = -1;
}

void RewindArchive(ArchiveState& archive) {
  archive.setBaseOffset(kFirstRecordOffset);
  archive.entryIndex = -1;
}

RecordKind ReadRecord(const File& file, int64_t at, ArchiveEntry& entry) {
  std::array<uint8_t, kArchiveEntrySize> bytes{};
  const int64_t size = file.Size();
  if (at < kFirstRecordOffset || size < 0 || at > size) return RecordKind::kBroken;
  // A file that ends where a record would start, or inside a record whose first byte is zero, ends the chain
  // as a terminator does: nothing of an image lies there.
  if (at == size) return RecordKind::kEnd;
  const int64_t got = file.ReadAt(static_cast<uint64_t>(at), bytes.data(), bytes.size());
  if (got >= 1 && bytes[0] == 0) {
    entry = ArchiveEntry{};
    return RecordKind::kEnd;
  }
  if (got != static_cast<int64_t>(bytes.size())) return RecordKind::kBroken;
  entry = ParseArchiveEntry(ByteView(bytes.data(), bytes.size()));
  // Every writer marks a record in use with a space; any other byte means the walk has lost the chain.
  if (entry.marker != kEntryInUse) return RecordKind::kBroken;
  // The image must lie inside the file; the next record may be missing (an addition in progress).
  const int64_t imageStart = at + static_cast<int64_t>(kArchiveEntrySize);
  if (entry.length < 0 || imageStart + entry.length > size) return RecordKind::kBroken;
  // An image whose own track directory reaches past the record's length has a wrong length when the chain
  // does not go on behind it: appending there would write over its last bytes.
  const int64_t next = imageStart + entry.length;
  if (StoredImageEnd(file, imageStart) > entry.length) {
    ArchiveEntry following;
    std::array<uint8_t, kArchiveEntrySize> peek{};
    const bool goesOn = file.ReadAt(static_cast<uint64_t>(next), peek.data(), peek.size()) ==
                            static_cast<int64_t>(peek.size()) &&
                        (following = ParseArchiveEntry(ByteView(peek.data(), peek.size())),
                         following.marker == kEntryInUse && following.length >= 0 &&
                             next + static_cast<int64_t>(kArchiveEntrySize) + following.length <= size);
    if (!goesOn) return RecordKind::kBroken;
  }
  return RecordKind::kInUse;
}

int64_t StoredImageEnd(const File& file, int64_t imageStart) {
  std::array<uint8_t, kKdlHeaderSize + kTrackDirectorySize> head{};
  if (file.ReadAt(static_cast<uint64_t>(imageStart), head.data(), head.size()) !=
      static_cast<int64_t>(head.size()))
    return -1;
  const std::optional<KdlHeader> header = ParseKdlHeader(ByteView(head.data(), kKdlHeaderSize));
  if (!header) return -1;
  const TrackDirectory directory =
      *ParseTrackDirectory(ByteView(head.data() + kKdlHeaderSize, kTrackDirectorySize));
  const int cylinders = header->mediaType == kMediaTypeDmf ? MediaGeometryOf(kMediaTypeDmf).cylinders
                                                           : header->geometry.cylinders;
  int64_t end = static_cast<int64_t>(kKdlHeaderSize + kTrackDirectorySize);
  for (int unit = 0; unit < std::clamp(cylinders, 0, kTrackDirectoryEntries); ++unit) {
    const TrackEntry& e = directory[static_cast<size_t>(unit)];
    if (e.kind != kTrackNormal && e.kind != kTrackCompressed) continue;
    end = std::max(end, int64_t{e.offset} + e.storedLength);
  }
  return end;
}

int32_t ReadEntry(ArchiveState& archive) {
  const int64_t at = archive.baseOffset();
  const int32_t number = archive.entryIndex + 2;
  switch (ReadRecord(archive.file(), at, archive.entry)) {
    case RecordKind::kEnd:
      archive.entry = ArchiveEntry{};
      return 0;
    case RecordKind::kInUse:
      archive.setBaseOffset(at + static_cast<int64_t>(kArchiveEntrySize));
      ++archive.entryIndex;
      return 1;
    case RecordKind::kBroken:
      break;
  }
  ShowArchiveError(archive, Format(kBrokenEntry, archive.path.c_str(), number));
  return kEntryBroken;
}

ChainSurvey SurveyChain(ArchiveState& archive) {
  ChainSurvey survey;
  ArchiveEntry entry;
  for (int64_t at = kFirstRecordOffset;;) {
    survey.end = at;
    const RecordKind kind = ReadRecord(archive.file(), at, entry);
    if (kind == RecordKind::kEnd) return survey;
    if (kind == RecordKind::kBroken) {
      survey.broken = true;
      return survey;
    }
    ++survey.records;
    at += static_cast<int64_t>(kArchiveEntrySize) + entry.length;
  }
}

std::string ChainProblem(ArchiveState& archive, const ChainSurvey& survey) {
  const int32_t count = archive.header.count;
  // A chain broken, or ending, before the count is met: the entry that should follow is not right. More
  // records than the count: an addition that stopped before it raised the count, or a damaged count.
  if (survey.broken || (survey.records < count && count >= 0))
    return Format(kBrokenEntry, archive.path.c_str(), survey.records + 1);
  if (survey.records != count) return Format(kCountMismatch, archive.path.c_str(), count, survey.records);
  return {};
}

bool ChainEndsAtCount(ArchiveState& archive, int32_t walked) {
  ArchiveEntry entry;
  const bool ends = walked == archive.header.count &&
                    ReadRecord(archive.file(), archive.baseOffset(), entry) == RecordKind::kEnd;
  if (!ends) {
    const std::string problem = ChainProblem(archive, SurveyChain(archive));
    ShowArchiveError(archive,
                     problem.empty() ? Format(kBrokenEntry, archive.path.c_str(), walked + 1) : problem);
  }
  return ends;
}

void SkipImage(ArchiveState& archive) { archive.setBaseOffset(archive.baseOffset() + archive.entry.length); }

int64_t FollowingImageOffset(ArchiveState& archive) {
  const int64_t record = archive.baseOffset() + archive.entry.length;
  std::array<uint8_t, kArchiveEntrySize> bytes{};
  if (archive.entry.length < 0 || archive.file().ReadAt(static_cast<uint64_t>(record), bytes.data(),
                                                        bytes.size()) != static_cast<int64_t>(bytes.size()))
    return 0;
  const ArchiveEntry next = ParseArchiveEntry(ByteView(bytes.data(), bytes.size()));
  return next.IsEnd() || next.length <= 0 ? 0 : record + static_cast<int64_t>(kArchiveEntrySize);
}

int32_t PositionOnEntry(ArchiveState& archive, int32_t index) {
  RewindArchive(archive);
  for (int32_t i = 0;; ++i) {
    const int32_t r = i < archive.header.count ? ReadEntry(archive) : 0;
    if (r < 0) return r;
    if (r == 0 || index < 0) {
      ShowArchiveError(archive, Format(kNoSuchEntry, archive.path.c_str(), index + 1));
      return 0;
    }
    if (i == index) return 1;
    SkipImage(archive);
  }
}

int32_t FindArchiveEntry(ArchiveState& archive, std::string_view name) {
  RewindArchive(archive);
  for (int32_t i = 0; i < archive.header.count; ++i) {
    const int32_t r = ReadEntry(archive);
    if (r < 0) return -1;
    if (r == 0) break;
    if (SameNameIgnoringCase(archive.entry.NameText(), name)) return i;
    SkipImage(archive);
  }
  ShowArchiveError(archive, Format(kNoSuchName, archive.path.c_str(), std::string(name).c_str()));
  return -1;
}

bool TryLockOn(int fd) { return TryLock(fd); }

bool AcquireArchiveLock(ArchiveState& archive) {
  if (archive.locked) return true;
  if (!AcquireLockOn(archive, archive.file().fd())) return false;
  archive.locked = true;
  return true;
}

bool AcquireLockOn(ArchiveState& archive, int fd) {
  bool got = TryLock(fd);
  while (!got) {
    if (errno != EWOULDBLOCK) {
      ShowArchiveError(archive, Format(kCannotOpen, archive.path.c_str()));
      return false;
    }
    Prompter* prompter = archive.work().prompter;
    const Answer answer = prompter != nullptr
                              ? prompter->Ask(kCaptionArchive, Format(kBusy, archive.path.c_str()),
                                              Buttons::kRetryCancel, Icon::kQuestion)
                              : Answer::kCancel;
    if (answer != Answer::kRetry) return false;
    for (int i = 0; i < kLockWaitSteps && !got; ++i) {
      ::usleep(kLockWaitStep);
      got = TryLock(fd);
    }
  }
  return true;
}

bool LockArchive(ArchiveState& archive) {
  if (archive.locked) return true;
  if (!AcquireArchiveLock(archive)) return false;
  // Another process may have added images or changed the labels since the header was read.
  std::array<uint8_t, kArchiveHeaderSize> bytes{};
  std::optional<ArchiveHeader> header;
  if (archive.file().ReadAt(0, bytes.data(), bytes.size()) == static_cast<int64_t>(bytes.size()))
    header = ParseArchiveHeader(ByteView(bytes.data(), bytes.size()));
  if (!header) {
    ShowArchiveError(archive, kInputError);
    UnlockArchive(archive);
    return false;
  }
  archive.header = *header;
  return true;
}

void UnlockArchive(ArchiveState& archive) {
  if (!archive.locked) return;
  ::flock(archive.file().fd(), LOCK_UN);
  archive.locked = false;
}

bool WriteArchiveHeader(ArchiveState& archive) {
  std::array<uint8_t, kArchiveHeaderSize> bytes{};
  SerializeArchiveHeader(archive.header, ByteSpan(bytes.data(), bytes.size()));
  return archive.WriteAt(0, bytes.data(), bytes.size());
}

ArchiveImageInfo CurrentImageInfo(const ArchiveState& archive) {
  return ArchiveImageInfo{SjisToUtf8(archive.entry.NameText()), archive.entry.length,
                          archive.entry.DosDateTime()};
}

}  // namespace kdl
