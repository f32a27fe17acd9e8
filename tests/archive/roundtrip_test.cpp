// Images in, images out: image files, raw images and disks read through a file drive go into archives and
// come back byte for byte, listed, reported and copied out as mtools sees the same disks.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "archive/archive_rig.h"
#include "archive/archive_runs.h"
#include "drive/host_drive.h"
#include "image/create.h"

namespace kdltest {
namespace {

namespace fs = std::filesystem;

std::string Padded(std::string line) {
  line.resize(80, ' ');
  return line;
}

int64_t FileSize(const std::string& path) { return static_cast<int64_t>(fs::file_size(path)); }

// The track units of the image at the archive's current base offset, restored.
std::vector<uint8_t> UnitsAtBase(ArchiveRig& rig) {
  std::vector<uint8_t> out;
  if (rig.image.OpenImage(rig.work.currentImagePath) < 0) return out;
  const kdl::MediaGeometry& g = rig.image.header.geometry;
  for (int unit = 0; unit < g.cylinders; ++unit) {
    if (rig.image.ReadTrack(unit) != 0) return {};
    out.insert(out.end(), rig.image.track.begin(), rig.image.track.begin() + g.trackSize);
  }
  rig.image.CloseImage();
  return out;
}

// Reads the disks through the host's file drives, one per round, as `kdl add A:` does with a real drive.
class FileDriveAdder : public kdl::ImageAdder {
 public:
  explicit FileDriveAdder(std::vector<std::string> disks) : disks_(std::move(disks)) {}
  bool WantsAnother() override { return next_ < disks_.size(); }
  int64_t AddImage(kdl::ArchiveState& archive, kdl::ImageState& image) override {
    kdl::HostDrives host({disks_[next_++]});
    kdl::DriveLayer drives(host, archive.work().prompter);
    std::string typeLabel;
    return kdl::CreateImage(image, drives, archive.work().currentImagePath, 1, {}, typeLabel);
  }

