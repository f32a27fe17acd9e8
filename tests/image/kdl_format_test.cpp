#include "image/kdl_format.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace kdl {
namespace {

TEST(KdlHeader, RoundTripAndLayout) {
  KdlHeader h = MakeKdlHeader(2);
  h.volumeLabel = "MYDISK  .LBL";
  h.labelTime = 0x1234;
  h.labelDate = 0x5678;
  h.omitUnused = 1;
  ASSERT_TRUE(h.SetLabelText(0, "first line"));
  ASSERT_TRUE(h.SetLabelText(3, std::string(40, 'x')));
  std::vector<uint8_t> bytes(256, 0xAA);
  SerializeKdlHeader(h, ByteSpan(bytes.data(), bytes.size()));

  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 12), "KAD_LONE0100");
  EXPECT_EQ(bytes[24], 0x34);
  EXPECT_EQ(bytes[27], 0x56);
  EXPECT_EQ(bytes[28], 2);
  EXPECT_EQ(bytes[30] | bytes[31] << 8, 1536);
  EXPECT_EQ(bytes[32], 80);  // geometry starts with the cylinder count
  EXPECT_EQ(bytes[58], 1);
  // Label lines: 40 bytes padded with spaces, then NUL.
  EXPECT_EQ(std::string(bytes.begin() + 60, bytes.begin() + 100), "first line" + std::string(30, ' '));
  EXPECT_EQ(bytes[100], 0);
  EXPECT_EQ(bytes[101], ' ');
  EXPECT_EQ(bytes[183], 'x');
  EXPECT_EQ(bytes[223], 0);
  for (size_t i = 224; i < 256; ++i) EXPECT_EQ(bytes[i], 0) << i;

  auto back = ParseKdlHeader(ByteView(bytes.data(), bytes.size()));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->geometry, MediaGeometryOf(2));
  EXPECT_EQ(back->volumeLabel, "MYDISK  .LBL");
  EXPECT_EQ(back->LabelText(0), "first line");
  EXPECT_EQ(back->LabelText(1), "");
  EXPECT_EQ(back->LabelText(3), std::string(40, 'x'));
  EXPECT_EQ(back->labelTime, 0x1234);
  EXPECT_EQ(back->omitUnused, 1);
}

TEST(KdlHeader, MagicDecidesVersionDoesNot) {
  std::vector<uint8_t> bytes(256, 0);
  SerializeKdlHeader(MakeKdlHeader(3), ByteSpan(bytes.data(), bytes.size()));
  bytes[8] = '9';  // another version is accepted
  auto h = ParseKdlHeader(ByteView(bytes.data(), bytes.size()));
  ASSERT_TRUE(h);
  EXPECT_EQ(h->version, "9100");
  bytes[0] = 'k';  // a wrong magic is not, whatever the version says
  EXPECT_FALSE(ParseKdlHeader(ByteView(bytes.data(), bytes.size())));
  bytes[0] = 'K';
  EXPECT_FALSE(ParseKdlHeader(ByteView(bytes.data(), 255)));
}

TEST(KdlHeader, LabelLongerThanFortyBytesIsRefused) {
  KdlHeader h;
  ASSERT_TRUE(h.SetLabelText(1, "keep"));
  EXPECT_FALSE(h.SetLabelText(1, std::string(41, 'a')));
  EXPECT_EQ(h.LabelText(1), "keep");
  // Shift-JIS: 20 double-byte characters fill the line exactly.
  std::string kanji;
  for (int i = 0; i < 20; ++i) kanji += "\x93\xFA";
  EXPECT_TRUE(h.SetLabelText(2, kanji));
  EXPECT_FALSE(h.SetLabelText(2, kanji + "a"));
}

TEST(TrackDirectory, EntriesRoundTrip) {
  TrackDirectory d{};
  d[0] = {1536, 1234, kTrackCompressed, 0, 0xBEEF, 0xCAFE, 18432};
  d[1] = {2770, 0, kTrackSameByte, 0xF6, 0, 0, 0};
  d[79] = {-5, -1, 7, 1, 2, 3, -2};
  std::vector<uint8_t> bytes(kTrackDirectorySize, 0xFF);
  SerializeTrackDirectory(d, ByteSpan(bytes.data(), bytes.size()));
  EXPECT_EQ(bytes[0], 0x00);
  EXPECT_EQ(bytes[1], 0x06);
  EXPECT_EQ(bytes[6], kTrackCompressed);
  EXPECT_EQ(bytes[14], 0);  // reserved
  EXPECT_EQ(bytes[16 + 7], 0xF6);
  auto back = ParseTrackDirectory(ByteView(bytes.data(), bytes.size()));
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, d);
  EXPECT_FALSE(ParseTrackDirectory(ByteView(bytes.data(), bytes.size() - 1)));
}

