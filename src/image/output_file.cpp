#include "image/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "common/temp_files.h"
#include "common/text_format.h"

namespace kdl {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPartSuffix = ".part";
constexpr size_t kCopyPiece = 65536;

// The file a target path leads to: symbolic links followed, so that a link keeps pointing at the new file.
fs::path Resolved(const std::string& target) {
  std::error_code ec;
  fs::path path(target);
  if (fs::is_symlink(path, ec)) {
    const fs::path resolved = fs::weakly_canonical(path, ec);
    if (!ec) return resolved;
  }
  return path;
}

fs::path FolderOf(const fs::path& path) {
  return path.has_parent_path() ? path.parent_path() : fs::path(".");
}

std::string PartPrefix(const std::string& name) { return "." + name + "."; }

// "PID-XXXXXXXX" between the prefix and ".part": the process id, or -1 when `middle` is not of that form.
long PidOfPart(std::string_view middle) {
  const size_t dash = middle.find('-');
  if (dash == 0 || dash == std::string_view::npos || middle.size() - dash - 1 != 8) return -1;
  if (dash > 9) return -1;
  for (size_t i = 0; i < dash; ++i)
    if (middle[i] < '0' || middle[i] > '9') return -1;
  for (size_t i = dash + 1; i < middle.size(); ++i) {
    const char c = middle[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return -1;
  }
  return std::stol(std::string(middle.substr(0, dash)));
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Copies all of `from` to `to` (positioned at 0 with `positioned`, else as a stream).
bool CopyContents(const File& from, int to, bool positioned) {
  std::vector<uint8_t> piece(kCopyPiece);
  for (uint64_t at = 0;;) {
    const int64_t n = from.ReadAt(at, piece.data(), piece.size());
    if (n < 0) return false;
    if (n == 0) return true;
    const auto length = static_cast<size_t>(n);
    const bool ok =
        positioned ? WriteAllAt(to, at, piece.data(), length) == length : WriteAll(to, piece.data(), length);
    if (!ok) return false;
    at += static_cast<uint64_t>(n);
  }
}

void SetTimes(int fd, const std::optional<std::time_t>& mtime) {
  if (!mtime) return;
  const struct timespec times[2] = {{*mtime, 0}, {*mtime, 0}};
  ::futimens(fd, times);
}

}  // namespace

TargetKind ExamineTarget(const std::string& path, struct stat* status) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return errno == ENOENT ? TargetKind::kAbsent : TargetKind::kNotAFile;
  if (status != nullptr) *status = st;
  if (!S_ISREG(st.st_mode)) return TargetKind::kNotAFile;
  return IsWriteProtected(path, st) ? TargetKind::kWriteProtected : TargetKind::kReplaceable;
}

bool ConfirmReplace(Prompter* prompter, std::string_view caption, const std::string& target,
                    const std::string& question) {
  if (target == kStandardOutputName) return true;
  switch (ExamineTarget(target)) {
    case TargetKind::kAbsent:
      return true;
    case TargetKind::kNotAFile:
      return false;
    case TargetKind::kReplaceable:
      return prompter != nullptr &&
             prompter->Ask(caption, question, Buttons::kYesNo, Icon::kQuestion) == Answer::kYes;
    case TargetKind::kWriteProtected:
      return prompter != nullptr &&
             prompter->AskInPerson(caption, Format(kWriteProtectedQuestion, target.c_str()), Buttons::kYesNo,
                                   Icon::kExclamation) == Answer::kYes;
  }
  return false;
}

int RemoveStaleTemporaries(const std::string& folder, const std::string& name) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return 0;
  const std::string prefix = PartPrefix(name);
  int removed = 0;
  while (const dirent* e = ::readdir(dir)) {
    const std::string_view entry(e->d_name);
    if (entry.size() <= prefix.size() + std::strlen(kPartSuffix) || !entry.starts_with(prefix) ||
        !entry.ends_with(kPartSuffix))
      continue;
    const long pid =
        PidOfPart(entry.substr(prefix.size(), entry.size() - prefix.size() - std::strlen(kPartSuffix)));
    if (pid <= 0 || ProcessRuns(pid)) continue;
    const int fd = ::openat(::dirfd(dir), e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    // The lock tells for sure: a process writing the file holds it, whatever its id has become.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::unlinkat(::dirfd(dir), e->d_name, 0) == 0)
      ++removed;
    ::close(fd);
  }
  ::closedir(dir);
  return removed;
}

bool ReplacingFile::Create(const std::string& target) {
  Discard();
  mtime_.reset();
  if (target == kStandardOutputName) {
    if (!file_.OpenTemporary(TemporaryFolder())) return false;
    unnamedPath_ = "/proc/self/fd/" + std::to_string(file_.fd());
    method_ = Method::kStandardOutput;
    return true;
  }
  const fs::path path = Resolved(target);
  target_ = path.string();
  struct stat st {};
  const bool exists = ::stat(target_.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  if (!exists && errno != ENOENT) return false;
  existing_ = st;
  const std::string folder = FolderOf(path).string();
  // A second name for the file would keep the old contents after a rename.
  if (!exists || st.st_nlink <= 1) {
    if (CreateBeside(folder, path.filename().string(), exists ? &st : nullptr)) return true;
    if (!exists) return false;
  }
  // The file itself is written over at the end; the folder need not be writable.
  if (!file_.OpenTemporary(TemporaryFolder())) return false;
  unnamedPath_ = "/proc/self/fd/" + std::to_string(file_.fd());
  method_ = Method::kCopyOver;
  return true;
}

bool ReplacingFile::CreateBeside(const std::string& folder, const std::string& name,
                                 const struct stat* existing) {
  RemoveStaleTemporaries(folder, name);
  std::random_device rd;
  std::string temp;
  for (int attempt = 0; attempt < 100 && !file_.IsOpen(); ++attempt) {
    char middle[40];
    std::snprintf(middle, sizeof middle, "%ld-%08x", static_cast<long>(::getpid()), rd());
    temp = (fs::path(folder) / (PartPrefix(name) + middle + kPartSuffix)).string();
    if (!file_.Open(temp, File::Mode::kCreateNew) && errno != EEXIST) return false;
  }
  if (!file_.IsOpen()) return false;
  std::error_code ec;
  const fs::path absolute = fs::absolute(temp, ec);
  slot_ = RegisterTemporaryFile(ec ? temp : absolute.string());
  temp_ = temp;
  ::flock(file_.fd(), LOCK_EX | LOCK_NB);
  if (existing != nullptr) {
    // The replacement keeps the owner, group and permissions of the file it replaces; where the owner or
    // group cannot be given to it, the file is written over instead.
    const bool owned = (existing->st_uid == ::geteuid() && existing->st_gid == ::getegid()) ||
                       ::fchown(file_.fd(), existing->st_uid, existing->st_gid) == 0;
    if (!owned) {
      Discard();
      return false;
    }
    ::fchmod(file_.fd(), existing->st_mode & 07777);
  }
  method_ = Method::kRename;
  return true;
}

bool ReplacingFile::Commit() {
  if (!file_.IsOpen()) return false;
  bool ok = false;
  switch (method_) {
    case Method::kRename:
      ok = CommitRename();
      break;
    case Method::kCopyOver:
      ok = CommitCopyOver();
      break;
    case Method::kStandardOutput:
      ok = CommitStandardOutput();
      break;
    case Method::kNone:
      break;
  }
  if (!ok) {
    const int error = errno;
    Discard();
    errno = error;
    return false;
  }
  file_.Close();
  unnamedPath_.clear();
  method_ = Method::kNone;
  return true;
}

bool ReplacingFile::CommitRename() {
  SetTimes(file_.fd(), mtime_);
  if (!file_.Sync()) return false;
  file_.Close();
  if (std::rename(temp_.c_str(), target_.c_str()) != 0) return false;
  UnregisterTemporaryFile(slot_);
  slot_ = -1;
  temp_.clear();
  // The new name reaches the disk with the folder.
  const int folder = ::open(FolderOf(fs::path(target_)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return true;
}

bool ReplacingFile::CommitCopyOver() {
  const int64_t size = file_.Size();
  if (size < 0) return false;
  int fd = ::open(target_.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  // A write-protected file of our own that the user chose to replace is made writable for the copy.
  bool madeWritable = false;
  if (fd < 0 && errno == EACCES && existing_.st_uid == ::geteuid() &&
      ::chmod(target_.c_str(), (existing_.st_mode & 07777) | S_IWUSR) == 0) {
    madeWritable = true;
    fd = ::open(target_.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  }
  struct stat st {};
  bool ok = fd >= 0 && ::fstat(fd, &st) == 0;
  // The name must still lead to the file examined at the start.
  if (ok && (!S_ISREG(st.st_mode) || st.st_dev != existing_.st_dev || st.st_ino != existing_.st_ino)) {
    errno = EINVAL;
    ok = false;
  }
  // Space for the whole of the new contents first: a full disk then fails before a byte is changed.
  if (ok && size > st.st_size) {
    const int error = ::posix_fallocate(fd, 0, static_cast<off_t>(size));
    if (error != 0 && error != EOPNOTSUPP && error != EINVAL) {
      errno = error;
      ok = false;
    }
  }
  ok = ok && CopyContents(file_, fd, true) && ::ftruncate(fd, static_cast<off_t>(size)) == 0;
  if (ok) SetTimes(fd, mtime_);
  ok = ok && ::fsync(fd) == 0;
  const int error = errno;
  if (fd >= 0) ::close(fd);
  if (madeWritable) ::chmod(target_.c_str(), existing_.st_mode & 07777);
  errno = error;
  return ok;
}

bool ReplacingFile::CommitStandardOutput() {
  if (!CopyContents(file_, STDOUT_FILENO, false)) return false;
  // A pipe cannot be synced; a file named by the shell's redirection can.
  if (::fsync(STDOUT_FILENO) != 0 && errno != EINVAL && errno != EROFS) return false;
  return true;
}

void ReplacingFile::Discard() {
  file_.Close();
  unnamedPath_.clear();
  if (!temp_.empty()) ::unlink(temp_.c_str());
  UnregisterTemporaryFile(slot_);
  slot_ = -1;
  temp_.clear();
  method_ = Method::kNone;
}

}  // namespace kdl
