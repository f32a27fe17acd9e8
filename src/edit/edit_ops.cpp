#include "edit/edit_ops.h"

#include "common/sjis.h"
#include "common/text_format.h"
#include "edit/edit_messages.h"

namespace kdl {
namespace {

using namespace edit_text;

NewEntry Now(uint8_t attribute) {
  const uint32_t now = CurrentDosTime();
  return NewEntry{attribute, static_cast<uint16_t>(now & 0xFFFF), static_cast<uint16_t>(now >> 16)};
}

bool Ask(ImageState& ui, std::string_view caption, const std::string& text) {
  Prompter* p = ui.work().prompter;
  return p != nullptr && p->Ask(caption, text, Buttons::kYesNo, Icon::kQuestion) == Answer::kYes;
}

// True when some entry below the directory `dir` is read-only.
bool HoldsReadOnly(const FatVolume& v, uint16_t dir) {
  std::vector<uint16_t> pending{dir};
  std::vector<bool> seen(static_cast<size_t>(v.layout().lastCluster) + 1);
  while (!pending.empty()) {
    const uint16_t d = pending.back();
    pending.pop_back();
    if (d >= seen.size() || seen[d]) continue;
    seen[d] = true;
    for (const FatNode& node : v.Children(d)) {
      if ((node.entry.Attribute() & kAttrReadOnly) != 0) return true;
      if (node.IsDirectory()) pending.push_back(node.AsDirectory());
    }
  }
  return false;
}

// "\DIR\NAME" for `name` in the directory `dir`.
std::string ChildPath(const FatVolume& v, uint16_t dir, const std::string& name) {
  const std::string folder = v.PathOf(dir);
  return (folder == "\\" ? std::string() : folder) + "\\" + name;
}

}  // namespace

std::pair<std::string, std::string> SplitImagePath(const std::string& path) {
  std::string p = path;
  while (!p.empty() && (p.back() == '/' || p.back() == '\\')) p.pop_back();
  const size_t cut = p.find_last_of("/\\");
  if (cut == std::string::npos) return {std::string(), p};
  return {p.substr(0, cut), p.substr(cut + 1)};
}

bool MakeDirectoryIn(ImageEdit& edit, uint16_t dir, const std::string& name) {
  FatVolume& v = edit.volume();
  const int64_t free = v.FreeBytes();
  const std::string trimmed = TrimName(name);
  const FatStatus s = v.MakeDirectory(dir, trimmed, Now(0));
  if (s == FatStatus::kOk) return true;
  return ReportFatStatus(edit.image(), s, ChildPath(v, dir, trimmed), v.layout().clusterSize, free);
}

bool MakeDirectories(ImageEdit& edit, const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    const auto [folder, name] = SplitImagePath(path);
    const std::optional<uint16_t> dir = edit.volume().ResolveDirectory(folder);
    if (!dir) return ReportFatStatus(edit.image(), FatStatus::kNotFound, folder);
    if (!MakeDirectoryIn(edit, *dir, name)) return false;
  }
  return true;
}

bool RemoveEntry(ImageEdit& edit, const FatNode& node, const std::string& shown) {
  FatVolume& v = edit.volume();
  ImageState& ui = edit.image();
  if ((node.entry.Attribute() & kAttrReadOnly) != 0 &&
      !Ask(ui, kCaptionRemove, Format(kReadOnlyRemove, shown.c_str())))
    return false;
  if (node.IsDirectory() && HoldsReadOnly(v, node.AsDirectory()) &&
      !Ask(ui, kCaptionRemove, Format(kReadOnlyInside, shown.c_str())))
    return false;
  v.Remove(node);
  return true;
}

bool RemovePaths(ImageEdit& edit, const std::vector<std::string>& paths, bool recursive) {
  for (const std::string& path : paths) {
    const std::optional<FatNode> node = edit.volume().Resolve(path);
    if (!node) return ReportFatStatus(edit.image(), FatStatus::kNotFound, path);
    if (node->IsDirectory() && !recursive)
      return ReportFatStatus(edit.image(), FatStatus::kIsADirectory, path);
    if (!RemoveEntry(edit, *node, path)) return false;
  }
  return true;
}

