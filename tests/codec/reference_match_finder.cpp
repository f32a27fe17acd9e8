#include "codec/reference_match_finder.h"

#include <cstring>

// The trie operations run once per input byte: inlining them into Advance() keeps the state in
// registers across the deletion and the insertion.
#define KDL_REF_INLINE inline __attribute__((always_inline))

namespace kdltest {

namespace {

// Number of equal bytes at a and b, counting from `from` up to `limit`.
inline int MatchLength(const uint8_t* a, const uint8_t* b, int from, int limit) {
  int n = from;
  while (n + 8 <= limit) {
    uint64_t x;
    uint64_t y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) return n + (__builtin_ctzll(x ^ y) >> 3);
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

}  // namespace

KDL_REF_INLINE void ReferenceMatchFinder::MakeChild(int q, int c, int r) {
  int h = Hash(q, c);
  int t = next_[h];
  next_[h] = static_cast<uint16_t>(r);
  next_[r] = static_cast<uint16_t>(t);
  prev_[t] = static_cast<uint16_t>(r);
  prev_[r] = static_cast<uint16_t>(h);
  node_[r].parent = static_cast<uint16_t>(q);
  ++node_[q].childCount;
}

// Puts a new internal node of level `len` above `old` and hangs the current position from it.
KDL_REF_INLINE void ReferenceMatchFinder::Split(int old, int len, int mpos) {
  int node = avail_;
  avail_ = next_[node];
  node_[node].childCount = 0;
  int t = prev_[old];
  prev_[node] = static_cast<uint16_t>(t);
  next_[t] = static_cast<uint16_t>(node);
  t = next_[old];
  next_[node] = static_cast<uint16_t>(t);
  prev_[t] = static_cast<uint16_t>(node);
  node_[node].parent = node_[old].parent;
  node_[node].level = static_cast<uint8_t>(len);
  node_[node].position = static_cast<uint16_t>(pos);
  MakeChild(node, text_[mpos + len], old);
  MakeChild(node, text_[pos + len], pos);
}

KDL_REF_INLINE void ReferenceMatchFinder::InsertNode() {
  const int p = pos;
  int len = matchLen;
  int q;
  int r;
  if (len >= 4) {
    // The previous position matched len bytes, so this one matches at least one fewer at the
    // following position: start from that leaf's ancestors instead of the root.
    --len;
    r = (matchPos + 1) | kDicSize;
    while ((q = node_[r].parent) == kNil) r = next_[r];
    while (node_[q].level >= len) {
      r = q;
      q = node_[q].parent;
    }
    int t = q;
    while (node_[t].position & kPercFlag) {
      node_[t].position = static_cast<uint16_t>(p);
      t = node_[t].parent;
    }
    if (t < kDicSize) node_[t].position = static_cast<uint16_t>(p | kPercFlag);
  } else {
    q = text_[p] + kDicSize;
    int c = text_[p + 1];
    if ((r = Child(q, c)) == kNil) {
      MakeChild(q, c, p);
      matchLen = 1;
      return;
    }
    len = 2;
  }
  const uint8_t* cur = &text_[p];
  for (;;) {
    int j;
    int mpos;
    if (r >= kDicSize) {
      j = kMaxMatch;
      mpos = r;
    } else {
      j = node_[r].level;
      mpos = node_[r].position & ~kPercFlag;
    }
    if (mpos >= p) mpos -= kDicSize;
    matchPos = mpos;
    if (len < j) {
      int m = MatchLength(cur, &text_[mpos], len, j);
      if (m < j) {
        matchLen = m;
        Split(r, m, mpos);
        return;
      }
      len = j;
    }
    if (len >= kMaxMatch) break;
    node_[r].position = static_cast<uint16_t>(p);
    q = r;
    if ((r = Child(q, cur[len])) == kNil) {
      matchLen = len;
      MakeChild(q, cur[len], p);
      return;
    }
    ++len;
  }
  matchLen = len;
  // A full-length match: the new position replaces the old leaf, which remembers its successor.
  int t = prev_[r];
  prev_[p] = static_cast<uint16_t>(t);
  next_[t] = static_cast<uint16_t>(p);
  t = next_[r];
  next_[p] = static_cast<uint16_t>(t);
  prev_[t] = static_cast<uint16_t>(p);
  node_[p].parent = static_cast<uint16_t>(q);
  node_[r].parent = kNil;
  next_[r] = static_cast<uint16_t>(p);
}

KDL_REF_INLINE void ReferenceMatchFinder::DeleteNode() {
  const int p = pos;
  if (node_[p].parent == kNil) return;
  int r = prev_[p];
  int s = next_[p];
  next_[r] = static_cast<uint16_t>(s);
  prev_[s] = static_cast<uint16_t>(r);
  r = node_[p].parent;
  node_[p].parent = kNil;
  if (r >= kDicSize || --node_[r].childCount > 1) return;
  // r is left with one child: remove it, passing its position up to the ancestors still waiting.
  int t = node_[r].position & ~kPercFlag;
  if (t >= p) t -= kDicSize;
  s = t;
  int q = node_[r].parent;
  int u;
  while ((u = node_[q].position) & kPercFlag) {
    u &= ~kPercFlag;
    if (u >= p) u -= kDicSize;
    if (u > s) s = u;
    node_[q].position = static_cast<uint16_t>(s | kDicSize);
    q = node_[q].parent;
  }
  if (q < kDicSize) {
    if (u >= p) u -= kDicSize;
    if (u > s) s = u;
    node_[q].position = static_cast<uint16_t>(s | kDicSize | kPercFlag);
  }
  s = Child(r, text_[t + node_[r].level]);
  t = prev_[s];
  u = next_[s];
  next_[t] = static_cast<uint16_t>(u);
  prev_[u] = static_cast<uint16_t>(t);
  t = prev_[r];
  next_[t] = static_cast<uint16_t>(s);
  prev_[s] = static_cast<uint16_t>(t);
  t = next_[r];
  prev_[t] = static_cast<uint16_t>(s);
  next_[s] = static_cast<uint16_t>(t);
  node_[s].parent = node_[r].parent;
  node_[r].parent = kNil;
  next_[r] = static_cast<uint16_t>(avail_);
  avail_ = r;
}

KDL_REF_INLINE void ReferenceMatchFinder::Step() {
  --remainder;
  if (++pos == 2 * kDicSize) Slide();
  // Start loading what the insertion will look at first while the deletion runs.
  if (matchLen >= 4) {
    __builtin_prefetch(&node_[(matchPos + 1) | kDicSize]);
  } else {
    __builtin_prefetch(&next_[Hash(text_[pos] + kDicSize, text_[pos + 1])]);
  }
  DeleteNode();
  InsertNode();
  // The next deletion starts at the parent of the following leaf.
  __builtin_prefetch(&node_[node_[((pos + 1) & (kDicSize - 1)) | kDicSize].parent]);
}

void ReferenceMatchFinder::Advance() { Step(); }

void ReferenceMatchFinder::Skip(int n) {
  while (n-- > 0) Step();
}

void ReferenceMatchFinder::Slide() {
  // Move the current half and the look-ahead down and refill behind them in place.
  std::memmove(&text_[0], &text_[kDicSize], kDicSize + kMaxMatch);
  remainder += input_->Read(&text_[kDicSize + kMaxMatch], kDicSize);
  pos = kDicSize;
}

void ReferenceMatchFinder::Start(InputCursor* input) {
  input_ = input;
  for (int i = kDicSize; i <= kDicSize + 255; ++i) {
    node_[i].level = 1;
    node_[i].position = kNil;
  }
  for (int i = kDicSize; i < 2 * kDicSize; ++i) node_[i].parent = kNil;
  avail_ = 1;
  for (int i = 1; i < kDicSize - 1; ++i) next_[i] = static_cast<uint16_t>(i + 1);
  next_[kDicSize - 1] = kNil;
  for (int i = 2 * kDicSize; i < 2 * kDicSize + kHashSlots; ++i) next_[i] = kNil;

  remainder = input_->Read(&text_[kDicSize], kDicSize + kMaxMatch);
  matchLen = 0;
  matchPos = 0;
  pos = kDicSize;
  InsertNode();
}

}  // namespace kdltest
