// Compressor results: the nine-tenths rule, the output bound, invalid and empty input, round trips.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "codec/codec.h"
#include "codec/test_data.h"

namespace {

using kdltest::Pattern;
using kdltest::RandomBytes;

int Compress(kdl::TrackCodec& codec, const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
  out.assign(in.size(), 0);
  int n = codec.CompressTrack(in.data(), out.data(), static_cast<int32_t>(in.size()));
  if (n >= 0) out.resize(static_cast<size_t>(n));
  return n;
}

// The first bytes of `base` replaced by noise so that the full stream is exactly `target` bytes.
bool FindInputWithStreamSize(const std::vector<uint8_t>& base, size_t target, std::vector<uint8_t>& found) {
  for (uint32_t seed = 1; seed < 20; ++seed) {
    std::vector<uint8_t> noise = RandomBytes(base.size(), seed);
    auto make = [&](size_t k) {
      std::vector<uint8_t> in = base;
      std::memcpy(in.data(), noise.data(), k);
      return in;
    };
    size_t lo = 0, hi = base.size();
    while (lo < hi) {
      size_t k = (lo + hi) / 2;
      std::vector<uint8_t> in = make(k);
      if (kdl::Lh5CompressUnbounded(in.data(), in.size()).size() < target) {
        lo = k + 1;
      } else {
        hi = k;
      }
    }
    for (size_t k = lo > 8 ? lo - 8 : 0; k < lo + 8 && k <= base.size(); ++k) {
      std::vector<uint8_t> in = make(k);
      if (kdl::Lh5CompressUnbounded(in.data(), in.size()).size() == target) {
        found = in;
        return true;
      }
    }
  }
  return false;
}

TEST(CompressTrack, KeepsA9216ByteTrackOnlyUpTo8294Bytes) {
  kdl::TrackCodec codec;
  std::vector<uint8_t> base = kdltest::VectorInput("gpl3_9216");
  ASSERT_EQ(base.size(), 9216u);
  std::vector<uint8_t> in, out;
  ASSERT_TRUE(FindInputWithStreamSize(base, 8294, in));
  EXPECT_EQ(Compress(codec, in, out), 8294);
  EXPECT_EQ(out, kdl::Lh5CompressUnbounded(in.data(), in.size()));
  ASSERT_TRUE(FindInputWithStreamSize(base, 8295, in));
  EXPECT_EQ(Compress(codec, in, out), -1);
}

// An output area of exactly the input's size, followed by guard bytes that must stay untouched.
TEST(CompressTrack, IncompressibleInputGivesMinusOneAndStaysInsideTheOutput) {
  kdl::TrackCodec codec;
  for (size_t n : {1u, 2u, 3u, 7u, 100u, 8447u, 8448u, 8449u, 9216u, 16640u, 18432u, 21504u, 40000u}) {
    SCOPED_TRACE(n);
    std::vector<uint8_t> in = RandomBytes(n, static_cast<uint32_t>(n));
    std::vector<uint8_t> area(n + 64, 0xA5);
    EXPECT_EQ(codec.CompressTrack(in.data(), area.data(), static_cast<int32_t>(n)), -1);
    for (size_t i = n; i < area.size(); ++i) ASSERT_EQ(area[i], 0xA5) << "written at " << i;
    // Exactly sized heap block, for the address sanitizer build.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[n]);
    EXPECT_EQ(codec.CompressTrack(in.data(), exact.get(), static_cast<int32_t>(n)), -1);
  }
}

TEST(CompressTrack, EmptyOrInvalidInputGivesMinusOne) {
  kdl::TrackCodec codec;
  uint8_t in[4] = {1, 2, 3, 4};
  uint8_t out[4] = {9, 9, 9, 9};
  EXPECT_EQ(codec.CompressTrack(in, out, 0), -1);
  EXPECT_EQ(codec.CompressTrack(in, out, -5), -1);
  EXPECT_EQ(codec.CompressTrack(nullptr, out, 4), -1);
  EXPECT_EQ(codec.CompressTrack(in, nullptr, 4), -1);
  for (uint8_t b : out) EXPECT_EQ(b, 9);
}

// Each call starts from a zero window: a previous call must not change the next result.
TEST(CompressTrack, CallsDoNotInfluenceEachOther) {
  std::vector<uint8_t> a = kdltest::VectorInput("mixed_18432");
  std::vector<uint8_t> b = kdltest::VectorInput("records_21504");
  kdl::TrackCodec codec;
  std::vector<uint8_t> first, other, again;
  ASSERT_GT(Compress(codec, a, first), 0);
  ASSERT_GT(Compress(codec, b, other), 0);
  ASSERT_GT(Compress(codec, a, again), 0);
  EXPECT_EQ(first, again);
  kdl::TrackCodec fresh;
  ASSERT_GT(Compress(fresh, a, again), 0);
  EXPECT_EQ(first, again);
}

// Whatever CompressTrack keeps is the complete stream byte for byte, and the expander gives the
// input back; inputs it refuses still have a complete stream that expands.
TEST(CompressTrack, RoundTripsAcrossInputKinds) {
  kdl::TrackCodec codec;
  ASSERT_EQ(codec.CodecInit(), 0);
  std::vector<std::vector<uint8_t>> inputs = {
      std::vector<uint8_t>(9216, 0xF6),
      std::vector<uint8_t>(18432, 0xE5),
      std::vector<uint8_t>(21504, 0x00),
      Pattern(18432, {'a', 'b'}),
      Pattern(18432, {1, 2, 3, 4, 5, 6, 7, 8, 9}),
      Pattern(40000, RandomBytes(8191, 1)),
      Pattern(40000, RandomBytes(300, 2)),
      kdltest::VectorInput("multiblock_words_100000"),
      kdltest::VectorInput("sjis_text_18432"),
      kdltest::VectorInput("random_then_text_18432"),
      RandomBytes(18432, 3),
      {'x'},
      {'x', 'y', 'x', 'y', 'x', 'y'},
  };
  // Data longer than the window with a long match right at each refill.
  std::vector<uint8_t> refill = RandomBytes(8100, 4);
  refill.insert(refill.end(), refill.begin() + 50, refill.begin() + 700);
  inputs.push_back(refill);

  for (size_t i = 0; i < inputs.size(); ++i) {
    SCOPED_TRACE(i);
    const std::vector<uint8_t>& in = inputs[i];
    std::vector<uint8_t> full = kdl::Lh5CompressUnbounded(in.data(), in.size());
    std::vector<uint8_t> kept;
    int n = Compress(codec, in, kept);
    if (n >= 0) {
      EXPECT_EQ(kept, full);
      EXPECT_LE(static_cast<size_t>(n), in.size() * 9 / 10);
    } else {
      EXPECT_EQ(n, -1);
      EXPECT_GT(full.size(), in.size() * 9 / 10);
    }
    std::vector<uint8_t> back(in.size());
    ASSERT_EQ(codec.ExpandTrack(full.data(), back.data(), static_cast<int32_t>(back.size()),
                                static_cast<int32_t>(full.size())),
              0);
    EXPECT_EQ(back, in);
  }
}

}  // namespace
