#include "fat/directory.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kdl {
namespace {

DirectoryEntry Entry(const char* name11, uint8_t attribute = 0x20, uint16_t reserved = 0xBEEF) {
  DirectoryEntry e;
  std::memcpy(e.bytes().data(), name11, 11);
  e.bytes()[11] = attribute;
  e.bytes()[20] = static_cast<uint8_t>(reserved);
  e.bytes()[21] = static_cast<uint8_t>(reserved >> 8);
  return e;
}

DirectoryEntry LongPiece(uint8_t ordinal) {
  DirectoryEntry e = Entry(
      "\x41"
      "A\0B\0C\0D\0E",
      kAttrLongName, 0x1234);
  e.bytes()[0] = ordinal;
  return e;
}

TEST(CompactDirectory, EmptyDirectory) {
  DirectoryTable t{Entry("\0          "), Entry("FILE    TXT")};
  CompactDirectory(t);
  EXPECT_TRUE(t.empty());
}

TEST(CompactDirectory, DropsDeletedAndDotKeepsDotDotAndStamps) {
  DirectoryTable t{Entry(".          ", kAttrDirectory),
                   Entry("..         ", kAttrDirectory),
                   Entry("\xE5OLD    TXT"),
                   LongPiece(0x41),
                   Entry("LONGNA~1TXT"),
                   Entry("B       TXT"),
                   Entry("\0          "),
                   Entry("AFTER   END")};
  CompactDirectory(t);
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[0].Name(), "..      ");
  EXPECT_EQ(t[0].IndexSlot(), 0);
  // A long-name piece keeps its on-disk word; only short entries are stamped.
  EXPECT_TRUE(t[1].IsLongNamePiece());
  EXPECT_EQ(t[1].IndexSlot(), 0x1234);
  EXPECT_EQ(t[2].Name(), "LONGNA~1");
  EXPECT_EQ(t[2].IndexSlot(), 2);
  EXPECT_EQ(t[3].Name(), "B       ");
  EXPECT_EQ(t[3].IndexSlot(), 3);
}

TEST(CompactDirectory, InPlaceLeavesTailUntouchedAndStampsVolumeLabel) {
  DirectoryEntry t[3] = {Entry("\xE5"
                               "DEAD   TXT"),
                         Entry("VOLUME     ", kAttrVolumeLabel), Entry("X       Y  ")};
  EXPECT_EQ(CompactDirectory(t, 3), 2);
  EXPECT_TRUE(t[0].IsVolumeLabel());
  EXPECT_EQ(t[0].IndexSlot(), 0);
  EXPECT_EQ(t[1].IndexSlot(), 1);
  // Entry 2 is beyond the new count and keeps what it had.
  EXPECT_EQ(t[2].Name(), "X       ");
}

TEST(DirectoryEntry, LongNameUnitsComeFromThreeRuns) {
  DirectoryEntry e;
  auto& b = e.bytes();
  const size_t offsets[] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  for (size_t i = 0; i < 13; ++i) {
    b[offsets[i]] = static_cast<uint8_t>('a' + i);
    b[offsets[i] + 1] = 0x30;
  }
  auto units = e.LongNameUnits();
  for (size_t i = 0; i < 13; ++i) EXPECT_EQ(units[i], 0x3000 + 'a' + i);
}

TEST(DirectoryEntry, FieldsAreLittleEndian) {
  uint8_t raw[32] = {'F', 'I', 'L', 'E', ' ', ' ', ' ', ' ', 'T', 'X', 'T', 0x21, 0x18};
  raw[22] = 0x34;
  raw[23] = 0x12;
  raw[24] = 0x78;
  raw[25] = 0x56;
  raw[26] = 0x02;
  raw[27] = 0x01;
  raw[28] = 0x04;
  raw[29] = 0x03;
  raw[30] = 0x02;
  raw[31] = 0x01;
  DirectoryEntry e{ByteView(raw, sizeof raw)};
  EXPECT_EQ(e.Time(), 0x1234);
  EXPECT_EQ(e.Date(), 0x5678);
  EXPECT_EQ(e.FirstCluster(), 0x0102);
  EXPECT_EQ(e.Size(), 0x01020304u);
  EXPECT_EQ(e.Extension(), "TXT");
  EXPECT_EQ(e.CaseFlags(), 0x18);
  EXPECT_FALSE(e.IsDirectory());
}

}  // namespace
}  // namespace kdl
