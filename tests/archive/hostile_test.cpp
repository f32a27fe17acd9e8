// Damaged and hostile archives, and files that are no images, meet clear errors: no crash, no read outside
// the file's records, and an archive that is refused something stays exactly as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "archive/archive_rig.h"
#include "archive/archive_runs.h"

namespace kdltest {
namespace {

namespace fs = std::filesystem;

const std::string kBrokenSecond = " : 2 番目のエントリーが正しくありません";

void PutI32(std::vector<uint8_t>& bytes, size_t at, int32_t v) {
  for (int i = 0; i < 4; ++i)
    bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
}

// A valid archive of two small images, its bytes and where its records are.
struct Small {
  ArchiveRig rig;
  std::vector<uint8_t> bytes;
  size_t second = 0;  // offset of the second record

  Small() {
    KdlOptions packed;
    packed.omitUnused = true;
    const std::string a =
        rig.Write("a.KDL", MakeKdl(ReadFile(Floppies() / "blank/type5.img"), 5, packed).bytes);
    const std::string b = rig.Write("b.KDL", MakeKdl(ReadFile(Floppies() / "type5.img"), 5, packed).bytes);
    EXPECT_EQ(rig.AddFiles("S.KDZ", {a, b}, true), 2);
    bytes = ReadFile(rig.Path("S.KDZ"));
    second = 160 + fs::file_size(a);
  }
  std::string Variant(const std::string& name, const std::vector<uint8_t>& content) {
    return rig.Write(name, content);
  }
};

TEST(ArchiveHostile, TruncatedArchivesListWhatIsWholeAndSayWhereTheyBreak) {
  Small s;
  for (size_t length :
       {size_t{0}, size_t{100}, size_t{127}, size_t{128}, size_t{140}, size_t{159}, size_t{1000},
        s.second - 1, s.second + 16, s.second + 200, s.bytes.size() - 33, s.bytes.size() - 1}) {
    SCOPED_TRACE("cut to " + std::to_string(length));
    const std::string path =
        s.Variant("cut.KDZ", {s.bytes.begin(), s.bytes.begin() + static_cast<ptrdiff_t>(length)});
    s.rig.prompter.Clear();
    if (length < 128) {
      // Not an archive at all: refused without a message of its own.
      EXPECT_LT(kdl::OpenArchive(s.rig.archive, path), 0);
      EXPECT_TRUE(s.rig.prompter.asks.empty());
      continue;
    }
    const std::vector<std::string> lines = s.rig.List("cut.KDZ");
    const size_t whole = length >= s.bytes.size() - 32 ? 2 : 0;
    EXPECT_EQ(lines.size(), whole);
    if (whole == 0) {
      ASSERT_FALSE(s.rig.prompter.asks.empty());
      EXPECT_EQ(s.rig.prompter.asks[0].caption, "KDZ Form");
      const std::string which = length < s.second ? " : 1 番目" : " : 2 番目";
      EXPECT_NE(s.rig.prompter.asks[0].text.find(which), std::string::npos) << s.rig.prompter.asks[0].text;
    }
    EXPECT_GT(s.rig.Report("cut.KDZ"), whole == 2 ? -1 : 0);
    // Nothing is cut out of, or appended to, an archive whose chain cannot be walked that far.
    if (whole == 0) {
      EXPECT_TRUE(s.rig.Extract("cut.KDZ", length < s.second ? 0 : 1).empty());
      EXPECT_EQ(s.rig.AddFiles("cut.KDZ", {s.rig.Path("a.KDL")}, false), -1);
      EXPECT_EQ(fs::file_size(path), length);
    }
  }
}

TEST(ArchiveHostile, WrongMagicIsNoArchive) {
  Small s;
  std::vector<uint8_t> bytes = s.bytes;
  bytes[0] = 'X';
  s.Variant("m.KDZ", bytes);
  EXPECT_LT(kdl::OpenArchive(s.rig.archive, s.rig.Path("m.KDZ")), 0);
  EXPECT_TRUE(s.rig.prompter.asks.empty());
  EXPECT_EQ(s.rig.AddFiles("m.KDZ", {s.rig.Path("a.KDL")}, false), -1);
  EXPECT_TRUE(ReadFile(s.rig.Path("m.KDZ")) == bytes);
}

TEST(ArchiveHostile, NegativeAndOversizedLengthsEndTheWalk) {
  Small s;
  for (int32_t length : {-1, INT32_MIN, 0x7FFFFFFF, static_cast<int32_t>(s.bytes.size())}) {
    SCOPED_TRACE(length);
    std::vector<uint8_t> bytes = s.bytes;
    PutI32(bytes, s.second + 13, length);
    s.Variant("n.KDZ", bytes);
    s.rig.prompter.Clear();
    const std::vector<std::string> lines = s.rig.List("n.KDZ");
    EXPECT_TRUE(lines.empty());
    EXPECT_TRUE(s.rig.prompter.Asked(s.rig.Path("n.KDZ") + kBrokenSecond));
    // The first image is still there to be read and cut out.
    EXPECT_EQ(s.rig.Extract("n.KDZ", 0).size(), s.second - 160);
    EXPECT_TRUE(s.rig.Extract("n.KDZ", 1).empty());
    EXPECT_EQ(s.rig.Report("n.KDZ"), 1);
  }
}

TEST(ArchiveHostile, ACountLargerThanTheChainListsTheChainAndRefusesToAppend) {
  Small s;
  std::vector<uint8_t> bytes = s.bytes;
  bytes[94] = 5;
  const std::string path = s.Variant("c.KDZ", bytes);
  // The chain is listed, and the missing third entry is told: list and test fail.
  ASSERT_GE(kdl::OpenArchive(s.rig.archive, path), 0);
  size_t lines = 0;
  EXPECT_EQ(kdl::ListArchive(s.rig.archive, [&](const std::string&) { ++lines; }), -1);
  kdl::CloseArchive(s.rig.archive);
  EXPECT_EQ(lines, 2u);
  EXPECT_TRUE(s.rig.prompter.Asked(path + " : 3 番目のエントリーが正しくありません"));
  EXPECT_EQ(s.rig.Report("c.KDZ"), 1);
  s.rig.prompter.Clear();
  EXPECT_EQ(s.rig.AddFiles("c.KDZ", {s.rig.Path("a.KDL")}, false), -1);
  EXPECT_TRUE(s.rig.prompter.Asked(path + " : 3 番目のエントリーが正しくありません"));
  EXPECT_TRUE(ReadFile(path) == bytes);
}

TEST(ArchiveHostile, ACountSmallerThanTheChainIsNotAppendedOver) {
  Small s;
  for (int count : {0, -3}) {
    SCOPED_TRACE(count);
    std::vector<uint8_t> bytes = s.bytes;
    bytes[94] = static_cast<uint8_t>(count);
    bytes[95] = static_cast<uint8_t>(static_cast<uint16_t>(count) >> 8);
    const std::string path = s.Variant("z.KDZ", bytes);
    EXPECT_TRUE(s.rig.List("z.KDZ").empty());
    s.rig.prompter.Clear();
    EXPECT_EQ(s.rig.AddFiles("z.KDZ", {s.rig.Path("a.KDL")}, false), -1);
    EXPECT_TRUE(s.rig.prompter.Asked(path + " : ヘッダーのイメージ数 " + std::to_string(count) +
                                     " とエントリーの数 2 が一致しません"));
    EXPECT_TRUE(ReadFile(path) == bytes);
  }
}

TEST(ArchiveHostile, AnImageWithoutItsMagicIsReportedAndTheRestStillServes) {
  Small s;
  std::vector<uint8_t> bytes = s.bytes;
  bytes[160] = 'Q';
  bytes[159] ^= 0x55;  // a wrong checksum byte changes nothing
  s.Variant("i.KDZ", bytes);
  const std::vector<std::string> lines = s.rig.List("i.KDZ");
  ASSERT_EQ(lines.size(), 2u);
  std::vector<std::string> report;
  EXPECT_EQ(s.rig.Report("i.KDZ", &report), 1);
  EXPECT_TRUE(s.rig.prompter.Asked("DISK1 はカドローンではありません"));
  std::string length = std::to_string(bytes.size() - 32 - s.second - 32);
  length.insert(0, 8 - length.size(), ' ');
  const std::string first =
      "KDL :DISK2       FDD type:2D (360K)  " + length + " Bytes  Created " + lines[1].substr(22, 14);
  EXPECT_NE(std::find(report.begin(), report.end(), first), report.end()) << first;
  EXPECT_EQ(s.rig.Extract("i.KDZ", 0).size(), s.second - 160);
}

TEST(ArchiveHostile, FilesThatAreNoImagesAreRefusedAndTheArchiveStaysAsItWas) {
  Small s;
  const std::vector<uint8_t> good = ReadFile(s.rig.Path("b.KDL"));
  std::vector<uint8_t> noMagic = good;
  noMagic[3] = 'x';
  std::vector<uint8_t> badGeometry = good;
  badGeometry[32] = 90;  // 90 cylinders cannot be held by the track directory
  std::vector<uint8_t> pastEnd(good.begin(), good.end() - 1);
  // The unit whose stored bytes end the file.
  const kdl::TrackDirectory directory = *kdl::ParseTrackDirectory(kdl::ByteView(good.data() + 256, 1280));
  int last = 0;
  for (int unit = 0; unit < 40; ++unit) {
    if (directory[static_cast<size_t>(unit)].kind != kdl::kTrackSameByte) last = unit;
  }
  std::vector<uint8_t> rawShort = ReadFile(Floppies() / "type2.img");
  rawShort.resize(100000);
  std::vector<uint8_t> rawUnknown(368640, 0);
  struct Case {
    std::string name;
    std::vector<uint8_t> bytes;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"nomagic.KDL", noMagic, "nomagic.KDL はカドローンではありません"},
      {"geometry.KDL", badGeometry, "geometry.KDL のディスク形式情報が正しくありません"},
      {"pastend.KDL", pastEnd,
       "pastend.KDL TRK:" + std::to_string(last) + "  トラック情報が正しくありません"},
      {"short.img", rawShort, "short.img はディスクの大きさに足りません"},
      {"unknown.img", rawUnknown, "サポートしていないディスクです"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source = s.rig.Write(c.name, c.bytes);
    s.rig.prompter.Clear();
    EXPECT_EQ(s.rig.AddFiles("S.KDZ", {source}, false), 0);
    ASSERT_EQ(s.rig.prompter.asks.size(), 1u);
    EXPECT_NE(s.rig.prompter.asks[0].text.find(c.message), std::string::npos) << s.rig.prompter.asks[0].text;
    EXPECT_TRUE(ReadFile(s.rig.Path("S.KDZ")) == s.bytes);
  }
  s.rig.prompter.Clear();
  EXPECT_EQ(s.rig.AddFiles("S.KDZ", {s.rig.Path("missing.KDL")}, false), 0);
  EXPECT_TRUE(s.rig.prompter.Asked("入力ファイルがありません"));
  EXPECT_EQ(s.rig.AddFiles("S.KDZ", {s.rig.dir.path().string()}, false), 0);
  EXPECT_TRUE(s.rig.prompter.Asked("入力ファイルがオープンできません"));
  // Adding the archive to itself would copy a file that grows while it is read.
  EXPECT_EQ(s.rig.AddFiles("S.KDZ", {s.rig.Path("S.KDZ")}, false), 0);
  EXPECT_TRUE(s.rig.prompter.Asked(s.rig.Path("S.KDZ") + " はアーカイブ自身です"));
  EXPECT_TRUE(ReadFile(s.rig.Path("S.KDZ")) == s.bytes);
  // Nor is the archive cut out onto itself.
  ASSERT_GE(kdl::OpenArchive(s.rig.archive, s.rig.Path("S.KDZ")), 0);
  EXPECT_LT(kdl::ExtractEntry(s.rig.archive, s.rig.Path("S.KDZ"), 0), 0);
  kdl::CloseArchive(s.rig.archive);
  EXPECT_TRUE(ReadFile(s.rig.Path("S.KDZ")) == s.bytes);
}

TEST(ArchiveHostile, NoImageIsAddedPastDisk9999) {
  ArchiveRig rig;
  // 9,999 entries of zero length: a chain the walk accepts, short enough to build here.
  std::vector<uint8_t> bytes(128 + 9999 * 32 + 32, 0);
  const std::string head = "KDZ_FILE0010";
  std::copy(head.begin(), head.end(), bytes.begin());
  bytes[94] = 9999 & 0xFF;
  bytes[95] = 9999 >> 8;
  for (int i = 0; i < 9999; ++i) {
    const size_t at = 128 + static_cast<size_t>(i) * 32;
    std::string name = " DISK" + std::to_string(i + 1);
    name.resize(9, ' ');
    std::copy(name.begin(), name.end(), bytes.begin() + static_cast<ptrdiff_t>(at));
  }
  rig.Write("full.KDZ", bytes);
  EXPECT_EQ(rig.List("full.KDZ").back().substr(0, 8), "DISK9999");
  const std::string img = rig.Write("x.img", ReadFile(Floppies() / "blank/type5.img"));
  EXPECT_EQ(rig.AddFiles("full.KDZ", {img}, false), 0);
  EXPECT_TRUE(rig.prompter.Asked("アーカイブに追加できるのは 9999 枚までです"));
  EXPECT_TRUE(ReadFile(rig.Path("full.KDZ")) == bytes);
}

TEST(ArchiveHostile, AHostileEntryNameNeverLeavesTheCopyFolder) {
  Small s;
  std::vector<uint8_t> bytes = s.bytes;
  const std::string evil = "../../x";
  std::copy(evil.begin(), evil.end(), bytes.begin() + 129);
  s.Variant("h.KDZ", bytes);
  const fs::path out = s.rig.dir / "deep" / "out";
  fs::create_directories(out);
  s.rig.archive.path = s.rig.Path("h.KDZ");
  EXPECT_EQ(kdl::CopyAllImages(s.rig.archive, s.rig.image, out, false, kdl::OverwritePolicy::kAll,
                               kdl::kOpenArchiveFirst | kdl::kCloseArchiveAfter),
            0);
  EXPECT_FALSE(fs::exists(s.rig.dir / "x"));
  size_t folders = 0;
  for (const auto& e : fs::directory_iterator(out)) folders += e.is_directory() ? 1 : 0;
  EXPECT_EQ(folders, 2u);
  EXPECT_TRUE(fs::exists(out / "DISK2" / "README.TXT"));
}

}  // namespace
}  // namespace kdltest
