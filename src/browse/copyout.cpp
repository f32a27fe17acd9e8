#include "browse/copyout.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <new>
#include <set>
#include <utility>
#include <vector>

#include "browse/dir_list.h"
#include "browse/fat.h"
#include "browse/host_names.h"
#include "common/temp_files.h"
#include "common/text_format.h"
#include "image/output_file.h"

namespace kdl {
namespace {

namespace fs = std::filesystem;

// Progress is shown in percent from this size on.
constexpr uint32_t kPercentFrom = 32000;
constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;
// Far deeper than any real disk's tree (its paths are limited to 260 characters); keeps the stack bounded.
constexpr int kMaxDirectoryDepth = 256;
constexpr const char* kDamagedCopy = "ファイル %s はイメージの壊れた部分を含むため、不完全なコピーです";

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int get() const { return fd_; }
  // Closes the descriptor; false when closing reported an error (a delayed write error).
  bool Reset() {
    const int fd = std::exchange(fd_, -1);
    return fd < 0 || close(fd) == 0;
  }

 private:
  int fd_;
};

// A host folder: the descriptor everything is created under, and its path for messages.
struct HostDir {
  int fd;
  fs::path path;
};

struct CopyJob {
  ImageState& image;
  OverwritePolicy policy;
  bool flatten;
  bool showProgress;
  // The directories entered: a crafted disk whose directories point back at each other, or share clusters,
  // would otherwise be walked for ever.
  DirectoryVisits visits{image};
  int depth = 0;

