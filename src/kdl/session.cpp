#include "kdl/session.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "common/sjis.h"
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

bool OpenImageOperand(Session& s, const std::string& operand) {
  bool handled = false;
  const bool inArchive = OpenArchiveImageOperand(s, operand, handled);
  if (handled) return inArchive;
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
  auto sjis = kdl::Utf8ToSjis(utf8);
  if (!sjis) throw UsageError{"label \"" + utf8 + "\" holds characters Shift-JIS cannot represent"};
  if (sjis->size() > limit) {
    throw UsageError{"label \"" + utf8 + "\" is " + std::to_string(sjis->size()) +
                     " bytes in Shift-JIS; at most " + std::to_string(limit) + " fit"};
  }
  return *sjis;
}

}  // namespace kdlcli
