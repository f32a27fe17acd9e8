// The first match finder of the compressor, kept unchanged as the reference the production finder is
// checked against: a Patricia trie over the last 8 KiB whose children hang in chained hash slots,
// with lazily propagated ("percolating") positions, as in the published ar002 compressor.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/lh5_format.h"

namespace kdltest {

using kdl::lh5::InputCursor;
using kdl::lh5::kDicSize;
using kdl::lh5::kMaxMatch;

class ReferenceMatchFinder {
 public:
  // Fills the window from `input` and inserts the first position.
  void Start(InputCursor* input);
  // Moves one position on (refilling the window when needed) and finds the match there.
  void Advance();
  // Advance() `n` times; the parser uses it to pass over the bytes a match has covered.
  void Skip(int n);

  uint8_t TextAt(int i) const { return text_[i]; }

  // State of the last insertion, read and (for the length) clipped by the parser.
  int matchLen = 0;
  int matchPos = 0;
  int pos = 0;
  int remainder = 0;

 private:
  static constexpr int kNil = 0;
  static constexpr unsigned kPercFlag = 0x8000;
  // Child lookups go through chained hash slots stored above the nodes in next_. Which chain a node
  // sits in never changes which child is found, so the slots are spread wider than the original
  // q + 16c to keep the chains short.
  static constexpr int kHashBits = 15;
  static constexpr int kHashSlots = 1 << kHashBits;

  static int Hash(int q, int c) {
    uint32_t key = (static_cast<uint32_t>(q) << 8) | static_cast<uint32_t>(c);
    return 2 * kDicSize + static_cast<int>((key * 2654435761u) >> (32 - kHashBits));
  }

  // Fields read together on the walks up and down the trie share one record. Internal nodes are
  // 1..8191, roots 8192..8447 (one per first byte; level, position, child count) and leaves
  // 8192..16383 (one per window position; parent): roots and leaves use different fields.
  struct Node {
    uint16_t parent;
    uint16_t position;  // most recent position seen, kPercFlag while the parent still waits for it
    uint8_t level;      // length of the string up to this node
    uint8_t childCount;
  };

  int Child(int q, int c) {
    int r = next_[Hash(q, c)];
    node_[kNil].parent = static_cast<uint16_t>(q);  // sentinel ends the sibling walk
    while (node_[r].parent != q) r = next_[r];
    return r;
  }
  void MakeChild(int q, int c, int r);
  void Split(int old, int len, int mpos);
  void InsertNode();
  void DeleteNode();
  void Slide();
  void Step();

  InputCursor* input_ = nullptr;
  int avail_ = 0;
  Node node_[2 * kDicSize] = {};
  uint16_t prev_[2 * kDicSize] = {};
  // Sibling links of nodes and, from 16,384 on, the hash slots of (node, byte) pairs.
  uint16_t next_[2 * kDicSize + kHashSlots] = {};
  // Positions 0..8191 of the window below the current one, 8192..16383 the current one and 256
  // bytes of look-ahead (plus slack for word-wide compares). Bytes no input has filled stay zero.
  uint8_t text_[2 * kDicSize + kMaxMatch + 8] = {};
};

}  // namespace kdltest
