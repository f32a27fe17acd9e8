// The ".KDZ" archive file: a 128-byte header, then for every image a 32-byte entry record followed by the
// image exactly as it stands in a ".KDL" file, then a record whose first byte is zero.
//
//   offset               size    content
//        0                128    ArchiveHeader
//      128                 32    ArchiveEntry of image 0
//      160           length 0    image 0 (header, track directory, stored tracks; offsets relative to 160)
//      160 + length 0      32    ArchiveEntry of image 1 ...
//        ...               32    terminator: 32 zero bytes (bytes after it are not part of the archive)
//
// File positions are 64-bit; only an entry's own length is limited to a signed 32-bit value.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "common/sjis.h"

namespace kdl {

inline constexpr size_t kArchiveHeaderSize = 128;
inline constexpr size_t kArchiveEntrySize = 32;
inline constexpr int64_t kFirstRecordOffset = 128;
inline constexpr std::string_view kArchiveMagic = "KDZ_FILE";
inline constexpr std::string_view kArchiveVersion = "0010";
inline constexpr size_t kArchiveLabelLength = 40;
inline constexpr int kArchiveLabelCount = 2;
inline constexpr size_t kEntryNameLength = 8;
inline constexpr uint8_t kEntryInUse = 0x20;
// "DISK9999" is the longest name the 8-byte field holds, which also keeps the count below 32,767.
inline constexpr int32_t kMaxArchiveImages = 9999;
// What a raw sector image gains when it is stored as an image: its header and track directory.
inline constexpr int64_t kRawImageOverhead = 1536;

// Header layout:
//   0  8 magic "KDZ_FILE"      52  1 NUL                94  2 number of images (int16)
//   8  4 version "0010"        53 40 label line 2       96 32 zero
//  12 40 label line 1          93  1 NUL
namespace kdz_header {
inline constexpr size_t kMagic = 0;
inline constexpr size_t kVersion = 8;
inline constexpr size_t kLabel1 = 12;
inline constexpr size_t kLabel2 = 53;
inline constexpr size_t kCount = 94;
inline constexpr size_t kReserved = 96;
}  // namespace kdz_header

struct ArchiveHeader {
  std::string version = std::string(kArchiveVersion);  // 4 bytes, kept as read
  // Shift-JIS bytes as stored, 40 each (space padded when written by us).
  std::array<std::string, kArchiveLabelCount> labels{std::string(kArchiveLabelLength, ' '),
                                                     std::string(kArchiveLabelLength, ' ')};
  int16_t count = 0;

  // The label line with trailing blanks (spaces and NULs) removed, as shown and edited.
  std::string LabelText(int line) const;
  // Stores up to 40 bytes of Shift-JIS text padded with spaces; a longer text is cut at the last whole
  // character that fits, never inside a double-byte character.
  void SetLabelText(int line, std::string_view sjis);
};

// A header with the magic, the version, the two label texts and a count of 0.
ArchiveHeader MakeArchiveHeader(std::string_view label1, std::string_view label2);
// Empty unless at least 128 bytes are given and they start with "KDZ_FILE"; the version is not checked.
std::optional<ArchiveHeader> ParseArchiveHeader(ByteView bytes);
void SerializeArchiveHeader(const ArchiveHeader& header, ByteSpan out);

// Entry layout:
//   0 1 0x20 in use, 0x00 end of the chain     13  4 image length (int32)
//   1 8 name "DISK%d", space padded             17 14 zero
//   9 2 time (DOS)                              31  1 ByteSum of bytes 0-30
//  11 2 date (DOS)
namespace kdz_entry {
inline constexpr size_t kMarker = 0;
inline constexpr size_t kName = 1;
inline constexpr size_t kTime = 9;
inline constexpr size_t kDate = 11;
inline constexpr size_t kLength = 13;
inline constexpr size_t kReserved = 17;
inline constexpr size_t kSum = 31;
}  // namespace kdz_entry

struct ArchiveEntry {
  uint8_t marker = 0;
  std::string name = std::string(kEntryNameLength, ' ');  // the 8 bytes of the field
  uint16_t time = 0;
  uint16_t date = 0;
  int32_t length = 0;
  uint8_t sum = 0;  // as read; never checked

  bool IsEnd() const { return marker == 0; }
  // The four bytes at offset 9 as one DOS date-time: time in the low half, date in the high half.
  uint32_t DosDateTime() const { return static_cast<uint32_t>(time) | (static_cast<uint32_t>(date) << 16); }
  // The name as text: the field up to its first space, at most 8 bytes; control bytes show as "?".
  std::string NameText() const;
};

ArchiveEntry ParseArchiveEntry(ByteView bytes);
// Writes the 32 bytes with the reserved bytes zero and the checksum computed over bytes 0-30.
void SerializeArchiveEntry(const ArchiveEntry& entry, ByteSpan out);
// An entry in use named "DISK<number>" (number 1..9999) with the given length and DOS date-time.
ArchiveEntry MakeArchiveEntry(int32_t number, int32_t length, uint32_t dosDateTime);

}  // namespace kdl
