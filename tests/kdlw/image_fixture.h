// Disks and images for the tests of the windows over an image, made in code, and helpers for windows that
// run modally.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kdlwtest {

// FAT time and date of a local date-time.
uint16_t FatTime(int hour, int minute);
uint16_t FatDate(int year, int month, int day);

// The text of README.TXT: Shift-JIS Japanese, CR LF line ends, a lone CR, a lone LF and a line of 3,000
// bytes without a line feed.
std::vector<uint8_t> ReadmeBytes();

// A 2DD (type 3) disk with a volume label and three levels of directories:
//   \ SAMPLE DISK (label)  README.TXT  NOEXT  lower.txt (case flags)  長い名前のファイル.txt (long name)
//     SECRET.DAT (hidden, system, read-only)  EMPTY.TXT (0 bytes)  OLD.TXT (dated 2003)  BIG.BIN (40,000
//     bytes) DOCS\  MEMO.TXT  X.TXT  SUB\ DEEP.TXT GAMES\ X.TXT a\b\ (a long name holding a backslash)
//     INSIDE.TXT
std::vector<uint8_t> MultiLevelDisk();
// A disk of `mediaType` with one file in its root and no directories.
std::vector<uint8_t> FlatDisk(int mediaType);
// A freshly formatted, empty disk of `mediaType`.
std::vector<uint8_t> BlankDisk(int mediaType);
// A ".KDL" image of a raw disk (compressed, free clusters kept) with up to four label lines.
std::vector<uint8_t> KdlOf(const std::vector<uint8_t>& raw, const std::vector<std::string>& labelsUtf8 = {});

bool WriteBytes(const QString& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const QString& path);

// Calls `open`, which shows a modal window, waits until `ready` says the window has settled, runs `check`
// on it and closes it. Returns false when no modal window came up while `open` ran.
bool DuringModal(const std::function<void()>& open, const std::function<void(QWidget*)>& check,
                 const std::function<bool(QWidget*)>& ready = {});

// Where a key pressed in `form` goes: its focused control, or the form itself.
QWidget* KeyTarget(QWidget* form);

}  // namespace kdlwtest
