#include "codec/lh5_match_finder.h"

#include <array>
#include <cstring>

// The trie operations run once per input byte: inlining them into Step() keeps the state in
// registers across the deletion and the insertion.
#define KDL_ALWAYS_INLINE inline __attribute__((always_inline))

namespace kdl::lh5 {

namespace {

// Number of equal bytes at a and b, counting from `from` up to `limit`.
KDL_ALWAYS_INLINE int MatchLength(const uint8_t* a, const uint8_t* b, int from, int limit) {
  int n = from;
  // Both strings lie in the window, which has slack behind its look-ahead for the last word.
  for (;;) {
    uint64_t x;
    uint64_t y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) {
      n += __builtin_ctzll(x ^ y) >> 3;
      return n < limit ? n : limit;
    }
    n += 8;
    if (n >= limit) return limit;
  }
}

constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;

// For each set of used slots, the top bit of each used slot's byte.
constexpr std::array<uint64_t, 128> MakeSlotMasks() {
  std::array<uint64_t, 128> m{};
  for (unsigned used = 0; used < 128; ++used) {
    for (int i = 0; i < 7; ++i) {
      if (used & (1u << i)) m[used] |= uint64_t{0x80} << (8 * i);
    }
  }
  return m;
}
constexpr std::array<uint64_t, 128> kSlotMasks = MakeSlotMasks();

}  // namespace

KDL_ALWAYS_INLINE int MatchFinder::InnerChild(int q, int c) const {
  const Inner& n = inner_[q];
  if (n.used & kWide) return wide_[WideKey(n, c)];
  uint64_t w;
  std::memcpy(&w, n.bytes, 8);
  // The top bit of every byte equal to c, exactly (no borrow crosses bytes).
  const uint64_t x = w ^ (0x0101010101010101ull * static_cast<uint64_t>(c));
  const uint64_t equal = ~(((x & kLow7) + kLow7) | x | kLow7);
  const uint64_t hit = equal & kSlotMasks[n.used];
  return hit != 0 ? n.children[__builtin_ctzll(hit) >> 3] : kNil;
}

int MatchFinder::AnyChild(int q) const {
  const Inner& n = inner_[q];
  if ((n.used & kWide) == 0) return (n.used & 0x7F) != 0 ? n.children[__builtin_ctz(n.used & 0x7F)] : kNil;
  for (int c = 0; c < 256; ++c) {
    if (wide_[WideKey(n, c)] != kNil) return wide_[WideKey(n, c)];
  }
  return kNil;
}

void MatchFinder::Widen(Inner& n) {
  int table;
  if (freeTables_ != 0) {
    table = freeTables_;
    freeTables_ = wide_[table << 8];
  } else {
    table = newTables_++;
  }
  uint16_t* t = &wide_[table << 8];
  std::memset(t, 0, 256 * sizeof(uint16_t));
  for (int i = 0; i < kSlots; ++i) t[n.bytes[i]] = n.children[i];
  n.used = kWide;
  n.children[0] = static_cast<uint16_t>(table);
}

void MatchFinder::Narrow(Inner& n) {
  const int table = n.children[0];
  uint16_t* t = &wide_[table << 8];
  int kept = 0;
  for (int c = 0; c < 256; ++c) {
    if (t[c] == kNil) continue;
    Head& h = HeadOf(t[c]);
    h.slot = static_cast<uint8_t>(kept);
    n.bytes[kept] = static_cast<uint8_t>(c);
    n.children[kept] = t[c];
    ++kept;
    t[c] = kNil;
  }
  n.used = static_cast<uint8_t>((1u << kept) - 1);
  t[0] = static_cast<uint16_t>(freeTables_);
  freeTables_ = table;
}

KDL_ALWAYS_INLINE void MatchFinder::AddInnerChild(int q, int c, int r, Head& h) {
  Inner& n = inner_[q];
  h.parent = static_cast<uint16_t>(q);
  h.byte = static_cast<uint8_t>(c);
  ++n.head.count;
  const unsigned free = ~n.used & 0x7Fu;
  if (free == 0 && (n.used & kWide) == 0) Widen(n);
  if (n.used & kWide) {
    wide_[WideKey(n, c)] = static_cast<uint16_t>(r);
    return;
  }
  const int i = __builtin_ctz(free);
  n.used = static_cast<uint8_t>(n.used | (1u << i));
  n.bytes[i] = static_cast<uint8_t>(c);
  n.children[i] = static_cast<uint16_t>(r);
  h.slot = static_cast<uint8_t>(i);
}

