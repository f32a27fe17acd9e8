// The runs that work through every image of an archive: restoring them to floppies one after the other, and
// copying the files of every image out into a host folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>

#include "archive/archive.h"
#include "browse/copyout.h"

namespace kdl {

// Restores the image at the base offset, as the image dialog does in restore mode (the current image path
// holds the entry's name, the low four open/close bits are 3). 0 when the run may go on (restored or
// skipped), negative to stop it.
using RestoreImageStep = std::function<int32_t(ArchiveState& archive, ImageState& image)>;

// Runs `step` for every image, at most the header's count and stopping at the terminator; kOpenArchiveFirst
// opens archive.path first, kCloseArchiveAfter closes it afterwards. The number of images for which the step
// returned 0, or -1 when the archive could not be opened, the chain broke or a step stopped the run.
int32_t RestoreAllImages(ArchiveState& archive, ImageState& image, int32_t flags,
                         const RestoreImageStep& step);

// Copies the whole file system of every image into `destination`: each image into a folder named after its
// entry (created when missing; a name from the file is made harmless first), or all into `destination`
// itself with `flatten`. `showImage` receives "処理中　KDL:%s" for each image and an empty text at the end.
// An image that cannot be opened, or whose copy meets damage or a failed write, does not end the run: the
// next image is copied, and the images that failed are named in one message at the end. Only the user's stop
// ends the run early (with what was done so far). 0, or -1 when the archive could not be opened or walked, an
// image's folder could not be made, or an image failed (after a message). The archive stays open unless
// kCloseArchiveAfter.
int32_t CopyAllImages(ArchiveState& archive, ImageState& image, const std::filesystem::path& destination,
                      bool flatten, OverwritePolicy policy, int32_t flags,
                      const std::function<void(std::string_view)>& showImage = {});

}  // namespace kdl
