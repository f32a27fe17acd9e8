// Restore of an image onto a formatted floppy of the same media type, and output of an image as a raw sector
// image. Both read the image through ReadTrack, so they work the same for a ".KDL" file, an image inside an
// archive and a raw sector image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drive/drive.h"
#include "image/image.h"

namespace kdl {

// Writes the image onto the disk in drive `driveNumber` (1 = A:), which must carry the image's media type;
// the user is asked to change a disk of another type. Open/close flags of the work area: kOpenFirst opens the
// current image path first, kCloseAfter closes the image at the end. Units without a used cluster are not
// written when the image leaves free clusters out.
//
// Every unit to be written is read and checked before the first write, so that a damaged image never leaves
// a disk with a new FAT and directory over old data. When some units cannot be read, the work area's
// damagedUnits policy decides: refuse (nothing is written), ask, or write the readable units and fill the
// damaged ones with the media fill byte (they are named, and given in `filledUnits`). An image none of whose
// units can be read is always refused. 0, or -1 on failure, refusal or cancellation. `verifyResult`, when
// given, receives the result of the verification, or kNotVerified.
int32_t RestoreToDrive(ImageState& state, DriveLayer& drives, int32_t driveNumber,
                       int32_t* verifyResult = nullptr, std::vector<int32_t>* filledUnits = nullptr);

// The units of the open image that a restore writes and that cannot be read, checked one by one from their
// stored bytes; `written` receives the number of units a restore writes.
std::vector<int32_t> DamagedUnitsToWrite(ImageState& state, int32_t& written);

// Writes every track unit of the image at `imagePath`, fully restored, into `outputPath` ("-": standard
// output), which is replaced only when complete; the image is opened first, so a missing image creates
// nothing. A write-protected output is replaced only on a person's Yes; one that is not a regular file is
// refused. A unit that cannot be read is written as the media fill byte, and the units so filled are named and
// given in `filledUnits`: the output is the best copy there is. Cylinders x track size, or -1 when the image
// cannot be opened, the output cannot be created, or the output stopped early.
int32_t WriteRawImage(ImageState& state, const std::string& imagePath, const std::string& outputPath,
                      std::vector<int32_t>* filledUnits = nullptr);

}  // namespace kdl
