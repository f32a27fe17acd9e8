#include "browse/host_names.h"

#include <cstdint>

namespace kdl {
namespace {

constexpr char kReplacement = '_';

// Length of the valid UTF-8 sequence starting at `text[i]` together with its code point, or 0 when the bytes
// there are not one (truncated, overlong, surrogate or beyond U+10FFFF).
size_t DecodeUtf8(std::string_view text, size_t i, uint32_t& codePoint) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t lead = byte(i);
  size_t length = 0;
  uint32_t value = 0;
  uint32_t minimum = 0;
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1Fu, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0Fu, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07u, minimum = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - i < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i + k) & 0x3Fu);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  codePoint = value;
  return length;
}

bool IsForbidden(uint32_t codePoint) {
  return codePoint == '/' || codePoint == '\\' || codePoint < 0x20 ||
         (codePoint >= 0x7F && codePoint <= 0x9F);
}

}  // namespace

std::string SafeHostName(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    uint32_t codePoint = 0;
    const size_t length = DecodeUtf8(utf8, i, codePoint);
    const bool keep = length != 0 && !IsForbidden(codePoint);
    const size_t produced = keep ? length : 1;
    // Whole characters only: a cut inside a character would leave invalid UTF-8 at the end.
    if (out.size() + produced > kMaxHostNameBytes) break;
    if (keep)
      out.append(utf8.substr(i, length));
    else
      out += kReplacement;
    i += length == 0 ? 1 : length;
  }
  if (out.empty() || out == ".") return std::string(1, kReplacement);
  if (out == "..") return std::string(2, kReplacement);
  return out;
}

}  // namespace kdl
