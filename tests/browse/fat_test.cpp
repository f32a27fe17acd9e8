// The FAT12 reader on disks built in code: names, dates, chains, subdirectories and file streams, including
// damaged chains and long names.
#include "browse/fat.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/image_builder.h"

namespace kdl {
namespace {

using kdltest::EntryOptions;
using kdltest::FatDiskBuilder;
using kdltest::ImageBench;

EntryOptions Long(std::u16string name) {
  EntryOptions o;
  o.longName = std::move(name);
  return o;
}

EntryOptions CaseFlags(uint8_t flags) {
  EntryOptions o;
  o.caseFlags = flags;
  return o;
}

class FatReader : public ::testing::Test {
 protected:
  FatReader() : disk_(3) {}

  void Open() {
    ASSERT_GE(
        image_.OpenImage(bench_.Write("f.KDL", kdltest::MakeKdl(disk_.bytes(), disk_.mediaType()).bytes)), 0);
  }
  // Index of the short entry with these 11 name bytes in `table`.
  static size_t IndexOf(const DirectoryTable& table, std::string_view name11) {
    for (size_t i = 0; i < table.size(); ++i) {
      if (!table[i].IsLongNamePiece() && std::memcmp(table[i].bytes().data(), name11.data(), 11) == 0)
        return i;
    }
    ADD_FAILURE() << "no entry " << name11;
    return 0;
  }
  std::string Display(const DirectoryTable& table, std::string_view name11, int* result = nullptr) {
    std::string name;
    const int r = EntryDisplayName(table, IndexOf(table, name11), name);
    if (result != nullptr) *result = r;
    return name;
  }
  std::vector<uint8_t> ReadStream(const DirectoryEntry& entry) {
    OpenFileStream(image_, entry);
    std::vector<uint8_t> bytes;
    for (int b = NextFileByte(image_); b >= 0; b = NextFileByte(image_))
      bytes.push_back(static_cast<uint8_t>(b));
    return bytes;
  }
  const DirectoryEntry& Root(std::string_view name11) { return image_.root[IndexOf(image_.root, name11)]; }