 private:
  std::vector<std::string> disks_;
  size_t next_ = 0;
};

TEST(ArchiveRoundTrip, ImageFilesAndRawImagesOfEveryTypeComeBackByteForByte) {
  ArchiveRig rig;
  std::vector<std::string> sources;
  std::vector<std::vector<uint8_t>> raws;
  for (int type = 0; type < kdl::kMediaTypeCount; ++type) {
    raws.push_back(ReadFile(Floppies() / ("type" + std::to_string(type) + ".img")));
    KdlOptions options;
    options.omitUnused = kdl::CanOmitUnused(type);
    options.labels[0] = "FIRST LABEL " + std::to_string(type);
    const std::string kdl =
        rig.Write("type" + std::to_string(type) + ".KDL", MakeKdl(raws.back(), type, options).bytes);
    const std::string raw = rig.Write("type" + std::to_string(type) + ".img", raws.back());
    SetLocalMtime(kdl, 2001, 2, 3, 4, 5, 6);
    SetLocalMtime(raw, 2099, 12, 31, 23, 58, 0);
    sources.push_back(kdl);
    sources.push_back(raw);
  }
  ASSERT_EQ(rig.AddFiles("ALL.KDZ", sources, true, {"archive one", "archive two"}), 16);
  EXPECT_TRUE(rig.prompter.asks.empty()) << rig.prompter.asks[0].text;

  int64_t expectedSize = 128 + 32;
  for (const std::string& s : sources) expectedSize += 32 + FileSize(s) + (s.ends_with(".img") ? 1536 : 0);
  EXPECT_EQ(FileSize(rig.Path("ALL.KDZ")), expectedSize);

  const std::vector<std::string> lines = rig.List("ALL.KDZ");
  ASSERT_EQ(lines.size(), 16u);
  EXPECT_EQ(lines[0], Padded("DISK1     2HD(1.25M)  01-02-03 04:05  FIRST LABEL 0"));
  EXPECT_EQ(lines[1], Padded("DISK2     2HD(1.25M)  99-12-31 23:58  Volume LABEL : KDLW TYPE 0"));
  EXPECT_EQ(lines[9], Padded("DISK10    2DD(640K)   99-12-31 23:58  Volume LABEL : KDLW TYPE 4"));
  EXPECT_EQ(lines[15], Padded("DISK16    DMF(Win95)  99-12-31 23:58  Volume LABEL : KDLW TYPE 7"));
  EXPECT_EQ(rig.Report("ALL.KDZ"), 0);

  for (int32_t i = 0; i < 16; ++i) {
    SCOPED_TRACE("image " + std::to_string(i));
    const std::vector<uint8_t> cut = rig.Extract("ALL.KDZ", i);
    if (i % 2 == 0) {
      EXPECT_TRUE(cut == ReadFile(sources[static_cast<size_t>(i)]));
    } else {
      // A raw image is stored behind a header and directory made for it; its units read back as the disk.
      ASSERT_EQ(cut.size(), raws[static_cast<size_t>(i / 2)].size() + 1536);
      EXPECT_TRUE(std::equal(cut.begin() + 1536, cut.end(), raws[static_cast<size_t>(i / 2)].begin()));
      ASSERT_GE(kdl::OpenArchive(rig.archive, rig.Path("ALL.KDZ")), 0);
      ASSERT_EQ(kdl::PositionOnEntry(rig.archive, i), 1);
      rig.work.currentImagePath = "DISK";
      EXPECT_TRUE(UnitsAtBase(rig) == raws[static_cast<size_t>(i / 2)]);
      kdl::CloseArchive(rig.archive);
    }
    struct stat st {};
    ASSERT_EQ(stat(rig.Path("extract-" + std::to_string(i) + ".KDL").c_str(), &st), 0);
    struct stat src {};
    ASSERT_EQ(stat(sources[static_cast<size_t>(i)].c_str(), &src), 0);
    EXPECT_EQ(st.st_mtime, src.st_mtime);
  }
}

TEST(ArchiveRoundTrip, DisksReadThroughFileDrivesAreStampedNowAndReadBack) {
  ArchiveRig rig;
  rig.work.omitUnused = false;
  std::vector<std::string> disks;
  for (int type : {0, 3, 6, 7})
    disks.push_back((Floppies() / ("type" + std::to_string(type) + ".img")).string());
  FileDriveAdder adder(disks);
  const uint32_t before = kdl::LocalDosDateTime();
  ASSERT_EQ(kdl::AddFloppies(rig.archive, rig.image, rig.Path("D.KDZ"), kdl::kCreateArchive, {}, adder), 4);
  const uint32_t after = kdl::LocalDosDateTime();

  kdl::RewindArchive(rig.archive);
  for (const std::string& disk : disks) {
    SCOPED_TRACE(disk);
    ASSERT_EQ(kdl::ReadEntry(rig.archive), 1);
    EXPECT_GE(rig.archive.entry.DosDateTime(), before);
    EXPECT_LE(rig.archive.entry.DosDateTime(), after);
    rig.work.currentImagePath = rig.archive.entry.NameText();
    EXPECT_TRUE(UnitsAtBase(rig) == ReadFile(disk));
    kdl::SkipImage(rig.archive);
  }
  EXPECT_EQ(kdl::ReadEntry(rig.archive), 0);
  kdl::CloseArchive(rig.archive);
  EXPECT_EQ(rig.Report("D.KDZ"), 0);
}

TEST(ArchiveRoundTrip, CopyingAllImagesGivesWhatMcopyGivesForEachDisk) {
  ArchiveRig rig;
  std::vector<std::string> sources;
  for (int type = 0; type < kdl::kMediaTypeCount; ++type) {
    const std::vector<uint8_t> raw = ReadFile(Floppies() / ("type" + std::to_string(type) + ".img"));
    KdlOptions options;
    options.omitUnused = kdl::CanOmitUnused(type);
    sources.push_back(rig.Write("t" + std::to_string(type) + ".KDL", MakeKdl(raw, type, options).bytes));
  }
  ASSERT_EQ(rig.AddFiles("C.KDZ", sources, true), 8);
  const fs::path out = rig.dir / "out";
  fs::create_directory(out);
  rig.archive.path = rig.Path("C.KDZ");
  std::vector<std::string> shown;
  ASSERT_EQ(kdl::CopyAllImages(rig.archive, rig.image, out, false, kdl::OverwritePolicy::kNewer,
                               kdl::kOpenArchiveFirst | kdl::kCloseArchiveAfter,
                               [&](std::string_view s) { shown.emplace_back(s); }),
            0);
  EXPECT_TRUE(rig.prompter.asks.empty()) << rig.prompter.asks[0].text;
  for (int type = 0; type < kdl::kMediaTypeCount; ++type) {
    SCOPED_TRACE("type " + std::to_string(type));
    const fs::path theirs = Floppies() / ("type" + std::to_string(type) + ".files");
    EXPECT_EQ(CompareWithMcopy(out / ("DISK" + std::to_string(type + 1)), theirs), "");
  }
  ASSERT_EQ(shown.size(), 9u);
  EXPECT_EQ(shown[0], "処理中　KDL:DISK1");
  EXPECT_EQ(shown[8], "");
  EXPECT_FALSE(rig.archive.IsOpen());
}

TEST(ArchiveRoundTrip, CopyAllStopsWhereAnImageFolderCannotBeMadeAndLeavesTheArchiveOpen) {
  ArchiveRig rig;
  const std::vector<uint8_t> raw = ReadFile(Floppies() / "type5.img");
  const std::string img = rig.Write("t5.img", raw);
  ASSERT_EQ(rig.AddFiles("C.KDZ", {img, img}, true), 2);
  const fs::path out = rig.dir / "out";
  fs::create_directory(out);
  // A file where the second image's folder should go; a link there must not be followed either.
  WriteFile(out / "DISK2", {1});
  ASSERT_GE(kdl::OpenArchive(rig.archive, rig.Path("C.KDZ")), 0);
  EXPECT_EQ(kdl::CopyAllImages(rig.archive, rig.image, out, false, kdl::OverwritePolicy::kAll, 0), -1);
  EXPECT_TRUE(rig.prompter.Asked("コピー先ディレクトリが作成できません"));
  EXPECT_TRUE(fs::exists(out / "DISK1" / "README.TXT"));
  EXPECT_TRUE(rig.archive.IsOpen());
  kdl::CloseArchive(rig.archive);
}

TEST(ArchiveRoundTrip, NewArchivesAndAppendsKeepTheirLayout) {
  ArchiveRig rig;
  // A label of exactly 40 bytes fills its area; the zero byte after it stays.
  const std::string forty(40, 'L');
  ASSERT_EQ(rig.AddFiles("E.KDZ", {}, true, {forty, "two"}), 0);
  std::vector<uint8_t> bytes = ReadFile(rig.Path("E.KDZ"));
  ASSERT_EQ(bytes.size(), 160u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 12), "KDZ_FILE0010");
  EXPECT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 52), forty);
  EXPECT_EQ(bytes[52], 0);
  EXPECT_EQ(std::string(bytes.begin() + 53, bytes.begin() + 93), "two" + std::string(37, ' '));
  EXPECT_EQ(bytes[93], 0);
  EXPECT_TRUE(std::all_of(bytes.begin() + 94, bytes.end(), [](uint8_t b) { return b == 0; }));

  // A longer label is cut to the area: the byte after it stays zero.
  ASSERT_EQ(rig.AddFiles("F.KDZ", {}, true, {std::string(45, 'M'), ""}), 0);
  const std::vector<uint8_t> cut = ReadFile(rig.Path("F.KDZ"));
  EXPECT_EQ(std::string(cut.begin() + 12, cut.begin() + 52), std::string(40, 'M'));
  EXPECT_EQ(cut[52], 0);

  const std::string img = rig.Write("t5.img", ReadFile(Floppies() / "type5.img"));
  ASSERT_EQ(rig.AddFiles("E.KDZ", {img, img, img}, false), 3);
  const int64_t terminator = FileSize(rig.Path("E.KDZ")) - 32;
  ASSERT_EQ(rig.AddFiles("E.KDZ", {img}, false), 1);
  bytes = ReadFile(rig.Path("E.KDZ"));
  // The fourth record replaces the old terminator; the count says 4.
  EXPECT_EQ(std::string(bytes.begin() + terminator, bytes.begin() + terminator + 9), " DISK4   ");
  EXPECT_EQ(bytes[94], 4);
  EXPECT_EQ(static_cast<int64_t>(bytes.size()), terminator + 32 + 368640 + 1536 + 32);
  uint8_t sum = 0;
  for (int i = 0; i < 31; ++i) sum = static_cast<uint8_t>(sum + bytes[static_cast<size_t>(terminator + i)]);
  EXPECT_EQ(bytes[static_cast<size_t>(terminator + 31)], sum);
}

