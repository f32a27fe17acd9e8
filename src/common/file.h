// A plain file handle with positioned, 64-bit reads and writes.
#pragma once

#include <cstdint>
#include <string>

namespace kdl {

class File {
 public:
  enum class Mode {
    kRead,
    kReadWrite,
    kCreate /* create or truncate, read and write */,
    kCreateNew /* must not exist */
  };

  File() = default;
  ~File() { Close(); }
  File(File&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens `path`; false (with errno set) on failure.
  bool Open(const std::string& path, Mode mode);
  // Takes over the open descriptor `fd` (closing what was open); false for a negative one.
  bool Adopt(int fd);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // Reads up to `size` bytes at `offset`, retrying short reads; returns the bytes read, or -1 on an error.
  int64_t ReadAt(uint64_t offset, void* data, size_t size) const;
  // Writes all `size` bytes at `offset`; returns the bytes written (less than size on an error).
  int64_t WriteAt(uint64_t offset, const void* data, size_t size);
  // The file's length, or -1.
  int64_t Size() const;
  bool Truncate(uint64_t length);
  bool Sync();

 private:
  int fd_ = -1;
};

}  // namespace kdl