  FatDiskBuilder disk_;
  ImageBench bench_;
  ImageState& image_ = bench_.image;
};

TEST_F(FatReader, LongNamesOverTwoAndThreePiecesAndTheLimitOfTwentyPieces) {
  const std::u16string twenty(260, u'n');
  disk_.AddFile(FatDiskBuilder::kRoot, "FIRST   TXT", {});
  disk_.AddFile(FatDiskBuilder::kRoot, "LONGTW~1TXT", {}, Long(u"Long name two.txt"));
  disk_.AddFile(FatDiskBuilder::kRoot, "ARATHE~1BIN", {}, Long(u"A rather long file name.bin"));
  disk_.AddFile(FatDiskBuilder::kRoot, "NIHONG~1TXT", {}, Long(u"日本語の名前.txt"));
  disk_.AddFile(FatDiskBuilder::kRoot, "TWENTY~1   ", {}, Long(twenty));
  disk_.AddFile(FatDiskBuilder::kRoot, "TWENTY~2   ", {}, Long(twenty + u"x"));
  Open();
  int result = -1;
  EXPECT_EQ(Display(image_.root, "LONGTW~1TXT", &result), "Long name two.txt");
  EXPECT_EQ(result, 1);
  EXPECT_EQ(Display(image_.root, "ARATHE~1BIN", &result), "A rather long file name.bin");
  EXPECT_EQ(result, 1);
  EXPECT_EQ(Display(image_.root, "NIHONG~1TXT"), "日本語の名前.txt");
  EXPECT_EQ(Display(image_.root, "TWENTY~1   ", &result), std::string(260, 'n'));
  EXPECT_EQ(result, 1);
  // Twenty-one pieces do not fit the 260-unit buffer: the 8.3 name stands.
  EXPECT_EQ(Display(image_.root, "TWENTY~2   ", &result), "TWENTY~2");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Display(image_.root, "FIRST   TXT", &result), "FIRST.TXT");
  EXPECT_EQ(result, 0);
}

TEST_F(FatReader, BrokenLongNamesFallBackToTheShortName) {
  const std::u16string name = u"A rather long file name.bin";  // three pieces
  auto add = [&](std::string_view name11, auto&& damage) {
    std::vector<DirectoryEntry> pieces = FatDiskBuilder::LongNamePieces(name, name11);
    damage(pieces);
    for (const DirectoryEntry& p : pieces) disk_.AddEntry(FatDiskBuilder::kRoot, p);
    disk_.AddEntry(FatDiskBuilder::kRoot, FatDiskBuilder::ShortEntry(name11, {}, 0, 0));
  };
  add("CHECKSUMBIN", [](auto& p) { p[1].bytes()[13] ^= 1; });
  add("MISSING BIN", [](auto& p) { p.erase(p.begin() + 1); });
  add("ORDER   BIN", [](auto& p) { std::swap(p[1], p[2]); });
  add("NOLAST  BIN", [](auto& p) { p[0].bytes()[0] &= 0x3F; });
  add("DELETED BIN", [](auto& p) { p[2].bytes()[0] = kDeletedMark; });
  add("INTACT  BIN", [](auto&) {});
  Open();
  for (std::string_view n : {"CHECKSUMBIN", "MISSING BIN", "ORDER   BIN", "NOLAST  BIN", "DELETED BIN"}) {
    int result = -1;
    const std::string shown = Display(image_.root, n, &result);
    EXPECT_EQ(shown, ShortName(image_.root[IndexOf(image_.root, n)])) << n;
    EXPECT_EQ(result, 0) << n;
  }
  EXPECT_EQ(Display(image_.root, "INTACT  BIN"), "A rather long file name.bin");
}

TEST_F(FatReader, ShortNamesCaseFlagsAndShiftJis) {
  disk_.AddFile(FatDiskBuilder::kRoot, "README  TXT", {}, CaseFlags(0x18));
  disk_.AddFile(FatDiskBuilder::kRoot, "NAMEONLYTXT", {}, CaseFlags(0x08));
  disk_.AddFile(FatDiskBuilder::kRoot, "EXTONLY TXT", {}, CaseFlags(0x10));
  disk_.AddFile(FatDiskBuilder::kRoot, "PLAIN   TXT", {});
  disk_.AddFile(FatDiskBuilder::kRoot, "NOEXT      ", {}, CaseFlags(0x18));
  disk_.AddFile(FatDiskBuilder::kRoot, "\x83\x65\x83\x58\x83\x67  TXT", {});  // テスト
  disk_.AddFile(FatDiskBuilder::kRoot,
                "\x83\x41"
                "B     TXT",
                {}, CaseFlags(0x08));  // ア: its second byte is 'A'
  disk_.AddFile(FatDiskBuilder::kRoot,
                "\x05\x41"
                "BC    TXT",
                {});  // stands for 0xE5 0x41
  Open();
  int result = -1;
  EXPECT_EQ(Display(image_.root, "README  TXT", &result), "readme.txt");
  EXPECT_EQ(result, 2);
  EXPECT_EQ(ShortName(Root("README  TXT")), "README.TXT");
  EXPECT_EQ(Display(image_.root, "NAMEONLYTXT"), "nameonly.TXT");
  EXPECT_EQ(Display(image_.root, "EXTONLY TXT", &result), "EXTONLY.txt");
  EXPECT_EQ(result, 2);
  EXPECT_EQ(Display(image_.root, "PLAIN   TXT", &result), "PLAIN.TXT");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Display(image_.root, "NOEXT      "), "noext");
  EXPECT_EQ(Display(image_.root, "\x83\x65\x83\x58\x83\x67  TXT"), "テスト.TXT");
  EXPECT_EQ(Display(image_.root,
                    "\x83\x41"
                    "B     TXT"),
            "アb.TXT");
  EXPECT_EQ(ShortName(Root("\x05\x41"
                           "BC    TXT")),
            "\xE5\x41"
            "BC.TXT");
  EXPECT_EQ(Display(image_.root,
                    "\x05\x41"
                    "BC    TXT"),
            "蘂BC.TXT");
}

TEST_F(FatReader, FindEntryByNameMatchesDisplayNamesExactly) {
  disk_.AddVolumeLabel("README  TXT");
  disk_.AddFile(FatDiskBuilder::kRoot, "README  TXT", kdltest::TextBytes(10), CaseFlags(0x18));
  disk_.AddFile(FatDiskBuilder::kRoot, "ARATHE~1BIN", {}, Long(u"A rather long file name.bin"));
  disk_.AddDirectory(FatDiskBuilder::kRoot, "SUB        ");
  Open();
  const DirectoryEntry* found = FindEntryByName(image_.root, "readme.txt");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->Attribute(), kAttrArchive);  // the file, not the volume label of the same bytes
  EXPECT_EQ(FindEntryByName(image_.root, "README.TXT"), nullptr);
  found = FindEntryByName(image_.root, "A rather long file name.bin");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->Name(), "ARATHE~1");
  EXPECT_EQ(FindEntryByName(image_.root, "ARATHE~1.BIN"), nullptr);
  EXPECT_NE(FindEntryByName(image_.root, "SUB"), nullptr);
  EXPECT_EQ(FindEntryByName(image_.root, ""), nullptr);
}

