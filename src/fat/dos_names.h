// DOS file names: the 8.3 name of a short directory entry, the long (VFAT) name whose pieces stand before it,
// and the names a new entry gets, made the way Windows makes them.
//
// A new name is held by the short entry alone when it is a valid 8.3 name as it stands: upper case, or a name
// or extension entirely in lower case (shown through the case flags 0x08 and 0x10). Any other name gets
// long-name pieces and a short "basis" name: upper-cased, converted to Shift-JIS with "_" for what cannot be,
// spaces and leading periods dropped, 8 bytes of name and 3 of extension (after the last period), and, unless
// the name fits 8.3 apart from its case, a numeric tail "~1", "~2", ... that makes it unique in its
// directory.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fat/directory.h"

namespace kdl {

// The 11 name bytes of a short entry: Shift-JIS, space padded, a leading 0xE5 stored as 0x05.
using ShortName11 = std::array<uint8_t, 11>;

// The longest long name, in UTF-16 units.
inline constexpr size_t kMaxLongNameUnits = 255;

// Why DOS cannot hold a name given for a new entry.
enum class NameFault {
  kNone,
  kNotUtf8,
  kEmpty,         // nothing is left once trailing spaces and periods go, or "." / ".."
  kBadCharacter,  // \ / : * ? " < > | or a control character
  kTooLong,       // more than 255 UTF-16 units
  kDeviceName,    // CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension
};

// The name as Windows stores it: trailing spaces and periods removed.
std::string TrimName(std::string_view utf8);
// What is wrong with `utf8` (already trimmed) as the name of a new entry.
NameFault CheckName(std::string_view utf8);

// The names a new entry carries.
struct EntryNames {
  ShortName11 shortName{};
  uint8_t caseFlags = 0;
  std::u16string longName;  // empty when the short entry holds the name exactly
};

// The names for a new entry called `utf8` (trimmed, without a fault) in a directory in which `taken` tells
// whether a short name is already used. Empty when the name has a fault or every numeric tail is taken.
std::optional<EntryNames> MakeEntryNames(std::string_view utf8,
                                         const std::function<bool(const ShortName11&)>& taken);

// The long-name pieces of `longName` for the short entry named `shortName`, in on-disk order: the last piece
// (ordinal with 0x40) first, the first piece just before the short entry. A name that does not fill its last
// piece ends with 0x0000 and is padded with 0xFFFF.
std::vector<DirectoryEntry> MakeLongNamePieces(const std::u16string& longName, const ShortName11& shortName);

// The compact 8.3 name of a short entry in Shift-JIS ("README.TXT"); a stored 0x05 reads as 0xE5, and a name
// stops at a space or a NUL. With `applyCase` the name and extension are lower-cased as the case flags say
// (ASCII capitals only, never the second byte of a double-byte character).
std::string CompactShortName(const DirectoryEntry& entry, bool applyCase);

// Equal as DOS compares names: ASCII letters regardless of case, every other byte exactly.
bool SameDosName(std::string_view a, std::string_view b);

// The 11 bytes of a volume label: upper-cased, Shift-JIS, at most 11 bytes, none of the characters a short
// name may not hold except the space. Empty when the text cannot be a label (or is empty).
std::optional<ShortName11> MakeVolumeLabel(std::string_view utf8);

// The names of a path inside an image: "/", "\" and empty components between them fall away.
std::vector<std::string_view> PathComponents(std::string_view path);

// The 11 name bytes of an entry.
ShortName11 ShortNameOf(const DirectoryEntry& entry);

}  // namespace kdl
