// Expander behaviour on hand-built streams: the window refill, single-symbol tables, reading past
// the stored bytes, and inconsistent tables.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "codec/bit_builder.h"
#include "codec/codec.h"
#include "codec/reference_decoder.h"
#include "codec/test_data.h"

namespace {

using kdltest::BitBuilder;

// A block whose literal/length code gives every literal the 9-bit code 1bbbbbbbb and the 256-byte
// match (symbol 509) the code 0, with the position code in single-symbol form.
BitBuilder FlatBlock(unsigned codes, unsigned positionSymbol) {
  BitBuilder b;
  b.Bits(16, codes);
  // Code-length code: symbol 11 (length 9) = 0, symbol 2 (long zero run) = 10, symbol 3 (length 1) = 11.
  b.Bits(5, 12).PtLength(0).PtLength(0).PtLength(2).Bits(2, 0).PtLength(2);
  for (int i = 4; i <= 10; ++i) b.PtLength(0);
  b.PtLength(1);
  b.Bits(9, 510);
  for (int i = 0; i < 256; ++i) b.Bits(1, 0);
  b.Bits(2, 2).Bits(9, 253 - 20);
  b.Bits(2, 3);
  b.Single(4, positionSymbol);
  return b;
}

class ExpandTrackTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(codec_.CodecInit(), 0); }
  // Expands into an exactly sized heap block so that the sanitizer build sees any overrun.
  int Expand(const std::vector<uint8_t>& stream, size_t length, std::vector<uint8_t>* result = nullptr) {
    std::unique_ptr<uint8_t[]> in(new uint8_t[stream.size() + 1]);
    std::copy(stream.begin(), stream.end(), in.get());
    std::unique_ptr<uint8_t[]> out(new uint8_t[length + 1]);
    int r = codec_.ExpandTrack(in.get(), out.get(), static_cast<int32_t>(length),
                               static_cast<int32_t>(stream.size()));
    if (result) result->assign(out.get(), out.get() + length);
    return r;
  }
  kdl::TrackCodec codec_;
};

TEST_F(ExpandTrackTest, MatchCarriesAcrossTheWindowRefill) {
  // 8,100 literals, then a 256-byte match from 5,097 bytes back that ends past output byte 8,192.
  std::vector<uint8_t> expected = kdltest::RandomBytes(8100, 7);
  BitBuilder b = FlatBlock(8101, 13);
  for (uint8_t v : expected) b.Bits(9, 256u + v);
  b.Bits(1, 0).Bits(12, 1000);
  for (size_t k = 0; k < 256; ++k) expected.push_back(expected[8100 - 5097 + k]);
  std::vector<uint8_t> out;
  ASSERT_EQ(Expand(b.Bytes(), expected.size(), &out), 0);
  EXPECT_EQ(out, expected);
  // Asked for less, the expander stops inside the match.
  for (size_t n : {8191u, 8192u, 8193u, 8300u}) {
    ASSERT_EQ(Expand(b.Bytes(), n, &out), 0);
    EXPECT_EQ(out, std::vector<uint8_t>(expected.begin(), expected.begin() + static_cast<long>(n)));
  }
}

TEST_F(ExpandTrackTest, SingleSymbolTablesConsumeNoBits) {
  BitBuilder b;
  b.Bits(16, 5000).Single(5, 0).Single(9, 'Q').Single(4, 0);
  std::vector<uint8_t> out;
  ASSERT_EQ(Expand(b.Bytes(), 5000, &out), 0);
  EXPECT_EQ(out, std::vector<uint8_t>(5000, 'Q'));
}

// Bytes a match reaches before the first output byte read as zero, whatever an earlier call left.
TEST_F(ExpandTrackTest, HistoryBeforeTheFirstByteIsZero) {
  std::vector<uint8_t> text = kdltest::VectorInput("gpl3_9216");
  std::vector<uint8_t> stream = kdltest::VectorStream("gpl3_9216");
  std::vector<uint8_t> out;
  ASSERT_EQ(Expand(stream, text.size(), &out), 0);
  BitBuilder b;
  b.Bits(16, 40).Single(5, 0).Single(9, 509).Single(4, 13);
  for (int i = 0; i < 40; ++i) b.Bits(12, 4095);  // 256 bytes from 8,192 back
  ASSERT_EQ(Expand(b.Bytes(), 10240, &out), 0);
  std::vector<uint8_t> expected(10240, 0);
  EXPECT_EQ(out, expected);
}

