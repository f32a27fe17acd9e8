// FAT directory entries as read from a disk, kept byte for byte in their on-disk layout.
//
//   0 8 name (0x00 ends the directory, 0xE5 deleted)   20 2 IndexSlot (in memory only)
//   8 3 extension                                      22 2 time (FAT)
//  11 1 attribute (0x0F exactly: long-name piece)      24 2 date (FAT)
//  12 1 case flags (0x08 name, 0x10 extension lower)   26 2 first cluster
//  13 7 unused                                         28 4 size
//
// A long-name piece: 0 ordinal (bits 0-5 sequence from 1, 0x40 last piece), 1-10 five UTF-16 units,
// 13 short-name checksum, 14-25 six units, 28-31 two units.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"

namespace kdl {

inline constexpr size_t kDirectoryEntrySize = 32;
inline constexpr uint8_t kAttrReadOnly = 0x01;
inline constexpr uint8_t kAttrHidden = 0x02;
inline constexpr uint8_t kAttrSystem = 0x04;
inline constexpr uint8_t kAttrVolumeLabel = 0x08;
inline constexpr uint8_t kAttrDirectory = 0x10;
inline constexpr uint8_t kAttrArchive = 0x20;
inline constexpr uint8_t kAttrLongName = 0x0F;
inline constexpr uint8_t kCaseLowerName = 0x08;
inline constexpr uint8_t kCaseLowerExtension = 0x10;
inline constexpr uint8_t kDeletedMark = 0xE5;
inline constexpr uint8_t kLongNameLastPiece = 0x40;
inline constexpr int kLongNameUnitsPerEntry = 13;

class DirectoryEntry {
 public:
  DirectoryEntry() { bytes_.fill(0); }
  explicit DirectoryEntry(ByteView raw);  // the first 32 bytes of `raw`

  std::array<uint8_t, kDirectoryEntrySize>& bytes() { return bytes_; }
  const std::array<uint8_t, kDirectoryEntrySize>& bytes() const { return bytes_; }

  std::string_view Name() const { return Text(0, 8); }       // 8 bytes, space padded
  std::string_view Extension() const { return Text(8, 3); }  // 3 bytes, space padded
  uint8_t NameByte(size_t i) const { return View().U8(i); }
  uint8_t Attribute() const { return bytes_[11]; }
  uint8_t CaseFlags() const { return bytes_[12]; }
  uint16_t IndexSlot() const { return View().U16(20); }
  void SetIndexSlot(uint16_t slot) { Span().PutU16(20, slot); }
  uint16_t Time() const { return View().U16(22); }
  uint16_t Date() const { return View().U16(24); }
  uint16_t FirstCluster() const { return View().U16(26); }
  uint32_t Size() const { return View().U32(28); }

  void SetAttribute(uint8_t attribute) { bytes_[11] = attribute; }
  void SetCaseFlags(uint8_t flags) { bytes_[12] = flags; }
  void SetTime(uint16_t time) { Span().PutU16(22, time); }
  void SetDate(uint16_t date) { Span().PutU16(24, date); }
  void SetFirstCluster(uint16_t cluster) { Span().PutU16(26, cluster); }
  void SetSize(uint32_t size) { Span().PutU32(28, size); }

  bool IsEnd() const { return bytes_[0] == 0x00; }
  bool IsDeleted() const { return bytes_[0] == kDeletedMark; }
  bool IsLongNamePiece() const { return Attribute() == kAttrLongName; }
  bool IsDirectory() const { return !IsLongNamePiece() && (Attribute() & kAttrDirectory) != 0; }
  bool IsVolumeLabel() const { return !IsLongNamePiece() && (Attribute() & kAttrVolumeLabel) != 0; }
  bool IsDotEntry() const { return bytes_[0] == '.' && bytes_[1] == ' '; }
  bool IsDotDotEntry() const { return bytes_[0] == '.' && bytes_[1] == '.' && bytes_[2] == ' '; }

  // Long-name piece fields.
  uint8_t Ordinal() const { return bytes_[0]; }
  uint8_t LongNameChecksum() const { return bytes_[13]; }
  // The 13 UTF-16 units of a long-name piece, in order.
  std::array<uint16_t, kLongNameUnitsPerEntry> LongNameUnits() const;

 private:
  ByteView View() const { return ByteView(bytes_.data(), bytes_.size()); }
  ByteSpan Span() { return ByteSpan(bytes_.data(), bytes_.size()); }
  std::string_view Text(size_t off, size_t len) const { return View().Text(off, len); }

  std::array<uint8_t, kDirectoryEntrySize> bytes_;
};

// The checksum every long-name piece carries of the 11 name bytes of its short entry.
uint8_t ShortNameChecksum(const DirectoryEntry& entry);

// A directory as a table of entries.
using DirectoryTable = std::vector<DirectoryEntry>;

// Splits raw directory sectors into entries (a trailing partial entry is ignored).
DirectoryTable DirectoryFromBytes(ByteView raw);

// Drops deleted entries and ".", stops at the first 0x00 entry, moves the rest down and stamps every entry
// that is not a long-name piece with its own position. Long-name pieces directly before a deleted entry are
// dropped too: a deleted entry ends a long name, so they can never join a later short entry. Returns the new
// count; entries beyond it are left as they were.
int32_t CompactDirectory(DirectoryEntry* table, int32_t count);
// The same on a table, which is then cut to the new count.
void CompactDirectory(DirectoryTable& table);

}  // namespace kdl
