#include "codec/lh5_decoder.h"

#include <cstring>

namespace kdl::lh5 {

// Most-significant-bit-first reader over the stored bytes; past their end it supplies zero bits.
// After Refill() at least 56 bits are available, enough for one whole match code.
class Decoder::BitReader {
 public:
  BitReader(const uint8_t* in, size_t length) : in_(in), length_(length) { Refill(); }

  void Refill() {
    if (length_ - pos_ >= 8) {
      // Eight bytes at once; the bits below the whole bytes taken are the input's own next bits,
      // so loading them again later changes nothing.
      uint64_t v;
      std::memcpy(&v, in_ + pos_, 8);
      buf_ |= __builtin_bswap64(v) >> bits_;
      pos_ += static_cast<size_t>((63 - bits_) >> 3);
      bits_ |= 56;
    } else {
      while (bits_ <= 56) {
        const uint64_t b = pos_ < length_ ? in_[pos_++] : 0;
        buf_ |= b << (56 - bits_);
        bits_ += 8;
      }
    }
  }

  template <int kBits>
  unsigned Peek() const {
    return static_cast<unsigned>(buf_ >> (64 - kBits));
  }
  void Skip(unsigned n) {
    buf_ <<= n;
    bits_ -= static_cast<int>(n);
  }
  unsigned Get(int n) {
    if (n == 0) return 0;
    const auto x = static_cast<unsigned>(buf_ >> (64 - n));
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
void BuildSingle(DecodeTable<kSymbols, kDirectBits>& t, unsigned symbol, int alphabet) {
  using Table = DecodeTable<kSymbols, kDirectBits>;
  // Every lookup yields the symbol and consumes no bits; one outside the alphabet fails when used.
  const uint16_t entry = symbol < static_cast<unsigned>(alphabet) ? static_cast<uint16_t>(symbol)
                                                                  : static_cast<uint16_t>(Table::kBad << 9);
  for (uint16_t& e : t.direct) e = entry;
}

// Builds the tables of a canonical code from its lengths; false unless the code is complete.
template <int kSymbols, int kDirectBits>
bool BuildTable(DecodeTable<kSymbols, kDirectBits>& t, const uint8_t* len, int n) {
  using Table = DecodeTable<kSymbols, kDirectBits>;
  constexpr int kSubBits = Table::kSubBits;
  unsigned count[kMaxCodeLength + 1] = {};
  for (int i = 0; i < n; ++i) {
    if (len[i] > kMaxCodeLength) return false;
    ++count[len[i]];
  }
  // Codes are handed out by increasing length, then symbol: next[l] is the next code of length l.
  unsigned next[kMaxCodeLength + 1] = {};
  unsigned start = 0;
  for (int l = 1; l <= kMaxCodeLength; ++l) {
    next[l] = start >> (kMaxCodeLength - l);
    start += count[l] << (kMaxCodeLength - l);
  }
  if (start != (1u << kMaxCodeLength)) return false;

  std::memset(t.direct, 0, sizeof t.direct);
  unsigned subTables = 0;
  for (int i = 0; i < n; ++i) {
    const int l = len[i];
    if (l == 0) continue;
    const unsigned code = next[l]++;
    const auto entry = static_cast<uint16_t>((static_cast<unsigned>(l) << 9) | static_cast<unsigned>(i));
    if (l <= kDirectBits) {
      const unsigned from = code << (kDirectBits - l);
      for (unsigned e = from; e < from + (1u << (kDirectBits - l)); ++e) t.direct[e] = entry;
      continue;
    }
    // A long code: its first kDirectBits bits choose a second-level table (made when first met),
    // the rest index it.
    const unsigned prefix = code >> (l - kDirectBits);
    unsigned table;
    if ((t.direct[prefix] >> 9) == Table::kSub) {
      table = t.direct[prefix] & 0x1FFu;
    } else {
      table = subTables++;
      t.direct[prefix] = static_cast<uint16_t>((Table::kSub << 9) | table);
    }
    const unsigned rest = code & ((1u << (l - kDirectBits)) - 1);
    const unsigned from = (table << kSubBits) | (rest << (kMaxCodeLength - l));
    for (unsigned e = from; e < from + (1u << (kMaxCodeLength - l)); ++e) t.sub[e] = entry;
  }
  return true;
}

// Decodes one symbol; -1 for a symbol outside the alphabet.
template <int kSymbols, int kDirectBits>
inline int DecodeSymbol(const DecodeTable<kSymbols, kDirectBits>& t, Decoder::BitReader& br) {
  using Table = DecodeTable<kSymbols, kDirectBits>;
  unsigned entry = t.direct[br.template Peek<kDirectBits>()];
  if ((entry >> 9) > kMaxCodeLength) {
    if ((entry >> 9) == Table::kBad) return -1;
    const unsigned rest = br.template Peek<kMaxCodeLength>() & ((1u << Table::kSubBits) - 1);
    entry = t.sub[((entry & 0x1FFu) << Table::kSubBits) | rest];
  }
  br.Skip(entry >> 9);
  return static_cast<int>(entry & 0x1FFu);
}

}  // namespace

bool Decoder::ReadPtLen(BitReader& br, int nn, int nbit, int special) {
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
    const unsigned peek = br.Peek<16>();
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

bool Decoder::ReadCLen(BitReader& br) {
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

bool Decoder::ReadBlockHeader(BitReader& br) {
  return ReadPtLen(br, kNT, kTBit, 3) && ReadCLen(br) && ReadPtLen(br, kNP, kPBit, -1);
}

bool Decoder::Expand(const uint8_t* in, size_t inLength, uint8_t* out, size_t outLength) {
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
    const int c = DecodeSymbol(cTable_, br);
    if (c < 0) return false;
    if (c < 256) {
      out[op++] = static_cast<uint8_t>(c);
      // Up to two more literals of short codes from the bits already loaded (at least 40 remain).
      for (int k = 0; k < 2 && remaining != 0 && op < outLength; ++k) {
        const unsigned e = cTable_.direct[br.Peek<12>()];
        if ((e >> 9) > 12 || (e & 0x1FFu) >= 256) break;
        br.Skip(e >> 9);
        out[op++] = static_cast<uint8_t>(e);
        --remaining;
      }
      continue;
    }
    const int p = DecodeSymbol(ptTable_, br);
    if (p < 0) return false;
    size_t dist = 1;
    if (p != 0) dist += (1u << (p - 1)) + br.Get(p - 1);
    size_t n = static_cast<size_t>(c - (256 - kThreshold));
    if (n > outLength - op) n = outLength - op;  // the rest would belong past the expanded length
    uint8_t* dst = out + op;
    const size_t room = outLength - op;
    if (dist > op) {
      // Reaches back before the first byte, where the history is zeros.
      for (size_t k = 0; k < n; ++k) dst[k] = op + k >= dist ? out[op + k - dist] : 0;
    } else if (dist >= 16 && room >= n + 16) {
      // Whole 16-byte chunks: each one's source lies entirely behind it.
      const uint8_t* src = dst - dist;
      for (size_t k = 0; k < n; k += 16) std::memcpy(dst + k, src + k, 16);
    } else if (dist >= 8 && room >= n + 8) {
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

}  // namespace kdl::lh5
