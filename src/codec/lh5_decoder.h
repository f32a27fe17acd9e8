// The -lh5- expander: table-driven Huffman decoding straight into the caller's buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/lh5_format.h"

namespace kdl::lh5 {

// Lookup tables of one canonical code: codes up to `kDirectBits` long resolve with one load of
// `direct`; a longer code's first kDirectBits bits lead to a second-level table that its remaining
// bits index.
template <int kSymbols, int kDirectBits>
struct DecodeTable {
  static constexpr int kSubBits = kMaxCodeLength - kDirectBits;
  // Entry: symbol in the low 9 bits and the code's full length above. kSub in the length field
  // sends the lookup to second-level table number (low 9 bits); kBad marks a single-symbol form
  // naming a symbol outside the alphabet.
  static constexpr uint16_t kSub = 31;
  static constexpr uint16_t kBad = 30;
  uint16_t direct[1u << kDirectBits];
  // At most one second-level table per long code.
  uint16_t sub[kSymbols << kSubBits];
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
