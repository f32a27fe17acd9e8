#include "common/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kdl {
namespace {

// Refuses anything but a regular file, setting errno as File::Open describes.
bool IsRegular(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return true;
  errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  return false;
}

}  // namespace

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

bool File::Open(const std::string& path, Mode mode) {
  Close();
  // O_NONBLOCK: opening a FIFO for reading would wait for a writer; the flag is dropped once the file is
  // known to be regular.
  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  switch (mode) {
    case Mode::kRead:
      flags |= O_RDONLY;
      break;
    case Mode::kReadWrite:
      flags |= O_RDWR;
      break;
    case Mode::kCreate:
      flags |= O_RDWR | O_CREAT;
      break;
    case Mode::kCreateNew:
      flags |= O_RDWR | O_CREAT | O_EXCL;
      break;
  }
  // A device or FIFO is not even opened when it can be seen beforehand (opening some devices acts on them).
  struct stat st {};
  if (mode != Mode::kCreateNew && ::stat(path.c_str(), &st) == 0 && !IsRegular(st)) return false;
  const int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) return false;
  if (::fstat(fd, &st) != 0 || !IsRegular(st) || (mode == Mode::kCreate && ::ftruncate(fd, 0) != 0) ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return false;
  }
  fd_ = fd;
  return true;
}

bool File::OpenTemporary(const std::string& folder) {
  Close();
  fd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd_ >= 0) return true;
  // A file system without unnamed files: a named one, unlinked at once.
  std::string name = folder + "/.kdl-XXXXXX";
  fd_ = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd_ < 0) return false;
  ::unlink(name.c_str());
  return true;
}

bool File::Adopt(int fd) {
  Close();
  fd_ = fd;
  return fd_ >= 0;
}

void File::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int64_t File::ReadAt(uint64_t offset, void* data, size_t size) const {
  size_t done = 0;
  auto* p = static_cast<uint8_t*>(data);
  while (done < size) {
    ssize_t n = ::pread(fd_, p + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t File::WriteAt(uint64_t offset, const void* data, size_t size) {
  return static_cast<int64_t>(WriteAllAt(fd_, offset, data, size));
}

size_t WriteAllAt(int fd, uint64_t offset, const void* data, size_t size) {
  size_t done = 0;
  const auto* p = static_cast<const uint8_t*>(data);
  while (done < size) {
    const ssize_t n = ::pwrite(fd, p + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
  return done;
}

int64_t File::Size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return -1;
  return st.st_size;
}

bool File::Truncate(uint64_t length) { return ::ftruncate(fd_, static_cast<off_t>(length)) == 0; }

bool File::Sync() { return ::fsync(fd_) == 0; }

const char* FileKindName(mode_t mode) {
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISLNK(mode)) return "a symbolic link";
  return "a special file";
}

bool IsWriteProtected(const std::string& path, const struct stat& st) {
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
         ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0;
}

bool OpenForChange(File& file, const std::string& path, bool& readOnly) {
  struct stat st {};
  readOnly = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && IsWriteProtected(path, st);
  if (!readOnly && file.Open(path, File::Mode::kReadWrite)) return true;
  readOnly = true;
  return file.Open(path, File::Mode::kRead);
}

std::string TemporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  struct stat st {};
  if (tmp != nullptr && *tmp != '\0' && ::stat(tmp, &st) == 0 && S_ISDIR(st.st_mode)) return tmp;
  return "/tmp";
}

}  // namespace kdl