KDL_ALWAYS_INLINE void MatchFinder::RemoveChild(int q, int r, const Head& h) {
  (void)r;
  if (q >= kDicSize) {
    wide_[RootKey(q, h.byte)] = kNil;
  } else if (inner_[q].used & kWide) {
    wide_[WideKey(inner_[q], h.byte)] = kNil;
  } else {
    inner_[q].used = static_cast<uint8_t>(inner_[q].used & ~(1u << h.slot));
  }
}

KDL_ALWAYS_INLINE void MatchFinder::ReplaceChild(int q, int r, const Head& hr, int s, Head& hs) {
  (void)r;
  hs.byte = hr.byte;
  hs.slot = hr.slot;
  if (q >= kDicSize) {
    wide_[RootKey(q, hr.byte)] = static_cast<uint16_t>(s);
  } else if (inner_[q].used & kWide) {
    wide_[WideKey(inner_[q], hr.byte)] = static_cast<uint16_t>(s);
  } else {
    inner_[q].children[hr.slot] = static_cast<uint16_t>(s);
  }
}

// Puts a new internal node of level `len` between `q` and its child `old` and hangs the current
// position from it.
KDL_ALWAYS_INLINE void MatchFinder::Split(int q, int old, int len, int mpos) {
  const int node = avail_;
  Inner& n = inner_[node];
  avail_ = n.head.parent;
  Head& ho = HeadOf(old);
  ReplaceChild(q, old, ho, node, n.head);
  n.head.parent = static_cast<uint16_t>(q);
  n.head.level = static_cast<uint8_t>(len);
  n.head.aux = static_cast<uint16_t>(pos);
  n.head.count = 2;
  // The two children take the first two slots.
  const uint8_t co = text_[mpos + len];
  const uint8_t cp = text_[pos + len];
  std::memset(n.bytes, 0, sizeof n.bytes);
  n.bytes[0] = co;
  n.bytes[1] = cp;
  n.children[0] = static_cast<uint16_t>(old);
  n.children[1] = static_cast<uint16_t>(pos);
  n.used = 3;
  ho.parent = static_cast<uint16_t>(node);
  ho.byte = co;
  ho.slot = 0;
  Head& hp = LeafOf(pos);
  hp.parent = static_cast<uint16_t>(node);
  hp.byte = cp;
  hp.slot = 1;
}

KDL_ALWAYS_INLINE void MatchFinder::InsertNode() {
  const int p = pos;
  int len = matchLen;
  int q = kNil;
  int r = kNil;
  bool fromRoot = len < 4;
  if (!fromRoot) {
    // The previous position matched len bytes, so this one matches at least one fewer at the
    // following position: start from that leaf's ancestors instead of the root.
    --len;
    r = (matchPos + 1) | kDicSize;
    while ((q = LeafOf(r).parent) == kNil) {
      r = LeafOf(r).aux;
      if (r == kNil) {
        // The leaf left the window without a successor. The original follows whatever hash-chain
        // link the leaf last had; no input has been found that leads here (the differential tests
        // look for one), so the position is then inserted from its root.
        fromRoot = true;
        break;
      }
    }
  }
  if (!fromRoot) {
    while (inner_[q].head.level >= len) {
      r = q;
      q = inner_[q].head.parent;
    }
    int t = q;
    while (inner_[t].head.aux & kPercFlag) {
      inner_[t].head.aux = static_cast<uint16_t>(p);
      t = inner_[t].head.parent;
    }
    // Roots keep no position: for one the write goes to the unused record 0.
    inner_[t < kDicSize ? t : kNil].head.aux = static_cast<uint16_t>(p | kPercFlag);
  } else {
    q = text_[p] + kDicSize;
    const int c = text_[p + 1];
    if ((r = RootChild(q, c)) == kNil) {
      Head& h = LeafOf(p);
      h.parent = static_cast<uint16_t>(q);
      h.byte = static_cast<uint8_t>(c);
      wide_[RootKey(q, c)] = static_cast<uint16_t>(p);
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
      j = inner_[r].head.level;
      mpos = inner_[r].head.aux & ~kPercFlag;
    }
    if (mpos >= p) mpos -= kDicSize;
    matchPos = mpos;
    if (len < j) {
      const int m = MatchLength(cur, &text_[mpos], len, j);
      if (m < j) {
        matchLen = m;
        Split(q, r, m, mpos);
        return;
      }
      len = j;
    }
    if (len >= kMaxMatch) break;
    inner_[r].head.aux = static_cast<uint16_t>(p);
    q = r;
    if ((r = InnerChild(q, cur[len])) == kNil) {
      matchLen = len;
      AddInnerChild(q, cur[len], p, LeafOf(p));
      return;
    }
    ++len;
  }
  matchLen = len;
  // A full-length match: the new position replaces the old leaf, which remembers its successor.
  Head& old = LeafOf(r);
  Head& now = LeafOf(p);
  ReplaceChild(q, r, old, p, now);
  now.parent = static_cast<uint16_t>(q);
  old.parent = kNil;
  old.aux = static_cast<uint16_t>(p);
}

