// Other tools' disk images opened as images, and images written out in their formats.
#include <gtest/gtest.h>

#include "drive/formats/container.h"
#include "image/export.h"
#include "image/listing.h"
#include "support/image_builder.h"

namespace kdl {
namespace {

using kdltest::FatDiskBuilder;
using kdltest::ImageBench;

constexpr ContainerFormat kForeign[] = {ContainerFormat::kD88, ContainerFormat::kFdi, ContainerFormat::kImd,
                                        ContainerFormat::kGzip};

FatDiskBuilder SampleDisk(int type) {
  FatDiskBuilder disk(type);
  disk.AddVolumeLabel("CONTAINED  ");
  disk.AddFile(FatDiskBuilder::kRoot, "README  TXT", kdltest::TextBytes(3000));
  const uint16_t sub = disk.AddDirectory(FatDiskBuilder::kRoot, "SUB        ");
  disk.AddFile(sub, "NOISE   BIN", kdltest::NoiseBytes(4000));
  return disk;
}

std::vector<uint8_t> Encode(ContainerFormat f, int type, const std::vector<uint8_t>& disk,
                            const ContainerText& text = {}) {
  return EncodeContainer(f, type, ByteView(disk.data(), disk.size()), text);
}

// Every container of every media type it can hold opens like the raw disk it holds: the same root, every unit
// with the disk's bytes, the container's text as label lines; and it is never written.
TEST(ContainerImage, EveryFormatOpensAsTheDiskItHolds) {
  for (int type = 0; type < kMediaTypeCount; ++type) {
    const FatDiskBuilder disk = SampleDisk(type);
    for (const ContainerFormat f : kForeign) {
      if (!FormatCanHold(f, type)) continue;
      SCOPED_TRACE(std::string(MediaName(type)) + " " + std::string(ContainerFormatName(f)));
      ImageBench bench;
      ContainerText text;
      text.name = "NAMED DISK";
      text.comment = {"first comment line", "second"};
      bench.work.dialogMode = kModeOpenRaw;
      bench.work.rawImagePath = bench.Write("disk.bin", Encode(f, type, disk.bytes(), text));
      ASSERT_GE(bench.image.OpenImage("ignored"), 0);
      EXPECT_TRUE(bench.image.isRaw);
      EXPECT_TRUE(bench.work.readOnly);
      ASSERT_NE(bench.image.container(), nullptr);
      EXPECT_EQ(bench.image.header.mediaType, type);
      EXPECT_EQ(bench.image.header.volumeLabel, "CONTAINED   ");
      const std::string expected = f == ContainerFormat::kD88   ? "NAMED DISK"
                                   : f == ContainerFormat::kImd ? "first comment line"
                                                                : "";
      EXPECT_EQ(bench.image.header.LabelText(0), expected);
      EXPECT_EQ(bench.image.header.LabelText(1), f == ContainerFormat::kImd ? "second" : "");
      ASSERT_EQ(bench.image.root.size(), 3u);
      EXPECT_EQ(bench.image.root[1].Name(), "README  ");
      const MediaGeometry& g = bench.image.header.geometry;
      for (int unit = 0; unit < g.cylinders; ++unit) {
        ASSERT_EQ(bench.image.ReadTrack(unit), 0) << unit;
        ASSERT_TRUE(std::equal(bench.image.track.begin(), bench.image.track.begin() + g.trackSize,
                               disk.bytes().begin() + static_cast<ptrdiff_t>(unit) * g.trackSize))
            << unit;
      }
      EXPECT_TRUE(bench.prompter.asks.empty());
      bench.image.CloseImage();
      EXPECT_EQ(bench.image.container(), nullptr);
    }
  }
}

TEST(ContainerImage, AUnitWithDamagedSectorsDoesNotReadAndNamesThem) {
  ImageBench bench;
  std::vector<uint8_t> disk = SampleDisk(0).bytes();
  std::vector<uint8_t> d88 = Encode(ContainerFormat::kD88, 0, disk);
  // Sector C3 H1 R2 gets the data CRC error status; unit 3 holds it.
  const size_t sector = 0x2B0 + static_cast<size_t>((3 * 2 + 1) * 8 + 1) * (16 + 1024);
  ASSERT_EQ(d88[sector + 2], 2);
  d88[sector + 8] = 0xB0;
  bench.work.dialogMode = kModeOpenRaw;
  bench.work.rawImagePath = bench.Write("damaged.d88", d88);
  ASSERT_GE(bench.image.OpenImage("ignored"), 0);
  EXPECT_EQ(bench.image.ReadTrack(2), 0);
  EXPECT_EQ(bench.image.ReadTrack(3), -1);
  ASSERT_EQ(bench.prompter.asks.size(), 1u);
  EXPECT_EQ(bench.prompter.asks[0].text,
            "TRK: 3  損傷したセクタがあります\nC 3 H1 R 2  CRC エラーで読まれています");
  // The listing marks the unit, as it marks a unit of an image that fails its CRC.
  std::vector<std::string> lines;
  EXPECT_EQ(ListImageInfo(bench.image, lines, 0), 1);
}

TEST(ContainerImage, AContainerWithoutADiskOfAMediaTypeIsRefusedSayingWhatItHolds) {
  ImageBench bench;
  std::vector<uint8_t> disk = SampleDisk(0).bytes();
  disk[19] = 0x40;  // the boot sector now speaks of a 1.44 MB disk
  disk[20] = 0x0B;
  bench.work.dialogMode = kModeOpenRaw;
  bench.work.rawImagePath = bench.Write("other.fdi", Encode(ContainerFormat::kFdi, 0, disk));
  EXPECT_EQ(bench.image.OpenImage("ignored"), -1);
  ASSERT_EQ(bench.prompter.asks.size(), 1u);
  const std::string& text = bench.prompter.asks[0].text;
  EXPECT_EQ(text.rfind("サポートしていないディスクです\n" + bench.work.rawImagePath + " : ", 0), 0u) << text;
  EXPECT_NE(text.find("総セクタ数は 2880"), std::string::npos) << text;
  EXPECT_FALSE(bench.image.IsOpen());
}

// Wherever an image opens, a raw disk opens too when its name is not a ".KDL" name (an HDM file); a file
// named ".KDL" must be an image.
TEST(ContainerImage, ARawDiskOpensAsAnImageUnlessItsNameSaysKdl) {
  ImageBench bench;
  const std::vector<uint8_t> disk = SampleDisk(0).bytes();
  ASSERT_GE(bench.image.OpenImage(bench.Write("pc98.hdm", disk)), 0);
  EXPECT_TRUE(bench.image.isRaw);
  EXPECT_EQ(bench.image.header.mediaType, 0);
  EXPECT_EQ(bench.image.root.size(), 3u);
  bench.image.CloseImage();
  const std::string named = bench.Write("raw.KDL", disk);
  EXPECT_EQ(bench.image.OpenImage(named), -1);
  ASSERT_EQ(bench.prompter.asks.size(), 1u);
  EXPECT_EQ(bench.prompter.asks[0].text, named + " はカドローンではありません");
}

// A ".KDL" image written out in each format holds the disk (free clusters as the fill byte, as the raw output
// has them), its label lines where the format has room for text, and a format without the geometry refuses.
TEST(ContainerImage, ImagesAreWrittenOutInEveryFormatThatCanHoldThem) {
  for (int type = 0; type < kMediaTypeCount; ++type) {
    const FatDiskBuilder disk = SampleDisk(type);
    kdltest::KdlOptions options;
    options.labels = {"Label one", "", "Label three", ""};
    const kdltest::KdlImage kdl = kdltest::MakeKdl(disk.bytes(), type, options);
    for (const ContainerFormat f : {ContainerFormat::kHdm, ContainerFormat::kD88, ContainerFormat::kFdi,
                                    ContainerFormat::kImd, ContainerFormat::kGzip}) {
      SCOPED_TRACE(std::string(MediaName(type)) + " " + std::string(ContainerFormatName(f)));
      ImageBench bench;
      const std::string image = bench.Write("a.KDL", kdl.bytes);
      const std::string output = (bench.dir / "out").string();
      const int64_t length = WriteImageAs(bench.image, image, output, f);
      if (!FormatCanHold(f, type)) {
        EXPECT_EQ(length, -1);
        ASSERT_EQ(bench.prompter.asks.size(), 1u);
        EXPECT_NE(bench.prompter.asks[0].text.find(std::string(ContainerFormatName(f)) + " 形式には"),
                  std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(output));
        continue;
      }
      const std::vector<uint8_t> bytes = kdltest::ReadFile(output);
      ASSERT_EQ(length, static_cast<int64_t>(bytes.size()));
      const ContainerRead read = DecodeContainer(ByteView(bytes.data(), bytes.size()));
      ASSERT_TRUE(read.disk) << read.error;
      EXPECT_TRUE(read.disk->bytes == disk.bytes());
      const std::vector<std::string> text = f == ContainerFormat::kD88 ? std::vector<std::string>{"Label one"}
                                            : f == ContainerFormat::kImd
                                                ? std::vector<std::string>{"Label one", "Label three"}
                                                : std::vector<std::string>{};
      EXPECT_EQ(read.disk->comment, text);
      // Only the pass's own progress and status: no message.
      EXPECT_TRUE(bench.prompter.asks.empty());
    }
  }
}

}  // namespace
}  // namespace kdl
