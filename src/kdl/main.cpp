// `kdl`: the command line over the same core as the window program.
#include <CLI/CLI.hpp>
#include <iostream>
#include <set>

#include "kdl/commands.h"
#include "kdl/commands_archive.h"
#include "kdl/commands_collection.h"
#include "kdl/commands_drive.h"
#include "kdl/commands_edit.h"
#include "kdl/manual.h"
#include "kdl/stop_signals.h"

namespace {

constexpr const char* kDescription =
    "kdl - archive FAT12 floppy disks as .KDL images and .KDZ archives, and work with them.\n"
    "IMAGE is a .KDL file, a raw sector image, another tool's disk image (D88, FDI, ImageDisk, HDM,\n"
    "gzip'd raw; recognised by content), or ARCHIVE.KDZ:N / ARCHIVE.KDZ:DISKn; PATH inside an\n"
    "image takes / or \\ and long or 8.3 names.";

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{kDescription, "kdl"};
  app.set_version_flag("--version", std::string("kdl ") + KDL_VERSION, "Print the version and exit");
  // Every command and option at once: what the manual page is made from.
  app.set_help_all_flag("--help-all", "Print the help of every command and exit");
  app.require_subcommand(1);
  app.fallthrough();
  bool yes = false, no = false;
  app.add_flag("--yes", yes, "Answer every question Yes in advance");
  app.add_flag("--no", no, "Answer every question No in advance");
  int jobs = 0;
  app.add_option("-j,--jobs", jobs,
                 "Threads that compress, expand and check track units and images side by side "
                 "(default: all cores; 1: one thread)")
      ->check(CLI::Range(1, 256));

  std::string operand, path, dir;
  std::vector<std::string> labels, paths;
  bool recursive = false, dump = false;
  kdlcli::CopyOptions copy;

  auto* test = app.add_subcommand(
      "test", "Print the image's information listing, reading and checking every track unit");
  test->add_option("IMAGE", operand, "Image to test")->required();

  auto* lbl =
      app.add_subcommand("labels", "Print the type line and the four label lines; with -l, rewrite them");
  lbl->add_option("IMAGE", operand, "Image")->required();
  lbl->add_option("-l,--label", labels, "Label line (up to four times, 40 bytes each in Shift-JIS)")
      ->expected(0, 4);

  auto* ls = app.add_subcommand("ls", "List a directory of the image as the browse window does");
  ls->add_option("IMAGE", operand, "Image")->required();
  ls->add_option("DIR", dir, "Directory inside the image (default: the root)");
  ls->add_flag("-R,--recursive", recursive, "Walk the whole tree below DIR");

  auto* cat = app.add_subcommand("cat", "Write a file's bytes to standard output");
  cat->add_option("IMAGE", operand, "Image")->required();
  cat->add_option("PATH", path, "File inside the image")->required();

  auto* view = app.add_subcommand("view", "Print the viewer's text lines of a file");
  view->add_option("IMAGE", operand, "Image")->required();
  view->add_option("PATH", path, "File inside the image")->required();
  view->add_flag("--dump", dump, "Print hexadecimal dump lines instead");

  auto* cp = app.add_subcommand("copy", "Copy files and directories out of the image into a folder");
  cp->add_option("IMAGE", operand, "Image")->required();
  cp->add_option("PATH", paths, "Files and directories to copy (default: the whole image)");
  cp->add_option("--to", copy.to, "Target folder")->required();
  cp->add_option("--policy", copy.policy, "When a file exists: newer (default), all, ask, skip")
      ->check(CLI::IsMember({"newer", "all", "ask", "skip"}));
  cp->add_flag("--flatten", copy.flatten, "Write every file into the target folder itself");

  const kdlcli::DriveCommands drive = kdlcli::AddDriveCommands(app);
  const kdlcli::ArchiveCommands archive = kdlcli::AddArchiveCommands(app);
  const kdlcli::EditCommands edit = kdlcli::AddEditCommands(app);
  const kdlcli::CollectionCommands collection = kdlcli::AddCollectionCommands(app);
  // A file, folder, drive or image number is never named by an empty word (a label line or a path inside an
  // image may be empty).
  const CLI::Validator named(
      [](std::string& value) {
        return value.empty() ? std::string("an empty name names nothing") : std::string();
      },
      "", "NAME");
  for (CLI::App* sub : app.get_subcommands({})) {
    for (CLI::Option* option : sub->get_options()) {
      static const std::set<std::string> kNames = {"IMAGE",  "ARCHIVE", "DRIVE", "TARGET",
                                                   "OUTPUT", "SOURCE",  "N",     "to"};
      if (kNames.count(option->get_single_name()) != 0) option->check(named);
    }
  }
  // For the build: the reference part of the manual page, from these very definitions. Not shown in --help.
  app.add_flag_callback(
         "--manual-reference",
         [&app] {
           std::cout << kdlcli::ManualReference(app);
           throw CLI::Success();
         },
         "Print the command reference for the manual page")
      ->group("");

  try {
    app.parse(argc, argv);
    if (yes && no) throw CLI::ValidationError("--yes and --no exclude each other");
  } catch (const CLI::ParseError& e) {
    // A mistyped command reads as a missing one to the parser; name the word instead.
    if (app.get_subcommands().empty()) {
      for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word.empty() || word[0] == '-') continue;
        const bool known =
            !app.get_subcommands([&word](const CLI::App* sub) { return sub->check_name(word); }).empty();
        if (!known) {
          std::cerr << "kdl: " << word << ": no such command (kdl --help lists them)" << std::endl;
          return kdlcli::kExitUsage;
        }
        break;
      }
    }
    return app.exit(e) == 0 ? kdlcli::kExitOk : kdlcli::kExitUsage;
  }

  const auto RunCommand = [&](kdlcli::Session& session) {
    if (const int rc = kdlcli::RunDriveCommand(drive, session); rc >= 0) return rc;
    if (const int rc = kdlcli::RunArchiveCommand(archive, session); rc >= 0) return rc;
    if (const int rc = kdlcli::RunEditCommand(edit, session); rc >= 0) return rc;
    if (const int rc = kdlcli::RunCollectionCommand(collection, session); rc >= 0) return rc;
    if (test->parsed()) return kdlcli::CmdTest(session, operand);
    if (lbl->parsed()) return kdlcli::CmdLabels(session, operand, labels);
    if (ls->parsed()) return kdlcli::CmdLs(session, operand, dir, recursive);
    if (cat->parsed()) return kdlcli::CmdCat(session, operand, path);
    if (view->parsed()) return kdlcli::CmdView(session, operand, path, dump);
    if (cp->parsed()) return kdlcli::CmdCopy(session, operand, paths, copy);
    return kdlcli::kExitUsage;
  };

  std::optional<bool> preset;
  if (yes) preset = true;
  if (no) preset = false;
  kdlcli::Session session(preset);
  session.UseJobs(jobs > 0 ? jobs : kdl::WorkerPool::MachineThreads());
  int status = kdlcli::kExitUsage;
  try {
    status = RunCommand(session);
  } catch (const kdlcli::UsageError& e) {
    std::cerr << "kdl: " << e.message << std::endl;
    return kdlcli::kExitUsage;
  }
  // A run that a signal stopped (or that ended before its pass could look at the request) says so.
  if (session.prompter.stopped() || kdlcli::StopPending()) return kdlcli::kExitStopped;
  return status;
}
