#include "common/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kdl {

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
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::kRead:
      flags |= O_RDONLY;
      break;
    case Mode::kReadWrite:
      flags |= O_RDWR;
      break;
    case Mode::kCreate:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
    case Mode::kCreateNew:
      flags |= O_RDWR | O_CREAT | O_EXCL;
      break;
  }
  fd_ = ::open(path.c_str(), flags, 0666);
  return fd_ >= 0;
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
  size_t done = 0;
  const auto* p = static_cast<const uint8_t*>(data);
  while (done < size) {
    ssize_t n = ::pwrite(fd_, p + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t File::Size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return -1;
  return st.st_size;
}

bool File::Truncate(uint64_t length) { return ::ftruncate(fd_, static_cast<off_t>(length)) == 0; }

bool File::Sync() { return ::fsync(fd_) == 0; }

}  // namespace kdl
