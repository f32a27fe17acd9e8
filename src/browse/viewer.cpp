#include "browse/viewer.h"

#include <array>
#include <cstdio>

#include "browse/fat.h"
#include "common/sjis.h"

namespace kdl {
namespace {

// Progress is shown in percent from this size on.
constexpr uint32_t kPercentFrom = 32000;
constexpr std::string_view kUnassigned = "\xEF\xBF\xBD";
// Shown for a user-defined character: it has a code but no glyph in any font, and the dot keeps its two
// columns.
constexpr std::string_view kNoGlyph = "・";

bool IsSjisTrailByte(int b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }

// Printable as a single byte in the dump's character column: ASCII and half-width katakana.
bool IsDumpPrintable(uint8_t b) { return (b >= 0x20 && b <= 0x7E) || (b >= 0xA1 && b <= 0xDF); }

bool NextTextLine(ViewLineState& state, const ByteSource& next, std::string& line) {
  line.clear();
  size_t count = 0;
  // True while the last byte kept is a lead byte still waiting for its trail byte.
  bool openLead = false;
  if (state.pendingLead != 0) {
    line += static_cast<char>(state.pendingLead);
    state.pendingLead = 0;
    count = 1;
    openLead = true;
  }
  while (count < kTextLineLimit) {
    const int c = next();
    if (c < 0) return count > 0;
    ++count;
    if (c == 0x0D) {
      openLead = false;
      continue;
    }
    if (c == 0x0A) return true;
    const uint8_t b = (c < 0x20 && c != 0x09) ? uint8_t{' '} : static_cast<uint8_t>(c);
    // A byte after a lead byte completes the character or breaks it; no byte that breaks one is a lead byte.
    openLead = openLead ? false : IsSjisLeadByte(b);
    line += static_cast<char>(b);
  }
  // Never split a double-byte character at the length limit: its lead byte opens the next line.
  if (openLead) {
    state.pendingLead = static_cast<uint8_t>(line.back());
    line.pop_back();
  }
  return true;
}

bool NextDumpLine(ViewLineState& state, const ByteSource& next, std::string& line) {
  std::array<int, kDumpBytesPerLine> v{};
  size_t n = 0;
  bool ended = false;
  // The stream is not asked again once it has ended.
  for (int& value : v) {
    value = ended ? -1 : next();
    ended = value < 0;
    if (!ended) ++n;
  }
  if (n == 0) return false;

  char field[24];
  std::snprintf(field, sizeof field, " %05lX:  ", static_cast<unsigned long>(state.dumpOffset));
  line = field;
  state.dumpOffset += kDumpBytesPerLine;
  for (int value : v) {
    if (value >= 0) {
      std::snprintf(field, sizeof field, "%02X ", static_cast<unsigned>(value));
      line += field;
    } else {
      line += "   ";
    }
  }
  line += "    ";

  size_t k = 0;
  // A character cut by the previous line is shown whole here, one column left of the usual start.
  if (state.pendingLead != 0 && IsSjisTrailByte(v[0])) {
    line.back() = static_cast<char>(state.pendingLead);
    line += static_cast<char>(v[0]);
    k = 1;
  }
  state.pendingLead = 0;
  for (; k < kDumpBytesPerLine; ++k) {
    if (v[k] < 0) {
      line += ' ';
      continue;
    }
    const auto b = static_cast<uint8_t>(v[k]);
    if (IsSjisLeadByte(b)) {
      if (k == kDumpBytesPerLine - 1) {
        line += ' ';
        state.pendingLead = b;
      } else if (IsSjisTrailByte(v[k + 1])) {
        line += static_cast<char>(b);
        line += static_cast<char>(v[k + 1]);
        ++k;
      } else {
        line += '.';
      }
    } else {
      line += IsDumpPrintable(b) ? static_cast<char>(b) : '.';
    }
  }
  line += ' ';
  return true;
}

// True for one UTF-8 character in the private use area, where the user-defined Shift-JIS codes land.
bool IsPrivateUse(std::string_view utf8) {
  if (utf8.size() != 3) return false;
  const uint32_t cp = (static_cast<uint32_t>(static_cast<uint8_t>(utf8[0]) & 0x0F) << 12) |
                      (static_cast<uint32_t>(static_cast<uint8_t>(utf8[1]) & 0x3F) << 6) |
                      (static_cast<uint32_t>(static_cast<uint8_t>(utf8[2]) & 0x3F));
  return cp >= 0xE000 && cp <= 0xF8FF;
}

// A dump line converted cell by cell, so that an unassigned code cannot shift the columns after it.
std::string DumpLineToUtf8(std::string_view line) {
  std::string out;
  out.reserve(line.size() + 32);
  for (size_t i = 0; i < line.size();) {
    const auto b = static_cast<uint8_t>(line[i]);
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++i;
    } else if (IsSjisLeadByte(b) && i + 1 < line.size() &&
               IsSjisTrailByte(static_cast<uint8_t>(line[i + 1]))) {
      const std::string pair = SjisToUtf8(line.substr(i, 2));
      if (pair.find(kUnassigned) != std::string::npos) {
        out += "..";
      } else if (IsPrivateUse(pair)) {
        out += kNoGlyph;
      } else {
        out += pair;
      }
      i += 2;
    } else {
      out += SjisToUtf8(line.substr(i, 1));
      ++i;
    }
  }
  return out;
}

std::string SizeText(std::string_view label, const std::string& name, uint32_t size) {
  return std::string(label) + name + "  " + std::to_string(size) + " バイト";
}

}  // namespace

