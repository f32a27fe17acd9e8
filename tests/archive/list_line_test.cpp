// The archive list line in the cases the round trips do not reach: the archive's own name row, a blank label
// without a volume label, zero bytes from the image, and an image too short to hold its header.
#include <gtest/gtest.h>

#include "archive/archive_rig.h"

namespace kdltest {
namespace {

std::vector<uint8_t> Header(int16_t mediaType, const std::string& volume, const std::string& label) {
  std::vector<uint8_t> h(256, 0);
  std::copy(volume.begin(), volume.end(), h.begin() + 12);
  h[28] = static_cast<uint8_t>(mediaType);
  std::copy(label.begin(), label.end(), h.begin() + 60);
  return h;
}

kdl::ArchiveEntry Entry() {
  // 2023-07-09 13:45:20
  return kdl::MakeArchiveEntry(12, 5000, (13u << 11 | 45u << 5 | 10u) | (43u << 9 | 7u << 5 | 9u) << 16);
}

std::string Line(const std::vector<uint8_t>& header) {
  return kdl::FormatEntryLine(Entry(), kdl::ByteView(header.data(), header.size()));
}

TEST(ArchiveListLine, ChoosesBetweenTheFirstLabelLineAndTheVolumeLabel) {
  const std::string blank(40, ' ');
  const std::string prefix = "DISK12    2HC(1.44M)  23-07-09 13:45  ";
  // A blank first label line and a volume label: the label is shown instead.
  std::string expected = prefix + "Volume LABEL : MYDISK      ";
  expected.resize(80, ' ');
  EXPECT_EQ(Line(Header(2, "MYDISK      ", blank)), expected);
  // No volume label: the (blank) label line.
  EXPECT_EQ(Line(Header(2, std::string(12, ' '), blank)), prefix + blank + "  ");
  // The name row of the table's ninth entry always shows the label line.
  EXPECT_EQ(Line(Header(8, "MYDISK      ", blank)).substr(10, 10), "KDZ File  ");
  EXPECT_EQ(Line(Header(8, "MYDISK      ", blank)).substr(38), blank + "  ");
  // A volume label cut short by a zero byte, and a type the table does not know.
  EXPECT_EQ(Line(Header(42, std::string("AB\0CDEFGHIJ", 11) + " ", blank)).substr(10, 8), " Unkown ");
  EXPECT_EQ(Line(Header(42, std::string("AB\0CDEFGHIJ", 11) + " ", blank)).substr(53),
            "AB" + std::string(25, ' '));
  // A zero byte in the first label line ends the line there, as it ends the list's text.
  EXPECT_EQ(Line(Header(3, "", std::string("FLOPPY\0REST", 11))),
            "DISK12    2DD(720K)   23-07-09 13:45  FLOPPY");
}

// Regression: a name beginning with a zero byte made the whole line empty. Bytes that print as nothing show
// as "?" in the list and wherever the name is shown.
TEST(ArchiveListLine, ANameThatPrintsAsNothingShowsVisibly) {
  kdl::ArchiveEntry e = Entry();
  e.name = std::string(
      "\0ISK\x1b"
      "2  ",
      8);
  const std::vector<uint8_t> h = Header(2, std::string(12, ' '), std::string(40, ' '));
  const std::string line = kdl::FormatEntryLine(e, kdl::ByteView(h.data(), h.size()));
  ASSERT_EQ(line.size(), 80u);
  EXPECT_EQ(line.substr(0, 20), "?ISK?2    2HC(1.44M)");
  EXPECT_EQ(e.NameText(), "?ISK?2");
}

TEST(ArchiveListLine, AnImageShorterThanAHeaderShowsZerosNotTheNextRecord) {
  ArchiveRig rig;
  // One entry of 100 bytes holding the start of a header, then a second entry whose bytes must not be read.
  std::vector<uint8_t> bytes(128 + 32 + 100 + 32 + 256 + 32, 0);
  const std::string head = "KDZ_FILE0010";
  std::copy(head.begin(), head.end(), bytes.begin());
  bytes[94] = 2;
  const std::string r1 = " DISK1   ", r2 = " DISK2   ";
  std::copy(r1.begin(), r1.end(), bytes.begin() + 128);
  bytes[128 + 13] = 100;
  std::copy(r2.begin(), r2.end(), bytes.begin() + 260);
  bytes[260 + 14] = 1;  // 256 bytes
  const std::string magic = "KAD_LONE";
  std::copy(magic.begin(), magic.end(), bytes.begin() + 160);
  bytes[160 + 28] = 3;
  std::fill(bytes.begin() + 292, bytes.begin() + 292 + 256, uint8_t{'Z'});
  rig.Write("short.KDZ", bytes);
  const std::vector<std::string> lines = rig.List("short.KDZ");
  ASSERT_EQ(lines.size(), 2u);
  // Bytes 60-99 of the first image are its own; what a header would hold past byte 99 reads as zero.
  EXPECT_EQ(lines[0], "DISK1     2DD(720K)   80-00-00 00:00  ");
  EXPECT_EQ(lines[1].substr(38, 40), std::string(40, 'Z'));
}

}  // namespace
}  // namespace kdltest
