// A file written as a whole and put in its target's place only when it is complete, so that a failed or
// cancelled write leaves an earlier file of that name exactly as it was.
//
// The new contents go to a temporary file beside the target, renamed over it at the end. Where a rename would
// lose something (the folder cannot be written although the file can, the file has other hard links, or its
// owner and group cannot be kept) they go to an unnamed temporary file elsewhere and are copied over the
// target once complete, after the space for them has been reserved. "-" names standard output, which gets the
// complete contents at the end. Temporary files beside a target are named ".NAME.PID-XXXXXXXX.part" and
// locked while written; ones left by a process that no longer runs are removed the next time the target is
// written, and a terminating signal removes this process's own (see common/temp_files.h).
#pragma once

#include <sys/stat.h>

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "common/file.h"
#include "common/prompt.h"

namespace kdl {

// The question before a write-protected file is replaced.
inline constexpr const char* kWriteProtectedQuestion = "%s は書き込み禁止です。上書きしますか？";

// The name that stands for standard output.
inline constexpr std::string_view kStandardOutputName = "-";

// What a target path names now (symbolic links followed).
enum class TargetKind {
  kAbsent,          // nothing: it will be created
  kReplaceable,     // a regular file this process may write
  kWriteProtected,  // a regular file without write permission (IsWriteProtected)
  kNotAFile,        // a directory, a device, a FIFO, a socket: never replaced
};
TargetKind ExamineTarget(const std::string& path, struct stat* status = nullptr);

// Asks before an existing target is replaced: nothing when it does not exist; `question` (Yes/No) when it can
// be written; for a write-protected file, "%s は書き込み禁止です。上書きしますか？", which only a person can
// answer Yes (Prompter::AskInPerson). False when the target must be left alone (also for kNotAFile).
bool ConfirmReplace(Prompter* prompter, std::string_view caption, const std::string& target,
                    const std::string& question);

class ReplacingFile {
 public:
  enum class Method { kNone, kRename, kCopyOver, kStandardOutput };

  ReplacingFile() = default;
  ~ReplacingFile() { Discard(); }
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Starts the new contents of `target` ("-": standard output) in an empty temporary file. A symbolic link is
  // followed to the file it names. False (errno set) when no temporary file can be made, or when the target
  // exists and is not a regular file (errno EISDIR or EINVAL).
  bool Create(const std::string& target);
  File& file() { return file_; }
  // A path that opens the temporary file while it is being written (for a file without a name, its entry in
  // /proc/self/fd); empty before Create and after Commit or Discard.
  const std::string& tempPath() const { return temp_.empty() ? unnamedPath_ : temp_; }
  Method method() const { return method_; }
  // The modification time the target gets.
  void SetModificationTime(std::time_t when) { mtime_ = when; }
  // Flushes the contents to the disk and puts them in the target's place. False on any error; the temporary
  // file is then removed and, unless the error struck while the contents were copied over the target, the
  // target is untouched.
  bool Commit();
  // Removes the temporary file unless it was committed.
  void Discard();

 private:
  bool CreateBeside(const std::string& folder, const std::string& name, const struct stat* existing);
  bool CommitRename();
  bool CommitCopyOver();
  bool CommitStandardOutput();

  File file_;
  Method method_ = Method::kNone;
  std::string target_;
  std::string temp_;
  std::string unnamedPath_;
  int slot_ = -1;
  struct stat existing_ {};
  std::optional<std::time_t> mtime_;
};

// Removes the temporary files of `name` in `folder` that were left by processes no longer running: their
// lock is free and the process named in them is gone. Returns how many were removed.
int RemoveStaleTemporaries(const std::string& folder, const std::string& name);

}  // namespace kdl