TEST_F(ExpandTrackTest, ReadsZeroBitsPastTheStoredLength) {
  // Literal 'A' has the code 0: a stream cut right after its tables still yields the 'A's,
  // and bytes placed after the stored length are never looked at.
  BitBuilder b;
  // Code-length code: symbol 3 (length 1) = 0, symbol 1 (short zero run) = 10, symbol 2 = 11.
  b.Bits(16, 3000).Bits(5, 4).PtLength(0).PtLength(2).PtLength(2).Bits(2, 0).PtLength(1);
  // 65 zero lengths, then 'A' and 'B' of length 1 (codes 0 and 1).
  b.Bits(9, 'B' + 1).Bits(2, 3).Bits(9, 65 - 20).Bits(1, 0).Bits(1, 0);
  b.Single(4, 0);
  std::vector<uint8_t> header = b.Bytes();
  std::vector<uint8_t> out;
  ASSERT_EQ(Expand(header, 3000, &out), 0);
  std::vector<uint8_t> expected(3000, 'A');
  EXPECT_EQ(out, expected);

  std::vector<uint8_t> buffer = header;
  buffer.insert(buffer.end(), 64, 0xFF);
  std::vector<uint8_t> area(3000);
  ASSERT_EQ(codec_.ExpandTrack(buffer.data(), area.data(), 3000, static_cast<int32_t>(header.size())), 0);
  EXPECT_EQ(area, expected);
}

TEST_F(ExpandTrackTest, InconsistentTablesGiveMinusThree) {
  struct Case {
    const char* what;
    BitBuilder stream;
  };
  std::vector<Case> cases;
  auto block = [] { return BitBuilder().Bits(16, 100); };
  // Code-length code: lengths {1, 2} leave a quarter of the code space unused.
  cases.push_back({"incomplete code-length code", block().Bits(5, 2).PtLength(1).PtLength(2)});
  cases.push_back(
      {"over-full code-length code", block().Bits(5, 3).PtLength(1).PtLength(1).PtLength(1).Bits(2, 0)});
  cases.push_back({"code length 17", block().Bits(5, 2).PtLength(17).PtLength(1)});
  cases.push_back({"code-length count above 19", block().Bits(5, 20)});
  cases.push_back({"all code lengths zero",
                   block().Bits(5, 4).PtLength(0).PtLength(0).PtLength(0).Bits(2, 0).PtLength(0)});

  // A valid code-length code: symbol 2 = 0, symbols 0 and 1 = 10 and 11.
  auto withPt = [&] { return block().Bits(5, 3).PtLength(2).PtLength(2).PtLength(1).Bits(2, 0); };
  cases.push_back({"zero run past the literal table", withPt().Bits(9, 510).Bits(1, 0).Bits(9, 511 - 20)});
  cases.push_back({"zero run ending past the table",
                   withPt().Bits(9, 510).Bits(2, 3).Bits(4, 15).Bits(1, 0).Bits(9, 500 - 20)});
  cases.push_back({"literal table of zeros only", withPt().Bits(9, 510).Bits(1, 0).Bits(9, 510 - 20)});
  cases.push_back({"literal count above 510", withPt().Bits(9, 511)});
  // Literal/length lengths from a single-symbol code-length code: one length-1 code is incomplete.
  cases.push_back({"incomplete literal code", block().Single(5, 3).Bits(9, 1)});
  cases.push_back({"literal symbol outside the alphabet", block().Single(5, 0).Single(9, 511).Single(4, 0)});
  // Literal/length code of two length-1 symbols (0 and 1), then a bad position table.
  auto withC = [&] { return block().Single(5, 3).Bits(9, 2); };
  cases.push_back({"position count above 14", withC().Bits(4, 15)});
  cases.push_back({"incomplete position code", withC().Bits(4, 2).PtLength(2).PtLength(1)});
  cases.push_back({"position code length 17", withC().Bits(4, 2).PtLength(17).PtLength(1)});
  // A match (symbol 509) whose position symbol lies outside the 14 positions.
  cases.push_back(
      {"position symbol outside the alphabet", block().Single(5, 0).Single(9, 509).Single(4, 15)});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> out;
    EXPECT_EQ(Expand(c.stream.Bytes(), 4000, &out), -3);
  }
}

