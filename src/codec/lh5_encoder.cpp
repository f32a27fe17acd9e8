#include "codec/lh5_encoder.h"

#include <memory>
#include <new>

#include "codec/lh5_format.h"
#include "codec/lh5_huffman.h"
#include "codec/lh5_match_finder.h"

namespace kdl::lh5 {

namespace {

constexpr int kBlockBufferSize = 16 * 1024;

// Number of significant bits of a distance: its position symbol.
inline int BitLength(unsigned p) { return p == 0 ? 0 : 32 - __builtin_clz(p); }

// Most-significant-bit-first writer. Bits gather in a 64-bit register and leave four bytes at a
// time; the output bound is checked by the caller through OverBound() at the points where the
// compressor acts on it.
class BitWriter {
 public:
  void Start(uint8_t* out, size_t capacity, bool bounded, const InputCursor* input) {
    out_ = out;
    capacity_ = capacity;
    bounded_ = bounded;
    input_ = input;
  }

  void Put(int n, unsigned x) {
    if (n == 0) return;
    acc_ |= static_cast<uint64_t>(x) << (64 - accBits_ - n);
    accBits_ += n;
    if (accBits_ >= 32) Flush32();
  }

  // Bytes completed so far, stored or not.
  size_t ReadyBytes() const { return outPos_ + static_cast<size_t>(accBits_ >> 3); }
  // True once a completed byte could not be stored: as many bytes written as input consumed.
  bool OverBound() const { return bounded_ && ReadyBytes() > input_->consumed; }
  bool Overflowed() const { return overflowed_; }

  // Stores the completed bytes still in the register (a partial last byte is dropped).
  void FlushWholeBytes() {
    while (accBits_ >= 8) {
      StoreByte(static_cast<uint8_t>(acc_ >> 56));
      acc_ <<= 8;
      accBits_ -= 8;
    }
  }

 private:
  size_t WriteLimit() const {
    if (!bounded_) return capacity_;
    return input_->consumed < capacity_ ? input_->consumed : capacity_;
  }

  void StoreByte(uint8_t b) {
    if (outPos_ < WriteLimit()) {
      out_[outPos_] = b;
    } else if (!bounded_) {
      overflowed_ = true;
    }
    ++outPos_;
  }

  void Flush32() {
    uint32_t word = static_cast<uint32_t>(acc_ >> 32);
    if (outPos_ + 4 <= WriteLimit()) {
      out_[outPos_] = static_cast<uint8_t>(word >> 24);
      out_[outPos_ + 1] = static_cast<uint8_t>(word >> 16);
      out_[outPos_ + 2] = static_cast<uint8_t>(word >> 8);
      out_[outPos_ + 3] = static_cast<uint8_t>(word);
      outPos_ += 4;
    } else {
      for (int shift = 24; shift >= 0; shift -= 8) StoreByte(static_cast<uint8_t>(word >> shift));
    }
    acc_ <<= 32;
    accBits_ -= 32;
  }

  uint8_t* out_ = nullptr;
  size_t capacity_ = 0;
  bool bounded_ = true;
  bool overflowed_ = false;
  const InputCursor* input_ = nullptr;
  size_t outPos_ = 0;
  uint64_t acc_ = 0;
  int accBits_ = 0;
};

// Collects codes in the block buffer and sends each full block with its own Huffman tables.
class BlockEncoder {
 public:
  void Start(uint8_t* out, size_t capacity, bool bounded, const InputCursor* input) {
    bits.Start(out, capacity, bounded, input);
    buf_[0] = 0;
  }

  // A literal (c < 256) or a match (c = length + 253, p = distance - 1).
  void Output(unsigned c, unsigned p) {
    if ((outputMask_ >>= 1) == 0) {
      outputMask_ = 0x80;
      // A group of eight codes needs up to 25 bytes: send the block when that may not fit.
      if (outputPos_ >= kBlockBufferSize - 3 * 8) {
        SendBlock();
        if (unpackable) return;
        outputPos_ = 0;
      }
      flagPos_ = outputPos_++;
      buf_[flagPos_] = 0;
    }
    buf_[outputPos_++] = static_cast<uint8_t>(c);
    ++cFreq_[c];
    if (c >= 256) {
      buf_[flagPos_] = static_cast<uint8_t>(buf_[flagPos_] | outputMask_);
      buf_[outputPos_++] = static_cast<uint8_t>(p >> 8);
      buf_[outputPos_++] = static_cast<uint8_t>(p);
      ++pFreq_[BitLength(p)];
    }
  }

