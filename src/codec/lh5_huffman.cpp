#include "codec/lh5_huffman.h"

namespace kdl::lh5 {

void HuffmanBuilder::DownHeap(int i) {
  int k = heap_[i];
  int j;
  while ((j = 2 * i) <= heapSize_) {
    // On equal frequencies the left child is taken.
    if (j < heapSize_ && freq_[heap_[j]] > freq_[heap_[j + 1]]) ++j;
    if (freq_[k] <= freq_[heap_[j]]) break;
    heap_[i] = heap_[j];
    i = j;
  }
  heap_[i] = static_cast<int16_t>(k);
}

void HuffmanBuilder::CountLengths(int root) {
  // Depth-first walk with an explicit stack; leaves deeper than 16 count at 16.
  struct Item {
    int node;
    int depth;
  };
  Item stack[2 * kNC];
  int top = 0;
  stack[top++] = {root, 0};
  while (top > 0) {
    Item it = stack[--top];
    if (it.node < n_) {
      ++lenCount_[it.depth < kMaxCodeLength ? it.depth : kMaxCodeLength];
    } else {
      stack[top++] = {right_[it.node], it.depth + 1};
      stack[top++] = {left_[it.node], it.depth + 1};
    }
  }
}

void HuffmanBuilder::MakeLengths(int root) {
  for (uint16_t& c : lenCount_) c = 0;
  CountLengths(root);
  unsigned cum = 0;
  for (int i = kMaxCodeLength; i > 0; --i) cum += static_cast<unsigned>(lenCount_[i]) << (kMaxCodeLength - i);
  // Clamping made the code over-full: take one code from length 16 and push one code of the
  // longest shorter length a level down, until the Kraft sum is exact again.
  while (cum != (1u << kMaxCodeLength)) {
    --lenCount_[kMaxCodeLength];
    for (int i = kMaxCodeLength - 1; i > 0; --i) {
      if (lenCount_[i] != 0) {
        --lenCount_[i];
        lenCount_[i + 1] = static_cast<uint16_t>(lenCount_[i + 1] + 2);
        break;
      }
    }
    --cum;
  }
  const uint16_t* sym = order_;
  for (int i = kMaxCodeLength; i > 0; --i) {
    for (int k = lenCount_[i]; k > 0; --k) len_[*sym++] = static_cast<uint8_t>(i);
  }
}

void HuffmanBuilder::MakeCodes(int n, const uint8_t* len, uint16_t* code) {
  uint16_t start[kMaxCodeLength + 2];
  start[1] = 0;
  for (int i = 1; i <= kMaxCodeLength; ++i)
    start[i + 1] = static_cast<uint16_t>((start[i] + lenCount_[i]) << 1);
  for (int i = 0; i < n; ++i) code[i] = start[len[i]]++;
}

int HuffmanBuilder::MakeTree(int n, uint16_t* freq, uint8_t* len, uint16_t* code) {
  n_ = n;
  freq_ = freq;
  len_ = len;
  int avail = n;
  heapSize_ = 0;
  heap_[1] = 0;
  for (int i = 0; i < n; ++i) {
    len[i] = 0;
    if (freq[i] != 0) heap_[++heapSize_] = static_cast<int16_t>(i);
  }
  if (heapSize_ < 2) {
    code[heap_[1]] = 0;
    return heap_[1];
  }
  for (int i = heapSize_ / 2; i >= 1; --i) DownHeap(i);
  // The leaving order is written into `code`, which is free until MakeCodes fills it.
  uint16_t* out = code;
  int k;
  do {
    int i = heap_[1];
    if (i < n) *out++ = static_cast<uint16_t>(i);
    heap_[1] = heap_[heapSize_--];
    DownHeap(1);
    int j = heap_[1];
    if (j < n) *out++ = static_cast<uint16_t>(j);
    k = avail++;
    freq[k] = static_cast<uint16_t>(freq[i] + freq[j]);
    heap_[1] = static_cast<int16_t>(k);
    DownHeap(1);
    left_[k] = static_cast<uint16_t>(i);
    right_[k] = static_cast<uint16_t>(j);
  } while (heapSize_ > 1);
  order_ = code;
  MakeLengths(k);
  MakeCodes(n, len, code);
  return k;
}

}  // namespace kdl::lh5
