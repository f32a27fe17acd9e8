// Writes -lh5- streams bit by bit (most significant bit first), to build valid and corrupt
// blocks by hand.
#pragma once

#include <cstdint>
#include <vector>

namespace kdltest {

class BitBuilder {
 public:
  BitBuilder& Bits(int n, unsigned value) {
    for (int i = n - 1; i >= 0; --i) Bit((value >> i) & 1);
    return *this;
  }
  // A code-length entry of the position/code-length tables: 3 bits, or 111 and a unary tail.
  BitBuilder& PtLength(unsigned len) {
    if (len < 7) return Bits(3, len);
    Bits(3, 7);
    for (unsigned i = 7; i < len; ++i) Bit(1);
    return Bit(0);
  }
  // A table given in the single-symbol form: a zero count then the symbol.
  BitBuilder& Single(int countBits, unsigned symbol) { return Bits(countBits, 0).Bits(countBits, symbol); }

  // The bytes so far, the last one padded with zero bits.
  std::vector<uint8_t> Bytes() const { return bytes_; }

 private:
  BitBuilder& Bit(unsigned b) {
    if (used_ == 0) bytes_.push_back(0);
    if (b) bytes_.back() = static_cast<uint8_t>(bytes_.back() | (0x80u >> used_));
    used_ = (used_ + 1) & 7;
    return *this;
  }
  std::vector<uint8_t> bytes_;
  unsigned used_ = 0;
};

}  // namespace kdltest
