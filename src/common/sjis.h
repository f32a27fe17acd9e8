// Text conversion at the file boundary: names and labels in files are Shift-JIS (code page 932),
// long file names UTF-16; everything the host sees is UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kdl {

// Shift-JIS bytes to UTF-8. Bytes that do not decode become U+FFFD, so the result is always usable.
std::string SjisToUtf8(std::string_view sjis);
// UTF-8 to Shift-JIS; empty when the text holds a character Shift-JIS cannot represent or is not UTF-8.
std::optional<std::string> Utf8ToSjis(std::string_view utf8);
// UTF-16 code units (little-endian values already assembled) to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::span<const uint16_t> units);
// UTF-8 to UTF-16 code units; empty when the text is not valid UTF-8 (overlong forms, surrogates and code
// points above U+10FFFF included).
std::optional<std::u16string> Utf8ToUtf16(std::string_view utf8);

// True when `b` is a Shift-JIS lead byte (0x81-0x9F, 0xE0-0xFC).
inline bool IsSjisLeadByte(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// The longest prefix of Shift-JIS `sjis` of at most `limit` bytes that does not end inside a double-byte
// character.
inline std::string_view CutSjisText(std::string_view sjis, size_t limit) {
  size_t end = 0;
  while (end < sjis.size()) {
    const size_t step = IsSjisLeadByte(static_cast<uint8_t>(sjis[end])) ? 2 : 1;
    if (end + step > limit || end + step > sjis.size()) break;
    end += step;
  }
  return sjis.substr(0, end);
}

}  // namespace kdl