  void Finish() {
    if (unpackable) return;
    SendBlock();
    bits.Put(7, 0);  // complete the last byte
    if (bits.OverBound()) unpackable = true;
    bits.FlushWholeBytes();
  }

  BitWriter bits;
  bool unpackable = false;

 private:
  void CountTFreq();
  void WritePtLen(int n, int nbit, int special);
  void WriteCLen();
  void EncodeC(unsigned c) { bits.Put(cLen_[c], cCode_[c]); }
  void EncodeP(unsigned p) {
    int c = BitLength(p);
    bits.Put(ptLen_[c], ptCode_[c]);
    if (c > 1) bits.Put(c - 1, p & (0xFFFFu >> (17 - c)));
  }
  void SendBlock();

  HuffmanBuilder huffman_;
  unsigned outputPos_ = 0;
  unsigned outputMask_ = 0;
  unsigned flagPos_ = 0;
  uint8_t buf_[kBlockBufferSize] = {};
  uint16_t cFreq_[2 * kNC - 1] = {};
  uint16_t pFreq_[2 * kNP - 1] = {};
  uint16_t tFreq_[2 * kNT - 1] = {};
  uint8_t cLen_[kNC] = {};
  uint16_t cCode_[kNC] = {};
  uint8_t ptLen_[kNPT] = {};
  uint16_t ptCode_[kNPT] = {};
};

// Frequencies of the code-length symbols for the run-length form of the literal/length lengths.
void BlockEncoder::CountTFreq() {
  for (int i = 0; i < kNT; ++i) tFreq_[i] = 0;
  int n = kNC;
  while (n > 0 && cLen_[n - 1] == 0) --n;
  int i = 0;
  while (i < n) {
    int k = cLen_[i++];
    if (k == 0) {
      int count = 1;
      while (i < n && cLen_[i] == 0) {
        ++i;
        ++count;
      }
      if (count <= 2) {
        tFreq_[0] = static_cast<uint16_t>(tFreq_[0] + count);
      } else if (count <= 18) {
        ++tFreq_[1];
      } else if (count == 19) {
        ++tFreq_[0];
        ++tFreq_[1];
      } else {
        ++tFreq_[2];
      }
    } else {
      ++tFreq_[k + 2];
    }
  }
}

void BlockEncoder::WritePtLen(int n, int nbit, int special) {
  while (n > 0 && ptLen_[n - 1] == 0) --n;
  bits.Put(nbit, static_cast<unsigned>(n));
  int i = 0;
  while (i < n) {
    int k = ptLen_[i++];
    if (k <= 6) {
      bits.Put(3, static_cast<unsigned>(k));
    } else {
      bits.Put(k - 3, (1u << (k - 3)) - 2);  // k-7 one bits after 111, then a zero
    }
    if (i == special) {
      while (i < 6 && ptLen_[i] == 0) ++i;
      bits.Put(2, static_cast<unsigned>(i - 3) & 3);
    }
  }
}

void BlockEncoder::WriteCLen() {
  int n = kNC;
  while (n > 0 && cLen_[n - 1] == 0) --n;
  bits.Put(kCBit, static_cast<unsigned>(n));
  int i = 0;
  while (i < n) {
    int k = cLen_[i++];
    if (k == 0) {
      int count = 1;
      while (i < n && cLen_[i] == 0) {
        ++i;
        ++count;
      }
      if (count <= 2) {
        for (k = 0; k < count; ++k) bits.Put(ptLen_[0], ptCode_[0]);
      } else if (count <= 18) {
        bits.Put(ptLen_[1], ptCode_[1]);
        bits.Put(4, static_cast<unsigned>(count - 3));
      } else if (count == 19) {
        bits.Put(ptLen_[0], ptCode_[0]);
        bits.Put(ptLen_[1], ptCode_[1]);
        bits.Put(4, 15);
      } else {
        bits.Put(ptLen_[2], ptCode_[2]);
        bits.Put(kCBit, static_cast<unsigned>(count - 20));
      }
    } else {
      bits.Put(ptLen_[k + 2], ptCode_[k + 2]);
    }
  }
}

void BlockEncoder::SendBlock() {
  int root = huffman_.MakeTree(kNC, cFreq_, cLen_, cCode_);
  unsigned size = cFreq_[root];
  bits.Put(16, size);
  if (root >= kNC) {
    CountTFreq();
    root = huffman_.MakeTree(kNT, tFreq_, ptLen_, ptCode_);
    if (root >= kNT) {
      WritePtLen(kNT, kTBit, 3);
    } else {
      bits.Put(kTBit, 0);
      bits.Put(kTBit, static_cast<unsigned>(root));
    }
    WriteCLen();
  } else {
    bits.Put(kTBit, 0);
    bits.Put(kTBit, 0);
    bits.Put(kCBit, 0);
    bits.Put(kCBit, static_cast<unsigned>(root));
  }
  root = huffman_.MakeTree(kNP, pFreq_, ptLen_, ptCode_);
  if (root >= kNP) {
    WritePtLen(kNP, kPBit, -1);
  } else {
    bits.Put(kPBit, 0);
    bits.Put(kPBit, static_cast<unsigned>(root));
  }
  unsigned pos = 0;
  unsigned flags = 0;
  for (unsigned i = 0; i < size; ++i) {
    if (i % 8 == 0) {
      flags = buf_[pos++];
    } else {
      flags <<= 1;
    }
    if (flags & 0x80) {
      EncodeC(buf_[pos++] + 256u);
      unsigned k = static_cast<unsigned>(buf_[pos] << 8) | buf_[pos + 1];
      pos += 2;
      EncodeP(k);
    } else {
      EncodeC(buf_[pos++]);
    }
    if (bits.OverBound()) {
      unpackable = true;
      return;
    }
  }
  if (bits.OverBound()) unpackable = true;
  for (int i = 0; i < kNC; ++i) cFreq_[i] = 0;
  for (int i = 0; i < kNP; ++i) pFreq_[i] = 0;
}

}  // namespace

EncodeResult Encode(const uint8_t* in, size_t length, uint8_t* out, size_t capacity, bool bounded) {
  EncodeResult result;
  std::unique_ptr<BlockEncoder> block(new (std::nothrow) BlockEncoder());
  if (!block) {
    result.status = EncodeStatus::kNoMemory;
    return result;
  }
  std::unique_ptr<MatchFinder> finder(new (std::nothrow) MatchFinder());
  if (!finder) {
    result.status = EncodeStatus::kNoTrieMemory;
    return result;
  }
  InputCursor input;
  input.data = in;
  input.length = length;
  block->Start(out, capacity, bounded, &input);

  MatchFinder& mf = *finder;
  mf.Start(&input);
  if (mf.matchLen > mf.remainder) mf.matchLen = mf.remainder;
  // One-step lazy parse: a match is taken only if the match at the next position is not longer.
  while (mf.remainder > 0 && !block->unpackable) {
    int lastLen = mf.matchLen;
    int lastPos = mf.matchPos;
    mf.Advance();
    if (mf.matchLen > mf.remainder) mf.matchLen = mf.remainder;
    if (mf.matchLen > lastLen || lastLen < kThreshold) {
      block->Output(mf.TextAt(mf.pos - 1), 0);
    } else {
      block->Output(static_cast<unsigned>(lastLen + 256 - kThreshold),
                    static_cast<unsigned>(mf.pos - lastPos - 2) & (kDicSize - 1));
      mf.Skip(lastLen - 1);
      if (mf.matchLen > mf.remainder) mf.matchLen = mf.remainder;
    }
  }
  block->Finish();

  if (block->unpackable) {
    result.status = EncodeStatus::kUnusable;
  } else if (block->bits.Overflowed()) {
    result.status = EncodeStatus::kOutputTooSmall;
  } else {
    result.size = block->bits.ReadyBytes();
  }
  return result;
}

}  // namespace kdl::lh5
