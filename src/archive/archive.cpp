#include "archive/archive.h"

#include <sys/file.h>
#include <unistd.h>

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

int32_t ReadEntry(ArchiveState& archive) {
  const int64_t at = archive.baseOffset();
  const int32_t number = archive.entryIndex + 2;
  std::array<uint8_t, kArchiveEntrySize> bytes{};
  const int64_t size = archive.file().Size();
  const bool whole = at >= kFirstRecordOffset &&
                     archive.file().ReadAt(static_cast<uint64_t>(at), bytes.data(), bytes.size()) ==
                         static_cast<int64_t>(bytes.size());
  if (whole) {
    archive.entry = ParseArchiveEntry(ByteView(bytes.data(), bytes.size()));
    if (archive.entry.IsEnd()) return 0;
    // The image must lie inside the file; the next record may be missing (an addition in progress).
    const int64_t imageStart = at + static_cast<int64_t>(kArchiveEntrySize);
    if (archive.entry.length >= 0 && imageStart + archive.entry.length <= size) {
      archive.setBaseOffset(imageStart);
      ++archive.entryIndex;
      return 1;
    }
  }
  ShowArchiveError(archive, Format(kBrokenEntry, archive.path.c_str(), number));
  return kEntryBroken;
}

void SkipImage(ArchiveState& archive) { archive.setBaseOffset(archive.baseOffset() + archive.entry.length); }

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

bool AcquireArchiveLock(ArchiveState& archive) {
  if (archive.locked) return true;
  const int fd = archive.file().fd();
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
  archive.locked = true;
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
