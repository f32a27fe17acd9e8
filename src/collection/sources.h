// What a collection is made of: image files, raw sector images and archives, lying in folders.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "collection/volume.h"
#include "common/prompt.h"

namespace kdl {

enum class SourceKind {
  kOther,       // not an image: left out of folder walks
  kImage,       // a ".KDL" image file
  kRawImage,    // a raw sector image
  kContainer,   // another tool's disk image (D88, FDI, ImageDisk, a gzip'd raw disk), read as an image
  kArchive,     // a ".KDZ" archive
  kUnreadable,  // named ".KDL" or ".KDZ" but cannot be opened or lacks the magic
};

// What the regular file at `path` holds, by its content: the image and archive magics, another tool's
// container (a gzip file in a folder walk only by its ".img.gz"/".ima.gz" name), else a boot sector whose
// total sector count names a media type. In a folder walk (`strict`) a raw image must also be exactly
// the size of its disk, so that other files are not taken for disks; a file named on the command line is
// taken as a raw image on its boot sector alone, as every image command takes it.
SourceKind ClassifySource(const std::string& path, bool strict);

// One image of an archive.
struct ArchiveImage {
  int32_t index = 0;       // from 0
  std::string name;        // the entry's name, "DISK3"
  int64_t baseOffset = 0;  // where the image starts in the archive
  int32_t length = 0;
  uint32_t dosTime = 0;    // the entry's DOS date-time (time in the low half)
  int16_t mediaType = -1;  // from the image header
  std::string label;       // the image's first label line, UTF-8, trailing blanks removed
};

// The images of the archive at `path`, in order, at most its header's count. False after a message when the
// archive cannot be opened, is not an archive, or its chain of records breaks (the images before the break
// are given).
bool ListArchiveImages(const std::string& path, Prompter& prompter, std::vector<ArchiveImage>& images);

// The name an archive image takes as a folder: "DISKn", or "DISKn label" when it has a first label line.
// Not yet made safe as a host file name.
std::string ArchiveImageFolderName(const ArchiveImage& image);

// The volume source of `image` in the archive at `archivePath`, named "archivePath:DISKn" in messages.
VolumeSource ArchiveImageSource(const std::string& archivePath, const ArchiveImage& image);

// One image met while walking a collection.
struct CollectionImage {
  std::string sourceText;  // the file as reached from the path given: "disks/a.KDZ"
  std::string entryName;   // "DISK3" for an image inside an archive, else empty
  VolumeSource source;
};

// Calls `image` for every image under `path`: the image itself, every image of an archive, or every image and
// archive below a folder, recursively and in name order (symbolic links to folders are not followed, so a
// link cannot make the walk loop). `path` may also be "ARCHIVE.KDZ:N" or "ARCHIVE.KDZ:DISKn". Returns false
// when something could not be read, after a message; the walk goes on past it.
bool WalkCollection(const std::string& path, Prompter& prompter,
                    const std::function<void(const CollectionImage&)>& image);

}  // namespace kdl
