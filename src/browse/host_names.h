// Host file names made from names found on a disk.
//
// A name read from a disk image is never trusted as a path: a crafted image may hold "..", "a/b" or a long
// name such as "../../x". SafeHostName turns any display name into one harmless file name component, so that
// joining it to the folder the user chose can only name something directly inside that folder:
//   - a byte that does not start a valid UTF-8 sequence (overlong forms, surrogates and code points above
//     U+10FFFF included) becomes "_", one per byte;
//   - "/", "\", NUL, the other control characters U+0001-U+001F, DEL (U+007F) and U+0080-U+009F become "_";
//   - the result is cut to at most 255 bytes, never inside a character;
//   - an empty result becomes "_", "." becomes "_" and ".." becomes "__".
// Everything else (Japanese text, spaces, other punctuation) is kept, so ordinary names map to themselves.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kdl {

// The longest file name component Linux file systems accept, in bytes.
inline constexpr size_t kMaxHostNameBytes = 255;

std::string SafeHostName(std::string_view utf8);

}  // namespace kdl
