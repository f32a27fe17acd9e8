// Copying files and directory trees out of the open image into a host folder.
//
// Every copied file gets the time stamp of its directory entry (DOS times are local times) and, unless its
// attribute byte is the plain archive bit 0x20, its attributes: read-only clears every write bit of the host
// file, and the whole attribute byte is kept as one byte in the extended attribute "user.dos.attrib" where
// the file system has extended attributes (a plain archive file has none). An existing host file without any
// write bit (or that this process may not write) counts as write-protected: the overwrite policy alone never
// replaces it; the user is asked with Prompter::AskInPerson, and only a person's Yes replaces it. Recreated
// folders get their entry's time stamp too.
//
// A file whose bytes could not all be read from the image is still written (partial data is worth keeping)
// but marked: no time stamp, never read-only, the extended attribute "user.kdl.damaged", and a message that
// names it. Each damaged unit is told once per copy.
//
// Names from the disk pass through SafeHostName, and everything is created relative to an open handle of the
// chosen folder without following symbolic links, so no image can make us write outside that folder.
// Questions, messages, progress and the status line go through the work area's prompter.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "browse/dir_list.h"
#include "fat/directory.h"
#include "image/image.h"

namespace kdl {

// What to do when the target file exists.
enum class OverwritePolicy : int32_t {
  kNewer = 0,  // replace it only when it is older than the entry (by the minute)
  kAll = 1,    // always replace it; existence is not tested
  kAsk = 2,    // ask file by file
  kSkip = 3,   // never replace it
};

inline constexpr std::string_view kCopyCaption = "FILE Copy";
inline constexpr std::string_view kDosAttributeXattr = "user.dos.attrib";
// Marks a host file copied from an image whose units could not all be read: the value names the units and
// the byte ranges of the file they spoilt ("units=3,4;bytes=18432-20479", with ";chain=broken" when the
// cluster chain ended early). A marked file counts as older than any entry.
inline constexpr std::string_view kDamagedXattr = "user.kdl.damaged";

// What the copy routines return when the user chose to stop (any other failure is -1).
inline constexpr int32_t kCopyStopped = -2;

// One item of the browse list, as the copy of a selection sees it.
struct SelectionItem {
  std::string caption;   // UTF-8; a plain short name in its fixed-width form
  std::string typeText;  // "  [Label]   ", "  <DIR>     " or the attribute and size text
  bool selected = false;
};

// Copies the file table[index] into the folder `target`. `showProgress` drives the progress bar and the
// status line. 0: copied (also partly, from a damaged image), skipped, or the user chose to go on after a
// failure to create it; -1: stop after a failure; kCopyStopped: the user stopped.
int32_t CopyFileOut(ImageState& image, const DirectoryTable& table, size_t index,
                    const std::filesystem::path& target, OverwritePolicy policy, bool showProgress = true);

// Copies the directory table[index] with everything below it: recreated under `target`, or with `flatten`
// every file of the tree straight into `target`. 0, or the first negative result met.
int32_t CopyDirectoryOut(ImageState& image, const DirectoryTable& table, size_t index, OverwritePolicy policy,
                         bool flatten, const std::filesystem::path& target);

// Copies the selected items of the browse list showing `current`, in list order; the label item and the "."
// and ".." items are left out. Stops at the first item that ends with -1 and returns it, else 0.
int32_t CopySelection(ImageState& image, const DirectoryTable& current,
                      const std::vector<SelectionItem>& items, const std::filesystem::path& target,
                      bool flatten, OverwritePolicy policy);

// Copies the whole file system of the image, opening and closing it as the work area's open/close flags say.
// The last result of the root walk, or -1 when the image could not be opened.
int32_t CopyWholeImage(ImageState& image, const std::filesystem::path& target, bool flatten,
                       OverwritePolicy policy);

// A FAT time and date as a host time (read as local time); empty when the fields are not a valid date-time.
std::optional<std::time_t> DosToHostTime(uint16_t time, uint16_t date);
// A host time as a 32-bit DOS date-time in local time (date in the high half), held to 1980-2107.
uint32_t HostTimeToDos(std::time_t t);

}  // namespace kdl
