// `kdl format`, `put`, `mkdir`, `rm`, `mv`, `attrib` and `vol`: each opens the image, makes its change in
// memory and writes the image back only when the whole change succeeded.
#include <filesystem>
#include <iostream>

#include "common/text_format.h"
#include "edit/edit_ops.h"
#include "edit/format_image.h"
#include "edit/image_edit.h"
#include "edit/put.h"
#include "kdl/commands.h"
#include "kdl/commands_archive.h"
#include "kdl/commands_edit.h"

namespace kdlcli {
namespace {

constexpr size_t kLabelBytes = 40;

// Opens IMAGE and begins changing it. False after the reason was told.
bool BeginEdit(Session& s, kdl::ImageEdit& edit, const std::string& operand) {
  if (HasKdzExtension(operand)) {
    std::cerr << "kdl: " << operand
              << " is an archive: extract the image (kdl extract), change it and add it again" << std::endl;
    return false;
  }
  if (!OpenImageOperand(s, operand)) return false;
  if (edit.Begin(operand)) return true;
  s.image.CloseImage();
  return false;
}

// Writes the change when it succeeded; otherwise the image stays as it was.
int Finish(Session& s, kdl::ImageEdit& edit, bool ok) {
  if (!ok) {
    s.image.CloseImage();
    return kExitFailed;
  }
  return edit.Commit() ? kExitOk : kExitFailed;
}

std::string AttributeLetters(uint8_t a) {
  return kdl::Format("%c%c%c%c", (a & kdl::kAttrHidden) ? 'h' : '-', (a & kdl::kAttrSystem) ? 's' : '-',
                     (a & kdl::kAttrReadOnly) ? 'r' : '-', (a & kdl::kAttrArchive) ? 'a' : '-');
}

// "+r", "-h", ... into the bits to set and to clear.
void ParseAttributeChanges(const std::vector<std::string>& changes, uint8_t& set, uint8_t& clear) {
  for (const std::string& c : changes) {
    uint8_t bit = 0;
    if (c.size() == 2) {
      switch (c[1]) {
        case 'r':
        case 'R':
          bit = kdl::kAttrReadOnly;
          break;
        case 'h':
        case 'H':
          bit = kdl::kAttrHidden;
          break;
        case 's':
        case 'S':
          bit = kdl::kAttrSystem;
          break;
        case 'a':
        case 'A':
          bit = kdl::kAttrArchive;
          break;
        default:
          break;
      }
    }
    if (bit == 0 || (c[0] != '+' && c[0] != '-')) throw UsageError{"attrib: unknown change \"" + c + "\""};
    if (c[0] == '+') {
      set |= bit;
      clear = static_cast<uint8_t>(clear & ~bit);
    } else {
      clear |= bit;
      set = static_cast<uint8_t>(set & ~bit);
    }
  }
}

int CmdFormat(Session& s, const EditArgs& a) {
  kdl::FormatOptions o;
  o.mediaType = a.type;
  o.volumeLabel = a.volumeLabel;
  o.compress = !a.noCompress;
  o.omitUnused = !a.keepUnused;
  if (!a.labels.empty() && !HasKdlExtension(a.image))
    throw UsageError{"label lines (-l) belong to a .KDL image; " + a.image + " would be a raw image"};
  if (a.labels.size() > o.labels.size()) throw UsageError{"at most four label lines (-l) are taken"};
  for (size_t i = 0; i < a.labels.size(); ++i) o.labels[i] = LabelToSjis(a.labels[i], kLabelBytes);
  if (!a.from.empty()) {
    std::error_code ec;
    if (!std::filesystem::is_directory(a.from, ec)) throw UsageError{"--from " + a.from + ": not a folder"};
    o.from = a.from;
  }
  return kdl::FormatImage(s.image, a.image, o) >= 0 ? kExitOk : kExitFailed;
}

int CmdPut(Session& s, const EditArgs& a) {
  kdl::ImageEdit edit(s.image);
  if (!BeginEdit(s, edit, a.image)) return kExitFailed;
  const std::optional<uint16_t> dir = edit.volume().ResolveDirectory(a.to);
  if (!dir) return Finish(s, edit, kdl::ReportFatStatus(s.image, kdl::FatStatus::kNotFound, a.to));
  std::vector<std::filesystem::path> sources(a.paths.begin(), a.paths.end());
  kdl::PutOptions o;
  o.policy = ParsePolicy(a.policy);
  o.recursive = a.recursive;
  return Finish(s, edit, kdl::PutHostFiles(s.image, edit.volume(), *dir, sources, o));
}

int CmdAttrib(Session& s, const EditArgs& a) {
  uint8_t set = 0, clear = 0;
  ParseAttributeChanges(a.changes, set, clear);
  const std::string& path = a.attribPath;
  kdl::ImageEdit edit(s.image);
  if (!BeginEdit(s, edit, a.image)) return kExitFailed;
  uint8_t now = 0;
  if (!kdl::ChangeAttributes(edit, path, set, clear, &now)) return Finish(s, edit, false);
  const std::string where = kdl::EntryPath(edit.volume(), *edit.volume().Resolve(path));
  std::cout << AttributeLetters(now) << "  " << PrintableText(where) << std::endl;
  return Finish(s, edit, true);
}

int CmdVol(Session& s, const EditArgs& a, bool change) {
  kdl::ImageEdit edit(s.image);
  if (!BeginEdit(s, edit, a.image)) return kExitFailed;
  if (change && !kdl::ChangeVolumeLabel(edit, a.label)) return Finish(s, edit, false);
  const std::optional<std::string> label = kdl::VolumeLabelText(edit.volume());
  std::cout << (label ? "Volume LABEL : " + PrintableText(*label) : std::string("NO VOLUME LABEL"))
            << std::endl;
  return Finish(s, edit, true);
}

}  // namespace

EditCommands AddEditCommands(CLI::App& app) {
  EditCommands c;
  c.args = std::make_shared<EditArgs>();
  EditArgs& a = *c.args;
  constexpr const char* kImageHelp = "Image to change: a .KDL file or a raw sector image";

  c.format = app.add_subcommand("format",
                                "Make a blank formatted disk image (with --from, holding a folder's tree)");
  c.format->add_option("TARGET", a.image, "Image to write: .KDL (any case) for an image, else a raw image")
      ->required();
  c.format->add_option("--type", a.type, "Media type 0-7 (kdl test lists the names)")
      ->required()
      ->check(CLI::Range(0, 7));
  c.format->add_option("--label", a.volumeLabel, "Volume label (up to 11 bytes in Shift-JIS)");
  c.format->add_option("-l", a.labels, "Label line of a .KDL image (up to four times, 40 bytes in Shift-JIS)")
      ->expected(0, 4);
  c.format->add_option("--from", a.from, "Folder whose files and folders go on the new disk");
  c.format->add_flag("--no-compress", a.noCompress, "Store the track units uncompressed");
  c.format->add_flag("--keep-unused", a.keepUnused, "Keep the free clusters instead of leaving them out");

  c.put = app.add_subcommand("put", "Copy host files (with -r, folders) into the image");
  c.put->add_option("IMAGE", a.image, kImageHelp)->required();
  c.put->add_option("HOSTPATH", a.paths, "Host files and folders to copy in")->required();
  c.put->add_option("--to", a.to, "Directory inside the image (default: the root)");
  c.put->add_flag("-r,--recursive", a.recursive, "Copy folders with their trees");
  c.put->add_option("--policy", a.policy, "When an entry exists: newer (default), all, ask, skip")
      ->check(CLI::IsMember({"newer", "all", "ask", "skip"}));

  c.mkdir = app.add_subcommand("mkdir", "Make directories inside the image");
  c.mkdir->add_option("IMAGE", a.image, kImageHelp)->required();
  c.mkdir->add_option("PATH", a.paths, "Directories to make")->required();

  c.rm = app.add_subcommand("rm", "Remove files (with -r, directories and their trees) from the image");
  c.rm->add_option("IMAGE", a.image, kImageHelp)->required();
  c.rm->add_option("PATH", a.paths, "Entries to remove")->required();
  c.rm->add_flag("-r,--recursive", a.recursive, "Remove directories with everything below them");

  c.mv = app.add_subcommand("mv", "Rename or move an entry inside the image");
  c.mv->add_option("IMAGE", a.image, kImageHelp)->required();
  c.mv->add_option("OLD", a.oldPath, "Entry to rename or move")->required();
  c.mv->add_option("NEW", a.newPath, "New path, or a directory to move it into")->required();

  // "-r", "-h" and the others are changes here, not options: they are taken as they come.
  c.attrib = app.add_subcommand("attrib", "Show or change an entry's attributes: +r -r +h -h +s -s +a -a");
  c.attrib->set_help_flag("--help", "Print this help message and exit");
  c.attrib->add_option("IMAGE", a.image, kImageHelp)->required();
  c.attrib->add_option("PATH", a.attribPath, "Entry inside the image")->required();
  c.attrib->allow_extras();
  c.attrib->fallthrough(false);

  c.vol = app.add_subcommand("vol", "Show or change the volume label (an empty LABEL removes it)");
  c.vol->add_option("IMAGE", a.image, kImageHelp)->required();
  c.vol->add_option("LABEL", a.label, "New volume label (up to 11 bytes in Shift-JIS)");
  return c;
}

int RunEditCommand(const EditCommands& c, Session& s) {
  EditArgs& a = *c.args;
  if (c.format != nullptr && c.format->parsed()) return CmdFormat(s, a);
  if (c.put != nullptr && c.put->parsed()) return CmdPut(s, a);
  if (c.mkdir != nullptr && c.mkdir->parsed()) {
    kdl::ImageEdit edit(s.image);
    if (!BeginEdit(s, edit, a.image)) return kExitFailed;
    return Finish(s, edit, kdl::MakeDirectories(edit, a.paths));
  }
  if (c.rm != nullptr && c.rm->parsed()) {
    kdl::ImageEdit edit(s.image);
    if (!BeginEdit(s, edit, a.image)) return kExitFailed;
    return Finish(s, edit, kdl::RemovePaths(edit, a.paths, a.recursive));
  }
  if (c.mv != nullptr && c.mv->parsed()) {
    kdl::ImageEdit edit(s.image);
    if (!BeginEdit(s, edit, a.image)) return kExitFailed;
    return Finish(s, edit, kdl::MovePath(edit, a.oldPath, a.newPath));
  }
  if (c.attrib != nullptr && c.attrib->parsed()) {
    a.changes = c.attrib->remaining();
    return CmdAttrib(s, a);
  }
  if (c.vol != nullptr && c.vol->parsed()) return CmdVol(s, a, c.vol->get_option("LABEL")->count() > 0);
  return -1;
}

}  // namespace kdlcli
