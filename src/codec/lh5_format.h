// Fixed parameters of the -lh5- bit stream (8 KiB window, static Huffman blocks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kdl::lh5 {

inline constexpr int kDicBits = 13;
inline constexpr int kDicSize = 1 << kDicBits;  // 8,192-byte sliding window
inline constexpr int kMaxMatch = 256;
inline constexpr int kThreshold = 3;  // shortest match worth coding

// Literal/length alphabet: 0-255 literals, 256-509 match lengths 3-256.
inline constexpr int kNC = 256 + kMaxMatch - kThreshold + 1;  // 510
inline constexpr int kCBit = 9;                               // bits of a literal/length table count
// Position alphabet: number of significant bits of the distance, 0-13.
inline constexpr int kNP = kDicBits + 1;  // 14
inline constexpr int kPBit = 4;
// Code-length alphabet used to send the literal/length lengths.
inline constexpr int kNT = 16 + 3;  // 19
inline constexpr int kTBit = 5;
inline constexpr int kNPT = kNT > kNP ? kNT : kNP;

inline constexpr int kMaxCodeLength = 16;

// The input of one compression call; `consumed` counts the bytes moved into the window so far.
struct InputCursor {
  const uint8_t* data = nullptr;
  size_t length = 0;
  size_t consumed = 0;

  int Read(uint8_t* dst, int n) {
    const size_t left = length - consumed;
    const size_t take = left < static_cast<size_t>(n) ? left : static_cast<size_t>(n);
    if (take != 0) std::memcpy(dst, data + consumed, take);
    consumed += take;
    return static_cast<int>(take);
  }
};

}  // namespace kdl::lh5
