// The first expander, kept unchanged as the reference the production one is checked against: a
// 12-bit direct table with the longer codes found by their first-code-per-length boundaries.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/lh5_format.h"

namespace kdltest {

using kdl::lh5::kMaxCodeLength;
using kdl::lh5::kNC;
using kdl::lh5::kNPT;

// Lookup tables of one canonical code. Codes up to `kDirectBits` long resolve with one table load;
// longer ones (rare) through the first-code-per-length boundaries.
template <int kSymbols, int kDirectBits>
struct RefDecodeTable {
  // Entry: symbol in the low 9 bits, code length above. Lengths 0-16 are final; kLong sends the
  // lookup to the slow path, kBad marks a single-symbol form naming a symbol outside the alphabet.
  static constexpr uint16_t kLong = 31;
  static constexpr uint16_t kBad = 30;
  uint16_t direct[1u << kDirectBits];
  uint32_t start[kMaxCodeLength + 2];  // left-justified 16-bit first code of each length
  uint16_t base[kMaxCodeLength + 1];   // index in `sorted` of the first symbol of each length
  uint16_t sorted[kSymbols];           // symbols by (length, value)
};

using RefLiteralTable = RefDecodeTable<kNC, 12>;
using RefPositionTable = RefDecodeTable<kNPT, 8>;

// Expander state. Allocated once and reused; every call starts afresh.
class ReferenceDecoder {
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
  RefLiteralTable cTable_ = {};
  RefPositionTable ptTable_ = {};
};

}  // namespace kdltest
