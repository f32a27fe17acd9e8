// The label lines of the open image and its information listing: a text report of the header and of every
// track unit, which also reads and checks every unit.
//
// Every operation honours the open/close flags: kOpenFirst opens the image named by the path first,
// kCloseAfter closes it at the end.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "image/image.h"

namespace kdl {

// "yy-mm-dd hh:mm" from a FAT time and date; years count from 1980 and are shown modulo 100.
std::string DateText(uint16_t time, uint16_t date);

// Label texts are Shift-JIS bytes, as the header holds them.
using LabelTexts = std::array<std::string, kLabelLineCount>;

// Fills `texts` with the four label lines (trailing blanks removed) and `typeLabel` (UTF-8) with the media
// name and the volume label. 0, or -1 when the image could not be opened.
int32_t ReadLabels(ImageState& image, const std::string& path, int32_t flags, std::string& typeLabel,
                   LabelTexts& texts);

// Rewrites the four label lines in place: only the label bytes of the header at the image's start change,
// also inside an archive. Texts longer than 40 bytes are refused. 0, or -1 after telling the user why.
int32_t WriteLabels(ImageState& image, const std::string& path, int32_t flags, const LabelTexts& texts);

// Where an image inside an archive comes from, for the first line of its listing.
struct ArchiveImageInfo {
  std::string name;      // the entry's name ("DISK1")
  int32_t length = 0;    // the image length the entry records
  uint32_t dosTime = 0;  // the entry's DOS date-time (time in the low half)
};

// Appends the listing of the image (UTF-8 lines) to `lines`; `inArchive` describes an image inside an
// archive, null for a standalone file. Returns the number of track units that failed to read, or -1 when the
// image could not be opened.
int32_t ListImageInfo(ImageState& image, std::vector<std::string>& lines, int32_t flags,
                      const ArchiveImageInfo* inArchive = nullptr);

}  // namespace kdl
