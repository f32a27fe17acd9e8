// The commands of `kdl` that change what an image holds: format, put, mkdir, rm, mv, attrib and vol.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "kdl/session.h"

namespace kdlcli {

struct EditArgs {
  std::string image;
  std::vector<std::string> paths;
  // format
  int type = -1;
  std::string volumeLabel;
  std::vector<std::string> labels;
  std::string from;
  bool noCompress = false;
  bool keepUnused = false;
  // put
  std::string to;
  std::string policy = "newer";
  bool recursive = false;
  // mv
  std::string oldPath;
  std::string newPath;
  // attrib: the entry and the changes as given ("+r", "-h", ...)
  std::string attribPath;
  std::vector<std::string> changes;
  // vol
  std::string label;
};

struct EditCommands {
  CLI::App* format = nullptr;
  CLI::App* put = nullptr;
  CLI::App* mkdir = nullptr;
  CLI::App* rm = nullptr;
  CLI::App* mv = nullptr;
  CLI::App* attrib = nullptr;
  CLI::App* vol = nullptr;
  std::shared_ptr<EditArgs> args;
};

EditCommands AddEditCommands(CLI::App& app);
// Runs the edit subcommand that was parsed and returns its exit status; -1 when none of them was parsed.
// Throws UsageError for a command line the parser could not refuse.
int RunEditCommand(const EditCommands& commands, Session& s);

}  // namespace kdlcli
