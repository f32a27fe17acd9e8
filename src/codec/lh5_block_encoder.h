// The back end of the -lh5- compressor: codes gathered in a block buffer, each full block sent with its
// own Huffman tables through a most-significant-bit-first writer that keeps the output bound.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/lh5_format.h"
#include "codec/lh5_huffman.h"

namespace kdl::lh5 {

inline constexpr int kBlockBufferSize = 16 * 1024;

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

}  // namespace kdl::lh5
