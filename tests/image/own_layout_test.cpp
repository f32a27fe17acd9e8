// Disks whose own boot sector lays out the FATs, the root and the clusters otherwise than the media table, as
// mkfs.fat and other formatters make them: made by mkfs.fat, filled by mcopy, read through a raw image file
// acting as the drive, and compared with what mtools reads from the same disk.
#include <gtest/gtest.h>

#include "browse/copyout.h"
#include "browse/dir_list.h"
#include "browse/fat.h"
#include "image/create_rig.h"
#include "image/drive_messages.h"

namespace kdl {
namespace {

namespace fs = std::filesystem;
using kdltest::ReadFile;
using kdltest::RunCommand;
using kdltest::ShellQuote;

struct OwnLayout {
  int type;
  const char* mkfs;  // sector size, cluster size, root and geometry
  const char* kib;
};

const OwnLayout kOwnLayouts[] = {
    {4, "-S 512 -s 4 -r 512 -g 2/8 -M 0xFB", "640"},       // mkfs.fat's own 640K layout
    {2, "-S 512 -s 2 -r 224 -g 2/18 -M 0xF0", "1440"},     // 1.44 MB with 1 KiB clusters
    {2, "-S 512 -s 4 -r 224 -g 2/18 -M 0xF0", "1440"},     // ... with 2 KiB clusters
    {2, "-S 512 -s 64 -r 224 -g 2/18 -M 0xF0", "1440"},    // ... with 32 KiB clusters, larger than a unit
    {7, "-S 512 -s 2 -r 16 -g 2/21 -M 0xF0", "1680"},      // DMF with 1 KiB clusters
    {3, "-S 512 -s 2 -r 112 -f 1 -g 2/9 -M 0xF9", "720"},  // one FAT copy
};

const std::string kMtoolsEnv =
    "MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=0 MTOOLS_LOWER_CASE=0 TZ=UTC LC_ALL=C.UTF-8 ";

// A disk of `layout` holding files of many sizes in the root and a subdirectory, with a deleted file whose
// clusters are free but not blank.
fs::path MakeDisk(const kdltest::TempDir& dir, const OwnLayout& layout) {
  const fs::path img = dir / "disk.img";
  const fs::path src = dir / "src";
  fs::create_directories(src / "SUB");
  kdltest::WriteFile(src / "GONE.BIN", kdltest::NoiseBytes(70000, 5));
  kdltest::WriteFile(src / "TEXT.TXT", kdltest::TextBytes(41000, 2));
  kdltest::WriteFile(src / "NOISE.BIN", kdltest::NoiseBytes(90001, 3));
  kdltest::WriteFile(src / "Long file name.dat", kdltest::TextBytes(3000, 4));
  kdltest::WriteFile(src / "SUB" / "INNER.TXT", kdltest::TextBytes(20000, 6));
  kdltest::WriteFile(src / "SUB" / "TAIL.BIN", kdltest::NoiseBytes(700, 7));
  const std::string i = " -i " + ShellQuote(img.string()) + " ";
  const std::string s = ShellQuote(src.string());
  const std::string fats = std::string(layout.mkfs).find("-f ") == std::string::npos ? "-f 2 " : "";
  const std::string mtools = kMtoolsEnv + "HOME=" + ShellQuote(dir.path().string()) + " ";
  const std::string script =
      "set -e; mkfs.fat -C -a -F 12 -h 0 -R 1 " + fats + layout.mkfs + " " + ShellQuote(img.string()) + " " +
      layout.kib + " >/dev/null; cd " + s + "; " + mtools + "mcopy -m" + i + "GONE.BIN TEXT.TXT ::; " +
      mtools + "mcopy -m" + i + "NOISE.BIN 'Long file name.dat' ::; " + mtools + "mmd" + i + "::SUB; " +
      mtools + "mcopy -m" + i + "SUB/INNER.TXT SUB/TAIL.BIN ::SUB/; " + mtools + "mdel" + i + "::GONE.BIN";
  const kdltest::CommandResult r = RunCommand(script, true);
  EXPECT_EQ(r.status, 0) << r.output;
  return img;
}

// What mtools copies off the disk, as a folder.
fs::path MtoolsTree(const kdltest::TempDir& dir, const fs::path& img) {
  const fs::path out = dir / "mtools";
  fs::create_directories(out);
  const kdltest::CommandResult r = RunCommand(
      kMtoolsEnv + "mcopy -s -m -i " + ShellQuote(img.string()) + " :: " + ShellQuote(out.string() + "/"),
      true);
  EXPECT_EQ(r.status, 0) << r.output;
  return out;
}

// Empty when the whole file system of the open image, copied out and read through the file stream, is what
// mtools read; else what differs.
std::string DiffersFromMtools(ImageState& image, const fs::path& expected, const fs::path& scratch) {
  fs::remove_all(scratch);
  fs::create_directories(scratch);
  if (CopyWholeImage(image, scratch, false, OverwritePolicy::kAll) != 0) return "the copy failed";
  const kdltest::CommandResult diff =
      RunCommand("diff -r " + ShellQuote(scratch.string()) + " " + ShellQuote(expected.string()), true);
  if (diff.status != 0) return "copy: " + diff.output;
  for (const auto& item : fs::recursive_directory_iterator(expected)) {
    if (!item.is_regular_file()) continue;
    const std::string path = fs::relative(item.path(), expected).string();
    const std::optional<ResolvedPath> r = ResolveImagePath(image, path);
    if (!r || !r->entry) return path + " is not listed";
    OpenFileStream(image, *r->entry);
    std::vector<uint8_t> bytes;
    for (int b; (b = NextFileByte(image)) >= 0;) bytes.push_back(static_cast<uint8_t>(b));
    if (bytes != ReadFile(item.path())) return path + " reads otherwise through the file stream";
  }
  return "";
}

class DiskOwnLayout : public testing::TestWithParam<OwnLayout> {};

// Creation stores every cluster of such a disk and says why; the image, the raw disk and an image that the
// writer made before with free clusters kept all browse by the disk's own layout, as mtools reads it.
TEST_P(DiskOwnLayout, IsStoredWholeAndBrowsesAsMtoolsReadsIt) {
  if (!kdltest::HaveTool("mkfs.fat") || !kdltest::HaveTool("mcopy"))
    GTEST_SKIP() << "mkfs.fat or mtools missing";
  const OwnLayout layout = GetParam();
  kdltest::ImageBench bench;
  const fs::path img = MakeDisk(bench.dir, layout);
  const std::vector<uint8_t> source = ReadFile(img);
  const std::optional<MediaGeometry> own =
      FatLayoutFromBootSector(ByteView(source.data(), source.size()), layout.type);
  ASSERT_TRUE(own && DiffersFromTable(*own, layout.type));
  const fs::path expected = MtoolsTree(bench.dir, img);

  HostDrives host({img.string()});
  DriveLayer drives(host, &bench.prompter);
  bench.work.omitUnused = true;
  const std::string kdl = (bench.dir / "disk.kdl").string();
  std::string typeLabel;
  ASSERT_GT(CreateImage(bench.image, drives, kdl, 1, {}, typeLabel), 0);
  // Types 6 and 7 are stored whole anyway; the others say why they are.
  if (CanOmitUnused(layout.type)) {
    ASSERT_EQ(bench.prompter.asks.size(), 1u);
    EXPECT_EQ(bench.prompter.asks[0].text,
              Format(drive_text::kStoredWholeOwnLayout, own->clusterSize, own->rootEntries));
    EXPECT_EQ(bench.prompter.asks[0].icon, Icon::kInformation);
  } else {
    EXPECT_TRUE(bench.prompter.asks.empty());
  }
  const KdlHeader stored = kdltest::StoredHeader(kdl);
  EXPECT_EQ(stored.omitUnused, 0);
  EXPECT_EQ(stored.geometry, MediaGeometryOf(layout.type)) << "the header keeps the table's geometry";
  const std::string raw = (bench.dir / "out.img").string();
  ASSERT_GT(WriteRawImage(bench.image, kdl, raw), 0);
  EXPECT_EQ(ReadFile(raw), source) << "every cluster is stored";

  ASSERT_GE(bench.image.OpenImage(kdl), 0);
  EXPECT_EQ(bench.image.layout, *own);
  EXPECT_EQ(DiffersFromMtools(bench.image, expected, bench.dir / "from-kdl"), "");
  bench.image.CloseImage();

  bench.work.dialogMode = kModeOpenRaw;
  bench.work.rawImagePath = img.string();
  ASSERT_GE(bench.image.OpenImage(""), 0);
  bench.work.dialogMode = kModeCreate;
  EXPECT_EQ(DiffersFromMtools(bench.image, expected, bench.dir / "from-raw"), "");
  bench.image.CloseImage();

  // Images written before the layout was read: whole, and with free clusters left out by the table's FAT.
  // The first browses completely; the second still lists its root as mtools does.
  const std::string whole = bench.Write("whole.kdl", kdltest::MakeKdl(source, layout.type).bytes);
  ASSERT_GE(bench.image.OpenImage(whole), 0);
  EXPECT_EQ(DiffersFromMtools(bench.image, expected, bench.dir / "from-whole"), "");
  bench.image.CloseImage();
  kdltest::KdlOptions omitted;
  omitted.omitUnused = CanOmitUnused(layout.type);
  const std::string old = bench.Write("old.kdl", kdltest::MakeKdl(source, layout.type, omitted).bytes);
  ASSERT_GE(bench.image.OpenImage(old), 0);
  std::set<std::string> names;
  for (size_t i = 0; i < bench.image.root.size(); ++i) {
    std::string name;
    if (!bench.image.root[i].IsLongNamePiece())
      names.insert((EntryDisplayName(bench.image.root, i, name), name));
  }
  std::set<std::string> mtoolsNames;
  for (const auto& item : fs::directory_iterator(expected))
    mtoolsNames.insert(item.path().filename().string());
  EXPECT_EQ(names, mtoolsNames);
  bench.image.CloseImage();
}

INSTANTIATE_TEST_SUITE_P(MkfsLayouts, DiskOwnLayout, testing::ValuesIn(kOwnLayouts));

// Free clusters are left out by the first FAT copy alone, so a disk whose copies disagree - the first calls
// free a cluster of TEXT.TXT that the second holds in use - is stored whole and says why. The same disk with
// agreeing copies leaves its free clusters out.
TEST(DiskFatCopies, CopiesThatDisagreeStoreTheDiskWhole) {
  if (!kdltest::HaveTool("mkfs.fat") || !kdltest::HaveTool("mcopy"))
    GTEST_SKIP() << "mkfs.fat or mtools missing";
  kdltest::ImageBench bench;
  const fs::path img = MakeDisk(bench.dir, {2, "-S 512 -s 1 -r 224 -g 2/18 -M 0xF0", "1440"});
  const std::vector<uint8_t> sound = ReadFile(img);
  std::vector<uint8_t> spoilt = sound;
  const size_t entry = 512 + 150 * 3 / 2;  // cluster 150 in the first copy
  ASSERT_NE(spoilt[entry] | (spoilt[entry + 1] & 0x0F), 0) << "cluster 150 should be in use";
  spoilt[entry] = 0;
  spoilt[entry + 1] &= 0xF0;
  for (const bool disagree : {false, true}) {
    SCOPED_TRACE(disagree);
    bench.prompter.Clear();
    const std::vector<uint8_t>& disk = disagree ? spoilt : sound;
    kdltest::WriteFile(img, disk);
    HostDrives host({img.string()});
    DriveLayer drives(host, &bench.prompter);
    bench.work.omitUnused = true;
    const std::string kdl = (bench.dir / (disagree ? "spoilt.kdl" : "sound.kdl")).string();
    std::string typeLabel;
    ASSERT_GT(CreateImage(bench.image, drives, kdl, 1, {}, typeLabel), 0);
    EXPECT_EQ(kdltest::StoredHeader(kdl).omitUnused, disagree ? 0 : 1);
    const std::string raw = (bench.dir / (disagree ? "spoilt.img" : "sound.img")).string();
    ASSERT_GT(WriteRawImage(bench.image, kdl, raw), 0);
    if (disagree) {
      EXPECT_EQ(bench.prompter.Texts(), std::vector<std::string>{drive_text::kStoredWholeFatCopies});
      EXPECT_TRUE(ReadFile(raw) == disk) << "every cluster is stored";
    } else {
      EXPECT_TRUE(bench.prompter.asks.empty());
      EXPECT_TRUE(ReadFile(raw) == kdltest::WithFreeClustersBlank(disk, 2));
      EXPECT_FALSE(ReadFile(raw) == disk) << "GONE.BIN left clusters that are free but not blank";
    }
  }
}

}  // namespace
}  // namespace kdl
