// Sliding-window match finder of the -lh5- compressor: a Patricia trie over the last 8 KiB with
// lazily propagated ("percolating") positions, as in the published ar002 compressor. Which of
// several equally long matches it reports depends on those lazy positions (it is not always the
// most recent one), and the stream depends on it, so the trie's behaviour is kept step for step:
// the same nodes are made, split, removed and given the same positions at the same moments.
//
// Only where a node finds its children differs from the chained hash of the original. A node keeps
// up to seven children in its own 32-byte record (their first bytes and numbers), and every node
// knows the byte and the slot under which it hangs, so walking down, splitting and removing touch
// the records the walk reads anyway. A node that gets an eighth child moves its children into a
// table of 256 indexed by the byte, as the 256 roots have from the start (a position looks its
// root's child up by its first two bytes before it is needed).
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/lh5_format.h"

namespace kdl::lh5 {

class MatchFinder {
 public:
  // Leaves the big tables uninitialised: Start() sets up what a call reads.
  MatchFinder() {}
  MatchFinder(const MatchFinder&) = delete;
  MatchFinder& operator=(const MatchFinder&) = delete;

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
  // Node numbers: 0 none, 1..8191 internal nodes, 8192..8447 the roots (one per first byte) and
  // 8192..16383 the leaves (one per window position). Roots are never children and leaves never
  // parents, so the two ranges can overlap.
  static constexpr int kNil = 0;
  static constexpr int kNodes = 2 * kDicSize;
  static constexpr int kRootCount = 256;
  static constexpr unsigned kPercFlag = 0x8000;
  static constexpr int kSlots = 7;        // children kept in a node's own record
  static constexpr uint8_t kWide = 0x80;  // in `used`: the children are in a table of 256
  // Tables of 256 children: one per root, then enough for every node that can hold one at once. A node
  // takes a table at its eighth child and gives it back when it is down to kNarrowAt, so every node with
  // a table has more children than that, and a child has one parent.
  static constexpr int kNarrowAt = 3;
  static constexpr int kWideTables = kRootCount + kNodes / (kNarrowAt + 1);

  // What every node that can be a child has, at the same place in both kinds of record.
  struct Head {
    uint16_t parent;
    uint16_t aux;   // internal node or root: position; leaf: successor
    uint8_t level;  // internal node or root: length of the string up to the node
    uint8_t count;  // internal node: number of children (the original's 8-bit count)
    uint8_t slot;   // where the node hangs in its parent's record (unless the parent has a table)
    uint8_t byte;   // first byte of the node's string below its parent
  };

  // An internal node or a root. `aux` holds the most recent position seen, with kPercFlag while the
  // parent still waits for it.
  struct alignas(32) Inner {
    Head head;
    uint8_t bytes[8];           // byte of the child in each slot (slot 7 is never used)
    uint16_t children[kSlots];  // child in each slot
    uint8_t used;               // bit i: slot i holds a child; or kWide
    uint8_t unused;
  };
  static_assert(sizeof(Inner) == 32);

  // A leaf. `aux` is the later position with the same 256 bytes that has taken its place (the walk
  // from a leaf follows it), kNil for a leaf that left the window.
  struct alignas(8) Leaf {
    Head head;
  };
  static_assert(sizeof(Leaf) == 8);

  static int RootKey(int root, int c) { return ((root - kDicSize) << 8) | c; }
  int WideKey(const Inner& n, int c) const { return (n.children[0] << 8) | c; }

  Head& HeadOf(int r) { return r < kDicSize ? inner_[r].head : leaf_[r - kDicSize].head; }
  const Head& HeadOf(int r) const { return r < kDicSize ? inner_[r].head : leaf_[r - kDicSize].head; }
  Head& LeafOf(int r) { return leaf_[r - kDicSize].head; }

  int RootChild(int q, int c) const { return wide_[RootKey(q, c)]; }
  int InnerChild(int q, int c) const;
  // A child of `q` found without its byte, for a parent left with one child whose byte the trie's
  // positions do not name (never seen; kept so that a broken assumption cannot corrupt the trie).
  int AnyChild(int q) const;
  // Moves the seven children of `n` into a table of 256, and back into its record.
  void Widen(Inner& n);
  void Narrow(Inner& n);

  // Hangs `r` (head `h`) from the internal node `q` under byte `c`.
  void AddInnerChild(int q, int c, int r, Head& h);
  // Takes `r` (head `h`) out of the children of its parent `q`.
  void RemoveChild(int q, int r, const Head& h);
  // Puts `s` (head `hs`) where `r` (head `hr`) hangs from `q`, under the same byte.
  void ReplaceChild(int q, int r, const Head& hr, int s, Head& hs);

  void Split(int q, int old, int len, int mpos);
  void InsertNode();
  void DeleteNode();
  void Slide();
  void Step();

  InputCursor* input_ = nullptr;
  int avail_ = 0;  // free internal nodes, linked through their parent field

  int freeTables_ = 0;  // tables of 256 not in use, linked through their first entry
  int newTables_ = 0;   // tables never used in this call, from here on

  alignas(64) Inner inner_[kDicSize + kRootCount];
  Leaf leaf_[kDicSize];
  // The tables of 256 children; a table is cleared when a node takes it, so only the roots' are cleared
  // at the start.
  uint16_t wide_[kWideTables * 256];
  // Positions 0..8191 of the window below the current one, 8192..16383 the current one and 256
  // bytes of look-ahead (plus slack for word-wide compares). Bytes no input has filled stay zero.
  uint8_t text_[2 * kDicSize + kMaxMatch + 8];
};

}  // namespace kdl::lh5
