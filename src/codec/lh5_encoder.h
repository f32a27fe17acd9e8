// The -lh5- compressor: one-step lazy parsing over the trie match finder, static Huffman blocks.
#pragma once

#include <cstddef>
#include <cstdint>

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

}  // namespace kdl::lh5
