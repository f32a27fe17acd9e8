#include <cstdio>
#include <cstring>

#include "common/temp_files.h"
#include "kdlw/app/application.h"

namespace {

// What --help prints; the kdlw(1) manual page is made from it.
constexpr const char* kHelp =
    "Usage: kdlw [FILE]\n"
    "The window program of KDLW: archive FAT12 floppy disks as .KDL images and .KDZ archives, browse and\n"
    "view the files inside them, copy them out, and write images back onto floppy disks.\n"
    "\n"
    "Without FILE the main window opens on the folder used last. FILE.KDL opens the image's browse window,\n"
    "FILE.KDZ the archive's window; the program then ends when that window closes, and its settings are\n"
    "neither read nor written. Only one instance runs at a time: a second start brings the first to the\n"
    "front.\n"
    "\n"
    "Options:\n"
    "  -h, --help     print this help and exit\n"
    "      --version  print the version and exit\n"
    "\n"
    "The options every Qt program takes (-platform, -display, -style, ...) are taken as well.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::puts("kdlw " KDLW_VERSION);
    return 0;
  }
  // A window closed by the session's end or a signal leaves no half-written file behind.
  kdl::InstallTemporaryFileCleanup();
  return kdlw::RunApplication(argc, argv);
}
