#include "image/track_encode.h"

#include <gtest/gtest.h>

#include <random>

#include "codec/crc.h"

namespace kdl {
namespace {

class EncodeUnit : public ::testing::Test {
 protected:
  TrackCodec codec;
  std::vector<uint8_t> work = std::vector<uint8_t>(kWorkBufferSize);
};

TEST_F(EncodeUnit, AllEqualBytesStoreNothing) {
  std::vector<uint8_t> data(9216, 0x3C);
  EncodedUnit e = EncodeTrackUnit(data.data(), 9216, true, codec, work.data());
  EXPECT_EQ(e.entry.kind, kTrackSameByte);
  EXPECT_EQ(e.entry.fill, 0x3C);
  EXPECT_EQ(e.entry.storedLength, 0);
  EXPECT_EQ(e.entry.dataCrc, 0);
  EXPECT_EQ(e.entry.storedCrc, 0);
  EXPECT_EQ(e.storedLength, 0);
}

// A unit whose clusters were all left out has no data bytes; it must read back as the byte its buffer was
// prefilled with (the media fill byte), never as zero.
TEST_F(EncodeUnit, EmptyUnitTakesThePrefilledByte) {
  std::vector<uint8_t> data(9216, 0xF6);
  EncodedUnit e = EncodeTrackUnit(data.data(), 0, true, codec, work.data());
  EXPECT_EQ(e.entry.kind, kTrackSameByte);
  EXPECT_EQ(e.entry.fill, 0xF6);
  EXPECT_EQ(e.entry.dataLength, 0);
}

TEST_F(EncodeUnit, CompressedOnlyWhenItSavesATenth) {
  std::vector<uint8_t> text;
  while (text.size() < 9216) {
    for (char c : std::string("floppy disk archive track unit ")) text.push_back(static_cast<uint8_t>(c));
  }
  text.resize(9216);
  EncodedUnit packed = EncodeTrackUnit(text.data(), 9216, true, codec, work.data());
  EXPECT_EQ(packed.entry.kind, kTrackCompressed);
  EXPECT_EQ(packed.stored, work.data());
  EXPECT_EQ(packed.entry.dataCrc, TrackCrc(text.data(), text.size()));
  EXPECT_EQ(packed.entry.storedCrc, TrackCrc(work.data(), static_cast<size_t>(packed.storedLength)));

  EncodedUnit plain = EncodeTrackUnit(text.data(), 9216, false, codec, work.data());
  EXPECT_EQ(plain.entry.kind, kTrackNormal);
  EXPECT_EQ(plain.stored, text.data());
  EXPECT_EQ(plain.entry.storedLength, 9216);

  std::mt19937 rng(7);
  std::vector<uint8_t> noise(9216);
  for (auto& b : noise) b = static_cast<uint8_t>(rng());
  EncodedUnit random = EncodeTrackUnit(noise.data(), 9216, true, codec, work.data());
  EXPECT_EQ(random.entry.kind, kTrackNormal);
  EXPECT_EQ(random.entry.storedCrc, 0);
  EXPECT_EQ(random.entry.dataCrc, TrackCrc(noise.data(), noise.size()));
}

}  // namespace
}  // namespace kdl