TEST(ArchiveRoundTrip, LabelsAreRewrittenInPlace) {
  ArchiveRig rig;
  const std::string img = rig.Write("t3.img", ReadFile(Floppies() / "type3.img"));
  ASSERT_EQ(rig.AddFiles("L.KDZ", {img, img}, true, {"old", "old"}), 2);
  const std::vector<uint8_t> before = ReadFile(rig.Path("L.KDZ"));

  // "あ" is two bytes in Shift-JIS: 39 + 2 bytes cannot fit, so the character goes, never half of it.
  const std::string sjisA = "\x82\xA0";
  ASSERT_EQ(kdl::WriteArchiveLabels(rig.archive, rig.Path("L.KDZ"),
                                    kdl::kOpenArchiveFirst | kdl::kCloseArchiveAfter,
                                    {"new label", std::string(39, 'x') + sjisA}),
            0);
  std::vector<uint8_t> after = ReadFile(rig.Path("L.KDZ"));
  ASSERT_EQ(after.size(), before.size());
  EXPECT_TRUE(std::equal(after.begin() + 128, after.end(), before.begin() + 128));
  EXPECT_EQ(std::string(after.begin() + 12, after.begin() + 52), "new label" + std::string(31, ' '));
  EXPECT_EQ(std::string(after.begin() + 53, after.begin() + 93), std::string(39, 'x') + " ");
  EXPECT_EQ(after[52], 0);
  EXPECT_EQ(after[93], 0);
  EXPECT_EQ(after[94], 2);
  EXPECT_TRUE(rig.work.listChanged);

  // The labels of an image inside the archive: only its header's label bytes change.
  ASSERT_GE(kdl::OpenArchive(rig.archive, rig.Path("L.KDZ")), 0);
  ASSERT_EQ(kdl::PositionOnEntry(rig.archive, 1), 1);
  const int64_t base = rig.archive.baseOffset();
  ASSERT_EQ(
      kdl::WriteLabels(rig.image, "DISK2", kdl::kOpenFirst | kdl::kCloseAfter, {"image label", "", "", ""}),
      0);
  kdl::CloseArchive(rig.archive);
  const std::vector<uint8_t> relabelled = ReadFile(rig.Path("L.KDZ"));
  for (size_t i = 0; i < relabelled.size(); ++i) {
    const bool labelByte = static_cast<int64_t>(i) >= base + 60 && static_cast<int64_t>(i) < base + 224;
    if (!labelByte) {
      ASSERT_EQ(relabelled[i], after[i]) << "byte " << i;
    }
  }
  EXPECT_EQ(std::string(relabelled.begin() + base + 60, relabelled.begin() + base + 71), "image label");
  EXPECT_EQ(rig.List("L.KDZ")[1].substr(38, 11), "image label");
}

