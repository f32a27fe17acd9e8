#include <gtest/gtest.h>

#include "image/create_rig.h"

namespace kdl {
namespace {

using kdltest::DriveRig;
using kdltest::FatDiskBuilder;

constexpr size_t kUnit = 18432;
constexpr std::string_view kDiffers = "ベリファイエラーがありました\nベリファイを続けますか";

// Units 1 and 2 partly used (ten clusters each), unit 3 whole; every other unit free. Free clusters hold
// noise.
struct VerifyRig : DriveRig {
  VerifyRig() {
    FatDiskBuilder d(2);
    const MediaGeometry& g = d.geometry();
    for (int unit = 1; unit <= 2; ++unit) {
      std::vector<int> c;
      for (int i = 0; i < 10; ++i) c.push_back(kdltest::FirstClusterOf(unit, g) + i);
      d.AddFileAt(FatDiskBuilder::kRoot, unit == 1 ? "ONE     TXT" : "TWO     TXT",
                  kdltest::TextBytes(5120, unit), c);
    }
    std::vector<int> whole;
    for (int i = 0; i < 36; ++i) whole.push_back(kdltest::FirstClusterOf(3, g) + i);
    d.AddFileAt(FatDiskBuilder::kRoot, "THREE   BIN", kdltest::NoiseBytes(kUnit), whole);
    kdltest::LitterFreeClusters(d);
    disk.bytes = d.bytes();
  }
  // Verifies the image "v.kdl" (made beforehand) against the disk as it is now.
  int32_t Verify(bool afterRestore) {
    if (image().OpenImage(Path("v.kdl")) < 0) return -100;
    const int32_t r = VerifyAgainstDrive(image(), drives, 1, image().header, afterRestore);
    image().CloseImage();
    return r;
  }
};

TEST(VerifyAgainstDrive, AfterCreationTheDiskMatchesWithoutAQuestion) {
  VerifyRig rig;
  rig.work().verify = true;
  int32_t verified = kNotVerified;
  ASSERT_GT(rig.Create("v.kdl", nullptr, &verified), 0);
  EXPECT_EQ(verified, 0);
  EXPECT_TRUE(rig.prompter().asks.empty());
  const auto& s = rig.prompter().statuses;
  EXPECT_NE(std::find(s.begin(), s.end(), "ベリファイ：TRK  79 / 79         "), s.end());
  // The state ends closed and holds the header it held before.
  EXPECT_FALSE(rig.image().IsOpen());
  EXPECT_EQ(rig.image().header.mediaType, KdlHeader().mediaType);
}

// A raw target is verified as well: the file is read back as the raw image it is, every byte compared.
TEST(VerifyAgainstDrive, ARawTargetIsVerifiedToo) {
  for (const bool changed : {false, true}) {
    VerifyRig rig;
    rig.work().verify = true;
    std::vector<uint8_t> later = rig.disk.bytes;
    // A byte of a free cluster: a raw image holds every byte, so even this one counts.
    later[1 * kUnit + 20 * 512] ^= changed ? 0xFF : 0x00;
    // Detection, volume label and the pass see the disk as it was; the verification sees it as it is later.
    rig.disk.inserted = {rig.disk.bytes, rig.disk.bytes, rig.disk.bytes, later};
    int32_t verified = kNotVerified;
    ASSERT_EQ(rig.Create("v.img", nullptr, &verified), 80 * static_cast<int32_t>(kUnit));
    EXPECT_EQ(verified, changed ? 1 : 0);
    EXPECT_EQ(rig.prompter().Asked(kDiffers), changed);
    EXPECT_FALSE(rig.image().IsOpen());
  }
}

TEST(VerifyAgainstDrive, FindsAChangedSectorButNoChangeInAFreeCluster) {
  VerifyRig rig;
  ASSERT_GT(rig.Create("v.kdl"), 0);
  rig.disk.reads.clear();
  // A free cluster of a used unit and a wholly free unit may change: neither is part of the image.
  rig.disk.bytes[1 * kUnit + 20 * 512] ^= 0xFF;
  rig.disk.bytes[50 * kUnit + 7] ^= 0xFF;
  EXPECT_EQ(rig.Verify(false), 0);
  EXPECT_TRUE(rig.prompter().asks.empty());
  EXPECT_EQ(rig.disk.ReadsTouching(50 * kUnit, kUnit), 0);
  // Compared as they are, as after a restore, the leftover bytes in the free clusters of unit 1 differ.
  EXPECT_EQ(rig.Verify(true), 1);

  // Used data changed in two units: each asks whether to go on; No stops at the first.
  rig.prompter().Clear();
  rig.disk.bytes[2 * kUnit + 100] ^= 0x01;
  rig.disk.bytes[3 * kUnit + 9000] ^= 0x01;
  EXPECT_EQ(rig.Verify(false), 1);
  ASSERT_EQ(rig.prompter().asks.size(), 1u);
  EXPECT_EQ(rig.prompter().asks[0].caption, "ベリファイ");
  EXPECT_EQ(rig.prompter().asks[0].text, kDiffers);
  EXPECT_EQ(rig.prompter().asks[0].buttons, Buttons::kYesNo);
  rig.prompter().answers = {Answer::kYes, Answer::kYes};
  EXPECT_EQ(rig.Verify(false), 2);
}

TEST(VerifyAgainstDrive, AnotherMediaTypeOrAnUnreadableSectorEndsIt) {
  VerifyRig rig;
  ASSERT_GT(rig.Create("v.kdl"), 0);
  const std::vector<uint8_t> good = rig.disk.bytes;
  rig.disk.bytes = FatDiskBuilder(3).bytes();
  EXPECT_EQ(rig.Verify(false), -1);
  EXPECT_EQ(rig.prompter().Texts(), std::vector<std::string>{"メディアのタイプが違います"});

  rig.prompter().Clear();
  rig.disk.bytes = good;
  rig.disk.MakeUnreadable(3 * kUnit + 5, 1);
  EXPECT_EQ(rig.Verify(false), -1);
  EXPECT_EQ(rig.prompter().Texts(), std::vector<std::string>{"ＦＤＤ入力エラー"});
  EXPECT_EQ(rig.disk.ReadsTouching(4 * kUnit, 76 * kUnit), 0);
}

TEST(VerifyAgainstDrive, CancelAsksWithTheVerificationsName) {
  VerifyRig rig;
  ASSERT_GT(rig.Create("v.kdl"), 0);
  rig.prompter().cancelAtPump = {rig.prompter().pumpCalls + 3};
  rig.prompter().answers = {Answer::kYes};
  EXPECT_EQ(rig.Verify(false), -1);
  EXPECT_EQ(rig.prompter().Texts(),
            std::vector<std::string>{"べりファイ ： ユーザー割り込みがありました\n中断しますか?"});
}

}  // namespace
}  // namespace kdl
