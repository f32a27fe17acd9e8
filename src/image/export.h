// Output of an image as a disk image for other tools: the raw sector image of its disk, or that disk in a
// D88, FDI, HDM, ImageDisk or gzip container.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drive/formats/container.h"
#include "image/image.h"
#include "image/listing.h"

namespace kdl {

// Writes every track unit of the image at `imagePath`, fully restored, into `outputPath` ("-": standard
// output) in `format`. The image is opened first, so a missing image creates nothing; a format that cannot
// describe the image's media type is refused before the output is touched. The output is replaced only when
// complete; a write-protected one only on a person's Yes, and one that is not a regular file never. A unit
// that cannot be read is written as the media fill byte, named, and given in `filledUnits` (see
// WriteRawImage). The length written, or -1 after telling the user why.
int64_t WriteImageAs(ImageState& state, const std::string& imagePath, const std::string& outputPath,
                     ContainerFormat format, std::vector<int32_t>* filledUnits = nullptr);

// The label lines a disk image of another tool carries: its D88 disk name or the lines of its ImageDisk
// comment, each cut to a label line's length (control characters become blanks); the rest empty.
LabelTexts ContainerLabels(const ContainerDisk& disk);
// The same for a file; all empty when it is no disk image of another tool, or one without a disk in it.
LabelTexts ContainerFileLabels(const std::string& path);

}  // namespace kdl