TEST_F(ExpandTrackTest, BadArgumentsAndMissingInit) {
  std::vector<uint8_t> stream = kdltest::VectorStream("short_text_300");
  std::vector<uint8_t> out(300);
  EXPECT_EQ(codec_.ExpandTrack(stream.data(), out.data(), -1, static_cast<int32_t>(stream.size())), -3);
  EXPECT_EQ(codec_.ExpandTrack(stream.data(), out.data(), 300, -1), -3);
  EXPECT_EQ(codec_.ExpandTrack(stream.data(), nullptr, 300, static_cast<int32_t>(stream.size())), -3);
  EXPECT_EQ(codec_.ExpandTrack(stream.data(), out.data(), 0, static_cast<int32_t>(stream.size())), 0);
  codec_.CodecDone();
  EXPECT_EQ(codec_.ExpandTrack(stream.data(), out.data(), 300, static_cast<int32_t>(stream.size())), -3);
  ASSERT_EQ(codec_.CodecInit(), 0);
  ASSERT_EQ(codec_.ExpandTrack(stream.data(), out.data(), 300, static_cast<int32_t>(stream.size())), 0);
  EXPECT_EQ(out, kdltest::VectorInput("short_text_300"));
  kdl::TrackCodec never;
  EXPECT_EQ(never.ExpandTrack(stream.data(), out.data(), 300, static_cast<int32_t>(stream.size())), -3);
}

// Bytes of four common values with each other value once: the rare literals get codes of 13 to 16
// bits, past the first-level tables (and the code-length and position codes grow long too).
std::vector<uint8_t> RareSymbols(uint32_t seed) {
  std::vector<uint8_t> v = kdltest::RandomBytes(18432, seed);
  for (auto& b : v) b &= 3;
  for (unsigned b = 4; b < 256; ++b) v[(b * 7919u + seed) % v.size()] = static_cast<uint8_t>(b);
  return v;
}

// The expander against the first one (kept unchanged in reference_decoder.cpp) on intact streams
// with long codes and on damaged ones: the same result (0 or -3) and, for 0, the same bytes. Damage
// never takes it outside its buffers (the output is exactly sized for the sanitizer build).
TEST_F(ExpandTrackTest, GivesWhatTheReferenceExpanderGivesOnIntactAndDamagedStreams) {
  auto reference = std::make_unique<kdltest::ReferenceDecoder>();
  int failed = 0;
  int checked = 0;
  auto check = [&](const std::vector<uint8_t>& stream, size_t length) {
    std::vector<uint8_t> ours;
    const int r = Expand(stream, length, &ours);
    std::vector<uint8_t> theirs(length);
    const bool ok = reference->Expand(stream.data(), stream.size(), theirs.data(), length);
    ++checked;
    if (!ok) ++failed;
    if (r != (ok ? 0 : -3)) return ::testing::AssertionFailure() << "result " << r << ", reference " << ok;
    if (ok && ours != theirs) return ::testing::AssertionFailure() << "different bytes";
    return ::testing::AssertionSuccess();
  };
  std::vector<std::pair<std::vector<uint8_t>, std::vector<uint8_t>>> intact;
  for (const char* name :
       {"short_text_300", "mixed_9216", "tiny_6", "multiblock_gpl_60000", "period8191_40000"})
    intact.emplace_back(kdltest::VectorStream(name), kdltest::VectorInput(name));
  for (uint32_t seed = 1; seed <= 3; ++seed) {
    std::vector<uint8_t> in = RareSymbols(seed);
    intact.emplace_back(kdl::Lh5CompressUnbounded(in.data(), in.size()), in);
  }
  for (size_t i = 0; i < intact.size(); ++i) {
    SCOPED_TRACE(i);
    const auto& [stream, input] = intact[i];
    std::vector<uint8_t> out;
    ASSERT_EQ(Expand(stream, input.size(), &out), 0);
    EXPECT_EQ(out, input);
    for (size_t cut = 0; cut <= stream.size(); cut += 1 + stream.size() / 100)
      ASSERT_TRUE(
          check(std::vector<uint8_t>(stream.begin(), stream.begin() + static_cast<long>(cut)), input.size()))
          << "cut " << cut;
    std::mt19937 rng(static_cast<uint32_t>(i));
    for (int k = 0; k < 300; ++k) {
      std::vector<uint8_t> damaged = stream;
      for (int flips = 1 + k % 3; flips > 0; --flips) {
        const size_t bit = rng() % (damaged.size() * 8);
        damaged[bit / 8] = static_cast<uint8_t>(damaged[bit / 8] ^ (0x80u >> (bit % 8)));
      }
      ASSERT_TRUE(check(damaged, input.size())) << "damage " << k;
    }
  }
  for (uint32_t seed = 0; seed < 300; ++seed)
    ASSERT_TRUE(check(kdltest::RandomBytes(1 + seed * 7 % 400, seed), 18432)) << "seed " << seed;
  // Both outcomes were met.
  EXPECT_GT(failed, checked / 10);
  EXPECT_LT(failed, checked * 9 / 10);
}

}  // namespace
