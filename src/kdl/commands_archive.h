// The archive commands of `kdl` (add, list, extract), the archive forms of test, labels, copy and restore,
// and the ARCHIVE.KDZ:N / ARCHIVE.KDZ:DISKn operand through which every image command reaches one image.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "image/listing.h"
#include "kdl/commands.h"
#include "kdl/session.h"

namespace kdlcli {

struct AddOptions {
  std::string archive;
  std::vector<std::string> sources;
  std::vector<std::string> labels;  // UTF-8, at most two
  bool fresh = false;               // --new
  bool noCompress = false;
  bool keepUnused = false;
  bool verify = false;
};

struct ArchiveArgs {
  AddOptions add;
  std::string archive;
  std::string entry;
  std::string output;
};

// The subcommands `add`, `list` and `extract`, registered on the application; their values live in `args`.
struct ArchiveCommands {
  CLI::App* add = nullptr;
  CLI::App* list = nullptr;
  CLI::App* extract = nullptr;
  CLI::App* repair = nullptr;
  std::shared_ptr<ArchiveArgs> args;
};

ArchiveCommands AddArchiveCommands(CLI::App& app);
// Runs the archive subcommand that was parsed and returns its exit status; -1 when none of them was parsed.
// Throws UsageError for a command line the parser could not refuse.
int RunArchiveCommand(const ArchiveCommands& commands, Session& s);

int CmdAdd(Session& s, const AddOptions& o);
int CmdList(Session& s, const std::string& archive);
// Mends an archive whose chain and count disagree (asking first).
int CmdRepair(Session& s, const std::string& archive);
// ENTRY is N (from 1) or DISKn.
int CmdExtract(Session& s, const std::string& archive, const std::string& entry, const std::string& output);

// True for an operand that names an archive by its extension (".KDZ", any case).
bool HasKdzExtension(const std::string& operand);
// The archive forms of the image commands.
int CmdTestArchive(Session& s, const std::string& archive);
int CmdLabelsArchive(Session& s, const std::string& archive, const std::vector<std::string>& labels);
// Opens ARCHIVE as the session's archive; false after a message.
bool OpenArchiveOperand(Session& s, const std::string& archive);
// Copies every image of the archive CmdCopy has opened (OpenArchiveOperand) into o.to.
int CmdCopyArchive(Session& s, const std::string& archive, const std::vector<std::string>& paths,
                   const CopyOptions& o);
// Restores every image in turn onto the disk in DRIVE, asking before each (y write, n skip, c stop).
int CmdRestoreArchive(Session& s, const std::string& archive, const std::string& drive, bool verify,
                      bool sectorRetry = false);

// Opens ARCHIVE:N or ARCHIVE:DISKn as the session's image. `handled` is false (and nothing is done) unless
// the part before the last ":" is an existing file and the part after it an entry's number or name; then the
// result tells whether the image is open (false after a message).
bool OpenArchiveImageOperand(Session& s, const std::string& operand, bool& handled);
// The entry of the image OpenArchiveImageOperand opened, for the first line of its listing; null when the
// open image is not inside an archive.
const kdl::ArchiveImageInfo* OpenArchiveImageInfo(Session& s);

}  // namespace kdlcli
