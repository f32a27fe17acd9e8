// The -lh5- expander: table-driven Huffman decoding straight into the caller's buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/lh5_format.h"

namespace kdl::lh5 {

// Lookup tables of one canonical code. Codes up to `kDirectBits` long resolve with one table load;
// longer ones (rare) through the first-code-per-length boundaries.
template <int kSymbols, int kDirectBits>
struct DecodeTable {
  // Entry: symbol in the low 9 bits, code length above. Lengths 0-16 are final; kLong sends the
  // lookup to the slow path, kBad marks a single-symbol form naming a symbol outside the alphabet.
  static constexpr uint16_t kLong = 31;
  static constexpr uint16_t kBad = 30;
  uint16_t direct[1u << kDirectBits];
  uint32_t start[kMaxCodeLength + 2];  // left-justified 16-bit first code of each length
  uint16_t base[kMaxCodeLength + 1];   // index in `sorted` of the first symbol of each length
  uint16_t sorted[kSymbols];           // symbols by (length, value)
};

using LiteralTable = DecodeTable<kNC, 12>;
using PositionTable = DecodeTable<kNPT, 8>;

// Expander state. Allocated once and reused; every call starts afresh.
class Decoder {
 public:
  // Expands exactly `outLength` bytes; true on success, false when a code table of the stream is
  // inconsistent (incomplete, a length above 16, a zero run past the alphabet, a count above it,
  // or a single-symbol form naming a symbol outside it once that symbol is decoded).
  bool Expand(const uint8_t* in, size_t inLength, uint8_t* out, size_t outLength);

  class BitReader;

 private:
  bool ReadBlockHeader(BitReader& br);
  bool ReadPtLen(BitReader& br, int nn, int nbit, int special);
  bool ReadCLen(BitReader& br);

  uint8_t cLen_[kNC] = {};
  uint8_t ptLen_[kNPT] = {};
  LiteralTable cTable_ = {};
  PositionTable ptTable_ = {};
};

}  // namespace kdl::lh5
