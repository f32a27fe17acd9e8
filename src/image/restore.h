// Restore of an image onto a formatted floppy of the same media type, and output of an image as a raw sector
// image. Both read the image through ReadTrack, so they work the same for a ".KDL" file, an image inside an
// archive and a raw sector image.
#pragma once

#include <cstdint>
#include <string>

#include "drive/drive.h"
#include "image/image.h"

namespace kdl {

// Writes the image onto the disk in drive `driveNumber` (1 = A:), which must carry the image's media type;
// the user is asked to change a disk of another type. Open/close flags of the work area: kOpenFirst opens the
// current image path first, kCloseAfter closes the image at the end. Units without a used cluster are not
// written when the image leaves free clusters out. 0, or -1 on failure, refusal or cancellation.
// `verifyResult`, when given, receives the result of the verification, or kNotVerified.
int32_t RestoreToDrive(ImageState& state, DriveLayer& drives, int32_t driveNumber,
                       int32_t* verifyResult = nullptr);

// Writes every track unit of the image at `imagePath`, fully restored, into `outputPath` ("-": standard
// output), which is replaced only when complete; the image is opened first, so a missing image creates
// nothing. A write-protected output is replaced only on a person's Yes; one that is not a regular file is
// refused. Cylinders x track size, or -1 when the image cannot be opened, the output cannot be created, or
// the output stopped early.
int32_t WriteRawImage(ImageState& state, const std::string& imagePath, const std::string& outputPath);

}  // namespace kdl
