// A new image of a blank, formatted disk (fat/format.h), optionally with a volume label and with a host
// folder's tree put on it: a ".KDL" image when the target's name ends in ".KDL" (any case), a raw sector
// image otherwise.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "image/image.h"
#include "image/image_writer.h"

namespace kdl {

struct FormatOptions {
  int32_t mediaType = 2;
  std::string volumeLabel;                          // UTF-8; blank for none
  std::array<std::string, kLabelLineCount> labels;  // Shift-JIS label lines of a ".KDL" image
  bool compress = true;
  bool omitUnused = true;                     // off for the media types that store every cluster
  std::optional<std::filesystem::path> from;  // a folder whose contents go on the disk
};

// Writes the new image as `target`, asking before an existing file is replaced. `ui` carries the prompter and
// the codec. The image length, or -1 after telling the user why (an existing target is then untouched).
int32_t FormatImage(ImageState& ui, const std::string& target, const FormatOptions& options,
                    const WriteGate& gate = nullptr);

}  // namespace kdl
