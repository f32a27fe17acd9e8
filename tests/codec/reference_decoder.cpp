#include "codec/reference_decoder.h"

#include <cstring>

namespace kdltest {

using kdl::lh5::kCBit;
using kdl::lh5::kNP;
using kdl::lh5::kNT;
using kdl::lh5::kPBit;
using kdl::lh5::kTBit;
using kdl::lh5::kThreshold;

// Most-significant-bit-first reader over the stored bytes; past their end it supplies zero bits.
// After Refill() at least 56 bits are available, enough for one whole match code.
class ReferenceDecoder::BitReader {
 public:
  BitReader(const uint8_t* in, size_t length) : in_(in), length_(length) { Refill(); }

  void Refill() {
    if (bits_ >= 56) return;
    if (length_ - pos_ >= 8) {
      uint64_t v = 0;
      for (int i = 0; i < 8; ++i) v = (v << 8) | in_[pos_ + i];
      int n = (63 - bits_) >> 3;  // whole bytes that fit
      buf_ |= (v >> (64 - 8 * n)) << (64 - bits_ - 8 * n);
      pos_ += static_cast<size_t>(n);
      bits_ += 8 * n;
    } else {
      while (bits_ <= 56) {
        uint64_t b = pos_ < length_ ? in_[pos_++] : 0;
        buf_ |= b << (56 - bits_);
        bits_ += 8;
      }
    }
  }

  unsigned Peek16() const { return static_cast<unsigned>(buf_ >> 48); }
  void Skip(unsigned n) {
    buf_ <<= n;
    bits_ -= static_cast<int>(n);
  }
  unsigned Get(int n) {
    if (n == 0) return 0;
    unsigned x = static_cast<unsigned>(buf_ >> (64 - n));
    Skip(static_cast<unsigned>(n));
    return x;
  }

