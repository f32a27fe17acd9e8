#include "archive/archive_runs.h"

#include <sys/stat.h>

#include <cerrno>

#include "archive/messages.h"
#include "browse/host_names.h"
#include "common/sjis.h"

namespace kdl {

using namespace archive_text;

namespace {

// Points the image operations at the image at the base offset: they open it first and close it afterwards.
void PrepareImageRound(ArchiveState& archive) {
  ImageWork& work = archive.work();
  work.openCloseFlags = (work.openCloseFlags & ~0x0F) | kOpenFirst | kCloseAfter;
  work.currentImagePath = SjisToUtf8(archive.entry.NameText());
  work.followingImage = FollowingImageOffset(archive);
}

// The folder of one image, made when missing. Anything else of that name (a file, a
// symbolic link) is refused rather than followed.
bool MakeImageFolder(const std::filesystem::path& folder) {
  if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) return false;
  struct stat st {};
  return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int32_t RestoreAllImages(ArchiveState& archive, ImageState& image, int32_t flags,
                         const RestoreImageStep& step) {
  if ((flags & kOpenArchiveFirst) != 0 && OpenArchive(archive, archive.path) < 0) return -1;
  ImageWork& work = archive.work();
  const int32_t savedFlags = work.openCloseFlags;
  int32_t restored = 0;
  RewindArchive(archive);
  for (int32_t i = 0; i < archive.header.count; ++i) {
    const int32_t r = ReadEntry(archive);
    if (r < 0) restored = -1;
    if (r <= 0) break;
    PrepareImageRound(archive);
    if (step(archive, image) < 0) {
      restored = -1;
      break;
    }
    ++restored;
    SkipImage(archive);
  }
  work.openCloseFlags = savedFlags;
  work.followingImage = 0;
  image.DropLookAhead();
  if ((flags & kCloseArchiveAfter) != 0) CloseArchive(archive);
  return restored;
}

int32_t CopyAllImages(ArchiveState& archive, ImageState& image, const std::filesystem::path& destination,
                      bool flatten, OverwritePolicy policy, int32_t flags,
                      const std::function<void(std::string_view)>& showImage) {
  if ((flags & kOpenArchiveFirst) != 0 && OpenArchive(archive, archive.path) < 0) return -1;
  ImageWork& work = archive.work();
  const int32_t savedFlags = work.openCloseFlags;
  int32_t result = 0;
  // Images that could not be copied whole; the run goes on with the next one unless the user stops it.
  std::vector<std::string> failed;
  RewindArchive(archive);
  for (int32_t i = 0; i < archive.header.count; ++i) {
    const int32_t r = ReadEntry(archive);
    if (r < 0) result = -1;
    if (r <= 0) break;
    PrepareImageRound(archive);
    const std::string name = work.currentImagePath;
    if (showImage) showImage(Format(kProcessing, name.c_str()));
    std::filesystem::path target = destination;
    if (!flatten) {
      target /= SafeHostName(name);
      if (!MakeImageFolder(target)) {
        ShowArchiveError(archive, kCannotMakeFolder);
        result = -1;
        break;
      }
    }
    const uint64_t errorsBefore = image.errorsShown;
    const int32_t copied = CopyWholeImage(image, target, flatten, policy);
    if (copied == kCopyStopped) break;
    // An image that could not be opened, or whose copy told of damage or a failed write, is named at the end.
    if (copied < 0 || image.errorsShown != errorsBefore) failed.push_back(name);
    SkipImage(archive);
  }
  work.openCloseFlags = savedFlags;
  work.followingImage = 0;
  image.DropLookAhead();
  if (!failed.empty()) {
    std::string names;
    for (const std::string& n : failed) names += (names.empty() ? "" : ", ") + n;
    ShowArchiveError(archive, Format(kImagesNotCopied, names.c_str()));
    result = -1;
  }
  if ((flags & kCloseArchiveAfter) != 0) CloseArchive(archive);
  if (showImage) showImage("");
  return result;
}

}  // namespace kdl
