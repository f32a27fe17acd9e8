// The browse list of a directory: one item per entry with its caption, type/size text and date text, the
// list's sort order, the folder tree, and looking entries up by a path typed by the user.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fat/directory.h"
#include "image/image.h"

namespace kdl {

// Type texts by which later commands recognise label and directory items.
inline constexpr std::string_view kLabelTypeText = "  [Label]   ";
inline constexpr std::string_view kDirectoryTypeText = "  <DIR>     ";

struct ListItem {
  std::string caption;   // UTF-8; a plain short name keeps its fixed-width 8 + "." + 3 form
  std::string typeText;  // "  [Label]   ", "  <DIR>     " or "hsra%8ld Bytes" with "-" for clear bits
  std::string dateText;  // "yy-mm-dd hh:mm"
  size_t index = 0;      // position of the entry in its table
};

// The items of a table in directory order; long-name pieces are not listed.
std::vector<ListItem> ListDirectory(const DirectoryTable& table);

// Orders two items by column 0 (caption), 1 (type/size) or 2 (date), times `sign` (+1 or -1). The label comes
// first and directories before files in the type column whatever the sign.
int CompareListItems(const ListItem& a, const ListItem& b, int column, int sign);

// The directories one walk of a tree has entered, by their clusters. A directory met again - a loop back to
// an ancestor, two entries that name one directory, directories that share clusters on a damaged disk - is
// told and not entered again, so that no tree, however it is crafted, is walked more than once per cluster.
class DirectoryVisits {
 public:
  explicit DirectoryVisits(ImageState& image);
  // True when the directory `entry` may be entered: none of its clusters was entered before in this walk.
  // Otherwise tells the user, naming it by `shownPath`, and returns false. A directory without clusters is
  // empty and may always be entered.
  bool Enter(const DirectoryEntry& entry, std::string_view shownPath);

 private:
  ImageState& image_;
  std::vector<bool> seen_;
};

struct FolderNode {
  std::string name;  // UTF-8 display name
  std::vector<FolderNode> children;
};
// Every directory below `table`, each entered once (DirectoryVisits), in table order. `depthLimit` bounds
// the depth of the tree.
std::vector<FolderNode> BuildFolderTree(ImageState& image, const DirectoryTable& table, int depthLimit = 64);

// The entry whose name matches `name`: a long name (ASCII letters case-insensitive), or the 8.3 name
// case-insensitively as DOS does. Long-name pieces and volume labels never match.
const DirectoryEntry* LookupName(const DirectoryTable& table, std::string_view name);

struct ResolvedPath {
  DirectoryTable table;                 // the directory that holds the entry (or the directory itself)
  std::optional<DirectoryEntry> entry;  // empty for the root
  size_t index = 0;                     // position of the entry in `table`
  std::string displayPath;              // "\DIR\NAME" with display names
};
// Resolves "/dir/file", "\DIR\FILE" or "" (the root) in the open image; "." and ".." components are taken
// as a shell takes them ("DIR/.." is the root). Empty when a component is missing or a middle component is
// not a directory.
std::optional<ResolvedPath> ResolveImagePath(ImageState& image, std::string_view path);

}  // namespace kdl
