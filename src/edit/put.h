// Putting host files and folders into an image: the other direction of the copy-out. Each file becomes an
// entry named after it (a long name where the 8.3 form cannot hold the name, Shift-JIS in the short name),
// with the host file's time stamp and the DOS attributes kept in the extended attribute "user.dos.attrib"
// where it has them (else the archive bit, and read-only when the host file has no write bit). An entry of
// the same name is replaced as the overwrite policy says, a read-only one only after a Yes.
//
// The work is done on the volume in memory; whatever is refused (a name DOS cannot hold, a file that does not
// fit, a full root, an entry of the same name of the other kind, a file that cannot be read) ends the whole
// put with a message, and the caller drops the change. Cancel does the same.
#pragma once

#include <filesystem>
#include <vector>

#include "browse/copyout.h"
#include "fat/volume.h"
#include "image/image.h"

namespace kdl {

struct PutOptions {
  OverwritePolicy policy = OverwritePolicy::kNewer;
  bool recursive = false;  // folders are put with their trees; without it a folder is refused
};

// Puts `sources` into the directory `dir`. `ui` carries the prompter for questions, progress and messages.
bool PutHostFiles(ImageState& ui, FatVolume& volume, uint16_t dir,
                  const std::vector<std::filesystem::path>& sources, const PutOptions& options);
// Puts what the folder `folder` holds (not the folder itself) into `dir`, with every tree below it.
bool PutFolderContents(ImageState& ui, FatVolume& volume, uint16_t dir, const std::filesystem::path& folder,
                       OverwritePolicy policy);

}  // namespace kdl
