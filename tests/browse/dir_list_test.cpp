#include "browse/dir_list.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "browse/fat.h"
#include "support/image_builder.h"

namespace kdl {
namespace {

using kdltest::EntryOptions;
using kdltest::FatDiskBuilder;

// A 720K disk: a label, a plain short name, a long name, a hidden read-only system file, a directory two
// levels deep, and a name whose Shift-JIS lead byte 0xE5 is stored as 0x05.
class DirList : public ::testing::Test {
 protected:
  void SetUp() override {
    FatDiskBuilder b(3);
    b.AddVolumeLabel("MY DISK    ", 0x6000, 0x2A21);
    EntryOptions plain;
    plain.time = 0x6000;
    plain.date = (18 << 9) | (7 << 5) | 23;  // 1998-07-23
    b.AddFile(FatDiskBuilder::kRoot, "README  TXT", kdltest::TextBytes(300), plain);
    EntryOptions odd = plain;
    odd.attribute = kAttrHidden | kAttrSystem | kAttrReadOnly;
    b.AddFile(FatDiskBuilder::kRoot, "IO      SYS", kdltest::TextBytes(2000), odd);
    EntryOptions longName = plain;
    longName.longName = u"A long file name.txt";
    b.AddFile(FatDiskBuilder::kRoot, "ALONGF~1TXT", kdltest::TextBytes(5), longName);
    b.AddFile(FatDiskBuilder::kRoot, "\x05\x5A\x95\x69    TXT", kdltest::TextBytes(7), plain);
    const uint16_t docs = b.AddDirectory(FatDiskBuilder::kRoot, "DOCS       ", plain);
    const uint16_t deep = b.AddDirectory(docs, "DEEP       ", plain);
    b.AddFile(deep, "NOTE    TXT", kdltest::TextBytes(19), plain);
    path_ = bench_.Write("disk.img", b.bytes());
    bench_.work.dialogMode = kModeOpenRaw;
    bench_.work.rawImagePath = path_;
    ASSERT_GE(bench_.image.OpenImage(path_), 0);
  }

  kdltest::ImageBench bench_;
  std::string path_;
};

TEST_F(DirList, ItemTextsAreTheBrowseListColumns) {
  const std::vector<ListItem> items = ListDirectory(bench_.image.root);
  ASSERT_EQ(items.size(), 6u);  // long-name pieces are not items
  EXPECT_EQ(items[0].caption, "MY DISK .   ");
  EXPECT_EQ(items[0].typeText, kLabelTypeText);
  EXPECT_EQ(items[1].caption, "README  .TXT");
  EXPECT_EQ(items[1].typeText, "---a     300 Bytes");
  EXPECT_EQ(items[1].dateText, "98-07-23 12:00");
  EXPECT_EQ(items[2].typeText, "hsr-    2000 Bytes");
  EXPECT_EQ(items[3].caption, "A long file name.txt");
  EXPECT_EQ(items[4].caption, "藥品    .TXT");
  EXPECT_EQ(items[5].caption, "DOCS    .   ");
  EXPECT_EQ(items[5].typeText, kDirectoryTypeText);
}

// The label stays first and directories stay before files whichever way the type column is sorted.
TEST_F(DirList, TypeColumnKeepsLabelAndDirectoriesFirstBothWays) {
  std::vector<ListItem> items = ListDirectory(bench_.image.root);
  for (int sign : {1, -1}) {
    std::stable_sort(items.begin(), items.end(), [&](const ListItem& a, const ListItem& b) {
      return CompareListItems(a, b, 1, sign) < 0;
    });
    EXPECT_EQ(items[0].typeText, kLabelTypeText) << sign;
    EXPECT_EQ(items[1].typeText, kDirectoryTypeText) << sign;
    // Files by their size text: ascending, then descending.
    EXPECT_EQ(items[2].typeText, sign > 0 ? "---a       5 Bytes" : "hsr-    2000 Bytes") << sign;
  }
  ListItem label = items[0];
  EXPECT_EQ(CompareListItems(label, label, 1, 1), 0);
  EXPECT_LT(CompareListItems(items[2], items[3], 0, 1) * CompareListItems(items[2], items[3], 0, -1), 0);
}

TEST_F(DirList, PathsResolveByLongOrShortNameInAnyCase) {
  auto r = ResolveImagePath(bench_.image, "/docs/deep/note.txt");
  ASSERT_TRUE(r && r->entry);
  EXPECT_EQ(r->entry->Size(), 19u);
  EXPECT_EQ(r->displayPath, "\\DOCS\\DEEP\\NOTE.TXT");
  EXPECT_TRUE(ResolveImagePath(bench_.image, "\\A LONG FILE NAME.TXT"));
  EXPECT_TRUE(ResolveImagePath(bench_.image, "alongf~1.txt"));
  EXPECT_TRUE(ResolveImagePath(bench_.image, "/藥品.TXT"));
  EXPECT_FALSE(ResolveImagePath(bench_.image, "/docs/missing.txt"));
  // A file in the middle of a path is not a directory.
  EXPECT_FALSE(ResolveImagePath(bench_.image, "/README.TXT/x"));
  // The label never matches a name.
  EXPECT_FALSE(ResolveImagePath(bench_.image, "MY DISK"));
  auto root = ResolveImagePath(bench_.image, "/");
  ASSERT_TRUE(root);
  EXPECT_FALSE(root->entry);
}

// A directory entry without a cluster is the root only as "..", as DOS has it; under any other name it is
// empty, whether a path is resolved through it or it is listed.
TEST(DirListZeroCluster, ADirectoryWithoutAClusterIsEmptyUnlessItIsDotDot) {
  FatDiskBuilder b(3);
  b.AddFile(FatDiskBuilder::kRoot, "ROOT    TXT", kdltest::TextBytes(30));
  const uint16_t sub = b.AddDirectory(FatDiskBuilder::kRoot, "SUB        ");
  EntryOptions directory;
  directory.attribute = kAttrDirectory;
  b.AddEntry(sub, FatDiskBuilder::ShortEntry("ZERO       ", directory, 0, 0));
  kdltest::ImageBench bench;
  ASSERT_GE(bench.image.OpenImage(bench.Write("zero.kdl", kdltest::MakeKdl(b.bytes(), 3).bytes)), 0);
  EXPECT_FALSE(ResolveImagePath(bench.image, "SUB/ZERO/ROOT.TXT"));
  const auto zero = ResolveImagePath(bench.image, "SUB/ZERO");
  ASSERT_TRUE(zero && zero->entry);
  EXPECT_TRUE(LoadSubdirectory(bench.image, *zero->entry).empty());
  EXPECT_TRUE(ResolveImagePath(bench.image, "SUB/../ROOT.TXT"));
  EXPECT_TRUE(bench.prompter.asks.empty());
}

TEST_F(DirList, FolderTreeHoldsEveryDirectory) {
  const std::vector<FolderNode> tree = BuildFolderTree(bench_.image, bench_.image.root);
  ASSERT_EQ(tree.size(), 1u);
  EXPECT_EQ(tree[0].name, "DOCS");
  ASSERT_EQ(tree[0].children.size(), 1u);
  EXPECT_EQ(tree[0].children[0].name, "DEEP");
  EXPECT_TRUE(tree[0].children[0].children.empty());
}

}  // namespace
}  // namespace kdl