TEST(TrackEntry, ReaderRefusesWhatItsBuffersCannotHold) {
  const MediaGeometry g = MediaGeometryOf(2);  // track size 18432
  EXPECT_FALSE(TrackEntryProblem({1536, 25600, kTrackNormal, 0, 0, 0, 18432}, 5, g));
  EXPECT_TRUE(TrackEntryProblem({1536, 25601, kTrackNormal, 0, 0, 0, 18432}, 5, g));
  EXPECT_TRUE(TrackEntryProblem({1536, -3, kTrackCompressed, 0, 0, 0, 18432}, 5, g));
  EXPECT_TRUE(TrackEntryProblem({1536, 100, kTrackCompressed, 0, 0, 0, 18433}, 5, g));
  EXPECT_TRUE(TrackEntryProblem({1536, 100, kTrackCompressed, 0, 0, 0, -1}, 5, g));
  EXPECT_TRUE(TrackEntryProblem({-1, 100, kTrackNormal, 0, 0, 0, 100}, 5, g));
  // Unit 79 alone may carry up to a whole track buffer of data.
  EXPECT_FALSE(TrackEntryProblem({1536, 100, kTrackCompressed, 0, 0, 0, 25600}, 79, g));
  EXPECT_TRUE(TrackEntryProblem({1536, 100, kTrackCompressed, 0, 0, 0, 25601}, 79, g));
  // A same-byte unit stores nothing, so its lengths are never used.
  EXPECT_FALSE(TrackEntryProblem({0, 30000, kTrackSameByte, 0xE5, 0, 0, 30000}, 5, g));
}

TEST(Geometry, UsableOnlyWhenItFitsTheBuffers) {
  for (int t = 0; t < kMediaTypeCount; ++t) EXPECT_TRUE(IsUsableGeometry(MediaGeometryOf(t))) << t;
  MediaGeometry g = MediaGeometryOf(2);
  g.sectorsPerCluster = 0;
  EXPECT_FALSE(IsUsableGeometry(g));
  g = MediaGeometryOf(2);
  g.sectorsPerTrack = 60;
  g.trackSize = 30720;
  EXPECT_FALSE(IsUsableGeometry(g));
  g = MediaGeometryOf(2);
  g.cylinders = 81;
  EXPECT_FALSE(IsUsableGeometry(g));
  g = MediaGeometryOf(2);
  g.rootEntries = 1000;
  EXPECT_FALSE(IsUsableGeometry(g));
}

// A FAT with the given 12-bit values packed as FAT12.
std::vector<uint8_t> PackFat(const std::vector<uint16_t>& values, size_t bytes) {
  std::vector<uint8_t> fat(bytes, 0);
  for (size_t n = 0; n < values.size(); ++n) {
    size_t i = n * 3 / 2;
    if (n % 2 == 0) {
      fat[i] = static_cast<uint8_t>(values[n]);
      fat[i + 1] = static_cast<uint8_t>((fat[i + 1] & 0xF0) | (values[n] >> 8));
    } else {
      fat[i] = static_cast<uint8_t>((fat[i] & 0x0F) | ((values[n] & 0x0F) << 4));
      fat[i + 1] = static_cast<uint8_t>(values[n] >> 4);
    }
  }
  return fat;
}

TEST(Fat12, EvenAndOddEntries) {
  // Entries 0..3 = 0xFF0, 0xFFF, 0x003, 0xABC packed by hand.
  const uint8_t fat[] = {0xF0, 0xFF, 0xFF, 0x03, 0xC0, 0xAB};
  ByteView v(fat, sizeof fat);
  EXPECT_EQ(Fat12Entry(v, 0), 0xFF0);
  EXPECT_EQ(Fat12Entry(v, 1), 0xFFF);
  EXPECT_EQ(Fat12Entry(v, 2), 0x003);
  EXPECT_EQ(Fat12Entry(v, 3), 0xABC);
  // An entry beyond the copy reads as in use, so nothing is dropped because of a short FAT.
  EXPECT_EQ(Fat12Entry(v, 4), 0xFFF);
  EXPECT_EQ(Fat12Entry(v, -1), 0xFFF);
}

struct OmitCase {
  int mediaType;
  int unit;
};

class FreeClusters : public ::testing::TestWithParam<OmitCase> {};

