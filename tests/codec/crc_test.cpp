// Known answers of the track CRC and the entry byte sum.
#include "codec/crc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
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
