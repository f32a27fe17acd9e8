// Output of an image as a disk image for other tools: the raw sector image of its disk, or that disk in a
// D88, FDI, HDM, ImageDisk or gzip container.
#pragma once

#include <cstdint>
#include <string>

#include "drive/formats/container.h"
#include "image/image.h"

namespace kdl {

// Writes every track unit of the image at `imagePath`, fully restored, into `outputPath` in `format`. The
// output is replaced only when complete. A format that cannot describe the image's media type is refused
// before anything is read. The length written, or -1 after telling the user why.
int64_t WriteImageAs(ImageState& state, const std::string& imagePath, const std::string& outputPath,
                     ContainerFormat format);

}  // namespace kdl
