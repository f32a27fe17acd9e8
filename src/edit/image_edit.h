// Changing what an image holds. An edit takes the image open in an ImageState, reads its whole disk into
// memory and gives a writable FAT volume over it; the changes are made there, and Commit writes the image
// back (image_writer.h). Nothing reaches the file before Commit, so a change that is refused or fails halfway
// is dropped by not committing it, and the image stays exactly as it was.
//
// Refused from the start, with a message: an image inside an archive, a file that may not be written, an
// image with a track unit that cannot be read, and a file system whose chains loop, cross or break off.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fat/volume.h"
#include "image/image.h"
#include "image/image_writer.h"

namespace kdl {

class ImageEdit {
 public:
  explicit ImageEdit(ImageState& image) : image_(image) {}
  ImageEdit(const ImageEdit&) = delete;
  ImageEdit& operator=(const ImageEdit&) = delete;

  // Takes the image open in the state, read from `path` (the ".KDL" file or the raw image), for changing.
  // False after telling the user why it cannot be changed.
  bool Begin(const std::string& path);
  // Writes the image back when its disk changed; the image is closed afterwards either way. False after
  // telling the user why; the file is then as it was.
  bool Commit();

  FatVolume& volume() { return *volume_; }
  ImageState& image() { return image_; }
  bool changed() const { return disk_ != before_; }

  // Asked before every write of Commit (tests make writes fail with it).
  WriteGate writeGate;

 private:
  ImageState& image_;
  std::string path_;
  std::vector<uint8_t> before_;
  std::vector<uint8_t> disk_;
  std::optional<FatVolume> volume_;
  std::optional<DirectoryEntry> labelBefore_;
};

// The time new entries get, as a DOS date-time (date in the high half): now, or SOURCE_DATE_EPOCH when it is
// set, so that a build of the same files can give the same image.
uint32_t CurrentDosTime();

// Tells the user why a change of `what` (a name or path in the image, UTF-8) failed; for kNoRoom, `needed` is
// the room it needed and `free` the room there was. Always returns false.
bool ReportFatStatus(ImageState& ui, FatStatus status, const std::string& what, int64_t needed = 0,
                     int64_t free = 0);

}  // namespace kdl
