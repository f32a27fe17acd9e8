// The changes made to entries named by their paths in the image ("\DIR\NAME" or "/dir/name", long or 8.3
// names): new directories, removal, renaming and moving, attributes and the volume label. Each works on the
// volume of an edit, asks through the image's prompter where an entry would be replaced or a read-only one
// removed, and tells the user why it refuses; the caller commits the edit only when it returns true.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "edit/image_edit.h"

namespace kdl {

// Makes the directories `paths`; the folder each goes into must exist.
bool MakeDirectories(ImageEdit& edit, const std::vector<std::string>& paths);
// Removes files, and with `recursive` directories with everything below them. Removing a read-only entry, or
// a directory that holds one, needs the user's Yes.
bool RemovePaths(ImageEdit& edit, const std::vector<std::string>& paths, bool recursive);
// Renames or moves `from`: into `to` when that is a directory, else to the path `to`. An existing file there
// is replaced only when the user says Yes.
bool MovePath(ImageEdit& edit, const std::string& from, const std::string& to);
// Sets and then clears attribute bits (read-only, hidden, system, archive) of `path`; `result` receives the
// entry's attribute byte afterwards.
bool ChangeAttributes(ImageEdit& edit, const std::string& path, uint8_t set, uint8_t clear, uint8_t* result);
// Sets the volume label, in the root directory and in the boot sector; an empty text removes it.
bool ChangeVolumeLabel(ImageEdit& edit, const std::string& label);
// The volume label (UTF-8, trailing blanks removed), or empty when the disk has none.
std::optional<std::string> VolumeLabelText(const FatVolume& volume);
// The text of a volume label entry, as VolumeLabelText gives it.
std::string LabelEntryText(const DirectoryEntry& entry);

// The same changes on entries already looked up, or in a directory named by its cluster; `shown` names the
// entry in messages.
bool MakeDirectoryIn(ImageEdit& edit, uint16_t dir, const std::string& name);
bool RemoveEntry(ImageEdit& edit, const FatNode& node, const std::string& shown);
bool RenameEntry(ImageEdit& edit, const FatNode& node, uint16_t newDir, std::string name,
                 const std::string& shown);
// "\DIR\NAME" for an entry, display names.
std::string EntryPath(const FatVolume& volume, const FatNode& node);

// The folder part and the last name of a path in the image ("\A\B" gives "\A" and "B").
std::pair<std::string, std::string> SplitImagePath(const std::string& path);

}  // namespace kdl