// Removing free clusters and restoring them must give back every used cluster in place, with the fill
// byte where clusters were free or bad.
TEST_P(FreeClusters, RemoveThenRestoreKeepsUsedClusters) {
  const auto [type, unit] = GetParam();
  const MediaGeometry g = MediaGeometryOf(type);
  const UnitClusters c = ClustersOfUnit(unit, g);
  std::vector<uint16_t> values(static_cast<size_t>(g.lastCluster + 1), 0);
  for (int32_t i = 0; i < c.count; ++i) {
    int32_t n = c.first + i;
    if (n > g.lastCluster) continue;
    values[static_cast<size_t>(n)] = i % 3 == 0 ? 0 : (i % 5 == 0 ? 0xFF7 : 0xFFF);
  }
  const std::vector<uint8_t> fat = PackFat(values, static_cast<size_t>(g.fatSectors * g.sectorSize));
  std::vector<uint8_t> original(static_cast<size_t>(g.trackSize));
  std::iota(original.begin(), original.end(), static_cast<uint8_t>(unit));
  std::vector<uint8_t> data = original;

  const int32_t kept = RemoveFreeClusters(unit, data.data(), g, ByteView(fat.data(), fat.size()));
  int32_t used = 0;
  for (int32_t i = 0; i < c.count; ++i) used += ClusterHoldsData(values[static_cast<size_t>(c.first + i)]);
  EXPECT_EQ(kept, used * g.clusterSize);

  KdlHeader h = MakeKdlHeader(static_cast<int16_t>(type));
  h.omitUnused = 1;
  std::vector<uint8_t> track(kTrackBufferSize, 0x11);
  RestoreTrackUnit(unit, data.data(), kept, h, ByteView(fat.data(), fat.size()), track.data());
  const uint8_t fill = MediaFillByte(type);
  for (int32_t i = 0; i < c.count; ++i) {
    const bool holds = ClusterHoldsData(values[static_cast<size_t>(c.first + i)]);
    for (int32_t b = 0; b < g.clusterSize; ++b) {
      const size_t at = static_cast<size_t>(i * g.clusterSize + b);
      ASSERT_EQ(track[at], holds ? original[at] : fill) << "cluster " << i << " byte " << b;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(MediaTypes0To5, FreeClusters,
                         ::testing::Values(OmitCase{0, 1}, OmitCase{0, 76}, OmitCase{1, 40}, OmitCase{2, 1},
                                           OmitCase{2, 79}, OmitCase{3, 1}, OmitCase{3, 79}, OmitCase{4, 33},
                                           OmitCase{5, 39}));

TEST(FreeClustersRule, UnitZeroAndWholeImagesAreUntouched) {
  const MediaGeometry g = MediaGeometryOf(3);
  std::vector<uint8_t> fat(static_cast<size_t>(g.fatSectors * g.sectorSize), 0);  // everything free
  std::vector<uint8_t> data(static_cast<size_t>(g.trackSize), 0x42);
  EXPECT_EQ(RemoveFreeClusters(0, data.data(), g, ByteView(fat.data(), fat.size())), g.trackSize);
  EXPECT_EQ(RemoveFreeClusters(1, data.data(), g, ByteView(fat.data(), fat.size())), 0);

  KdlHeader h = MakeKdlHeader(3);
  std::vector<uint8_t> track(kTrackBufferSize, 0);
  // Unit 0, or omit-unused off: the data is copied as it stands.
  h.omitUnused = 1;
  RestoreTrackUnit(0, data.data(), g.trackSize, h, ByteView(fat.data(), fat.size()), track.data());
  EXPECT_EQ(track[g.trackSize - 1], 0x42);
  h.omitUnused = 0;
  std::fill(track.begin(), track.end(), 0);
  RestoreTrackUnit(5, data.data(), g.trackSize, h, ByteView(fat.data(), fat.size()), track.data());
  EXPECT_EQ(track[0], 0x42);
  EXPECT_EQ(track[g.trackSize], 0);
  EXPECT_FALSE(CanOmitUnused(6));
  EXPECT_FALSE(CanOmitUnused(7));
  EXPECT_TRUE(CanOmitUnused(5));
}

TEST(FreeClustersRule, OverlongUnit79IsRestoredUnchanged) {
  const MediaGeometry g = MediaGeometryOf(3);
  std::vector<uint8_t> fat(static_cast<size_t>(g.fatSectors * g.sectorSize), 0);
  KdlHeader h = MakeKdlHeader(3);
  h.omitUnused = 1;
  std::vector<uint8_t> data(kTrackBufferSize, 0x5A);
  std::vector<uint8_t> track(kTrackBufferSize, 0);
  RestoreTrackUnit(79, data.data(), static_cast<int32_t>(kTrackBufferSize), h,
                   ByteView(fat.data(), fat.size()), track.data());
  EXPECT_EQ(track.back(), 0x5A);
}

TEST(FreeClustersRule, ShortDataLeavesRemainingClustersFilled) {
  // A FAT saying every cluster is used, but data for only one cluster: nothing is read past the data.
  const MediaGeometry g = MediaGeometryOf(3);
  std::vector<uint8_t> fat(static_cast<size_t>(g.fatSectors * g.sectorSize), 0xFF);
  KdlHeader h = MakeKdlHeader(3);
  h.omitUnused = 1;
  std::vector<uint8_t> data(static_cast<size_t>(g.clusterSize), 0x01);
  std::vector<uint8_t> track(kTrackBufferSize, 0);
  RestoreTrackUnit(2, data.data(), g.clusterSize, h, ByteView(fat.data(), fat.size()), track.data());
  EXPECT_EQ(track[0], 0x01);
  EXPECT_EQ(track[static_cast<size_t>(g.clusterSize)], MediaFillByte(3));
}

}  // namespace
}  // namespace kdl
