#include "edit/put.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "browse/fat.h"
#include "common/text_format.h"
#include "edit/edit_messages.h"
#include "edit/image_edit.h"

namespace kdl {
namespace {

namespace fs = std::filesystem;
using namespace edit_text;

constexpr uint8_t kHostAttributes = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive;

// The DOS attributes a host file or folder carries: the byte a copy-out kept, else the archive bit for a file
// and read-only when nobody may write it.
uint8_t HostAttributes(const fs::path& host, const struct stat& st) {
  uint8_t kept = 0;
  if (::getxattr(host.c_str(), std::string(kDosAttributeXattr).c_str(), &kept, 1) == 1)
    return kept & kHostAttributes;
  if (S_ISDIR(st.st_mode)) return 0;
  return static_cast<uint8_t>(kAttrArchive | ((st.st_mode & 0222) == 0 ? kAttrReadOnly : 0));
}

NewEntry HostFields(const fs::path& host, const struct stat& st) {
  const uint32_t dos = HostTimeToDos(st.st_mtime);
  return NewEntry{HostAttributes(host, st), static_cast<uint16_t>(dos & 0xFFFF),
                  static_cast<uint16_t>(dos >> 16)};
}

std::string Join(const std::string& folder, const std::string& name) {
  return (folder.empty() || folder == "\\" ? std::string() : folder) + "\\" + name;
}

class Putter {
 public:
  Putter(ImageState& ui, FatVolume& v, OverwritePolicy policy, bool recursive)
      : ui_(ui), v_(v), policy_(policy), recursive_(recursive) {}

  // `within`: the host folder the sources come from, when they are its contents.
  bool Run(uint16_t dir, const std::vector<fs::path>& sources, const struct stat* within = nullptr) {
    if (within != nullptr) ancestors_.emplace_back(within->st_dev, within->st_ino);
    int total = 0;
    for (const fs::path& s : sources) total += CountFiles(s, 0);
    if (Prompter* p = ui_.work().prompter) p->SetProgressMaximum(total);
    const std::string folder = v_.PathOf(dir);
    bool ok = true;
    for (const fs::path& s : sources) {
      if (!(ok = Put(dir, folder, s))) break;
    }
    if (Prompter* p = ui_.work().prompter) {
      p->SetProgress(0);
      p->SetStatus("");
    }
    return ok;
  }

 private:
  // Files below `host`, for the progress bar; folders are counted only where they would be entered.
  int CountFiles(const fs::path& host, int depth) const {
    std::error_code ec;
    if (!fs::is_directory(host, ec)) return 1;
    if (!recursive_ || depth > 64) return 0;
    int n = 0;
    for (const auto& e : fs::directory_iterator(host, ec)) n += CountFiles(e.path(), depth + 1);
    return n;
  }

  bool Put(uint16_t dir, const std::string& folder, const fs::path& host) {
    struct stat st {};
    if (::stat(host.c_str(), &st) != 0) {
      ui_.ShowImageError(Format(kCannotRead, host.c_str()));
      return false;
    }
    const std::string name = TrimName(host.filename().string());
    if (CheckName(name) != NameFault::kNone) {
      ui_.ShowImageError(Format(kBadName, host.filename().c_str()));
      return false;
    }
    if (S_ISDIR(st.st_mode)) {
      if (!recursive_) {
        ui_.ShowImageError(Format(kTargetIsFolder, host.c_str()));
        return false;
      }
      return PutFolder(dir, folder, host, name, st);
    }
    if (!S_ISREG(st.st_mode)) {
      ui_.ShowImageError(Format(kNotAFile, host.c_str()));
      return false;
    }
    return PutFile(dir, folder, host, name, st);
  }

  bool PutFile(uint16_t dir, const std::string& folder, const fs::path& host, const std::string& name,
               const struct stat& st) {
    const std::string where = Join(folder, name);
    const NewEntry fields = HostFields(host, st);
    const std::string date = FatDateText(fields.time, fields.date);
    if (Prompter* p = ui_.work().prompter) {
      p->SetProgress(done_++);
      p->SetStatus(Format(kAdding, where.c_str(), date.c_str(), static_cast<unsigned>(st.st_size)));
    }
    ui_.Pump();
    if (ui_.work().cancelRequested && ui_.ConfirmCancel(kOpPut)) return false;

    const std::optional<FatNode> existing = v_.Lookup(dir, name);
    if (existing && existing->IsDirectory()) return ReportFatStatus(ui_, FatStatus::kExists, where);
    if (existing && !Replaces(*existing, where, date)) return true;
    // Room is judged before the file is read: a host file larger than the whole disk is never loaded.
    const int64_t free = v_.FreeBytes() + (existing ? v_.BytesTaken(existing->entry.Size()) : 0);
    const int64_t needed = v_.BytesTaken(static_cast<uint64_t>(st.st_size));
    if (needed > free) return ReportFatStatus(ui_, FatStatus::kNoRoom, where, needed, free);
    std::vector<uint8_t> content;
    if (!ReadHostFile(host, st, content)) {
      ui_.ShowImageError(Format(kCannotRead, host.c_str()));
      return false;
    }
    const ByteView bytes(content.data(), content.size());
    const FatStatus s =
        existing ? v_.ReplaceFile(*existing, bytes, fields) : v_.CreateFile(dir, name, bytes, fields);
    return s == FatStatus::kOk || ReportFatStatus(ui_, s, where, needed, free);
  }