bool NextViewLine(ViewLineState& state, const ByteSource& next, std::string& line) {
  return state.mode == ViewMode::kDump ? NextDumpLine(state, next, line) : NextTextLine(state, next, line);
}

bool NextViewLine(ImageState& image, ViewLineState& state, std::string& line) {
  return NextViewLine(
      state, [&image] { return NextFileByte(image); }, line);
}

std::string ViewLineToUtf8(std::string_view line, ViewMode mode) {
  return mode == ViewMode::kDump ? DumpLineToUtf8(line) : SjisToUtf8(line);
}

FileViewResult FillFileView(ImageState& image, const DirectoryTable& table, size_t index, ViewMode mode,
                            const std::function<void(std::string_view line)>& addLine) {
  ImageWork& work = image.work();
  Prompter& prompter = *work.prompter;
  const DirectoryEntry& entry = table.at(index);
  std::string name;
  EntryDisplayName(table, index, name);
  const uint32_t size = entry.Size();

  work.busy = true;
  work.cancelRequested = false;
  image.BeginOperation();
  OpenFileStream(image, entry);
  ViewLineState state;
  state.mode = mode;
  prompter.SetStatus(SizeText("読込中 : ", name, size));
  const bool percent = size >= kPercentFrom;
  prompter.SetProgressMaximum(percent ? 100 : static_cast<int>(size));
  prompter.SetProgress(0);

  FileViewResult result;
  std::string line;
  while (NextViewLine(image, state, line)) {
    addLine(line);
    ++result.lines;
    const uint64_t done = size - image.stream.remaining;
    prompter.SetProgress(static_cast<int>(percent ? done * 100 / size : done));
    image.Pump();
    if (work.cancelRequested) {
      result.stopped = true;
      break;
    }
  }
  result.chainBroken = image.stream.broken;
  // The view shows what the chain holds; fewer bytes than the file's size is said, not left to be noticed.
  if (result.chainBroken) image.ShowImageError(BrokenChainText(name));
  prompter.SetProgress(0);
  result.status = SizeText("ファイル : ", name, size);
  prompter.SetStatus(result.status);
  work.busy = false;
  work.cancelRequested = false;
  return result;
}

}  // namespace kdl