TEST(NormalizeListName, TurnsFixedWidthCaptionsIntoCompactNames) {
  const std::pair<std::string, std::string> cases[] = {
      {"README  .TXT", "README.TXT"},   {"..      .   ", ".."},
      {"ABCDEFGH.TXT", "ABCDEFGH.TXT"}, {"ABC     .   ", "ABC"},
      {"ABC     .T  ", "ABC.T"},        {"ABCDEFGH.   ", "ABCDEFGH"},
      {"テスト  .TXT", "テスト.TXT"},   {"readme.txt", "readme.txt"},
      {"README  XTXT", "README  XTXT"}, {"A rather long name", "A rather long name"}};
  for (const auto& [caption, name] : cases) {
    std::string text = caption;
    NormalizeListName(text);
    EXPECT_EQ(text, name) << caption;
  }
}

TEST(DateTexts, FormatsAndOrdersTwoDigitYears) {
  EXPECT_EQ(FatDateText(0, 0), "80-00-00 00:00");
  EXPECT_EQ(FatDateText((13 << 11) | (17 << 5) | 29, (19 << 9) | (12 << 5) | 31), "99-12-31 13:17");
  EXPECT_EQ(FatDateText(0, 20 << 9 | (1 << 5) | 2), "00-01-02 00:00");
  EXPECT_EQ(FatDateText((23 << 11) | (59 << 5), (127u << 9) | (12 << 5) | 31), "07-12-31 23:59");
  EXPECT_EQ(DosTimeText((((44u << 9) | (3u << 5) | 15u) << 16) | ((10u << 11) | (20u << 5))),
            "24-03-15 10:20");

  EXPECT_LT(CompareDateTexts("99-12-31 23:59", "00-01-01 00:00"), 0);
  EXPECT_GT(CompareDateTexts("00-01-01 00:00", "80-01-01 00:00"), 0);
  EXPECT_LT(CompareDateTexts("80-01-01 00:00", "99-01-01 00:00"), 0);
  EXPECT_GT(CompareDateTexts("79-12-31 23:59", "00-01-01 00:00"), 0);
  EXPECT_EQ(CompareDateTexts("24-03-15 10:20", "24-03-15 10:20"), 0);
  EXPECT_EQ(CompareDateTexts("24-03-15 10:21", "24-03-15 10:20"), 1);
}

TEST_F(FatReader, StreamsDeliverExactlyTheFileSize) {
  const std::vector<uint8_t> odd = kdltest::TextBytes(1024 * 3 + 17);
  const std::vector<uint8_t> scattered = kdltest::NoiseBytes(1024 * 4);
  disk_.AddFile(FatDiskBuilder::kRoot, "EMPTY   TXT", {});
  disk_.AddFile(FatDiskBuilder::kRoot, "ODD     TXT", odd);
  // Clusters out of order and in three track units.
  disk_.AddFileAt(FatDiskBuilder::kRoot, "SCATTER BIN", scattered, {300, 40, 41, 7});
  Open();
  EXPECT_EQ(ReadStream(Root("ODD     TXT")), odd);
  EXPECT_FALSE(image_.stream.broken);
  EXPECT_EQ(ReadStream(Root("SCATTER BIN")), scattered);
  EXPECT_EQ(ChainSize(image_, Root("SCATTER BIN")), 4096);

  ASSERT_EQ(image_.ReadTrack(50), 0);
  const uint64_t loads = image_.trackLoads;
  OpenFileStream(image_, Root("EMPTY   TXT"));
  EXPECT_EQ(NextFileByte(image_), -1);
  EXPECT_EQ(image_.trackLoads, loads);  // its first cluster is never read
  EXPECT_FALSE(image_.stream.broken);
}

