// A plain file handle with positioned, 64-bit reads and writes.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

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

  // Opens the regular file `path`; false (with errno set) on failure. Anything else of that name (a FIFO, a
  // device, a directory) is refused without blocking and without being changed; errno is then EISDIR for a
  // directory and EINVAL for the rest.
  bool Open(const std::string& path, Mode mode);
  // Takes over the open descriptor `fd` (closing what was open); false for a negative one.
  bool Adopt(int fd);
  // Creates a file without a name in `folder`, for reading and writing; it goes away with its handle.
  bool OpenTemporary(const std::string& folder);
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

// Writes all `size` bytes at `offset` of the descriptor `fd`, going on after short writes and interruptions;
// returns the bytes written (less than `size` after an error, with errno telling why).
size_t WriteAllAt(int fd, uint64_t offset, const void* data, size_t size);

// What kind of file a mode describes, for messages: "a regular file", "a directory", "a FIFO", "a character
// device", "a block device", "a socket", "a symbolic link".
const char* FileKindName(mode_t mode);

// True when the existing file `path` (with status `st`) must not be written over without asking: it has no
// write bit at all (read-only, even for root), or this process may not write it.
bool IsWriteProtected(const std::string& path, const struct stat& st);

// Opens the existing file `path` for reading and writing, or for reading alone when it is write-protected
// (IsWriteProtected: a file without write bits stays unchanged also for a user whom permissions do not stop)
// or cannot be written. False when it cannot be opened at all; `readOnly` tells which way it was opened.
bool OpenForChange(File& file, const std::string& path, bool& readOnly);

// The folder for temporary files: $TMPDIR when it names a folder, else /tmp.
std::string TemporaryFolder();

}  // namespace kdl
