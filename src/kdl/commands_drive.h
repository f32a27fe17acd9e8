// The drive commands of `kdl`: create (a disk into an image), restore (an image onto a disk) and raw (an
// image out as a raw sector image).
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "drive/drive.h"
#include "kdl/session.h"

namespace kdlcli {

struct CreateOptions {
  std::vector<std::string> labels;  // UTF-8, at most four
  bool noCompress = false;
  bool keepUnused = false;
  bool verify = false;
  bool sectorRetry = false;  // read a failed run again sector by sector, asking for each bad sector
};

struct DriveArgs {
  std::string drive;
  std::string target;  // create: the image or raw file to write
  std::string image;   // restore, raw: the image to read
  std::string output;  // raw: the raw sector image to write
  std::string format;  // raw: raw, d88, fdi, hdm, imd or gz; empty: from OUTPUT's extension, else raw
  CreateOptions create;
  bool verify = false;       // restore
  bool sectorRetry = false;  // restore
  bool force = false;        // restore: write the readable units of a damaged image
};

// The subcommands `create`, `restore` and `raw`, registered on the application; their values live in `args`.
struct DriveCommands {
  CLI::App* create = nullptr;
  CLI::App* restore = nullptr;
  CLI::App* raw = nullptr;
  std::shared_ptr<DriveArgs> args;
};

DriveCommands AddDriveCommands(CLI::App& app);
// Runs the drive subcommand that was parsed and returns its exit status; -1 when none of them was parsed.
// Throws UsageError for a command line the parser could not refuse.
int RunDriveCommand(const DriveCommands& commands, Session& s);

// DRIVE is a letter ("A:", through the settings file's drive list), a block device or a regular file holding
// a raw disk image, which then acts as the drive.
int CmdCreate(Session& s, const std::string& drive, const std::string& target, const CreateOptions& o);
// Without `force` an image with damaged units is refused before anything is written; with it, the readable
// units are written and the damaged ones filled (exit status 1).
int CmdRestore(Session& s, const std::string& image, const std::string& drive, bool verify, bool sectorRetry,
               bool force = false);
// Tells on standard error that --force would write a damaged image.
void HintForce();
// `format` names the output's container (see DriveArgs::format). Units that cannot be read are filled and
// the command fails (exit status 1), keeping the output.
int CmdRaw(Session& s, const std::string& image, const std::string& output, const std::string& format = {});

// Tells the sectors a pass over `layer` ignored (the Ignore answer of a sector-by-sector read): the count and
// their numbers on standard error. Returns `status`, or kExitFailed for a success that lost sectors.
int ReportIgnoredSectors(const kdl::DriveLayer& layer, int status);

}  // namespace kdlcli
