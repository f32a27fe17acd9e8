#include "fat/dos_names.h"

#include <algorithm>

#include "common/sjis.h"

namespace kdl {
namespace {

// A first name byte of 0x05 stands for 0xE5, which would mark the entry deleted.
constexpr uint8_t kE5Escape = 0x05;
constexpr size_t kNameBytes = 8;
constexpr size_t kExtensionBytes = 3;
constexpr int kMaxNumericTail = 999999;

bool IsForbiddenInLongName(char32_t c) {
  return c < 0x20 || c == '"' || c == '*' || c == '/' || c == ':' || c == '<' || c == '>' || c == '?' ||
         c == '\\' || c == '|';
}

// Single bytes a short name may not hold; the second byte of a double-byte character is never tested.
bool IsForbiddenShortByte(uint8_t b) {
  if (b < 0x20 || b == 0x7F) return true;
  switch (b) {
    case ' ':
    case '"':
    case '*':
    case '+':
    case ',':
    case '.':
    case '/':
    case ':':
    case ';':
    case '<':
    case '=':
    case '>':
    case '?':
    case '[':
    case '\\':
    case ']':
    case '|':
      return true;
    default:
      return false;
  }
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

// One character of a name in its Shift-JIS form.
struct NameChar {
  std::string bytes;  // one or two Shift-JIS bytes; "_" for a character a short name cannot hold
  bool period = false;
  bool space = false;
  bool lossy = false;  // the character was replaced by "_"
};

// The characters of `units`, each converted on its own, ASCII letters upper-cased when `upcase`.
std::vector<NameChar> SplitName(const std::u16string& units, bool upcase) {
  std::vector<NameChar> chars;
  for (size_t i = 0; i < units.size(); ++i) {
    NameChar c;
    size_t count = 1;
    if (units[i] >= 0xD800 && units[i] <= 0xDBFF && i + 1 < units.size()) count = 2;
    const std::u16string one = units.substr(i, count);
    i += count - 1;
    if (one == u".") {
      c.period = true;
      c.bytes = ".";
    } else if (one == u" ") {
      c.space = true;
      c.bytes = " ";
    } else {
      std::string utf8 =
          Utf16ToUtf8(std::span<const uint16_t>(reinterpret_cast<const uint16_t*>(one.data()), one.size()));
      if (upcase) utf8 = AsciiUpper(utf8);
      const std::optional<std::string> sjis = Utf8ToSjis(utf8);
      const bool single =
          sjis && sjis->size() == 1 && !IsForbiddenShortByte(static_cast<uint8_t>((*sjis)[0]));
      const bool dual = sjis && sjis->size() == 2 && IsSjisLeadByte(static_cast<uint8_t>((*sjis)[0]));
      if (single || dual) {
        c.bytes = *sjis;
      } else {
        c.bytes = "_";
        c.lossy = true;
      }
    }
    chars.push_back(std::move(c));
  }
  return chars;
}

size_t ByteLength(const std::vector<NameChar>& chars) {
  size_t n = 0;
  for (const NameChar& c : chars) n += c.bytes.size();
  return n;
}

// Name and extension bytes into the 11-byte stored form.
ShortName11 Pack(std::string_view name, std::string_view extension) {
  ShortName11 out;
  out.fill(' ');
  std::copy(name.begin(), name.end(), out.begin());
  std::copy(extension.begin(), extension.end(), out.begin() + kNameBytes);
  if (out[0] == kDeletedMark) out[0] = kE5Escape;
  return out;
}

std::string Join(const std::vector<NameChar>& chars, size_t from, size_t to) {
  std::string s;
  for (size_t i = from; i < to; ++i) s += chars[i].bytes;
  return s;
}

// Letter case of the ASCII letters of a run of characters: 0 none, 1 upper only, 2 lower only, 3 both.
int LetterCase(const std::vector<NameChar>& chars, size_t from, size_t to) {
  int seen = 0;
  for (size_t i = from; i < to; ++i) {
    if (chars[i].bytes.size() != 1) continue;
    const char b = chars[i].bytes[0];
    if (b >= 'A' && b <= 'Z') seen |= 1;
    if (b >= 'a' && b <= 'z') seen |= 2;
  }
  return seen;
}

// The 8.3 form of a name that is a valid 8.3 name as it stands, apart from the case of its letters.
struct ExactForm {
  ShortName11 shortName;
  uint8_t caseFlags = 0;
  bool mixedCase = false;  // a name or extension with both cases: the short entry alone cannot hold it
};

std::optional<ExactForm> ExactShortForm(const std::u16string& units) {
  const std::vector<NameChar> chars = SplitName(units, false);
  size_t periods = 0, dot = chars.size();
  for (size_t i = 0; i < chars.size(); ++i) {
    if (chars[i].lossy || chars[i].space) return std::nullopt;
    if (chars[i].period) ++periods, dot = i;
  }
  if (periods > 1 || dot == 0) return std::nullopt;
  const size_t extStart = dot == chars.size() ? dot : dot + 1;
  const std::vector<NameChar> name(chars.begin(), chars.begin() + static_cast<ptrdiff_t>(dot));
  const std::vector<NameChar> ext(chars.begin() + static_cast<ptrdiff_t>(extStart), chars.end());
  if (ByteLength(name) > kNameBytes || ByteLength(ext) > kExtensionBytes) return std::nullopt;
  if (periods == 1 && ext.empty()) return std::nullopt;
  ExactForm form;
  const int nameCase = LetterCase(chars, 0, dot);
  const int extCase = LetterCase(chars, extStart, chars.size());
  form.mixedCase = nameCase == 3 || extCase == 3;
  if (nameCase == 2) form.caseFlags |= kCaseLowerName;
  if (extCase == 2) form.caseFlags |= kCaseLowerExtension;
  form.shortName = Pack(AsciiUpper(Join(chars, 0, dot)), AsciiUpper(Join(chars, extStart, chars.size())));
  return form;
}

// The short name Windows derives from a long name, before any numeric tail: the name part and the extension.
struct Basis {
  std::vector<NameChar> name;
  std::string extension;
};

Basis MakeBasis(const std::u16string& units) {
  std::vector<NameChar> chars = SplitName(units, true);
  std::erase_if(chars, [](const NameChar& c) { return c.space; });
  const auto firstKept =
      std::find_if(chars.begin(), chars.end(), [](const NameChar& c) { return !c.period; });
  chars.erase(chars.begin(), firstKept);
  Basis b;
  size_t bytes = 0;
  for (const NameChar& c : chars) {
    if (c.period || bytes + c.bytes.size() > kNameBytes) break;
    b.name.push_back(c);
    bytes += c.bytes.size();
  }
  const auto lastPeriod =
      std::find_if(chars.rbegin(), chars.rend(), [](const NameChar& c) { return c.period; });
  if (lastPeriod != chars.rend()) {
    for (auto it = lastPeriod.base(); it != chars.end(); ++it) {
      if (b.extension.size() + it->bytes.size() > kExtensionBytes) break;
      b.extension += it->bytes;
    }
  }
  if (b.name.empty()) b.name.push_back(NameChar{"_"});
  return b;
}

const char* const kDeviceNames[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                    "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                    "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};

// Lower-cases the ASCII capitals of Shift-JIS text in [from, to), leaving the second byte of a double-byte
// character alone even when it falls in A-Z.
void LowerAscii(std::string& sjis, size_t from, size_t to) {
  for (size_t i = 0; i < sjis.size() && i < to; ++i) {
    const auto b = static_cast<uint8_t>(sjis[i]);
    if (IsSjisLeadByte(b)) {
      ++i;
    } else if (i >= from && b >= 'A' && b <= 'Z') {
      sjis[i] = static_cast<char>(b - 'A' + 'a');
    }
  }
}

}  // namespace

std::string TrimName(std::string_view utf8) {
  while (!utf8.empty() && (utf8.back() == ' ' || utf8.back() == '.')) utf8.remove_suffix(1);
  return std::string(utf8);
}

NameFault CheckName(std::string_view utf8) {
  const std::optional<std::u16string> units = Utf8ToUtf16(utf8);
  if (!units) return NameFault::kNotUtf8;
  if (units->empty() || *units == u"." || *units == u"..") return NameFault::kEmpty;
  if (std::any_of(units->begin(), units->end(), [](char16_t u) { return IsForbiddenInLongName(u); }))
    return NameFault::kBadCharacter;
  if (units->size() > kMaxLongNameUnits) return NameFault::kTooLong;
  const std::string base = AsciiUpper(utf8.substr(0, utf8.find('.')));
  for (const char* device : kDeviceNames) {
    if (base == device) return NameFault::kDeviceName;
  }
  return NameFault::kNone;
}

std::optional<EntryNames> MakeEntryNames(std::string_view utf8,
                                         const std::function<bool(const ShortName11&)>& taken) {
  if (CheckName(utf8) != NameFault::kNone) return std::nullopt;
  const std::u16string units = *Utf8ToUtf16(utf8);
  EntryNames names;
  const std::optional<ExactForm> exact = ExactShortForm(units);
  if (exact && !taken(exact->shortName)) {
    names.shortName = exact->shortName;
    // A name whose two parts each have one case is held by the short entry and its case flags alone.
    if (!exact->mixedCase) {
      names.caseFlags = exact->caseFlags;
      return names;
    }
    names.longName = units;
    return names;
  }
  names.longName = units;
  const Basis basis = MakeBasis(units);
  for (int n = 1; n <= kMaxNumericTail; ++n) {
    const std::string tail = "~" + std::to_string(n);
    std::string name;
    for (const NameChar& c : basis.name) {
      if (name.size() + c.bytes.size() + tail.size() > kNameBytes) break;
      name += c.bytes;
    }
    const ShortName11 candidate = Pack(name + tail, basis.extension);
    if (!taken(candidate)) {
      names.shortName = candidate;
      return names;
    }
  }
  return std::nullopt;
}

std::vector<DirectoryEntry> MakeLongNamePieces(const std::u16string& longName, const ShortName11& shortName) {
  static constexpr size_t kUnitOffsets[kLongNameUnitsPerEntry] = {1,  3,  5,  7,  9,  14, 16,
                                                                  18, 20, 22, 24, 28, 30};
  std::vector<uint16_t> units(longName.begin(), longName.end());
  const size_t count = (units.size() + kLongNameUnitsPerEntry - 1) / kLongNameUnitsPerEntry;
  if (units.size() % kLongNameUnitsPerEntry != 0) units.push_back(0);
  units.resize(count * kLongNameUnitsPerEntry, 0xFFFF);
  DirectoryEntry shortEntry;
  std::copy(shortName.begin(), shortName.end(), shortEntry.bytes().begin());
  const uint8_t sum = ShortNameChecksum(shortEntry);
  std::vector<DirectoryEntry> pieces;
  for (size_t n = count; n >= 1; --n) {
    DirectoryEntry e;
    ByteSpan b(e.bytes().data(), e.bytes().size());
    b.PutU8(0, static_cast<uint8_t>(n | (n == count ? kLongNameLastPiece : 0)));
    b.PutU8(11, kAttrLongName);
    b.PutU8(13, sum);
    for (size_t i = 0; i < kLongNameUnitsPerEntry; ++i)
      b.PutU16(kUnitOffsets[i], units[(n - 1) * kLongNameUnitsPerEntry + i]);
    pieces.push_back(e);
  }
  return pieces;
}

std::string CompactShortName(const DirectoryEntry& entry, bool applyCase) {
  const auto& b = entry.bytes();
  std::string name;
  for (size_t i = 0; i < kNameBytes && b[i] != ' ' && b[i] != 0; ++i) name += static_cast<char>(b[i]);
  if (!name.empty() && static_cast<uint8_t>(name[0]) == kE5Escape) name[0] = static_cast<char>(kDeletedMark);
  if (b[8] != ' ' && b[8] != 0) {
    name += '.';
    for (size_t i = 8; i < 11 && b[i] != ' ' && b[i] != 0; ++i) name += static_cast<char>(b[i]);
  }
  if (!applyCase) return name;
  const uint8_t flags = entry.CaseFlags();
  if ((flags & kCaseLowerName) != 0) LowerAscii(name, 0, std::min<size_t>(name.find('.'), kNameBytes));
  if ((flags & kCaseLowerExtension) != 0) {
    const size_t dot = name.find('.');
    if (dot != std::string::npos && dot <= kNameBytes) LowerAscii(name, dot, name.size());
  }
  return name;
}

bool SameDosName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

std::optional<ShortName11> MakeVolumeLabel(std::string_view utf8) {
  const std::optional<std::u16string> units = Utf8ToUtf16(utf8);
  if (!units || units->empty()) return std::nullopt;
  std::string bytes;
  for (const NameChar& c : SplitName(*units, true)) {
    if (c.lossy || c.period) return std::nullopt;
    bytes += c.bytes;
  }
  if (bytes.size() > kNameBytes + kExtensionBytes || bytes.find_first_not_of(' ') == std::string::npos)
    return std::nullopt;
  return Pack(std::string_view(bytes).substr(0, std::min(bytes.size(), kNameBytes)),
              bytes.size() > kNameBytes ? std::string_view(bytes).substr(kNameBytes) : std::string_view());
}

std::vector<std::string_view> PathComponents(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/' || path[i] == '\\') {
      if (i > start) parts.push_back(path.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

ShortName11 ShortNameOf(const DirectoryEntry& entry) {
  ShortName11 name;
  std::copy_n(entry.bytes().begin(), name.size(), name.begin());
  return name;
}

}  // namespace kdl
