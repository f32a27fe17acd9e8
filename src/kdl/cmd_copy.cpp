// `kdl copy`: files, trees or the whole image into a host folder under an overwrite policy.
#include <filesystem>
#include <iostream>

#include "browse/copyout.h"
#include "browse/dir_list.h"
#include "kdl/commands.h"
#include "kdl/commands_archive.h"

namespace kdlcli {
kdl::OverwritePolicy ParsePolicy(const std::string& name) {
  if (name == "all") return kdl::OverwritePolicy::kAll;
  if (name == "ask") return kdl::OverwritePolicy::kAsk;
  if (name == "skip") return kdl::OverwritePolicy::kSkip;
  return kdl::OverwritePolicy::kNewer;
}

int CmdCopy(Session& s, const std::string& operand, const std::vector<std::string>& paths,
            const CopyOptions& o) {
  std::error_code ec;
  if (!std::filesystem::is_directory(o.to, ec)) {
    // As the copy dialog does: offer to create a target folder that does not exist yet.
    const std::string question = o.to + " は存在しません。作成しますか？";
    if (std::filesystem::exists(o.to, ec) || s.prompter.Ask("KDZ Copy", question, kdl::Buttons::kYesNo,
                                                            kdl::Icon::kQuestion) != kdl::Answer::kYes) {
      return kExitFailed;
    }
    if (!std::filesystem::create_directories(o.to, ec)) {
      s.prompter.Ask("Copy", "コピー先ディレクトリが作れません", kdl::Buttons::kOk, kdl::Icon::kStop);
      return kExitFailed;
    }
  }
  if (HasKdzExtension(operand)) return CmdCopyArchive(s, operand, paths, o);
  if (!OpenImageOperand(s, operand)) return kExitFailed;
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
