#include "browse/dir_list.h"

#include <algorithm>
#include <cstdio>

#include "browse/fat.h"
#include "common/sjis.h"
#include "common/text_format.h"
#include "fat/dos_names.h"

namespace kdl {
namespace {

constexpr const char* kDirectoryMetAgain =
    "ディレクトリ %s は他のディレクトリと同じ場所を指しているため読みません";

std::string FixedWidthShortName(const DirectoryEntry& e) {
  std::string raw(e.Name());
  // A stored 0x05 stands for a name that begins with the Shift-JIS lead byte 0xE5.
  if (!raw.empty() && static_cast<uint8_t>(raw[0]) == 0x05) raw[0] = static_cast<char>(0xE5);
  raw += '.';
  raw += e.Extension();
  return SjisToUtf8(raw);
}

std::string TypeText(const DirectoryEntry& e) {
  if (e.IsVolumeLabel()) return std::string(kLabelTypeText);
  if (e.IsDirectory()) return std::string(kDirectoryTypeText);
  const uint8_t a = e.Attribute();
  char text[32];
  std::snprintf(text, sizeof text, "%c%c%c%c%8ld Bytes", (a & kAttrHidden) ? 'h' : '-',
                (a & kAttrSystem) ? 's' : '-', (a & kAttrReadOnly) ? 'r' : '-',
                (a & kAttrArchive) ? 'a' : '-', static_cast<long>(e.Size()));
  return text;
}

int Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

int CompareBytes(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<uint8_t>(a[i]), y = static_cast<uint8_t>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// The components of a path, with "." and ".." taken as a shell takes them ("DIR/.." is the root, never the
// ".." entry of DIR, which would be copied as a folder of that name).
std::vector<std::string_view> ShellPathComponents(std::string_view path) {
  std::vector<std::string_view> parts;
  for (const std::string_view part : PathComponents(path)) {
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (part != ".") {
      parts.push_back(part);
    }
  }
  return parts;
}

}  // namespace

std::vector<ListItem> ListDirectory(const DirectoryTable& table) {
  std::vector<ListItem> items;
  for (size_t i = 0; i < table.size(); ++i) {
    const DirectoryEntry& e = table[i];
    if (e.IsLongNamePiece()) continue;
    ListItem item;
    std::string name;
    item.caption = EntryDisplayName(table, i, name) == 0 ? FixedWidthShortName(e) : name;
    item.typeText = TypeText(e);
    item.dateText = FatDateText(e.Time(), e.Date());
    item.index = i;
    items.push_back(std::move(item));
  }
  return items;
}

int CompareListItems(const ListItem& a, const ListItem& b, int column, int sign) {
  switch (column) {
    case 0:
      return CompareBytes(a.caption, b.caption) * sign;
    case 1: {
      const bool aLabel = a.typeText == kLabelTypeText, bLabel = b.typeText == kLabelTypeText;
      // A disk with two label entries must still sort consistently: they are equal to each other.
      if (aLabel || bLabel) return aLabel == bLabel ? 0 : (aLabel ? -1 : 1);
      const bool aDir = a.typeText == kDirectoryTypeText, bDir = b.typeText == kDirectoryTypeText;
      if (aDir != bDir) return aDir ? -1 : 1;
      const std::string_view at = std::string_view(a.typeText).substr(std::min<size_t>(4, a.typeText.size()));
      const std::string_view bt = std::string_view(b.typeText).substr(std::min<size_t>(4, b.typeText.size()));
      return CompareBytes(at, bt) * sign;
    }
    default:
      return Sign(CompareDateTexts(a.dateText, b.dateText)) * sign;
  }
}

DirectoryVisits::DirectoryVisits(ImageState& image)
    : image_(image), seen_(static_cast<size_t>(std::max<int32_t>(image.layout.lastCluster + 1, 0))) {}

bool DirectoryVisits::Enter(const DirectoryEntry& entry, std::string_view shownPath) {
  const std::vector<int32_t> clusters = ChainClusters(image_, entry.FirstCluster());
  for (const int32_t c : clusters) {
    if (seen_[static_cast<size_t>(c)]) {
      image_.ReportOnce("DIR " + std::string(shownPath),
                        Format(kDirectoryMetAgain, std::string(shownPath).c_str()));
      return false;
    }
  }
  for (const int32_t c : clusters) seen_[static_cast<size_t>(c)] = true;
  return true;
}

namespace {

std::vector<FolderNode> FolderNodes(ImageState& image, const DirectoryTable& table, const std::string& path,
                                    int depthLimit, DirectoryVisits& visits) {
  std::vector<FolderNode> nodes;
  if (depthLimit <= 0) return nodes;
  for (size_t i = 0; i < table.size(); ++i) {
    const DirectoryEntry& e = table[i];
    if (!e.IsDirectory() || e.NameByte(0) == '.') continue;
    FolderNode node;
    EntryDisplayName(table, i, node.name);
    const std::string shown = path + "\\" + node.name;
    if (visits.Enter(e, shown)) {
      const DirectoryTable sub = LoadSubdirectory(image, e);
      if (!sub.empty()) node.children = FolderNodes(image, sub, shown, depthLimit - 1, visits);
    }
    nodes.push_back(std::move(node));
  }
  return nodes;
}

}  // namespace

std::vector<FolderNode> BuildFolderTree(ImageState& image, const DirectoryTable& table, int depthLimit) {
  DirectoryVisits visits(image);
  return FolderNodes(image, table, "", depthLimit, visits);
}

const DirectoryEntry* LookupName(const DirectoryTable& table, std::string_view name) {
  for (size_t i = 0; i < table.size(); ++i) {
    const DirectoryEntry& e = table[i];
    if (e.IsLongNamePiece() || e.IsVolumeLabel()) continue;
    std::string display;
    EntryDisplayName(table, i, display);
    if (SameDosName(display, name)) return &e;
    std::string shortName = ShortName(e);
    if (!shortName.empty() && static_cast<uint8_t>(shortName[0]) == 0x05)
      shortName[0] = static_cast<char>(0xE5);
    if (SameDosName(SjisToUtf8(shortName), name)) return &e;
  }
  return nullptr;
}

std::optional<ResolvedPath> ResolveImagePath(ImageState& image, std::string_view path) {
  ResolvedPath r;
  r.table = image.root;
  const std::vector<std::string_view> parts = ShellPathComponents(path);
  for (size_t k = 0; k < parts.size(); ++k) {
    const DirectoryEntry* e = LookupName(r.table, parts[k]);
    if (e == nullptr) return std::nullopt;
    r.index = static_cast<size_t>(e - r.table.data());
    std::string display;
    EntryDisplayName(r.table, r.index, display);
    r.displayPath += "\\" + display;
    r.entry = *e;
    if (k + 1 < parts.size()) {
      if (!e->IsDirectory()) return std::nullopt;
      // ".." with first cluster 0 leads back to the root; any other directory without a cluster is empty.
      DirectoryTable next = LoadSubdirectory(image, *e);
      r.table = std::move(next);
      r.entry.reset();
    }
  }
  return r;
}

}  // namespace kdl
