// Huffman code construction of the -lh5- compressor.
#pragma once

#include <cstdint>

#include "codec/lh5_format.h"

namespace kdl::lh5 {

// Builds a length-limited Huffman code the way the published ar002 compressor does, so that the
// lengths (and hence the stream) come out identical: a binary min-heap where the left child wins
// ties, symbols recorded in the order they leave the heap, depths clamped to 16 and the Kraft sum
// repaired from the longest lengths, lengths handed out longest first in leaving order.
class HuffmanBuilder {
 public:
  // `freq` holds 2n-1 entries (joined nodes are stored above n). On return `len` and `code` hold the
  // canonical code. The result is the root: below n when fewer than two symbols occur, in which case
  // every length is 0 and the root is the only symbol (0 when none occurs).
  int MakeTree(int n, uint16_t* freq, uint8_t* len, uint16_t* code);

 private:
  void DownHeap(int i);
  void CountLengths(int root);
  void MakeLengths(int root);
  void MakeCodes(int n, const uint8_t* len, uint16_t* code);

  int n_ = 0;
  int heapSize_ = 0;
  const uint16_t* freq_ = nullptr;
  uint16_t* order_ = nullptr;  // symbols in the order they left the heap
  uint8_t* len_ = nullptr;
  uint16_t lenCount_[kMaxCodeLength + 1] = {};
  int16_t heap_[kNC + 1] = {};
  uint16_t left_[2 * kNC - 1] = {};
  uint16_t right_[2 * kNC - 1] = {};
};

}  // namespace kdl::lh5
