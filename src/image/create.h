// Image creation from a floppy drive: the disk is read track unit by track unit into a ".KDL" image (also at
// a base offset inside an open archive) or a raw sector image; and the verification of an image against a
// disk.
//
// The operations use the FAT copy, the track directory and the work buffer of the ImageState as scratch space
// and end with the image closed. They report progress, errors and questions through work().prompter.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "drive/drive.h"
#include "image/image.h"

namespace kdl {

// Caption of the creation's questions.
inline constexpr std::string_view kCaptionCreate = "ＫＤＬ　作成";

// No verification ran (a result the verification itself never gives).
inline constexpr int32_t kNotVerified = -2;

// Reads the disk in drive `driveNumber` (1 = A:) into `target`: a ".KDL" image when the work area names a
// base offset inside the open archive or the name ends in ".KDL" (any case), a raw sector image otherwise.
// `labels` are the four label lines (Shift-JIS, at most 40 bytes each). `typeLabel` receives the media type
// line (UTF-8), which the prompter is shown as soon as it is known. A standalone target ("-": standard
// output) is written under a temporary name and replaces an earlier file only when complete; an existing one
// is replaced only after the question (a write-protected one only on a person's Yes), and a target that is
// not a regular file is refused. Returns the image length in bytes, or -1 on failure, refusal or
// cancellation. `verifyResult`, when given, receives the verification's result, or kNotVerified.
int32_t CreateImage(ImageState& state, DriveLayer& drives, const std::string& target, int32_t driveNumber,
                    const std::array<std::string, kLabelLineCount>& labels, std::string& typeLabel,
                    int32_t* verifyResult = nullptr);

// Detects the media type of the disk in `driveNumber` and fills `header` with the table's geometry and the
// disk's volume label (taken from its root directory; a name of more than 8 characters gets a "." after the
// eighth). The media type, or -1.
int32_t BuildHeaderFromDrive(ImageState& state, DriveLayer& drives, int32_t driveNumber, KdlHeader& header);

// Writes the ".KDL" image of the disk in drive `driveIndex` (0 = A:). The image length, or -1.
int32_t WriteKdlFromDrive(ImageState& state, DriveLayer& drives, KdlHeader& header, int32_t driveIndex,
                          const std::string& target, int32_t* verifyResult = nullptr);

// Writes the raw sector image of the disk: cylinders x track size bytes, or -1 when it stopped early. With
// the verify option the file is then compared with the disk (not standard output, "-").
int32_t WriteRawFromDrive(ImageState& state, DriveLayer& drives, const KdlHeader& header, int32_t driveIndex,
                          const std::string& target, int32_t* verifyResult = nullptr);

// Reads track unit `unit` (starting at logical sector `firstSector`) into `buffer` (kTrackBufferSize bytes),
// first filled with the media fill byte. With `omitUnused`, a unit without a used cluster is not read at all;
// the sectors of clusters that the disk's own FAT (state.fat, by state.layout) marks bad are never read in
// units above 0. 0, or -1 on a drive read error.
int32_t ReadUnitFromDrive(ImageState& state, DriveLayer& drives, uint8_t* buffer, bool omitUnused,
                          int32_t unit, const KdlHeader& header, int32_t firstSector);

// Clusters of track unit `unit` whose entry in state.unitFat holds data (bad clusters count as free); for
// unit 0, the number of clusters of a unit.
int32_t CountUsedClusters(const ImageState& state, int32_t unit, const KdlHeader& header);

// Removes the free clusters of `unit` from `buffer` and returns the bytes kept; for unit 0 it copies the
// first FAT of the header's geometry from the buffer into state.unitFat and returns the track size.
int32_t CompactUnit(ImageState& state, const KdlHeader& header, int32_t unit, uint8_t* buffer);

// For a unit above 0 of a header with free clusters left out, fills every free or bad cluster of the unit in
// `buffer` with the media fill byte.
void BlankFreeClusters(const ImageState& state, const KdlHeader& header, int32_t unit, uint8_t* buffer);

// Compares the open image with the disk in `driveNumber`, unit by unit. Without `afterRestore`, free clusters
// are blanked on both sides first. The number of track units that differ, or -1.
int32_t VerifyAgainstDrive(ImageState& state, DriveLayer& drives, int32_t driveNumber,
                           const KdlHeader& header, bool afterRestore);

}  // namespace kdl
