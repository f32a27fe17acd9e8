// `kdl ls`, `kdl cat` and `kdl view`: reading directories and files inside an image.
#include <cstdio>
#include <iostream>

#include "browse/dir_list.h"
#include "browse/fat.h"
#include "browse/viewer.h"
#include "kdl/commands.h"

namespace kdlcli {
namespace {

// Display columns of UTF-8 text: wide for CJK, narrow for ASCII and half-width katakana.
size_t DisplayWidth(std::string_view s) {
  size_t width = 0;
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<uint8_t>(s[i]);
    uint32_t cp = b;
    size_t len = 1;
    if (b >= 0xF0) {
      len = 4;
      cp = b & 0x07;
    } else if (b >= 0xE0) {
      len = 3;
      cp = b & 0x0F;
    } else if (b >= 0xC0) {
      len = 2;
      cp = b & 0x1F;
    }
    for (size_t k = 1; k < len && i + k < s.size(); ++k)
      cp = (cp << 6) | (static_cast<uint8_t>(s[i + k]) & 0x3F);
    width += (cp >= 0x1100 && !(cp >= 0xFF61 && cp <= 0xFF9F)) ? 2 : 1;
    i += len;
  }
  return width;
}

void PrintItems(const kdl::DirectoryTable& table) {
  for (const kdl::ListItem& item : kdl::ListDirectory(table)) {
    std::string caption = PrintableText(item.caption);
    const size_t width = DisplayWidth(caption);
    if (width < 12) caption.append(12 - width, ' ');
    std::cout << caption << "  " << item.typeText << "  " << item.dateText << "\n";
  }
}

void ListTree(kdl::ImageState& image, const kdl::DirectoryTable& table, const std::string& path,
              bool recursive, int depth, kdl::DirectoryVisits& visits) {
  if (recursive) std::cout << (path.empty() ? "\\" : PrintableText(path)) << ":\n";
  PrintItems(table);
  if (!recursive || depth > 64) return;
  for (size_t i = 0; i < table.size(); ++i) {
    const kdl::DirectoryEntry& e = table[i];
    if (!e.IsDirectory() || e.NameByte(0) == '.') continue;
    std::string name;
    kdl::EntryDisplayName(table, i, name);
    const std::string shown = path + "\\" + name;
    // A directory met again (a loop, two entries naming one directory) is told and not listed again.
    if (!visits.Enter(e, shown)) continue;
    std::cout << "\n";
    ListTree(image, kdl::LoadSubdirectory(image, e), shown, recursive, depth + 1, visits);
  }
}

// The exit status of a command that read the image: any damage told on the way fails it.
int ReadStatus(Session& s, bool ok = true) {
  return ok && s.prompter.errorsShown() == 0 ? kExitOk : kExitFailed;
}

// Resolves PATH to a file entry, or explains why not.
std::optional<kdl::ResolvedPath> ResolveFile(Session& s, const std::string& path) {
  auto r = kdl::ResolveImagePath(s.image, path);
  if (!r || !r->entry) {
    std::cerr << "kdl: " << path << ": no such file in the image" << std::endl;
    return std::nullopt;
  }
  if (r->entry->IsDirectory() || r->entry->IsVolumeLabel()) {
    std::cerr << "kdl: " << path << ": not a file" << std::endl;
    return std::nullopt;
  }
  return r;
}

}  // namespace

int CmdLs(Session& s, const std::string& operand, const std::string& dir, bool recursive) {
  if (!OpenImageOperand(s, operand)) return kExitFailed;
  kdl::DirectoryTable table = s.image.root;
  kdl::DirectoryVisits visits(s.image);
  std::string shown;
  if (!dir.empty()) {
    auto r = kdl::ResolveImagePath(s.image, dir);
    if (r && r->entry) {
      if (!r->entry->IsDirectory()) {
        std::cerr << "kdl: " << dir << ": not a directory" << std::endl;
        return kExitFailed;
      }
      shown = r->displayPath;
      // The directory listed first counts as entered: an entry below it that points back is not listed again.
      visits.Enter(*r->entry, shown);
      table = kdl::LoadSubdirectory(s.image, *r->entry);
    } else if (!r) {
      std::cerr << "kdl: " << dir << ": no such directory in the image" << std::endl;
      return kExitFailed;
    }
  }
  ListTree(s.image, table, shown, recursive, 0, visits);
  std::cout.flush();
  s.image.CloseImage();
  return ReadStatus(s);
}

int CmdCat(Session& s, const std::string& operand, const std::string& path) {
  if (!OpenImageOperand(s, operand)) return kExitFailed;
  auto r = ResolveFile(s, path);
  if (!r) return kExitFailed;
  kdl::OpenFileStream(s.image, *r->entry);
  std::string buffer;
  buffer.reserve(65536);
  for (int b; (b = kdl::NextFileByte(s.image)) >= 0;) {
    buffer.push_back(static_cast<char>(b));
    if (buffer.size() == 65536) {
      std::fwrite(buffer.data(), 1, buffer.size(), stdout);
      buffer.clear();
    }
  }
  std::fwrite(buffer.data(), 1, buffer.size(), stdout);
  const bool ok = std::fflush(stdout) == 0 && !std::ferror(stdout);
  if (s.image.stream.broken) s.image.ShowImageError(kdl::BrokenChainText(r->displayPath));
  s.image.CloseImage();
  return ReadStatus(s, ok);
}

int CmdView(Session& s, const std::string& operand, const std::string& path, bool dump) {
  if (!OpenImageOperand(s, operand)) return kExitFailed;
  auto r = ResolveFile(s, path);
  if (!r) return kExitFailed;
  const kdl::ViewMode mode = dump ? kdl::ViewMode::kDump : kdl::ViewMode::kText;
  const kdl::FileViewResult result =
      kdl::FillFileView(s.image, r->table, r->index, mode,
                        [&](std::string_view line) { std::cout << kdl::ViewLineToUtf8(line, mode) << "\n"; });
  std::cout.flush();
  s.image.CloseImage();
  return ReadStatus(s, !result.stopped);
}

}  // namespace kdlcli
