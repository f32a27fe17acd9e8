// The lines of the file viewer: a file of the open image shown as text or as a hexadecimal dump with a
// Shift-JIS aware character column. The window and `kdl view` both take their lines from here, so they
// show the same thing.
//
// Lines are made in Shift-JIS, as the bytes of the file are; ViewLineToUtf8 turns a line into the UTF-8
// that the window and the terminal show.
//
// Text line: at most 1,024 bytes of the file; LF ends the line (not included), CR is dropped, TAB is kept,
// other bytes below 0x20 become spaces, everything else passes unchanged. A double-byte character that would
// straddle the 1,024-byte limit starts the next line instead.
//
// Dump line (78 bytes while the offset has five digits):
//   " 001F0:  " offset, then 16 x "XX " (three spaces past the end), then four spaces, then the 16-column
//   character column from position 61, then one space. Position 60 shows a lead byte carried over from the
//   previous line when this line begins with its trail byte.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "fat/directory.h"
#include "image/image.h"

namespace kdl {

enum class ViewMode : int32_t { kText = 0, kDump = 1 };

inline constexpr size_t kTextLineLimit = 1024;
inline constexpr size_t kDumpBytesPerLine = 16;
// Where the character column of a dump line starts, and where a carried lead byte is shown.
inline constexpr size_t kDumpCharColumn = 61;
inline constexpr size_t kDumpCarryColumn = 60;

// Where the line producer stands between two lines.
struct ViewLineState {
  ViewMode mode = ViewMode::kText;
  uint32_t dumpOffset = 0;  // bytes already shown in the dump
  uint8_t pendingLead = 0;  // a Shift-JIS lead byte held back for the next line, 0 when none
};

// The next byte of a file (0-255), or -1 at its end.
using ByteSource = std::function<int()>;

// Makes the next line from `next` into `line` (Shift-JIS); false when the file has nothing left to show.
bool NextViewLine(ViewLineState& state, const ByteSource& next, std::string& line);
// The same from the file stream of the open image (OpenFileStream first).
bool NextViewLine(ImageState& image, ViewLineState& state, std::string& line);

// A line in UTF-8 for display. Bytes that are not Shift-JIS text become U+FFFD in a text line; in a dump
// line an unassigned double-byte code becomes ".." and a user-defined one (no font can draw it) "・", so
// that the columns stay aligned.
std::string ViewLineToUtf8(std::string_view line, ViewMode mode);

// How the loading of a file view ended.
struct FileViewResult {
  bool stopped = false;      // the user stopped the loading; the lines delivered so far stand
  size_t lines = 0;          // lines delivered
  bool chainBroken = false;  // the file's clusters ran out before its size: fewer bytes were shown
  std::string status;        // the final status text, "ファイル : NAME  SIZE バイト"
};

// Produces the whole view of table[index] and hands every line (Shift-JIS) to `addLine`. Reports
// "読込中 : ..." and progress through the prompter, runs the message pump after every line and stops after
// the current line when the user asks to cancel. Marks the work area busy while it runs and leaves the
// cancel request cleared.
FileViewResult FillFileView(ImageState& image, const DirectoryTable& table, size_t index, ViewMode mode,
                            const std::function<void(std::string_view line)>& addLine);

}  // namespace kdl
