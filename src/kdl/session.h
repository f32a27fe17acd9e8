// What every `kdl` command works with: the terminal prompter, the work area and the one image object.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "archive/archive.h"
#include "common/worker_pool.h"
#include "image/image.h"
#include "image/listing.h"
#include "kdl/terminal_prompter.h"

namespace kdlcli {

// Exit statuses of the command line.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Thrown for a command line that is wrong in a way the parser cannot see (exit status 2).
struct UsageError {
  std::string message;
};

struct Session {
  explicit Session(std::optional<bool> preset);
  // Works with `jobs` threads: 1 runs everything on this one, more start a pool of that many workers.
  void UseJobs(int jobs);
  TerminalPrompter prompter;
  kdl::ImageWork work;
  kdl::ImageState image;
  kdl::ArchiveState archive;           // the archive named by an ARCHIVE.KDZ operand
  kdl::ArchiveImageInfo archiveImage;  // the entry of the image open inside it
  bool archiveImageOpen = false;
  std::unique_ptr<kdl::WorkerPool> pool;
};

// True when `path` names a ".KDL" file by its extension, in any letter case.
bool HasKdlExtension(const std::string& path);

// Opens an IMAGE operand: a ".KDL" file, or any other file as a raw sector image. False after the user has
// been told why (an archive named where an image is meant is recognised and explained).
bool OpenImageOperand(Session& s, const std::string& operand);

// Refuses an IMAGE or ARCHIVE operand (`what`: "image", "archive") that exists and is not a regular file,
// without opening it (a FIFO would block, a device is read with `kdl create`). False after a message.
bool CheckInputOperand(const std::string& operand, const char* what);
// Refuses an OUTPUT or TARGET that cannot be written as a file: "-" when standard output is a terminal, and
// an existing directory, device, FIFO or socket (a disk is written with `kdl restore`, never by replacing its
// device node). False after a message.
bool CheckOutputOperand(const std::string& operand);
// What a regular file holds by its first bytes: an archive, a .KDL image, or anything else (a raw disk image,
// or no regular file at all).
enum class StoredKind { kArchive, kImage, kOther };
StoredKind StoredKindOf(const std::string& path);
// Refuses a DRIVE operand that is a .KDL image or a .KDZ archive (a drive given as a file must hold a raw
// disk image). False after a message.
bool CheckDriveFile(const std::string& operand);

// Text from a disk made safe for a terminal: control characters (a long name may hold an escape sequence)
// become "?"; line breaks stay when `keepNewlines`.
std::string PrintableText(std::string_view text, bool keepNewlines = false);

// UTF-8 text from the terminal to Shift-JIS for a label line; throws UsageError when it holds a control
// character (a label line is one line of text), cannot be converted, or is longer than `limit` bytes once
// converted.
std::string LabelToSjis(const std::string& utf8, size_t limit);

}  // namespace kdlcli