KDL_ALWAYS_INLINE void MatchFinder::DeleteNode() {
  const int p = pos;
  Head& leaf = LeafOf(p);
  const int r = leaf.parent;
  if (r == kNil) return;
  leaf.parent = kNil;
  leaf.aux = kNil;
  RemoveChild(r, p, leaf);
  if (r >= kDicSize) return;
  Inner& parent = inner_[r];
  if (--parent.head.count > 1) {
    if (parent.head.count == kNarrowAt && (parent.used & kWide) != 0) Narrow(parent);
    return;
  }
  // r is left with one child: remove it, passing its position up to the ancestors still waiting.
  Inner& gone = inner_[r];
  int t = gone.head.aux & ~kPercFlag;
  if (t >= p) t -= kDicSize;
  int s = t;
  int q = gone.head.parent;
  int u;
  while ((u = inner_[q].head.aux) & kPercFlag) {
    u &= ~kPercFlag;
    if (u >= p) u -= kDicSize;
    if (u > s) s = u;
    inner_[q].head.aux = static_cast<uint16_t>(s | kDicSize);
    q = inner_[q].head.parent;
  }
  if (u >= p) u -= kDicSize;
  if (u > s) s = u;
  inner_[q < kDicSize ? q : kNil].head.aux = static_cast<uint16_t>(s | kDicSize | kPercFlag);
  s = InnerChild(r, text_[t + gone.head.level]);
  if (s == kNil) s = AnyChild(r);  // the trie's own position names the last child in practice
  Head& hs = HeadOf(s);
  const int up = gone.head.parent;
  ReplaceChild(up, r, gone.head, s, hs);
  hs.parent = static_cast<uint16_t>(up);
  gone.head.parent = static_cast<uint16_t>(avail_);
  avail_ = r;
}

KDL_ALWAYS_INLINE void MatchFinder::Step() {
  --remainder;
  if (++pos == 2 * kDicSize) Slide();
  // Start loading what the insertion looks at first, so that it arrives while the deletion runs:
  // the parent of the leaf it starts from, or the root's child.
  const void* first =
      matchLen >= 4 ? static_cast<const void*>(&inner_[leaf_[(matchPos + 1) & (kDicSize - 1)].head.parent])
                    : static_cast<const void*>(&wide_[(text_[pos] << 8) | text_[pos + 1]]);
  __builtin_prefetch(first);
  DeleteNode();
  InsertNode();
  // The next step starts from these.
  __builtin_prefetch(&inner_[leaf_[(pos + 1) & (kDicSize - 1)].head.parent]);
  __builtin_prefetch(&leaf_[(matchPos + 1) & (kDicSize - 1)]);
  __builtin_prefetch(&inner_[avail_]);
}

void MatchFinder::Advance() { Step(); }

void MatchFinder::Skip(int n) {
  while (n-- > 0) Step();
}

void MatchFinder::Slide() {
  // Move the current half and the look-ahead down and refill behind them in place.
  std::memmove(&text_[0], &text_[kDicSize], kDicSize + kMaxMatch);
  remainder += input_->Read(&text_[kDicSize + kMaxMatch], kDicSize);
  pos = kDicSize;
}

void MatchFinder::Start(InputCursor* input) {
  input_ = input;
  std::memset(&inner_[kNil], 0, sizeof(Inner));
  for (int i = kDicSize; i < kDicSize + kRootCount; ++i) {
    std::memset(&inner_[i], 0, sizeof(Inner));
    inner_[i].head.level = 1;
  }
  std::memset(leaf_, 0, sizeof leaf_);
  std::memset(wide_, 0, kRootCount * 256 * sizeof(uint16_t));
  freeTables_ = 0;
  newTables_ = kRootCount;
  avail_ = 1;
  for (int i = 1; i < kDicSize - 1; ++i) inner_[i].head.parent = static_cast<uint16_t>(i + 1);
  inner_[kDicSize - 1].head.parent = kNil;
  std::memset(text_, 0, sizeof text_);

  remainder = input_->Read(&text_[kDicSize], kDicSize + kMaxMatch);
  matchLen = 0;
  matchPos = 0;
  pos = kDicSize;
  InsertNode();
}

}  // namespace kdl::lh5
