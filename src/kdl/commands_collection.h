// The commands that see a whole collection: `mount` (through FUSE) and `find`.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "kdl/session.h"

namespace kdlcli {

struct MountArgs {
  std::string source;
  std::string mountpoint;
  std::vector<std::string> options;  // -o, each as given
  bool foreground = false;
  size_t cacheMegabytes = 16;
};

struct FindArgs {
  std::vector<std::string> operands;  // SOURCE... [PATTERN]
  std::string grep;
  bool ignoreCase = false;
};

struct CollectionArgs {
  MountArgs mount;
  FindArgs find;
};

struct CollectionCommands {
  CLI::App* mount = nullptr;
  CLI::App* find = nullptr;
  std::shared_ptr<CollectionArgs> args;
};

CollectionCommands AddCollectionCommands(CLI::App& app);
// Runs the collection subcommand that was parsed and returns its exit status; -1 when neither was parsed.
int RunCollectionCommand(const CollectionCommands& commands, Session& s);

int CmdMount(const MountArgs& a);
// Exit status as grep's: 0 something found, 1 nothing found, 2 something could not be read.
int CmdFind(Session& s, const FindArgs& a);

}  // namespace kdlcli
