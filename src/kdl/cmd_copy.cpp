// `kdl copy`: files, trees or the whole image into a host folder under an overwrite policy.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "browse/copyout.h"
#include "browse/dir_list.h"
#include "kdl/commands.h"
#include "kdl/commands_archive.h"
#include "kdl/stop_signals.h"

namespace kdlcli {
kdl::OverwritePolicy ParsePolicy(const std::string& name) {
  if (name == "all") return kdl::OverwritePolicy::kAll;
  if (name == "ask") return kdl::OverwritePolicy::kAsk;
  if (name == "skip") return kdl::OverwritePolicy::kSkip;
  return kdl::OverwritePolicy::kNewer;
}

namespace {

// The folder to copy into, as the shell names it: an existing folder (also "DIR/.."), or one to create after
// asking. False after a message.
bool PrepareTarget(Session& s, const std::string& to) {
  struct stat st {};
  if (::stat(to.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    std::cerr << "kdl: " << to << ": " << kdl::FileKindName(st.st_mode) << ", not a folder to copy into"
              << std::endl;
    return false;
  }
  if (errno != ENOENT) {
    std::cerr << "kdl: " << to << ": " << std::strerror(errno) << std::endl;
    return false;
  }
  // As the copy dialog does: offer to create a target folder that does not exist yet.
  const std::string question = to + " は存在しません。作成しますか？";
  if (s.prompter.Ask("KDZ Copy", question, kdl::Buttons::kYesNo, kdl::Icon::kQuestion) != kdl::Answer::kYes)
    return false;
  std::error_code ec;
  if (!std::filesystem::create_directories(to, ec) && !std::filesystem::is_directory(to, ec)) {
    s.prompter.Ask("Copy", "コピー先ディレクトリが作れません", kdl::Buttons::kOk, kdl::Icon::kStop);
    return false;
  }
  return true;
}

}  // namespace

int CmdCopy(Session& s, const std::string& operand, const std::vector<std::string>& paths,
            const CopyOptions& o) {
  const bool archive = HasKdzExtension(operand);
  if (archive && !paths.empty())
    throw UsageError{"kdl copy ARCHIVE copies every image; name one image as ARCHIVE:N"};
  // The source first: nothing is created for a copy whose image cannot be read.
  if (archive ? !OpenArchiveOperand(s, operand) : !OpenImageOperand(s, operand)) return kExitFailed;
  if (!PrepareTarget(s, o.to)) {
    if (archive) kdl::CloseArchive(s.archive);
    s.image.CloseImage();
    return kExitFailed;
  }
  StopCooperatively();
  if (archive) return CmdCopyArchive(s, operand, paths, o);
  const kdl::OverwritePolicy policy = ParsePolicy(o.policy);
  int32_t result = 0;
  bool missing = false;
  if (paths.empty()) {
    s.work.openCloseFlags = 0;
    result = kdl::CopyWholeImage(s.image, o.to, o.flatten, policy);
  } else {
    for (const std::string& path : paths) {
      auto r = kdl::ResolveImagePath(s.image, path);
      if (!r) {
        std::cerr << "kdl: " << path << ": no such file or directory in the image" << std::endl;
        missing = true;
        continue;
      }
      if (!r->entry) {  // the root itself
        s.work.openCloseFlags = 0;
        result = kdl::CopyWholeImage(s.image, o.to, o.flatten, policy);
      } else if (r->entry->IsDirectory()) {
        result = kdl::CopyDirectoryOut(s.image, r->table, r->index, policy, o.flatten, o.to);
      } else {
        result = kdl::CopyFileOut(s.image, r->table, r->index, o.to, policy);
      }
      if (result < 0) break;
    }
  }
  s.image.CloseImage();
  const bool failed = result < 0 || missing || s.prompter.errorsShown() > 0;
  return failed ? kExitFailed : kExitOk;
}

}  // namespace kdlcli