  // Whether an existing file of the same name gives way, by the policy and, when read-only, by the user.
  bool Replaces(const FatNode& existing, const std::string& where, const std::string& hostDate) {
    const std::string entryDate = FatDateText(existing.entry.Time(), existing.entry.Date());
    const int order = CompareDateTexts(entryDate, hostDate);
    bool replace = false;
    switch (policy_) {
      case OverwritePolicy::kAll:
        replace = true;
        break;
      case OverwritePolicy::kNewer:
        replace = order < 0;
        break;
      case OverwritePolicy::kAsk:
        replace = Ask(kCaptionPut, Format(kEntryExists, existing.Name().c_str(), entryDate.c_str(),
                                          order < 0 ? kOlder : "", kOverwrite));
        break;
      case OverwritePolicy::kSkip:
        break;
    }
    if (replace && (existing.entry.Attribute() & kAttrReadOnly) != 0)
      replace = Ask(kCaptionPut, Format(kReadOnlyReplace, where.c_str()));
    return replace;
  }

  bool PutFolder(uint16_t dir, const std::string& folder, const fs::path& host, const std::string& name,
                 const struct stat& st) {
    const std::string where = Join(folder, name);
    // A folder that contains itself through a link would never end.
    const auto id = std::make_pair(st.st_dev, st.st_ino);
    if (std::find(ancestors_.begin(), ancestors_.end(), id) != ancestors_.end()) {
      ui_.ShowImageError(Format(kFolderLoop, host.c_str()));
      return false;
    }
    uint16_t inside = 0;
    if (const std::optional<FatNode> existing = v_.Lookup(dir, name)) {
      if (!existing->IsDirectory()) return ReportFatStatus(ui_, FatStatus::kExists, where);
      inside = existing->AsDirectory();
    } else {
      FatNode made;
      const int64_t free = v_.FreeBytes();
      const FatStatus s = v_.MakeDirectory(dir, name, HostFields(host, st), &made);
      if (s != FatStatus::kOk) return ReportFatStatus(ui_, s, where, v_.layout().clusterSize, free);
      inside = made.AsDirectory();
    }
    return PutContents(inside, where, host, id);
  }

  // Puts every entry of the host folder, in name order, into `dir`.
  bool PutContents(uint16_t dir, const std::string& where, const fs::path& host, std::pair<dev_t, ino_t> id) {
    std::error_code ec;
    std::vector<fs::path> names;
    for (fs::directory_iterator it(host, ec), end; !ec && it != end; it.increment(ec))
      names.push_back(it->path());
    if (ec) {
      ui_.ShowImageError(Format(kCannotRead, host.c_str()));
      return false;
    }
    std::sort(names.begin(), names.end());
    ancestors_.push_back(id);
    bool ok = true;
    for (const fs::path& p : names) {
      if (!(ok = Put(dir, where, p))) break;
    }
    ancestors_.pop_back();
    return ok;
  }

  bool Ask(std::string_view caption, const std::string& text) {
    Prompter* p = ui_.work().prompter;
    return p != nullptr && p->Ask(caption, text, Buttons::kYesNo, Icon::kQuestion) == Answer::kYes;
  }

  static bool ReadHostFile(const fs::path& host, const struct stat& st, std::vector<uint8_t>& content) {
    std::ifstream in(host, std::ios::binary);
    if (!in) return false;
    content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    // A file that changed size while it was read is not put half.
    return !in.bad() && content.size() == static_cast<size_t>(st.st_size);
  }

  ImageState& ui_;
  FatVolume& v_;
  OverwritePolicy policy_;
  bool recursive_;
  int done_ = 0;
  std::vector<std::pair<dev_t, ino_t>> ancestors_;
};

}  // namespace

bool PutHostFiles(ImageState& ui, FatVolume& volume, uint16_t dir, const std::vector<fs::path>& sources,
                  const PutOptions& options) {
  Putter putter(ui, volume, options.policy, options.recursive);
  return putter.Run(dir, sources);
}

bool PutFolderContents(ImageState& ui, FatVolume& volume, uint16_t dir, const fs::path& folder,
                       OverwritePolicy policy) {
  std::error_code ec;
  std::vector<fs::path> sources;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    sources.push_back(it->path());
  struct stat st {};
  if (ec || ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    ui.ShowImageError(Format(edit_text::kCannotRead, folder.c_str()));
    return false;
  }
  std::sort(sources.begin(), sources.end());
  Putter putter(ui, volume, policy, true);
  return putter.Run(dir, sources, &st);
}

}  // namespace kdl
