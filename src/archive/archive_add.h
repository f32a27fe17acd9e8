// Adding images to an archive: one image per round, each written behind a new entry record at the end of the
// chain, and an existing image or raw sector image file copied in as one such image.
//
// A round first writes 32 zero bytes where the new record goes and the image behind them, then a new
// terminator behind the image; only then does it fill in the record and finally raise the count in the
// header. An addition that stops at any point therefore leaves every earlier image and the count as they
// were. The archive is locked against other processes for the whole run.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "archive/archive.h"
#include "image/listing.h"

namespace kdl {

// What a run of AddFloppies asks, round after round, of whoever supplies the images: the window program's
// image dialog, or `kdl add` with its list of sources.
class ImageAdder {
 public:
  virtual ~ImageAdder() = default;
  // False when there is nothing more to add; the run then ends without another round.
  virtual bool WantsAnother() { return true; }
  // Writes the next image at the archive's base offset (the work area's archive file and base offset; the
  // current image path holds the entry's name "DISKn", the low four open/close bits are 3, the dialog mode
  // is 0). Reads a floppy into the archive, or calls AddImageFile. Returns the image's length, or 0 or less
  // when nothing was added, which ends the run. A source file's time may be left in archive.entry.
  virtual int64_t AddImage(ArchiveState& archive, ImageState& image) = 0;
};

// Creates the archive `path` (kCreateArchive: with the two label texts) or opens it (unless it is open
// already and kOpenArchiveFirst is clear), and adds images until the adder stops. A new archive is built
// beside any file of its name and replaces it only when at least one image was added (or none was asked
// for): a run that adds nothing leaves the old file as it was. An existing archive is appended to only when
// its whole chain is sound and agrees with its count. Closes it with kCloseArchiveAfter. The number of images
// added, or -1 when the archive could not be created, opened for writing, locked, walked to its end or put
// in place.
int32_t AddFloppies(ArchiveState& archive, ImageState& image, const std::string& path, int32_t flags,
                    const std::array<std::string, kArchiveLabelCount>& labels, ImageAdder& adder);

// Copies the file `source` into the archive at the base offset: a ".KDL" image as it is, or, when the work
// area's raw-source flag is set, a raw sector image behind a header and directory made for it with the four
// label lines. The file is checked first (an image: its magic, geometry and a directory whose entries fit the
// file; a raw image: a known sector count and the whole disk present), and nothing is written when it fails.
// Sets the entry's date and time to the file's. The image length, or 0 / -1 after a message.
int64_t AddImageFile(ArchiveState& archive, const std::string& source, const LabelTexts& labels);

// A KDL header and directory for the raw sector image `source`, opened into `raw`: its media type from the
// boot sector's sector count, the table's geometry, every unit stored plainly behind the 1,536 header bytes,
// and the volume label and its date from the disk's root directory. The file descriptor, or -1 after a
// message.
int32_t BuildRawImageHeader(ArchiveState& archive, const std::string& source, File& raw,
                            std::array<uint8_t, kKdlHeaderSize>& header,
                            std::array<uint8_t, kTrackDirectorySize>& directory);

// The current local date and time as a DOS date-time (time in the low half).
uint32_t LocalDosDateTime();

}  // namespace kdl
