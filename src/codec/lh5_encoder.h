// The -lh5- compressor: one-step lazy parsing over a match finder, static Huffman blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "codec/lh5_block_encoder.h"
#include "codec/lh5_format.h"

namespace kdl::lh5 {

enum class EncodeStatus {
  kOk,
  kUnusable,       // the output would have reached the input consumed so far
  kNoMemory,       // block buffers could not be allocated
  kNoTrieMemory,   // the match finder could not be allocated
  kOutputTooSmall  // unbounded mode only: `capacity` was not enough (never with the documented size)
};

struct EncodeResult {
  EncodeStatus status = EncodeStatus::kOk;
  size_t size = 0;  // bytes of stream stored in `out`
};

// Compresses `length` bytes. With `bounded`, a byte of output is stored only while fewer bytes have
// been stored than input bytes consumed, and the call gives up (kUnusable) otherwise; `out` then
// needs `length` bytes. Without it the whole stream is written; `out` needs
// UnboundedCapacity(length) bytes.
EncodeResult Encode(const uint8_t* in, size_t length, uint8_t* out, size_t capacity, bool bounded);

// Room that an unbounded stream of `length` input bytes can need: literals cost at most 16 bits,
// and every block of at least 5,000 codes carries at most about 1.2 KB of tables.
inline size_t UnboundedCapacity(size_t length) { return 2 * length + length / 4 + 4096; }

// Encode() over any match finder with the same interface (Start, Advance, Skip, TextAt and the
// public matchLen, matchPos, pos and remainder): the stream is a function of the matches alone.
template <class Finder>
EncodeResult EncodeWith(const uint8_t* in, size_t length, uint8_t* out, size_t capacity, bool bounded) {
  EncodeResult result;
  std::unique_ptr<BlockEncoder> block(new (std::nothrow) BlockEncoder());
  if (!block) {
    result.status = EncodeStatus::kNoMemory;
    return result;
  }
  std::unique_ptr<Finder> finder(new (std::nothrow) Finder);
  if (!finder) {
    result.status = EncodeStatus::kNoTrieMemory;
    return result;
  }
  InputCursor input;
  input.data = in;
  input.length = length;
  block->Start(out, capacity, bounded, &input);

  Finder& mf = *finder;
  mf.Start(&input);
  if (mf.matchLen > mf.remainder) mf.matchLen = mf.remainder;
  // One-step lazy parse: a match is taken only if the match at the next position is not longer.
  while (mf.remainder > 0 && !block->unpackable) {
    const int lastLen = mf.matchLen;
    const int lastPos = mf.matchPos;
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
