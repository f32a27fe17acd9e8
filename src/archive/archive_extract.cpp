// Cutting one image out of an archive, and rewriting the archive's label lines.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "archive/archive.h"
#include "archive/messages.h"
#include "browse/copyout.h"

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
  // Creating the output would empty the archive it is read from.
  if (IsSameFile(output, archive.file().fd())) {
    ShowArchiveError(archive, Format(kIsTheArchive, output.c_str()));
    return -1;
  }
  File out;
  if (!out.Open(output, File::Mode::kCreate)) {
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
    } else if (out.WriteAt(static_cast<uint64_t>(done), buffer.data(), n) != static_cast<int64_t>(n)) {
      failure = kOutputError;
    }
    if (failure != nullptr) {
      // A cut-off image would pass for a whole one by its name; leave nothing behind.
      out.Close();
      ::unlink(output.c_str());
      ShowArchiveError(archive, failure);
      return -1;
    }
    done += static_cast<int64_t>(n);
  }
  if (const auto when = DosToHostTime(archive.entry.time, archive.entry.date)) {
    const struct timespec times[2] = {{*when, 0}, {*when, 0}};
    ::futimens(out.fd(), times);
  }
  out.Close();
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
