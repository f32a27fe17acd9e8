// The track codec: LHA -lh5- compression of one track unit into memory and its expansion.
//
// The stream written is exactly the one the published ar002 compressor writes for the same bytes
// (its window starting as zeros), so that stored images can be rewritten to the same bytes by any
// implementation. One codec object serves one thread; calls must not overlap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kdl {

namespace lh5 {
class Decoder;
}

// CompressTrack results below zero.
inline constexpr int kCompressNotWorthKeeping = -1;  // or the block buffers could not be allocated
inline constexpr int kCompressNoTrieMemory = -2;
// ExpandTrack result for a stream with inconsistent code tables (or an uninitialised codec).
inline constexpr int kExpandBadStream = -3;

class TrackCodec {
 public:
  TrackCodec();
  ~TrackCodec();
  TrackCodec(const TrackCodec&) = delete;
  TrackCodec& operator=(const TrackCodec&) = delete;

  // Allocates the expander's tables: 0, or -1 when they cannot be allocated. Calling it again is
  // harmless.
  int CodecInit();
  // Releases what CodecInit allocated.
  void CodecDone();
  bool Initialized() const { return decoder_ != nullptr; }

  // Compresses `length` bytes from `in` into `out`, which must hold `length` bytes; no byte is ever
  // written at or beyond the number of input bytes consumed at that moment. Returns the stored
  // length when it is at most nine tenths of the input (length * 9 / 10, truncated), else -1
  // (also for empty input or when the output would reach the consumed input); -2 when the match
  // finder cannot be allocated. Works without CodecInit.
  int CompressTrack(const uint8_t* in, uint8_t* out, int32_t length);

  // Expands a stream of `storedLength` bytes into exactly `expandedLength` bytes at `out`. Reads no
  // byte at or past `storedLength` (zero bits are supplied instead) and does not check that the
  // stream was used up. Returns 0, or -3 for an inconsistent code table (incomplete code, length
  // above 16, zero run or count past the alphabet, a single-symbol form naming a symbol outside it),
  // for negative lengths, or when CodecInit has not succeeded. `out` is then partly written.
  int ExpandTrack(const uint8_t* in, uint8_t* out, int32_t expandedLength, int32_t storedLength);

 private:
  std::unique_ptr<lh5::Decoder> decoder_;
};

// For tests: the complete stream the compressor writes when the output bound and the nine-tenths
// rule are lifted (what the ar002 compressor writes for input it cannot shrink).
std::vector<uint8_t> Lh5CompressUnbounded(const uint8_t* in, size_t length);

}  // namespace kdl
