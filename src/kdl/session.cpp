#include "kdl/session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>

#include "archive/archive_format.h"
#include "common/file.h"
#include "common/sjis.h"
#include "image/kdl_format.h"
#include "image/output_file.h"
#include "kdl/commands_archive.h"

namespace kdlcli {

Session::Session(std::optional<bool> preset) : prompter(preset), image(work), archive(work) {
  work.prompter = &prompter;
}

void Session::UseJobs(int jobs) {
  work.pool = nullptr;
  pool.reset();
  if (jobs > 1) {
    pool = std::make_unique<kdl::WorkerPool>(jobs);
    work.pool = pool.get();
  }
}

bool HasKdlExtension(const std::string& path) { return kdl::HasKdlExtension(path); }

StoredKind StoredKindOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return StoredKind::kOther;
  kdl::File file;
  char magic[8] = {};
  if (!file.Open(path, kdl::File::Mode::kRead) || file.ReadAt(0, magic, sizeof magic) != sizeof magic)
    return StoredKind::kOther;
  const std::string_view text(magic, sizeof magic);
  if (text == kdl::kArchiveMagic) return StoredKind::kArchive;
  if (text == kdl::kKdlMagic) return StoredKind::kImage;
  return StoredKind::kOther;
}

bool CheckInputOperand(const std::string& operand, const char* what) {
  struct stat st {};
  if (::stat(operand.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return true;
  std::cerr << "kdl: " << operand << ": " << kdl::FileKindName(st.st_mode) << ", not an " << what << " file";
  if (S_ISBLK(st.st_mode))
    std::cerr << " (a disk in a drive is read with: kdl create " << operand << " TARGET)";
  std::cerr << std::endl;
  return false;
}

bool CheckOutputOperand(const std::string& operand) {
  if (operand == kdl::kStandardOutputName) {
    if (isatty(STDOUT_FILENO) == 0) return true;
    std::cerr
        << "kdl: standard output is a terminal; an image is not written to it (redirect it, or name a file)"
        << std::endl;
    return false;
  }
  struct stat st {};
  if (::stat(operand.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return true;
  std::cerr << "kdl: " << operand << ": " << kdl::FileKindName(st.st_mode)
            << "; only a regular file is written";
  if (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode))
    std::cerr << " (a disk is written with: kdl restore IMAGE " << operand << ")";
  else if (S_ISFIFO(st.st_mode))
    std::cerr << " (to write into a pipe, name - for standard output)";
  std::cerr << std::endl;
  return false;
}

bool CheckDriveFile(const std::string& operand) {
  const StoredKind stored = StoredKindOf(operand);
  if (stored == StoredKind::kOther) return true;
  std::cerr << "kdl: " << operand << " is "
            << (stored == StoredKind::kArchive ? "a .KDZ archive" : "a .KDL image")
            << ", not a disk; a drive is a letter (A:), a block device or a raw disk image file";
  if (stored == StoredKind::kImage) std::cerr << " (kdl raw " << operand << " OUTPUT writes one out of it)";
  std::cerr << std::endl;
  return false;
}

bool OpenImageOperand(Session& s, const std::string& operand) {
  bool handled = false;
  const bool inArchive = OpenArchiveImageOperand(s, operand, handled);
  if (handled) return inArchive;
  if (!CheckInputOperand(operand, "image")) return false;
  if (StoredKindOf(operand) == StoredKind::kArchive) {
    std::cerr << "kdl: " << operand << " is a .KDZ archive, not an image; name one of its images as "
              << operand << ":N (kdl list " << operand << " shows them)" << std::endl;
    return false;
  }
  s.work.currentImagePath = operand;
  if (HasKdlExtension(operand)) {
    s.work.dialogMode = kdl::kModeCreate;
  } else {
    s.work.dialogMode = kdl::kModeOpenRaw;
    s.work.rawImagePath = operand;
  }
  const bool ok = s.image.OpenImage(operand) >= 0;
  s.work.dialogMode = kdl::kModeCreate;
  return ok;
}

std::string PrintableText(std::string_view text, bool keepNewlines) {
  std::string out(text);
  for (char& c : out) {
    const auto b = static_cast<unsigned char>(c);
    if ((b < 0x20 && !(keepNewlines && c == '\n')) || b == 0x7F) c = '?';
  }
  return out;
}

std::string LabelToSjis(const std::string& utf8, size_t limit) {
  for (const char c : utf8) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) {
      throw UsageError{"label \"" + PrintableText(utf8) + "\" holds a control character (" +
                       (b == '\n' ? std::string("a line break") : "byte " + std::to_string(b)) +
                       "); a label line is one line of text"};
    }
  }
  auto sjis = kdl::Utf8ToSjis(utf8);
  if (!sjis) throw UsageError{"label \"" + utf8 + "\" holds characters Shift-JIS cannot represent"};
  if (sjis->size() > limit) {
    throw UsageError{"label \"" + utf8 + "\" is " + std::to_string(sjis->size()) +
                     " bytes in Shift-JIS; at most " + std::to_string(limit) + " fit"};
  }
  return *sjis;
}

}  // namespace kdlcli