TEST_F(FatReader, DamagedChainsEndTheWalk) {
  const std::vector<uint8_t> data = kdltest::TextBytes(1024 * 8, 2);
  auto file = [&](std::string_view name11, std::vector<int> clusters, uint16_t lastValue) {
    disk_.AddFileAt(FatDiskBuilder::kRoot, name11, data, clusters);
    disk_.SetFat(clusters.back(), lastValue);
  };
  file("LOOP    BIN", {100, 101, 102}, 101);
  file("FREE    BIN", {110, 111}, 0);
  file("BAD     BIN", {120, 121}, 0xFF7);
  file("PAST    BIN", {130, 131}, 715);  // the 720 KB disk's last cluster is 714
  file("SHORT   BIN", {140, 141}, 0xFFF);
  disk_.AddEntry(FatDiskBuilder::kRoot, FatDiskBuilder::ShortEntry("NOCHAIN BIN", {}, 0, 5000));
  disk_.AddEntry(FatDiskBuilder::kRoot, FatDiskBuilder::ShortEntry("NEGATIVEBIN", {}, 0x8123, 5000));
  Open();
  const std::vector<uint8_t> two(data.begin(), data.begin() + 2048), three(data.begin(), data.begin() + 3072);
  for (std::string_view n : {"FREE    BIN", "BAD     BIN", "PAST    BIN", "SHORT   BIN"}) {
    EXPECT_EQ(ReadStream(Root(n)), two) << n;
    EXPECT_TRUE(image_.stream.broken) << n;
    EXPECT_EQ(ChainSize(image_, Root(n)), 2048) << n;
  }
  EXPECT_EQ(ReadStream(Root("LOOP    BIN")), three);
  EXPECT_TRUE(image_.stream.broken);
  EXPECT_EQ(ChainSize(image_, Root("LOOP    BIN")), 3072);
  for (std::string_view n : {"NOCHAIN BIN", "NEGATIVEBIN"}) {
    EXPECT_TRUE(ReadStream(Root(n)).empty()) << n;
    EXPECT_TRUE(image_.stream.broken) << n;
    EXPECT_EQ(ChainSize(image_, Root(n)), 0) << n;
  }
  // A buffer shorter than the chain is filled and not passed.
  std::vector<uint8_t> buffer(1024 + 100, 0xAB);
  EXPECT_EQ(ReadChain(image_, Root("LOOP    BIN"), buffer.data(), 1024 + 50), 32);
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 1024),
            std::vector<uint8_t>(data.begin(), data.begin() + 1024));
  EXPECT_EQ(buffer[1024], 0xAB);
}

TEST_F(FatReader, FatLookupsKeepTheRawValue) {
  disk_.SetFat(200, 0xFF7);
  disk_.SetFat(201, 0x123);
  disk_.SetFat(202, 0xFFF);
  Open();
  EXPECT_EQ(FatNext(image_, 200), 0);
  EXPECT_EQ(image_.lastFatValue, 0xFF7);
  EXPECT_EQ(FatNext(image_, 201), 0x123);
  EXPECT_EQ(image_.lastFatValue, 0x123);
  EXPECT_EQ(FatNext(image_, 202), 0xFFF);
  EXPECT_EQ(FatNext(image_, 203), 0);
}

TEST_F(FatReader, SubdirectoriesAndTheirDotDotEntries) {
  const uint16_t sub = disk_.AddDirectory(FatDiskBuilder::kRoot, "SUB        ", Long(u"Sub directory"));
  const uint16_t deep = disk_.AddDirectory(sub, "DEEP       ", {}, 2);
  disk_.AddFile(sub, "INNER   TXT", kdltest::TextBytes(50));
  for (int i = 0; i < 40; ++i) {  // 42 entries: more than one 1,024-byte cluster holds
    std::string name = "F" + std::to_string(100 + i) + "    TXT";
    disk_.AddFile(deep, name, kdltest::TextBytes(10, static_cast<uint32_t>(i)));
  }
  Open();
  const DirectoryEntry* subEntry = FindEntryByName(image_.root, "Sub directory");
  ASSERT_NE(subEntry, nullptr);
  const DirectoryTable subTable = LoadSubdirectory(image_, *subEntry);
  ASSERT_EQ(subTable.size(), 3u);  // "." is dropped
  EXPECT_TRUE(subTable[0].IsDotDotEntry());
  EXPECT_EQ(subTable[2].IndexSlot(), 2);
  // ".." with first cluster 0 is the root.
  const DirectoryTable up = LoadSubdirectory(image_, subTable[0]);
  ASSERT_EQ(up.size(), image_.root.size());
  EXPECT_EQ(up[0].bytes(), image_.root[0].bytes());

  const DirectoryTable deepTable = LoadSubdirectory(image_, *FindEntryByName(subTable, "DEEP"));
  ASSERT_EQ(deepTable.size(), 41u);
  EXPECT_EQ(ReadStream(*FindEntryByName(deepTable, "F139.TXT")), kdltest::TextBytes(10, 39));
  const DirectoryTable back = LoadSubdirectory(image_, deepTable[0]);
  EXPECT_EQ(back.size(), subTable.size());
}

TEST_F(FatReader, DirectoryChainThatLoopsIsReadOnce) {
  const uint16_t sub = disk_.AddDirectory(FatDiskBuilder::kRoot, "LOOPDIR    ", {}, 2);
  disk_.AddFile(sub, "A       TXT", kdltest::TextBytes(5));
  disk_.SetFat(sub + 1, sub);
  Open();
  const DirectoryTable table = LoadSubdirectory(image_, Root("LOOPDIR    "));
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(ReadStream(table[1]), kdltest::TextBytes(5));
}

}  // namespace
}  // namespace kdl
