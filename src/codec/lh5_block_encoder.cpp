#include "codec/lh5_block_encoder.h"

namespace kdl::lh5 {

// Frequencies of the code-length symbols for the run-length form of the literal/length lengths.
void BlockEncoder::CountTFreq() {
  for (int i = 0; i < kNT; ++i) tFreq_[i] = 0;
  int n = kNC;
  while (n > 0 && cLen_[n - 1] == 0) --n;
  int i = 0;
  while (i < n) {
    int k = cLen_[i++];
    if (k == 0) {
      int count = 1;
      while (i < n && cLen_[i] == 0) {
        ++i;
        ++count;
      }
      if (count <= 2) {
        tFreq_[0] = static_cast<uint16_t>(tFreq_[0] + count);
      } else if (count <= 18) {
        ++tFreq_[1];
      } else if (count == 19) {
        ++tFreq_[0];
        ++tFreq_[1];
      } else {
        ++tFreq_[2];
      }
    } else {
      ++tFreq_[k + 2];
    }
  }
}

void BlockEncoder::WritePtLen(int n, int nbit, int special) {
  while (n > 0 && ptLen_[n - 1] == 0) --n;
  bits.Put(nbit, static_cast<unsigned>(n));
  int i = 0;
  while (i < n) {
    int k = ptLen_[i++];
    if (k <= 6) {
      bits.Put(3, static_cast<unsigned>(k));
    } else {
      bits.Put(k - 3, (1u << (k - 3)) - 2);  // k-7 one bits after 111, then a zero
    }
    if (i == special) {
      while (i < 6 && ptLen_[i] == 0) ++i;
      bits.Put(2, static_cast<unsigned>(i - 3) & 3);
    }
  }
}

void BlockEncoder::WriteCLen() {
  int n = kNC;
  while (n > 0 && cLen_[n - 1] == 0) --n;
  bits.Put(kCBit, static_cast<unsigned>(n));
  int i = 0;
  while (i < n) {
    int k = cLen_[i++];
    if (k == 0) {
      int count = 1;
      while (i < n && cLen_[i] == 0) {
        ++i;
        ++count;
      }
      if (count <= 2) {
        for (k = 0; k < count; ++k) bits.Put(ptLen_[0], ptCode_[0]);
      } else if (count <= 18) {
        bits.Put(ptLen_[1], ptCode_[1]);
        bits.Put(4, static_cast<unsigned>(count - 3));
      } else if (count == 19) {
        bits.Put(ptLen_[0], ptCode_[0]);
        bits.Put(ptLen_[1], ptCode_[1]);
        bits.Put(4, 15);
      } else {
        bits.Put(ptLen_[2], ptCode_[2]);
        bits.Put(kCBit, static_cast<unsigned>(count - 20));
      }
    } else {
      bits.Put(ptLen_[k + 2], ptCode_[k + 2]);
    }
  }
}

void BlockEncoder::SendBlock() {
  int root = huffman_.MakeTree(kNC, cFreq_, cLen_, cCode_);
  unsigned size = cFreq_[root];
  bits.Put(16, size);
  if (root >= kNC) {
    CountTFreq();
    root = huffman_.MakeTree(kNT, tFreq_, ptLen_, ptCode_);
    if (root >= kNT) {
      WritePtLen(kNT, kTBit, 3);
    } else {
      bits.Put(kTBit, 0);
      bits.Put(kTBit, static_cast<unsigned>(root));
    }
    WriteCLen();
  } else {
    bits.Put(kTBit, 0);
    bits.Put(kTBit, 0);
    bits.Put(kCBit, 0);
    bits.Put(kCBit, static_cast<unsigned>(root));
  }
  root = huffman_.MakeTree(kNP, pFreq_, ptLen_, ptCode_);
  if (root >= kNP) {
    WritePtLen(kNP, kPBit, -1);
  } else {
    bits.Put(kPBit, 0);
    bits.Put(kPBit, static_cast<unsigned>(root));
  }
  unsigned pos = 0;
  unsigned flags = 0;
  for (unsigned i = 0; i < size; ++i) {
    if (i % 8 == 0) {
      flags = buf_[pos++];
    } else {
      flags <<= 1;
    }
    if (flags & 0x80) {
      EncodeC(buf_[pos++] + 256u);
      unsigned k = static_cast<unsigned>(buf_[pos] << 8) | buf_[pos + 1];
      pos += 2;
      EncodeP(k);
    } else {
      EncodeC(buf_[pos++]);
    }
    if (bits.OverBound()) {
      unpackable = true;
      return;
    }
  }
  if (bits.OverBound()) unpackable = true;
  for (int i = 0; i < kNC; ++i) cFreq_[i] = 0;
  for (int i = 0; i < kNP; ++i) pFreq_[i] = 0;
}

}  // namespace kdl::lh5
