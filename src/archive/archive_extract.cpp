// Cutting one image out of an archive, and rewriting the archive's label lines.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "archive/archive.h"
#include "archive/messages.h"
#include "browse/copyout.h"
#include "image/output_file.h"

namespace kdl {

using namespace archive_text;

namespace {

constexpr size_t kCopyPiece = 16384;

// True when `path` names the very file that `fd` has open.
bool IsSameFile(const std::string& path, int fd) {
  struct stat a {
  }, b{};
  return ::stat(path.c_str(), &a) == 0 && ::fstat(fd, &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

}  // namespace

int64_t ExtractEntry(ArchiveState& archive, const std::string& output, int32_t index) {
  if (PositionOnEntry(archive, index) != 1) return -1;
  // Replacing the output would empty the archive it is read from.
  if (output != kStandardOutputName && IsSameFile(output, archive.file().fd())) {
    ShowArchiveError(archive, Format(kIsTheArchive, output.c_str()));
    return -1;
  }
  if (output != kStandardOutputName && ExamineTarget(output) == TargetKind::kWriteProtected &&
      !ConfirmReplace(archive.work().prompter, kCaptionArchive, output, {}))
    return -1;
  // The image is written whole under a temporary name, so that a cut-off image never passes for a whole one
  // by its name, and an earlier file of that name stays as it was until the new one is complete.
  ReplacingFile out;
  if (!out.Create(output)) {
    ShowArchiveError(archive, kCannotOpenOutput);
    return -1;
  }
  std::vector<uint8_t> buffer(kCopyPiece);
  const int64_t length = archive.entry.length;
  const uint64_t from = static_cast<uint64_t>(archive.baseOffset());
  for (int64_t done = 0; done < length;) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(length - done, kCopyPiece));
    const char* failure = nullptr;
    if (archive.file().ReadAt(from + static_cast<uint64_t>(done), buffer.data(), n) !=
        static_cast<int64_t>(n)) {
      failure = kInputError;
    } else if (out.file().WriteAt(static_cast<uint64_t>(done), buffer.data(), n) != static_cast<int64_t>(n)) {
      failure = kOutputError;
    }
    if (failure != nullptr) {
      out.Discard();
      ShowArchiveError(archive, failure);
      return -1;
    }
    done += static_cast<int64_t>(n);
  }
  if (const auto when = DosToHostTime(archive.entry.time, archive.entry.date)) out.SetModificationTime(*when);
  if (!out.Commit()) {
    ShowArchiveError(archive, kOutputError);
    return -1;
  }
  return length;
}

int32_t WriteArchiveLabels(ArchiveState& archive, const std::string& path, int32_t flags,
                           const std::array<std::string, kArchiveLabelCount>& texts) {
  if ((flags & kOpenArchiveFirst) != 0 && OpenArchive(archive, path) < 0) return -1;
  int32_t result = -1;
  if (archive.work().readOnly) {
    ShowArchiveError(archive, kWriteProtected);
  } else {
    const bool ownLock = !archive.locked;
    if (LockArchive(archive)) {
      for (int i = 0; i < kArchiveLabelCount; ++i)
        archive.header.SetLabelText(i, texts[static_cast<size_t>(i)]);
      if (WriteArchiveHeader(archive)) {
        for (int i = 0; i < kArchiveLabelCount; ++i)
          archive.labelTexts[static_cast<size_t>(i)] = archive.header.LabelText(i);
        archive.work().listChanged = true;
        result = 0;
      } else {
        ShowArchiveError(archive, kOutputError);
      }
      if (ownLock) UnlockArchive(archive);
    }
  }
  if ((flags & kCloseArchiveAfter) != 0) CloseArchive(archive);
  return result;
}

}  // namespace kdl
