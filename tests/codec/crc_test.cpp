// Known answers of the track CRC and the entry byte sum.
#include "codec/crc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

uint16_t Crc(const std::string& s) {
  return kdl::TrackCrc(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

TEST(TrackCrc, KnownAnswers) {
  EXPECT_EQ(Crc("123456789"), 0xE07D);
  EXPECT_EQ(Crc("abc"), 0x68C7);
  EXPECT_EQ(Crc(""), 0);
  EXPECT_EQ(kdl::TrackCrc(nullptr, 0), 0);
  std::vector<uint8_t> zeros(18432, 0);
  EXPECT_EQ(kdl::TrackCrc(zeros.data(), zeros.size()), 0);
}

// CRC-16/ARC shifts zeros into the register; this CRC copies bit 15, which shows as soon as the
// register's top bit is set. Values from an independent implementation of both.
TEST(TrackCrc, DiffersFromCrc16ArcOnceBit15IsSet) {
  std::vector<uint8_t> ramp(256);
  std::iota(ramp.begin(), ramp.end(), 0);
  EXPECT_EQ(kdl::TrackCrc(ramp.data(), ramp.size()), 0xCA7B);  // CRC-16/ARC: 0xBAD3
  std::vector<uint8_t> ones(16, 0xFF);
  EXPECT_EQ(kdl::TrackCrc(ones.data(), ones.size()), 0x822D);  // CRC-16/ARC: 0x7040
  EXPECT_NE(Crc("123456789"), 0xBB3D);                         // CRC-16/ARC of the check string
}

TEST(TrackCrc, WholeCylinderKnownAnswer) {
  std::vector<uint8_t> text = kdltest::ReadFile(kdltest::DataPath("lh5-vectors/gpl3_18432.in"));
  EXPECT_EQ(kdl::TrackCrc(text.data(), text.size()), 0xED11);
}

// The register one byte at a time, straight from its definition: eight rounds of shift right and XOR
// with 0xA001 for the table, then the table entry XORed with the register shifted right by eight with
// bit 15 copied into the vacated upper byte.
uint16_t BytewiseCrc(const uint8_t* data, size_t length) {
  unsigned crc = 0;
  for (size_t i = 0; i < length; ++i) {
    unsigned r = (crc ^ data[i]) & 0xFFu;
    for (int bit = 0; bit < 8; ++bit) r = (r & 1) ? (r >> 1) ^ 0xA001u : r >> 1;
    crc = r ^ ((crc >> 8) | ((crc & 0x8000u) ? 0xFF00u : 0u));
  }
  return static_cast<uint16_t>(crc);
}

// The several-bytes-per-step form agrees with the byte-wise register on every length and start
// alignment, with and without the sign-copying bit set along the way.
TEST(TrackCrc, AgreesWithTheBytewiseRegisterOnEveryLengthAndAlignment) {
  std::mt19937 rng(14);
  std::vector<uint8_t> bytes(25600 + 16);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  for (size_t start = 0; start < 8; ++start) {
    for (size_t n = 0; n <= 80; ++n)
      ASSERT_EQ(kdl::TrackCrc(bytes.data() + start, n), BytewiseCrc(bytes.data() + start, n))
          << start << " " << n;
  }
  for (size_t n : {255u, 4096u, 9216u, 18431u, 18432u, 25600u})
    EXPECT_EQ(kdl::TrackCrc(bytes.data() + 3, n), BytewiseCrc(bytes.data() + 3, n)) << n;
  std::vector<uint8_t> ones(1000, 0xFF);
  EXPECT_EQ(kdl::TrackCrc(ones.data(), ones.size()), BytewiseCrc(ones.data(), ones.size()));
}

TEST(ByteSum, KnownAnswers) {
  EXPECT_EQ(kdl::ByteSum(reinterpret_cast<const uint8_t*>("abc"), 3), 0x26);
  EXPECT_EQ(kdl::ByteSum(nullptr, 0), 0);
  std::vector<uint8_t> ramp(256);
  std::iota(ramp.begin(), ramp.end(), 0);
  EXPECT_EQ(kdl::ByteSum(ramp.data(), ramp.size()), 0x80);
  std::vector<uint8_t> text = kdltest::ReadFile(kdltest::DataPath("lh5-vectors/gpl3_18432.in"));
  EXPECT_EQ(kdl::ByteSum(text.data(), text.size()), 0xEC);
}

}  // namespace