TEST(ArchiveRoundTrip, AnArchiveOpenOnlyForReadingServesButTakesNothing) {
  ArchiveRig rig;
  const std::string img = rig.Write("t5.img", ReadFile(Floppies() / "type5.img"));
  ASSERT_EQ(rig.AddFiles("W.KDZ", {img}, true), 1);
  const std::vector<uint8_t> before = ReadFile(rig.Path("W.KDZ"));
  ASSERT_GE(kdl::OpenArchive(rig.archive, rig.Path("W.KDZ")), 0);
  // What OpenArchive sets when only a read-only open succeeds.
  rig.work.readOnly = true;
  FileAdder adder({img});
  EXPECT_EQ(kdl::AddFloppies(rig.archive, rig.image, rig.Path("W.KDZ"), 0, {}, adder), -1);
  EXPECT_TRUE(rig.prompter.Asked("書き込み禁止ファイルです。更新できません"));
  rig.prompter.Clear();
  EXPECT_EQ(kdl::WriteArchiveLabels(rig.archive, rig.Path("W.KDZ"), 0, {"x", "y"}), -1);
  EXPECT_TRUE(rig.prompter.Asked("書き込み禁止ファイルです。更新できません"));
  std::vector<std::string> lines;
  EXPECT_EQ(kdl::ListArchive(rig.archive, [&](const std::string& l) { lines.push_back(l); }), 1);
  EXPECT_EQ(kdl::ExtractEntry(rig.archive, rig.Path("x.KDL"), 0), static_cast<int64_t>(before.size() - 192));
  kdl::CloseArchive(rig.archive);
  EXPECT_TRUE(ReadFile(rig.Path("W.KDZ")) == before);
}

TEST(ArchiveRoundTrip, ReportListsEveryImageUnderItsEntry) {
  ArchiveRig rig;
  const std::string img = rig.Write("t2.img", ReadFile(Floppies() / "type2.img"));
  SetLocalMtime(img, 2002, 3, 4, 5, 6, 8);
  ASSERT_EQ(rig.AddFiles("R.KDZ", {img, img}, true), 2);
  std::vector<std::string> lines;
  ASSERT_EQ(rig.Report("R.KDZ", &lines), 0);
  ASSERT_GT(lines.size(), 10u);
  // 128 + 2 x (32 + 1,474,560 + 1,536) + 32 bytes.
  EXPECT_EQ(lines[0].rfind("FILE:" + rig.Path("R.KDZ") + "  2952416 Bytes  Created ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], " ");
  EXPECT_EQ(lines[2], " ");
  EXPECT_EQ(lines[3], "KDL :DISK1       FDD type:2HC(1.44M)  1476096 Bytes  Created 02-03-04 05:06");
  EXPECT_EQ(lines[4], "VOLUME LABEL KDLW TYPE 2     CREATED  96-08-24 12:00");
  EXPECT_EQ(std::count(lines.begin(), lines.end(),
                       "KDL :DISK2       FDD type:2HC(1.44M)  1476096 Bytes  Created "
                       "02-03-04 05:06"),
            1);
}

}  // namespace
}  // namespace kdltest