bool RenameEntry(ImageEdit& edit, const FatNode& node, uint16_t newDir, std::string name,
                 const std::string& shown) {
  FatVolume& v = edit.volume();
  ImageState& ui = edit.image();
  name = TrimName(name);
  FatStatus s = v.Move(node, newDir, name);
  if (s == FatStatus::kExists) {
    const std::optional<FatNode> existing = v.Lookup(newDir, name);
    if (!existing || existing->IsDirectory() || node.IsDirectory()) return ReportFatStatus(ui, s, shown);
    if (!Ask(ui, kCaptionMove, Format(kExists, shown.c_str()))) return false;
    if ((existing->entry.Attribute() & kAttrReadOnly) != 0 &&
        !Ask(ui, kCaptionMove, Format(kReadOnlyReplace, shown.c_str())))
      return false;
    v.Remove(*existing);
    // The node was listed before the removal; its slots are where they were.
    s = v.Move(node, newDir, name);
  }
  if (s != FatStatus::kOk)
    return ReportFatStatus(ui, s, s == FatStatus::kIntoItself ? EntryPath(v, node) : shown);
  return true;
}

bool MovePath(ImageEdit& edit, const std::string& from, const std::string& to) {
  FatVolume& v = edit.volume();
  const std::optional<FatNode> node = v.Resolve(from);
  if (!node) return ReportFatStatus(edit.image(), FatStatus::kNotFound, from);
  auto [folder, name] = SplitImagePath(to);
  std::optional<uint16_t> dir = v.ResolveDirectory(folder);
  // The root, or an existing directory other than the entry itself, takes the entry under its own name.
  if (name.empty()) {
    name = node->Name();
  } else if (const std::optional<FatNode> target = v.Resolve(to);
             target && target->IsDirectory() && !(target->dir == node->dir && target->slot == node->slot)) {
    dir = target->AsDirectory();
    name = node->Name();
  }
  if (!dir) return ReportFatStatus(edit.image(), FatStatus::kNotFound, folder);
  return RenameEntry(edit, *node, *dir, name, to);
}

std::string EntryPath(const FatVolume& volume, const FatNode& node) {
  return ChildPath(volume, node.dir, node.Name());
}

bool ChangeAttributes(ImageEdit& edit, const std::string& path, uint8_t set, uint8_t clear, uint8_t* result) {
  FatVolume& v = edit.volume();
  const std::optional<FatNode> node = v.Resolve(path);
  if (!node) return ReportFatStatus(edit.image(), FatStatus::kNotFound, path);
  const auto attributes = static_cast<uint8_t>((node->entry.Attribute() | set) & ~clear);
  v.SetAttributes(*node, attributes);
  if (result != nullptr) *result = v.Resolve(path)->entry.Attribute();
  return true;
}

bool ChangeVolumeLabel(ImageEdit& edit, const std::string& label) {
  std::optional<ShortName11> name;
  if (label.find_first_not_of(' ') != std::string::npos) {
    name = MakeVolumeLabel(label);
    if (!name) {
      edit.image().ShowImageError(Format(kBadLabel, label.c_str()));
      return false;
    }
  }
  const NewEntry now = Now(0);
  const FatStatus s = edit.volume().SetVolumeLabel(name, now.time, now.date);
  return s == FatStatus::kOk || ReportFatStatus(edit.image(), s, label);
}

std::string LabelEntryText(const DirectoryEntry& entry) {
  std::string name = std::string(entry.Name()) + std::string(entry.Extension());
  if (!name.empty() && static_cast<uint8_t>(name[0]) == 0x05) name[0] = static_cast<char>(0xE5);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return SjisToUtf8(name);
}

std::optional<std::string> VolumeLabelText(const FatVolume& volume) {
  const std::optional<DirectoryEntry> entry = volume.VolumeLabel();
  if (!entry) return std::nullopt;
  return LabelEntryText(*entry);
}

}  // namespace kdl
