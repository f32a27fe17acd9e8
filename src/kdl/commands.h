// The `kdl` commands. Each returns the exit status; messages have gone to standard error through the
// session's prompter, listings to standard output.
#pragma once

#include <string>
#include <vector>

#include "browse/copyout.h"
#include "kdl/session.h"

namespace kdlcli {

int CmdTest(Session& s, const std::string& operand);
int CmdLabels(Session& s, const std::string& operand, const std::vector<std::string>& labels);
int CmdLs(Session& s, const std::string& operand, const std::string& dir, bool recursive);
int CmdCat(Session& s, const std::string& operand, const std::string& path);
int CmdView(Session& s, const std::string& operand, const std::string& path, bool dump);

struct CopyOptions {
  std::string to;
  std::string policy = "newer";
  bool flatten = false;
};
// The policy named on the command line (newer, all, ask, skip).
kdl::OverwritePolicy ParsePolicy(const std::string& name);
// Copies out of an image (or every image of an archive) into the folder o.to, offering to create it.
int CmdCopy(Session& s, const std::string& operand, const std::vector<std::string>& paths,
            const CopyOptions& o);

}  // namespace kdlcli