 private:
  const uint8_t* in_;
  size_t length_;
  size_t pos_ = 0;
  uint64_t buf_ = 0;
  int bits_ = 0;
};

namespace {

template <int kSymbols, int kDirectBits>
void BuildSingle(RefDecodeTable<kSymbols, kDirectBits>& t, unsigned symbol, int alphabet) {
  using Table = RefDecodeTable<kSymbols, kDirectBits>;
  // Every lookup yields the symbol and consumes no bits; one outside the alphabet fails when used.
  uint16_t entry = symbol < static_cast<unsigned>(alphabet) ? static_cast<uint16_t>(symbol)
                                                            : static_cast<uint16_t>(Table::kBad << 9);
  for (uint16_t& e : t.direct) e = entry;
}

// Builds the tables of a canonical code from its lengths; false unless the code is complete.
template <int kSymbols, int kDirectBits>
bool BuildTable(RefDecodeTable<kSymbols, kDirectBits>& t, const uint8_t* len, int n) {
  using Table = RefDecodeTable<kSymbols, kDirectBits>;
  unsigned count[kMaxCodeLength + 1] = {};
  for (int i = 0; i < n; ++i) {
    if (len[i] > kMaxCodeLength) return false;
    ++count[len[i]];
  }
  t.start[1] = 0;
  for (int l = 1; l <= kMaxCodeLength; ++l) t.start[l + 1] = t.start[l] + (count[l] << (kMaxCodeLength - l));
  if (t.start[kMaxCodeLength + 1] != (1u << kMaxCodeLength)) return false;

  uint16_t fill[kMaxCodeLength + 1];
  unsigned index = 0;
  for (int l = 1; l <= kMaxCodeLength; ++l) {
    t.base[l] = static_cast<uint16_t>(index);
    fill[l] = static_cast<uint16_t>(index);
    index += count[l];
  }
  for (int i = 0; i < n; ++i) {
    if (len[i] != 0) t.sorted[fill[len[i]]++] = static_cast<uint16_t>(i);
  }
  for (int l = 1; l <= kMaxCodeLength; ++l) {
    unsigned first = t.start[l] >> (kMaxCodeLength - l);
    for (unsigned k = 0; k < count[l]; ++k) {
      unsigned sym = t.sorted[t.base[l] + k];
      unsigned code = first + k;
      if (l <= kDirectBits) {
        uint16_t entry = static_cast<uint16_t>((static_cast<unsigned>(l) << 9) | sym);
        unsigned from = code << (kDirectBits - l);
        unsigned to = from + (1u << (kDirectBits - l));
        for (unsigned e = from; e < to; ++e) t.direct[e] = entry;
      } else {
        t.direct[code >> (l - kDirectBits)] = static_cast<uint16_t>(Table::kLong << 9);
      }
    }
  }
  return true;
}

// Decodes one symbol; -1 for a symbol outside the alphabet.
template <int kSymbols, int kDirectBits>
inline int DecodeSymbol(const RefDecodeTable<kSymbols, kDirectBits>& t, ReferenceDecoder::BitReader& br) {
  using Table = RefDecodeTable<kSymbols, kDirectBits>;
  unsigned peek = br.Peek16();
  unsigned entry = t.direct[peek >> (kMaxCodeLength - kDirectBits)];
  unsigned len = entry >> 9;
  if (len <= kMaxCodeLength) {
    br.Skip(len);
    return static_cast<int>(entry & 0x1FF);
  }
  if (len == Table::kBad) return -1;
  for (int l = kDirectBits + 1; l <= kMaxCodeLength; ++l) {
    if (peek < t.start[l + 1]) {
      br.Skip(static_cast<unsigned>(l));
      return t.sorted[t.base[l] + ((peek - t.start[l]) >> (kMaxCodeLength - l))];
    }
  }
  return -1;
}

}  // namespace

bool ReferenceDecoder::ReadPtLen(BitReader& br, int nn, int nbit, int special) {
  br.Refill();
  int n = static_cast<int>(br.Get(nbit));
  if (n == 0) {
    unsigned c = br.Get(nbit);
    std::memset(ptLen_, 0, sizeof ptLen_);
    BuildSingle(ptTable_, c, nn);
    return true;
  }
  if (n > nn) return false;
  int i = 0;
  while (i < n) {
    br.Refill();
    unsigned peek = br.Peek16();
    unsigned c = peek >> 13;
    if (c == 7) {
      // 111 then one bit per length above 7, ended by a zero bit.
      unsigned mask = 1u << 12;
      while (peek & mask) {
        mask >>= 1;
        ++c;
      }
      if (c > kMaxCodeLength) return false;
    }
    br.Skip(c < 7 ? 3 : c - 3);
    ptLen_[i++] = static_cast<uint8_t>(c);
    if (i == special) {
      int zeros = static_cast<int>(br.Get(2));
      if (i + zeros > nn) return false;
      while (zeros-- > 0) ptLen_[i++] = 0;
    }
  }
  while (i < nn) ptLen_[i++] = 0;
  return BuildTable(ptTable_, ptLen_, nn);
}

bool ReferenceDecoder::ReadCLen(BitReader& br) {
  br.Refill();
  int n = static_cast<int>(br.Get(kCBit));
  if (n == 0) {
    unsigned c = br.Get(kCBit);
    std::memset(cLen_, 0, sizeof cLen_);
    BuildSingle(cTable_, c, kNC);
    return true;
  }
  if (n > kNC) return false;
  int i = 0;
  while (i < n) {
    br.Refill();
    int c = DecodeSymbol(ptTable_, br);
    if (c < 0 || c >= kNT) return false;
    if (c <= 2) {
      int run = c == 0 ? 1 : c == 1 ? static_cast<int>(br.Get(4)) + 3 : static_cast<int>(br.Get(kCBit)) + 20;
      if (i + run > kNC) return false;
      std::memset(cLen_ + i, 0, static_cast<size_t>(run));
      i += run;
    } else {
      cLen_[i++] = static_cast<uint8_t>(c - 2);
    }
  }
  if (i < kNC) std::memset(cLen_ + i, 0, static_cast<size_t>(kNC - i));
  return BuildTable(cTable_, cLen_, kNC);
}

bool ReferenceDecoder::ReadBlockHeader(BitReader& br) {
  return ReadPtLen(br, kNT, kTBit, 3) && ReadCLen(br) && ReadPtLen(br, kNP, kPBit, -1);
}

bool ReferenceDecoder::Expand(const uint8_t* in, size_t inLength, uint8_t* out, size_t outLength) {
  BitReader br(in, inLength);
  unsigned remaining = 0;  // codes left in the current block
  size_t op = 0;
  while (op < outLength) {
    br.Refill();
    if (remaining == 0) {
      remaining = br.Get(16);
      if (!ReadBlockHeader(br)) return false;
      br.Refill();
    }
    // The count is a 16-bit quantity: a block announcing 0 codes runs for 65,536.
    remaining = (remaining - 1) & 0xFFFFu;
    int c = DecodeSymbol(cTable_, br);
    if (c < 0) return false;
    if (c < 256) {
      out[op++] = static_cast<uint8_t>(c);
      continue;
    }
    int p = DecodeSymbol(ptTable_, br);
    if (p < 0) return false;
    size_t dist = 1;
    if (p != 0) dist += (1u << (p - 1)) + br.Get(p - 1);
    size_t n = static_cast<size_t>(c - (256 - kThreshold));
    if (n > outLength - op) n = outLength - op;  // the rest would belong past the expanded length
    uint8_t* dst = out + op;
    if (dist > op) {
      // Reaches back before the first byte, where the history is zeros.
      for (size_t k = 0; k < n; ++k) dst[k] = op + k >= dist ? out[op + k - dist] : 0;
    } else if (dist >= 8 && outLength - op >= n + 8) {
      // Whole 8-byte chunks: each one's source lies entirely behind it.
      const uint8_t* src = dst - dist;
      for (size_t k = 0; k < n; k += 8) std::memcpy(dst + k, src + k, 8);
    } else if (dist == 1) {
      std::memset(dst, dst[-1], n);
    } else {
      const uint8_t* src = dst - dist;
      for (size_t k = 0; k < n; ++k) dst[k] = src[k];
    }
    op += n;
  }
  return true;
}

}  // namespace kdltest
