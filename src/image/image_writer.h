// Writing a whole disk held in memory as an image file: a new ".KDL" or raw sector image, or an image that
// was opened, changed in memory and is now written back.
//
// A written image always goes to a temporary file beside its target, is read back through the image reader
// and compared with the disk, and only then takes the target's place: whatever fails (a write, the check, a
// cancel), the old file stays exactly as it was. When an image is written back, only the track units whose
// stored form changes are encoded again; every other unit is copied as it was stored, and the header keeps
// its label lines and options.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image/image.h"

namespace kdl {

// Asked before every write to the new file (and before it takes the old one's place); false makes that write
// fail. Tests use it to fail each write in turn.
using WriteGate = std::function<bool()>;

// The volume label fields of a header: written when the disk's label entry changed.
struct HeaderLabel {
  std::string volumeLabel;  // 12 Shift-JIS bytes, as HeaderVolumeLabel gives them; spaces for none
  uint16_t time = 0;
  uint16_t date = 0;
};

// Writes `disk` (the whole disk of header.mediaType) as a new image at `target`: a ".KDL" image with `header`
// (media type, label lines, volume label; free clusters left out as its omitUnused says) when `header` is
// given, a raw sector image when not. `state` carries the prompter, the codec and the cancel request. The
// image length, or -1 after telling the user why.
int32_t WriteNewImage(ImageState& state, const std::string& target, const std::vector<uint8_t>& disk,
                      const KdlHeader* header, bool compress, const WriteGate& gate = nullptr);

// Writes the image open in `image` (a standalone ".KDL" file or a raw sector image at `path`) back with its
// disk changed from `before` to `after`. A ".KDL" image keeps its stored header, with the volume label fields
// replaced when `label` is given; its units are compressed when it holds compressed units or none stored
// plain. A raw image keeps any bytes after the disk. The image length, or -1 after telling the user why.
int32_t RewriteImage(ImageState& image, const std::string& path, const std::vector<uint8_t>& before,
                     const std::vector<uint8_t>& after, const std::optional<HeaderLabel>& label,
                     const WriteGate& gate = nullptr);

// True when the image stores its units compressed: it holds a compressed unit, or no unit stored plain.
bool StoresCompressed(const TrackDirectory& directory, int32_t cylinders);

// The whole disk of the open image, unit after unit through the track cache. False (after the reader's
// message) when a unit cannot be read.
bool ReadWholeDisk(ImageState& image, std::vector<uint8_t>& disk);

}  // namespace kdl
