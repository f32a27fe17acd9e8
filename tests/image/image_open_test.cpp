// Opening images: ".KDL" files, raw sector images, images inside an archive file, and every way a file is
// refused.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "image/image.h"
#include "image/listing.h"
#include "support/image_builder.h"

namespace kdl {
namespace {

using kdltest::FatDiskBuilder;
using kdltest::ImageBench;
using kdltest::MakeKdl;

FatDiskBuilder SampleDisk(int type) {
  FatDiskBuilder disk(type);
  disk.AddVolumeLabel("SAMPLE     ");
  disk.AddFile(FatDiskBuilder::kRoot, "README  TXT", kdltest::TextBytes(3000));
  disk.AddFile(FatDiskBuilder::kRoot, "NOISE   BIN", kdltest::NoiseBytes(5000));
  const uint16_t sub = disk.AddDirectory(FatDiskBuilder::kRoot, "SUB        ");
  disk.AddFile(sub, "INNER   TXT", kdltest::TextBytes(700, 7));
  return disk;
}

std::vector<uint8_t> FatOf(const FatDiskBuilder& disk) {
  const MediaGeometry& g = disk.geometry();
  const auto begin = disk.bytes().begin() + g.fatStart * g.sectorSize;
  return std::vector<uint8_t>(begin, begin + g.fatSectors * g.sectorSize);
}

std::vector<uint8_t> WithHeader(std::vector<uint8_t> kdl, const KdlHeader& h) {
  SerializeKdlHeader(h, ByteSpan(kdl.data(), kKdlHeaderSize));
  return kdl;
}

TEST(OpenImage, LoadsHeaderDirectoryFatAndCompactedRoot) {
  ImageBench bench;
  const FatDiskBuilder disk = SampleDisk(3);
  const kdltest::KdlImage kdl = MakeKdl(disk.bytes(), 3);
  const std::string path = bench.Write("a.KDL", kdl.bytes);

  EXPECT_GE(bench.image.OpenImage(path), 0);
  EXPECT_TRUE(bench.image.IsOpen());
  EXPECT_FALSE(bench.work.readOnly);
  EXPECT_FALSE(bench.image.isRaw);
  EXPECT_EQ(bench.image.header.mediaType, 3);
  EXPECT_EQ(bench.image.directory, kdl.directory);
  EXPECT_EQ(bench.image.fat, FatOf(disk));
  ASSERT_EQ(bench.image.root.size(), 4u);
  EXPECT_EQ(bench.image.root[0].Name(), "SAMPLE  ");
  EXPECT_EQ(bench.image.root[3].Name(), "SUB     ");
  EXPECT_EQ(bench.image.root[3].IndexSlot(), 3);
  EXPECT_EQ(bench.image.cachedTrack, 0);  // the FAT and root came from unit 0
  EXPECT_TRUE(bench.prompter.asks.empty());

  bench.image.CloseImage();
  EXPECT_FALSE(bench.image.IsOpen());
  EXPECT_TRUE(bench.image.root.empty());
}

TEST(OpenImage, RawImageInDialogMode4IgnoresThePathAndServesEveryUnitAsIs) {
  ImageBench bench;
  FatDiskBuilder disk = SampleDisk(2);
  bench.work.rawImagePath = bench.Write("disk.img", disk.bytes());
  bench.work.dialogMode = kModeOpenRaw;
  bench.work.baseOffset = 4096;  // a raw image is never inside an archive

  ASSERT_GE(bench.image.OpenImage("/nonexistent/ignored.KDL"), 0);
  EXPECT_TRUE(bench.image.isRaw);
  EXPECT_TRUE(bench.work.readOnly);
  EXPECT_EQ(bench.work.baseOffset, 0);
  EXPECT_EQ(bench.image.header.mediaType, 2);
  EXPECT_EQ(bench.image.header.volumeLabel, std::string(12, ' '));
  for (int j = 0; j < kTrackDirectoryEntries; ++j) {
    const TrackEntry& e = bench.image.directory[static_cast<size_t>(j)];
    EXPECT_EQ(e.offset, j * 18432);
    EXPECT_EQ(e.storedLength, 18432);
    EXPECT_EQ(e.dataLength, 18432);
    EXPECT_EQ(e.kind, kTrackNormal);
    EXPECT_EQ(e.dataCrc, 0);
  }
  EXPECT_EQ(bench.image.fat, FatOf(disk));
  EXPECT_EQ(bench.image.root.size(), 4u);

  std::vector<uint8_t> all(disk.bytes().size());
  EXPECT_TRUE(bench.image.ReadSectors(0, 2880, all.data()));
  EXPECT_EQ(all, disk.bytes());
}

TEST(OpenImage, RawImageRefusals) {
  ImageBench bench;
  bench.work.dialogMode = kModeOpenRaw;

  bench.work.rawImagePath = bench.Write("tiny.img", std::vector<uint8_t>(20, 0));
  EXPECT_EQ(bench.image.OpenImage(""), -1);

  std::vector<uint8_t> boot(9216, 0);
  boot[19] = 0x40;  // 0x0B40 = 2880 sectors would be type 2; 0x0040 is no type
  bench.work.rawImagePath = bench.Write("odd.img", boot);
  EXPECT_EQ(bench.image.OpenImage(""), -1);

  // A 720 KB boot sector in a file too short to hold the FAT and root directory.
  std::vector<uint8_t> cut(600, 0);
  cut[19] = 0xA0;
  cut[20] = 0x05;
  bench.work.rawImagePath = bench.Write("cut.img", cut);
  EXPECT_EQ(bench.image.OpenImage(""), -1);

  bench.work.rawImagePath = (bench.dir / "missing.img").string();
  EXPECT_EQ(bench.image.OpenImage(""), -1);

  EXPECT_EQ(
      bench.prompter.Texts(),
      (std::vector<std::string>{"ファイル入力エラー", "サポートしていないディスクです", "ファイル入力エラー",
                                bench.work.rawImagePath + " がオープンできません"}));
  for (const auto& ask : bench.prompter.asks) {
    EXPECT_EQ(ask.caption, "KDL Form");
    EXPECT_EQ(ask.buttons, Buttons::kOk);
    EXPECT_EQ(ask.icon, Icon::kStop);
  }
  EXPECT_FALSE(bench.image.IsOpen());
}

TEST(OpenImage, RefusesWhatIsNotAnImage) {
  ImageBench bench;
  const kdltest::KdlImage kdl = MakeKdl(SampleDisk(3).bytes(), 3);

  std::vector<uint8_t> wrongMagic = kdl.bytes;
  std::memcpy(wrongMagic.data(), "KAD_LONF", 8);
  const std::string wrong = bench.Write("wrong.KDL", wrongMagic);
  const std::string shortHeader =
      bench.Write("short.KDL", std::vector<uint8_t>(kdl.bytes.begin(), kdl.bytes.begin() + 200));
  const std::string shortDirectory =
      bench.Write("shortdir.KDL", std::vector<uint8_t>(kdl.bytes.begin(), kdl.bytes.begin() + 1000));
  const std::string empty = bench.Write("empty.KDL", {});
  const std::string missing = (bench.dir / "missing.KDL").string();

  for (const std::string& path : {wrong, shortHeader, shortDirectory, empty, missing})
    EXPECT_EQ(bench.image.OpenImage(path), -1) << path;
  EXPECT_EQ(bench.prompter.Texts(),
            (std::vector<std::string>{wrong + " はカドローンではありません", "ファイル入力エラー",
                                      "ファイル入力エラー", "ファイル入力エラー",
                                      missing + " がオープンできません"}));
  EXPECT_FALSE(bench.image.IsOpen());
}

TEST(OpenImage, AcceptsAnyVersionField) {
  ImageBench bench;
  kdltest::KdlImage kdl = MakeKdl(SampleDisk(4).bytes(), 4);
  std::memcpy(kdl.bytes.data() + 8, "9999", 4);
  EXPECT_GE(bench.image.OpenImage(bench.Write("v.KDL", kdl.bytes)), 0);
  EXPECT_TRUE(bench.prompter.asks.empty());
}

TEST(OpenImage, RefusesHeadersWhoseGeometryCannotBeRead) {
  ImageBench bench;
  const kdltest::KdlImage kdl = MakeKdl(SampleDisk(3).bytes(), 3);
  auto refused = [&](const KdlHeader& h) {
    bench.prompter.Clear();
    const std::string path = bench.Write("bad.KDL", WithHeader(kdl.bytes, h));
    const int32_t handle = bench.image.OpenImage(path);
    return handle == -1 &&
           bench.prompter.Texts() == std::vector<std::string>{path + " のディスク形式情報が正しくありません"};
  };
  KdlHeader h = kdl.header;
  h.geometry.cylinders = 0;
  EXPECT_TRUE(refused(h));
  h = kdl.header;
  h.geometry.sectorsPerCluster = 0;
  EXPECT_TRUE(refused(h));
  h = kdl.header;
  h.geometry.trackSize = 30000;
  EXPECT_TRUE(refused(h));
  h = kdl.header;
  h.mediaType = 8;
  EXPECT_TRUE(refused(h));
  h = kdl.header;
  h.mediaType = -1;
  EXPECT_TRUE(refused(h));
  // Clusters larger than the cluster buffer.
  h = kdl.header;
  h.geometry.sectorsPerCluster = 8;
  h.geometry.clusterSize = 4096;
  EXPECT_TRUE(refused(h));
  EXPECT_FALSE(bench.image.IsOpen());
}

TEST(OpenImage, AFailedOpenLeavesNoTrackOfThePreviousImage) {
  ImageBench bench;
  const kdltest::KdlImage kdl = MakeKdl(SampleDisk(3).bytes(), 3);
  ASSERT_GE(bench.image.OpenImage(bench.Write("good.KDL", kdl.bytes)), 0);
  ASSERT_EQ(bench.image.ReadTrack(1), 0);
  KdlHeader h = kdl.header;
  h.mediaType = 9;
  EXPECT_EQ(bench.image.OpenImage(bench.Write("bad.KDL", WithHeader(kdl.bytes, h))), -1);
  EXPECT_EQ(bench.image.ReadTrack(1), -1);
}

TEST(OpenImage, Type7IsReadWithTheTableGeometry) {
  ImageBench bench;
  FatDiskBuilder disk(7);
  disk.AddFile(FatDiskBuilder::kRoot, "DMF     TXT", kdltest::TextBytes(9000));
  kdltest::KdlImage kdl = MakeKdl(disk.bytes(), 7);
  KdlHeader h = kdl.header;
  h.geometry = MediaGeometry{};  // nothing usable stored
  ASSERT_GE(bench.image.OpenImage(bench.Write("dmf.KDL", WithHeader(kdl.bytes, h))), 0);
  EXPECT_EQ(bench.image.header.geometry, MediaGeometryOf(7));
  ASSERT_EQ(bench.image.root.size(), 1u);
  EXPECT_EQ(bench.image.root[0].Size(), 9000u);
}

TEST(OpenImage, ImageInsideAnArchiveFileIsReadAtItsBaseOffset) {
  ImageBench bench;
  const FatDiskBuilder disk = SampleDisk(3);
  const kdltest::KdlImage kdl = MakeKdl(disk.bytes(), 3);
  std::vector<uint8_t> archive = kdltest::NoiseBytes(160);
  archive.insert(archive.end(), kdl.bytes.begin(), kdl.bytes.end());
  archive.resize(archive.size() + 32, 0);
  File archiveFile;
  ASSERT_TRUE(archiveFile.Open(bench.Write("a.KDZ", archive), File::Mode::kReadWrite));
  bench.work.archiveFile = &archiveFile;
  bench.work.baseOffset = 160;

  ASSERT_EQ(bench.image.OpenImage("DISK1"), archiveFile.fd());
  EXPECT_TRUE(bench.image.inArchive());
  EXPECT_EQ(bench.image.fat, FatOf(disk));
  std::vector<uint8_t> all(disk.bytes().size());
  EXPECT_TRUE(bench.image.ReadSectors(0, 1440, all.data()));
  EXPECT_EQ(all, disk.bytes());
  bench.image.CloseImage();
  EXPECT_TRUE(archiveFile.IsOpen());

  bench.work.archiveFile = nullptr;
  EXPECT_EQ(bench.image.OpenImage("DISK1"), -1);
  EXPECT_TRUE(bench.prompter.Asked("DISK1 がオープンできません"));
}

// Runs `body` as an unprivileged user in a child process (root may write any file), exiting 0 on success.
template <typename Body>
void AsUnprivilegedUser(Body body) {
  if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
  _exit(body() ? 0 : 1);
}

TEST(OpenImageDeathTest, ReadOnlyFileOpensForReadingAndRefusesLabelWrites) {
  ImageBench bench;
  const FatDiskBuilder disk = SampleDisk(3);
  const std::string path = bench.Write("ro.KDL", MakeKdl(disk.bytes(), 3).bytes);
  ASSERT_EQ(chmod(bench.dir.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  EXPECT_EXIT(AsUnprivilegedUser([&] {
                if (bench.image.OpenImage(path) < 0 || !bench.work.readOnly) return false;
                std::vector<uint8_t> all(disk.bytes().size());
                if (!bench.image.ReadSectors(0, 1440, all.data()) || all != disk.bytes()) return false;
                LabelTexts texts{"NEW"};
                return WriteLabels(bench.image, path, 0, texts) == -1 &&
                       bench.prompter.Texts() == std::vector<std::string>{"ファイル出力エラー"};
              }),
              ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kdl