  Prompter& prompter() { return *image.work().prompter; }
};

// The folder the user chose; symbolic links in its own path are the user's business.
UniqueFd OpenTarget(const fs::path& target) {
  return UniqueFd(open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// A subfolder made (or found) under `parent`, refused when the name is anything but a real directory.
UniqueFd OpenOrMakeDirectory(int parent, const std::string& name) {
  if (parent < 0) return UniqueFd();
  if (mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) return UniqueFd();
  return UniqueFd(openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// True for an existing host file that must not be written over without a person's say: it has no write bit
// (read-only, whoever runs the copy), or this process may not write it.
bool IsProtectedHostFile(int dir, const std::string& name, const struct stat& st) {
  return S_ISREG(st.st_mode) &&
         ((st.st_mode & kWriteBits) == 0 || faccessat(dir, name.c_str(), W_OK, AT_EACCESS) != 0);
}

// Creates or empties `name` under `dir` for writing. Only a regular file is replaced: no symbolic link is
// followed, no device or pipe is opened; a write-protected file only with `unprotect` (the user confirmed),
// and then it is given its owner's write bit first. `fresh` tells whether the file is new (and so has no
// attributes of an earlier copy to remove).
UniqueFd CreateHostFile(int dir, const std::string& name, bool unprotect, bool& fresh) {
  fresh = false;
  if (dir < 0) return UniqueFd();
  // Most names are new: created exclusively, the file is ours, regular and empty without another look.
  UniqueFd made(
      openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
  if (made.get() >= 0 || errno != EEXIST) {
    fresh = made.get() >= 0;
    return made;
  }
  struct stat st {};
  if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!S_ISREG(st.st_mode)) return UniqueFd();
    if (IsProtectedHostFile(dir, name, st)) {
      if (!unprotect) return UniqueFd();
      const UniqueFd existing(openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
      if (existing.get() < 0 || fchmod(existing.get(), (st.st_mode & 07777) | S_IWUSR) != 0)
        return UniqueFd();
    }
  }
  UniqueFd fd(openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
  if (fd.get() < 0) return fd;
  // Checked again on the open file: the name may have been swapped since the look above.
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || ftruncate(fd.get(), 0) != 0) return UniqueFd();
  return fd;
}

// Writes all of `data`; the bytes written, with errno telling why when fewer.
size_t WriteAll(int fd, const uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
  return done;
}

bool IsDiskFull(int error) { return error == ENOSPC || error == EDQUOT; }

void ShowWriteError(ImageState& image, const std::string& targetText, int error) {
  image.ShowImageError(IsDiskFull(error) ? std::string("ディスクが一杯です")
                                         : "ファイル " + targetText + " 出力エラーが発生しました");
}

// What went wrong while a file's bytes were copied: the units that could not be read and the byte ranges of
// the file they spoilt, and whether the cluster chain ended before the file's size.
struct CopyDamage {
  std::set<int32_t> units;
  std::vector<std::pair<uint64_t, uint64_t>> ranges;  // first and last byte, in file order
  bool chainBroken = false;

  bool Any() const { return !units.empty() || chainBroken; }
  void AddRange(uint64_t first, uint64_t last) {
    if (!ranges.empty() && ranges.back().second + 1 == first) {
      ranges.back().second = last;
    } else {
      ranges.emplace_back(first, last);
    }
  }
  // The value of the damage mark: "units=3,4;bytes=18432-20479,24576-25599" (and ";chain=broken").
  std::string Text() const {
    std::string text = "units=";
    for (const int32_t u : units) text += (text.back() == '=' ? "" : ",") + std::to_string(u);
    text += ";bytes=";
    for (const auto& [first, last] : ranges)
      text += (text.back() == '=' ? "" : ",") + std::to_string(first) + "-" + std::to_string(last);
    if (chainBroken) text += ";chain=broken";
    return text;
  }
};

void SetOrRemoveXattr(int fd, std::string_view name, const std::string* value) {
  const std::string key(name);
  if (value != nullptr) {
    fsetxattr(fd, key.c_str(), value->data(), value->size(), 0);
  } else {
    fremovexattr(fd, key.c_str());
  }
}

// The DOS attributes of the entry, kept where the file system has extended attributes. The plain archive
// bit needs none, and an earlier copy's attributes must not outlive it (a `fresh` file has none).
void ApplyDosAttributes(int fd, const DirectoryEntry& entry, bool fresh = false) {
  const uint8_t attribute = entry.Attribute();
  const std::string value(1, static_cast<char>(attribute));
  if (attribute == kAttrArchive && fresh) return;
  SetOrRemoveXattr(fd, kDosAttributeXattr, attribute == kAttrArchive ? nullptr : &value);
}

// The entry's time stamp on a finished file or folder, set through its descriptor.
void ApplyEntryTime(int fd, const DirectoryEntry& entry) {
  if (const auto t = DosToHostTime(entry.Time(), entry.Date())) {
    const timespec times[2] = {{*t, 0}, {*t, 0}};
    futimens(fd, times);
  }
}

// Time stamp and attributes of a finished file, set through its descriptor; a `fresh` file has no marks of an
// earlier copy to remove.
void ApplyEntryMetadata(int fd, const DirectoryEntry& entry, bool fresh) {
  ApplyEntryTime(fd, entry);
  ApplyDosAttributes(fd, entry, fresh);
  if (!fresh) SetOrRemoveXattr(fd, kDamagedXattr, nullptr);
  const uint8_t attribute = entry.Attribute();
  struct stat st {};
  if ((attribute & kAttrReadOnly) != 0 && fstat(fd, &st) == 0) fchmod(fd, st.st_mode & 07777 & ~kWriteBits);
}

// A damaged copy keeps its partial bytes but none of the entry's time (it must look older than any good
// copy) and never becomes read-only (a good copy must be able to replace it); the mark says what is wrong.
void MarkDamaged(int fd, const DirectoryEntry& entry, const CopyDamage& damage) {
  ApplyDosAttributes(fd, entry);
  const std::string text = damage.Text();
  SetOrRemoveXattr(fd, kDamagedXattr, &text);
}

// True when the host file `name` in `dir` carries the damage mark of an earlier copy.
bool IsMarkedDamaged(int dir, const std::string& name) {
  const UniqueFd fd(openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) return false;
  return fgetxattr(fd.get(), std::string(kDamagedXattr).c_str(), nullptr, 0) >= 0;
}

// Orders a host file's time against an entry's time and date, by the minute, over the whole range of years
// (1980-2107): negative when the host file is older.
int CompareHostToEntry(std::time_t host, const DirectoryEntry& entry) {
  // A DOS date-time orders as a number once its two-second field is dropped.
  const uint32_t hostMinute = HostTimeToDos(host) >> 5;
  const uint32_t entryMinute = ((static_cast<uint32_t>(entry.Date()) << 16) | entry.Time()) >> 5;
  return hostMinute < entryMinute ? -1 : (hostMinute > entryMinute ? 1 : 0);
}

// Whether an existing file is to be replaced under the job's policy. A file marked damaged by an earlier copy
// counts as older than any entry.
bool ShouldReplace(CopyJob& job, int dir, const std::string& name, const struct stat& existing,
                   const DirectoryEntry& entry) {
  const std::string hostDate = DosTimeText(HostTimeToDos(existing.st_mtime));
  const int order = IsMarkedDamaged(dir, name) ? -1 : CompareHostToEntry(existing.st_mtime, entry);
  switch (job.policy) {
    case OverwritePolicy::kNewer:
      return order < 0;
    case OverwritePolicy::kAsk: {
      const std::string text = "ファイル：" + name + "  " + hostDate + " はすでに存在します\n" +
                               (order < 0 ? "古いファイルですが " : "") + "上書きしますか？";
      return job.prompter().Ask(kCopyCaption, text, Buttons::kYesNo, Icon::kQuestion) == Answer::kYes;
    }
    case OverwritePolicy::kAll:
      return true;
    case OverwritePolicy::kSkip:
      break;
  }
  return false;
}

// True when reading `cluster` may load a track unit other than the one in the image's cache (and so show a
// message for it).
bool LeavesCachedUnit(const ImageState& image, int32_t cluster) {
  const MediaGeometry& g = image.layout;
  const int32_t perUnit = image.header.geometry.sectorsPerTrack;
  if (perUnit <= 0 || image.cachedTrack < 0) return true;
  const int64_t first = static_cast<int64_t>(cluster - 2) * g.sectorsPerCluster + g.dataStart;
  const int64_t last = first + std::max<int16_t>(g.sectorsPerCluster, 1) - 1;
  return first / perUnit != image.cachedTrack || last / perUnit != image.cachedTrack;
}

// Writes the entry's bytes to `fd`, gathering the clusters that one track unit holds into one write. Every
// write is made before a cluster of another unit is read and before a broken chain is reported, so that
// messages come in the order of a cluster-by-cluster copy. -1 after a write error (reported); 0 otherwise,
// with `damage` telling which units could not be read and whether the chain ended before the file's size.
int32_t WriteClusters(CopyJob& job, const DirectoryEntry& entry, int fd, const std::string& targetText,
                      CopyDamage& damage) {
  ImageState& image = job.image;
  const MediaGeometry& g = image.layout;
  const uint32_t size = entry.Size();
  const size_t clusterBytes =
      std::min<size_t>(static_cast<size_t>(std::max(g.clusterSize, 1)), image.clusterBuffer.size());
  // The chain may use clusters 2..last, each once; anything else means a damaged or crafted disk.
  const int32_t highest = std::min<int32_t>(g.lastCluster, kChainEnd - 1);
  std::vector<bool> seen(static_cast<size_t>(std::max(highest + 1, 0)), false);
  std::vector<uint8_t> gathered;
  gathered.reserve(kTrackBufferSize);
  auto flush = [&]() {
    if (gathered.empty()) return true;
    if (WriteAll(fd, gathered.data(), gathered.size()) < gathered.size()) {
      ShowWriteError(image, targetText, errno);
      return false;
    }
    gathered.clear();
    return true;
  };
  int32_t cluster = entry.FirstCluster();
  uint32_t remaining = size;
  std::vector<int32_t> failed;
  while (remaining > 0) {
    const uint64_t done = size - remaining;
    if (job.showProgress)
      job.prompter().SetProgress(static_cast<int>(size < kPercentFrom ? done : done * 100 / size));
    if (cluster < 2 || cluster > highest || seen[static_cast<size_t>(cluster)]) {
      if (!flush()) return -1;
      damage.chainBroken = true;
      damage.AddRange(done, size - 1);
      image.ShowImageError(BrokenChainText(targetText));
      return 0;
    }
    seen[static_cast<size_t>(cluster)] = true;
    if ((LeavesCachedUnit(image, cluster) || gathered.size() + clusterBytes > kTrackBufferSize) && !flush())
      return -1;
    const size_t n = std::min<size_t>(clusterBytes, remaining);
    failed.clear();
    if (!ReadCluster(image, cluster, image.clusterBuffer.data(), &failed)) {
      damage.units.insert(failed.begin(), failed.end());
      damage.AddRange(done, done + n - 1);
    }
    cluster = FatNext(image, cluster);
    gathered.insert(gathered.end(), image.clusterBuffer.data(), image.clusterBuffer.data() + n);
    remaining -= static_cast<uint32_t>(n);
  }
  return flush() ? 0 : -1;
}

int32_t CopyFileInto(CopyJob& job, const DirectoryTable& table, size_t index, const HostDir& dir) {
  ImageState& image = job.image;
  image.Pump();
  if (image.work().cancelRequested && image.ConfirmCancel("コピー")) return kCopyStopped;

  const DirectoryEntry& entry = table.at(index);
  std::string displayName;
  EntryDisplayName(table, index, displayName);
  const std::string name = SafeHostName(displayName);
  const std::string targetText = (dir.path / name).string();
  const std::string date = FatDateText(entry.Time(), entry.Date());
  const uint32_t size = entry.Size();
  if (job.showProgress) {
    job.prompter().SetStatus("コピー中 : " + targetText + " " + date + " " + std::to_string(size) + " bytes");
    job.prompter().SetProgressMaximum(static_cast<int>(size < kPercentFrom ? size : 100));
  }

  int32_t result = 0;
  struct stat existing {};
  const bool exists = dir.fd >= 0 && fstatat(dir.fd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
  bool replace =
      job.policy == OverwritePolicy::kAll || !exists || ShouldReplace(job, dir.fd, name, existing, entry);
  // A write-protected file is the user's own "keep this": only a person can say to replace it.
  const bool unprotect = replace && exists && IsProtectedHostFile(dir.fd, name, existing);
  if (unprotect) {
    replace = job.prompter().AskInPerson(kCopyCaption, Format(kWriteProtectedQuestion, targetText.c_str()),
                                         Buttons::kYesNo, Icon::kExclamation) == Answer::kYes;
  }
  if (replace) {
    bool fresh = false;
    UniqueFd fd = CreateHostFile(dir.fd, name, unprotect, fresh);
    if (fd.get() < 0) {
      const std::string text = "ファイル " + targetText + " がオープンできません。\nコピーを続けますか";
      result = job.prompter().Ask(kCopyCaption, text, Buttons::kYesNo, Icon::kStop) == Answer::kYes ? 0 : -1;
    } else {
      // A run ended by a signal while the file is written removes it: a file cut short at a cluster
      // boundary would pass for a complete copy. A copy that ends with damage is kept (partial data is worth
      // keeping) and marked.
      std::error_code ec;
      const fs::path absolute = fs::absolute(dir.path / name, ec);
      const int slot = RegisterTemporaryFile(ec ? (dir.path / name).string() : absolute.string());
      CopyDamage damage;
      result = WriteClusters(job, entry, fd.get(), targetText, damage);
      UnregisterTemporaryFile(slot);
      if (result == 0 && !damage.Any()) ApplyEntryMetadata(fd.get(), entry, fresh);
      if (result == 0 && damage.Any()) {
        // The partial copy stays (it may be all there is of the file), marked and told by name (a broken
        // chain has been told by name already).
        MarkDamaged(fd.get(), entry, damage);
        if (!damage.units.empty()) image.ShowImageError(Format(kDamagedCopy, targetText.c_str()));
      }
      // Closing is where some file systems report a failed write.
      if (!fd.Reset() && result == 0) {
        ShowWriteError(image, targetText, errno);
        result = -1;
      }
    }
  }
  if (job.showProgress) {
    job.prompter().SetProgress(0);
    job.prompter().SetStatus("");
  }
  return result;
}

int32_t CopyDirectoryInto(CopyJob& job, const DirectoryTable& table, size_t index, const HostDir& parent);

// Copies the entries of one directory table; a negative result ends the walk.
int32_t CopyTable(CopyJob& job, const DirectoryTable& table, const HostDir& dir) {
  int32_t result = 0;
  for (size_t i = 0; i < table.size() && result >= 0; ++i) {
    const DirectoryEntry& e = table[i];
    if (e.IsEnd()) break;
    // A volume label names the disk; it is no file to copy, in the root or anywhere else.
    if (e.IsDeleted() || e.IsLongNamePiece() || e.IsVolumeLabel()) continue;
    if (!e.IsDirectory())
      result = CopyFileInto(job, table, i, dir);
    else if (e.NameByte(0) != '.')
      result = CopyDirectoryInto(job, table, i, dir);
  }
  return result;
}

int32_t CopyDirectoryInto(CopyJob& job, const DirectoryTable& table, size_t index, const HostDir& parent) {
  ImageState& image = job.image;
  const DirectoryEntry& entry = table.at(index);
  const int32_t first = entry.FirstCluster();
  std::string displayName;
  EntryDisplayName(table, index, displayName);
  // The same directory met again (a loop, or clusters shared on a damaged disk) is told and not copied twice.
  if (!job.visits.Enter(entry, (parent.path / SafeHostName(displayName)).string())) return 0;

  if (job.depth >= kMaxDirectoryDepth) {
    image.ShowImageError("コピー先ディレクトリが作れません");
    return 0;
  }
  UniqueFd owned;
  HostDir here{parent.fd, parent.path};
  if (!job.flatten) {
    const std::string name = SafeHostName(displayName);
    owned = OpenOrMakeDirectory(parent.fd, name);
    if (owned.get() < 0) {
      image.ShowImageError("コピー先ディレクトリが作れません");
      return 0;
    }
    here = HostDir{owned.get(), parent.path / name};
  }
  // A directory without a data cluster has no table of its own (cluster 0 would read back as the root).
  if (first < 2 || ChainSize(image, entry) == 0) return 0;
  DirectoryTable sub;
  try {
    sub = LoadSubdirectory(image, entry);
  } catch (const std::bad_alloc&) {
    image.ShowImageError("コピーのためのメモリーが不足です");
    return -1;
  }
  ++job.depth;
  const int32_t result = CopyTable(job, sub, here);
  --job.depth;
  // The folder gets its entry's time once everything in it is written, as mcopy gives it.
  if (owned.get() >= 0) ApplyEntryTime(owned.get(), entry);
  return result;
}

bool LeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && LeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

int32_t CopyFileOut(ImageState& image, const DirectoryTable& table, size_t index, const fs::path& target,
                    OverwritePolicy policy, bool showProgress) {
  image.BeginOperation();
  CopyJob job{image, policy, false, showProgress};
  const UniqueFd fd = OpenTarget(target);
  return CopyFileInto(job, table, index, HostDir{fd.get(), target});
}

int32_t CopyDirectoryOut(ImageState& image, const DirectoryTable& table, size_t index, OverwritePolicy policy,
                         bool flatten, const fs::path& target) {
  image.BeginOperation();
  CopyJob job{image, policy, flatten, true};
  const UniqueFd fd = OpenTarget(target);
  return CopyDirectoryInto(job, table, index, HostDir{fd.get(), target});
}

int32_t CopySelection(ImageState& image, const DirectoryTable& current,
                      const std::vector<SelectionItem>& items, const fs::path& target, bool flatten,
                      OverwritePolicy policy) {
  image.BeginOperation();
  CopyJob job{image, policy, flatten, true};
  const UniqueFd fd = OpenTarget(target);
  const HostDir dir{fd.get(), target};
  for (const SelectionItem& item : items) {
    if (!item.selected || item.typeText == kLabelTypeText) continue;
    std::string name = item.caption;
    NormalizeListName(name);
    const DirectoryEntry* entry = FindEntryByName(current, name);
    // An item whose caption was edited matches nothing; "." and ".." are the listing's own places.
    if (entry == nullptr || entry->IsDotEntry() || entry->IsDotDotEntry()) continue;
    const auto index = static_cast<size_t>(entry - current.data());
    const int32_t result = item.typeText == kDirectoryTypeText ? CopyDirectoryInto(job, current, index, dir)
                                                               : CopyFileInto(job, current, index, dir);
    // The user chose to stop, or the target cannot take more: the remaining items would meet the same end.
    if (result < 0) return result;
  }
  return 0;
}

int32_t CopyWholeImage(ImageState& image, const fs::path& target, bool flatten, OverwritePolicy policy) {
  ImageWork& work = image.work();
  if ((work.openCloseFlags & kOpenFirst) != 0 && image.OpenImage(work.currentImagePath) < 0) return -1;
  image.BeginOperation();
  // A whole image reads nearly every unit: read them side by side first.
  image.PreloadUnits();
  CopyJob job{image, policy, flatten, true};
  int32_t result = 0;
  {
    const UniqueFd fd = OpenTarget(target);
    result = CopyTable(job, image.root, HostDir{fd.get(), target});
  }
  if ((work.openCloseFlags & kCloseAfter) != 0) image.CloseImage();
  return result;
}

std::optional<std::time_t> DosToHostTime(uint16_t time, uint16_t date) {
  const int year = 1980 + (date >> 9);
  const int month = (date >> 5) & 0x0F;
  const int day = date & 0x1F;
  const int hour = time >> 11;
  const int minute = (time >> 5) & 0x3F;
  const int second = (time & 0x1F) * 2;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 || minute > 59 ||
      second > 59)
    return std::nullopt;
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  const std::time_t result = std::mktime(&t);
  if (result == static_cast<std::time_t>(-1)) return std::nullopt;
  return result;
}

uint32_t HostTimeToDos(std::time_t t) {
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr || local.tm_year < 80) return 0x00210000u;  // 1980-01-01 00:00:00
  if (local.tm_year > 207) return 0xFF9FBF7Du;                                       // 2107-12-31 23:59:58
  const auto date =
      static_cast<uint32_t>(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
  const auto time = static_cast<uint32_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
  return (date << 16) | time;
}

}  // namespace kdl
