// The match finder against the first one (kept unchanged in reference_match_finder.cpp): driven
// through the same parse, both must report the same match at every position and so write the same
// stream, on real data, on data built to reach the trie's rare paths, and on random data.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "codec/lh5_encoder.h"
#include "codec/lh5_match_finder.h"
#include "codec/reference_match_finder.h"
#include "codec/test_data.h"

namespace {

using kdl::lh5::InputCursor;
using kdl::lh5::MatchFinder;
using kdltest::ReferenceMatchFinder;

struct Named {
  std::string name;
  std::vector<uint8_t> bytes;
};

// Drives both finders through the compressor's lazy parse, one position at a time, and compares the
// match they report after every step. Returns the number of positions compared, or -1 after a
// failure.
long CompareStepByStep(const std::vector<uint8_t>& data) {
  InputCursor inA{data.data(), data.size(), 0};
  InputCursor inB{data.data(), data.size(), 0};
  auto a = std::make_unique<MatchFinder>();
  auto b = std::make_unique<ReferenceMatchFinder>();
  long steps = 0;
  auto same = [&]() {
    ++steps;
    if (a->matchLen == b->matchLen && a->matchPos == b->matchPos && a->pos == b->pos &&
        a->remainder == b->remainder)
      return true;
    ADD_FAILURE() << "step " << steps << ": length " << a->matchLen << " vs " << b->matchLen << ", position "
                  << a->matchPos << " vs " << b->matchPos;
    return false;
  };
  auto clip = [](auto& f) {
    if (f.matchLen > f.remainder) f.matchLen = f.remainder;
  };
  a->Start(&inA);
  b->Start(&inB);
  if (!same()) return -1;
  clip(*a);
  clip(*b);
  while (b->remainder > 0) {
    const int lastLen = b->matchLen;
    a->Advance();
    b->Advance();
    if (!same()) return -1;
    clip(*a);
    clip(*b);
    if (b->matchLen <= lastLen && lastLen >= kdl::lh5::kThreshold) {
      for (int k = 0; k < lastLen - 1; ++k) {
        a->Advance();
        b->Advance();
        if (!same()) return -1;
      }
      clip(*a);
      clip(*b);
    }
  }
  return steps;
}

std::vector<uint8_t> ReferenceStream(const std::vector<uint8_t>& in) {
  std::vector<uint8_t> out(kdl::lh5::UnboundedCapacity(in.size()));
  auto r = kdl::lh5::EncodeWith<ReferenceMatchFinder>(in.data(), in.size(), out.data(), out.size(), false);
  out.resize(r.size);
  return out;
}

std::vector<uint8_t> Stream(const std::vector<uint8_t>& in) {
  std::vector<uint8_t> out(kdl::lh5::UnboundedCapacity(in.size()));
  auto r = kdl::lh5::Encode(in.data(), in.size(), out.data(), out.size(), false);
  out.resize(r.size);
  return out;
}

// Generated inputs of the kinds that reach the trie's rare paths: leaves replaced by a later
// position with the same 256 bytes, nodes with more than seven children (spilled), nodes removed
// with positions older than a window, matches at a distance of exactly the window.
std::vector<uint8_t> Generated(uint32_t seed) {
  std::mt19937 rng(seed);
  const size_t n = 1 + rng() % 60000;
  std::vector<uint8_t> v(n);
  switch (seed % 6) {
    case 0: {  // a small alphabet
      const auto k = static_cast<unsigned>(2 + rng() % 6);
      for (auto& x : v) x = static_cast<uint8_t>(rng() % k);
      break;
    }
    case 1: {  // a period with rare flipped bits
      const size_t period = 1 + rng() % 9000;
      std::vector<uint8_t> p(period);
      for (auto& x : p) x = static_cast<uint8_t>(rng() % (1 + rng() % 4));
      for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(p[i % period] ^ (rng() % 200 == 0));
      break;
    }
    case 2: {  // copies from about one window back
      for (size_t i = 0; i < n; ++i)
        v[i] = i >= 8194 && rng() % 4 ? v[i - 8190 - rng() % 5] : static_cast<uint8_t>('a' + rng() % 3);
      break;
    }
    case 3: {  // runs, copies from anywhere in the window, and small-alphabet noise
      size_t i = 0;
      while (i < n) {
        const auto kind = static_cast<unsigned>(rng() % 3);
        const size_t len = 1 + rng() % 300;
        if (kind == 0) {
          const auto b = static_cast<uint8_t>(rng());
          for (size_t k = 0; k < len && i < n; ++k) v[i++] = b;
        } else if (kind == 1 && i > 10) {
          const size_t d = 1 + rng() % std::min<size_t>(i, 9000);
          for (size_t k = 0; k < len && i < n; ++k, ++i) v[i] = v[i - d];
        } else {
          for (size_t k = 0; k < len && i < n; ++k) v[i++] = static_cast<uint8_t>('a' + rng() % 3);
        }
      }
      break;
    }
    case 4: {  // bytes of every value after a common prefix: busy nodes
      for (size_t i = 0; i < n; ++i)
        v[i] = i % 5 < 3 ? static_cast<uint8_t>(i % 5) : static_cast<uint8_t>(rng());
      break;
    }
    default:
      for (auto& x : v) x = static_cast<uint8_t>(rng());
      break;
  }
  return v;
}

std::vector<Named> RealInputs() {
  std::vector<Named> inputs;
  for (const char* name :
       {"gpl3_21504", "code_21504", "records_21504", "mixed_21504", "fatdir_21504", "sjis_text_18432",
        "long_matches_21504", "two_symbols_18432", "period8191_40000", "period8192_40000", "period8193_40000",
        "random_then_text_18432", "multiblock_gpl_60000", "multiblock_words_100000"})
    inputs.push_back({name, kdltest::VectorInput(name)});
  // Several units of the same kinds back to back, so that the window slides over real data.
  std::vector<uint8_t> joined;
  for (const char* name : {"code_21504", "gpl3_21504", "fatdir_21504", "records_21504", "mixed_21504"}) {
    std::vector<uint8_t> b = kdltest::VectorInput(name);
    joined.insert(joined.end(), b.begin(), b.end());
  }
  inputs.push_back({"joined", joined});
  return inputs;
}

TEST(MatchFinder, ReportsTheReferenceMatchAtEveryPositionOfRealData) {
  for (const Named& in : RealInputs()) {
    SCOPED_TRACE(in.name);
    ASSERT_GT(CompareStepByStep(in.bytes), static_cast<long>(in.bytes.size()) / 2);
  }
}

TEST(MatchFinder, ReportsTheReferenceMatchAtEveryPositionOfGeneratedData) {
  for (uint32_t seed = 1; seed <= 120; ++seed) {
    SCOPED_TRACE(seed);
    ASSERT_GE(CompareStepByStep(Generated(seed)), 1);
  }
}

// The whole compressor over both finders: the same stream for every input, bounded or not.
TEST(MatchFinder, GivesTheReferenceStream) {
  std::vector<Named> inputs = RealInputs();
  for (uint32_t seed = 1000; seed < 1060; ++seed)
    inputs.push_back({"seed " + std::to_string(seed), Generated(seed)});
  for (const Named& in : inputs) {
    SCOPED_TRACE(in.name);
    std::vector<uint8_t> reference = ReferenceStream(in.bytes);
    EXPECT_EQ(Stream(in.bytes), reference);
  }
}

}  // namespace
