// A file written under a temporary name beside its target and put in the target's place only when it is
// complete, so that a failed or cancelled write leaves an earlier file of that name exactly as it was.
#pragma once

#include <string>

#include "common/file.h"

namespace kdl {

class ReplacingFile {
 public:
  ReplacingFile() = default;
  ~ReplacingFile() { Discard(); }
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Creates an empty temporary file in the target's folder (a symbolic link is followed to the file it
  // names). False when it cannot be created, or when the target is a directory.
  bool Create(const std::string& target);
  File& file() { return file_; }
  // The temporary file's path while it is being written (empty before Create and after Commit or Discard).
  const std::string& tempPath() const { return temp_; }
  // Flushes the file to the disk and renames it over the target. False on any error; the temporary file is
  // then removed and the target is untouched.
  bool Commit();
  // Removes the temporary file unless it was committed.
  void Discard();

 private:
  File file_;
  std::string target_;
  std::string temp_;
};

}  // namespace kdl
