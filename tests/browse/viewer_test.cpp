#include "browse/viewer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/image_builder.h"
#include "support/scripted_prompter.h"
#include "support/test_support.h"

namespace kdl {
namespace {

std::vector<std::string> Lines(std::string_view bytes, ViewMode mode, uint32_t dumpOffset = 0) {
  size_t at = 0;
  const ByteSource next = [&] { return at < bytes.size() ? static_cast<uint8_t>(bytes[at++]) : -1; };
  ViewLineState state;
  state.mode = mode;
  state.dumpOffset = dumpOffset;
  std::vector<std::string> lines;
  std::string line;
  while (NextViewLine(state, next, line)) lines.push_back(line);
  return lines;
}

std::vector<std::string> TextLines(std::string_view bytes) { return Lines(bytes, ViewMode::kText); }
std::vector<std::string> DumpLines(std::string_view bytes) { return Lines(bytes, ViewMode::kDump); }

using Strings = std::vector<std::string>;

TEST(TextView, LineEndsControlsAndTabs) {
  EXPECT_EQ(TextLines("abc\r\ndef\rghi\n\njkl"), (Strings{"abc", "defghi", "", "jkl"}));
  EXPECT_EQ(TextLines("\x01"
                      "a\tb\x1b\x7f\x80\xFF"),
            (Strings{" a\tb \x7f\x80\xFF"}));
  EXPECT_EQ(TextLines("one\n"), (Strings{"one"}));
  EXPECT_TRUE(TextLines("").empty());
}

TEST(TextView, LongLinesAreCutAt1024Bytes) {
  const Strings lines = TextLines(std::string(3000, 'x') + "\ny");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].size(), 1024u);
  EXPECT_EQ(lines[1].size(), 1024u);
  EXPECT_EQ(lines[2].size(), 952u);
  EXPECT_EQ(lines[3], "y");
}

TEST(TextView, DoubleByteCharacterAtTheLimitMovesToTheNextLine) {
  // "あ" is 82 A0; its lead byte would be byte 1,024 of the first line.
  const Strings lines = TextLines(std::string(1023, 'a') + "\x82\xA0" + "b");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::string(1023, 'a'));
  EXPECT_EQ(lines[1],
            "\x82\xA0"
            "b");
  // A double-byte character ending exactly at the limit stays whole on its line.
  const Strings whole = TextLines(std::string(1022, 'a') + "\x82\xA0" + "b");
  EXPECT_EQ(whole[0].size(), 1024u);
  EXPECT_EQ(whole[1], "b");
}

TEST(TextView, ShiftJisTextConvertsToUtf8) {
  // 表 (95 5C) has a backslash as its trail byte; 示 is 8E A6; then a real backslash.
  const Strings lines = TextLines("\x95\x5C\x8E\xA6\\\t\xB1");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(ViewLineToUtf8(lines[0], ViewMode::kText), "表示\\\tｱ");
  EXPECT_EQ(ViewLineToUtf8("\x81", ViewMode::kText), "\xEF\xBF\xBD");
}

TEST(DumpView, TwentyBytesGiveTwoLinesOf78) {
  const Strings lines = DumpLines("0123456789ABCDEFGHIJ");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], " 00000:  30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46     0123456789ABCDEF ");
  EXPECT_EQ(lines[1], " 00010:  47 48 49 4A " + std::string(36, ' ') + "    GHIJ" + std::string(13, ' '));
  EXPECT_EQ(lines[0].size(), 78u);
  EXPECT_EQ(lines[1].size(), 78u);
  EXPECT_TRUE(DumpLines("").empty());
}

TEST(DumpView, BinaryBytesShowAsDots) {
  const Strings lines = DumpLines(std::string("\x00\x1F\x7F\x80\xA0\xA1\xDF\xFD\xFF~ ", 11));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(kDumpCharColumn), std::string(".....\xA1\xDF..~ ", 11) + std::string(6, ' '));
  EXPECT_EQ(lines[0].substr(9, 33), "00 1F 7F 80 A0 A1 DF FD FF 7E 20 ");
}

TEST(DumpView, DoubleByteCharacters) {
  // Lead then trail (0x5C included), lead then a byte that is no trail, lead at the file's end.
  const Strings lines = DumpLines("\x95\x5C\x82\x20\x82");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(kDumpCharColumn, 5), "\x95\x5C. .");
  EXPECT_EQ(ViewLineToUtf8(lines[0], ViewMode::kDump).substr(kDumpCharColumn),
            "表. ." + std::string(12, ' '));
}

TEST(DumpView, CharacterCutByTheLineEndIsShownOnTheNextLine) {
  const Strings lines = DumpLines(std::string(15, 'A') + "\x82\xA0" + "B");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(kDumpCharColumn), std::string(15, 'A') + "  ");
  EXPECT_EQ(lines[1].substr(9, 6), "A0 42 ");
  EXPECT_EQ(lines[1].substr(kDumpCarryColumn, 3),
            "\x82\xA0"
            "B");
  EXPECT_EQ(lines[1].size(), 78u);
  EXPECT_EQ(ViewLineToUtf8(lines[1], ViewMode::kDump).substr(kDumpCarryColumn - 1, 5), " あB");
  // Without a trail byte to meet, the carried lead byte is not shown.
  const Strings broken = DumpLines(std::string(15, 'A') + "\x82" + "\n");
  EXPECT_EQ(broken[1].substr(kDumpCarryColumn, 2), " .");
}

TEST(DumpView, UnassignedAndUserDefinedCodesKeepTheColumnsInUtf8) {
  // Unassigned, then the first and the last user-defined code (no font has a glyph for them), then ASCII.
  const Strings lines = DumpLines(
      "\x85\x40"
      "\xF0\x40"
      "\xF9\xFC"
      "Z");
  EXPECT_EQ(ViewLineToUtf8(lines[0], ViewMode::kDump).substr(kDumpCharColumn),
            "..・・Z" + std::string(10, ' '));
  // The character just past that range is shown as itself.
  EXPECT_EQ(ViewLineToUtf8(DumpLines("\xFA\x40")[0], ViewMode::kDump).substr(kDumpCharColumn, 3), "ⅰ");
}

TEST(DumpView, OffsetsGrowToSixDigits) {
  const Strings lines = Lines(std::string(32, 'x'), ViewMode::kDump, 0xFFFF0);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(0, 9), " FFFF0:  ");
  EXPECT_EQ(lines[1].substr(0, 10), " 100000:  ");
}

// The whole loading loop on a file of a real image: status texts, progress, the stream and a stop request.
class FileViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kdltest::FatDiskBuilder disk(5);
    std::vector<uint8_t> content;
    for (int i = 0; i < 300; ++i) {
      const std::string line = "line " + std::to_string(i) + "\r\n";
      content.insert(content.end(), line.begin(), line.end());
    }
    const uint16_t first = disk.AddFile(kdltest::FatDiskBuilder::kRoot, "LINES   TXT", content);
    // A second entry that claims more bytes than the chain holds.
    disk.AddEntry(kdltest::FatDiskBuilder::kRoot,
                  kdltest::FatDiskBuilder::ShortEntry("SHORT   TXT", {}, first, 100000));
    size_ = content.size();
    const std::filesystem::path path = temp_ / "disk.kdl";
    kdltest::WriteFile(path, kdltest::MakeKdl(disk.bytes(), 5).bytes);
    work_.prompter = &prompter_;
    image_ = std::make_unique<ImageState>(work_);
    ASSERT_GE(image_->OpenImage(path.string()), 0);
  }

  kdltest::TempDir temp_;
  kdltest::ScriptedPrompter prompter_;
  ImageWork work_;
  std::unique_ptr<ImageState> image_;
  size_t size_ = 0;
};

TEST_F(FileViewTest, LoadsEveryLine) {
  Strings lines;
  const FileViewResult result = FillFileView(*image_, image_->root, 0, ViewMode::kText,
                                             [&](std::string_view l) { lines.emplace_back(l); });
  ASSERT_EQ(lines.size(), 300u);
  EXPECT_EQ(lines[0], "line 0");
  EXPECT_EQ(lines[299], "line 299");
  EXPECT_FALSE(result.stopped);
  const std::string size = std::to_string(size_);
  EXPECT_EQ(prompter_.statuses.front(), "読込中 : LINES.TXT  " + size + " バイト");
  EXPECT_EQ(result.status, "ファイル : LINES.TXT  " + size + " バイト");
  EXPECT_EQ(prompter_.statuses.back(), result.status);
  EXPECT_EQ(prompter_.progressMaximums, std::vector<int>{static_cast<int>(size_)});
  EXPECT_EQ(prompter_.progress[prompter_.progress.size() - 2], static_cast<int>(size_));
  EXPECT_EQ(prompter_.progress.back(), 0);
  EXPECT_FALSE(work_.busy);
  EXPECT_FALSE(result.chainBroken);
}

TEST_F(FileViewTest, ShowsWhatABrokenChainHolds) {
  size_t bytes = 0;
  const FileViewResult result = FillFileView(*image_, image_->root, 1, ViewMode::kDump,
                                             [&](std::string_view) { bytes += kDumpBytesPerLine; });
  EXPECT_TRUE(result.chainBroken);
  EXPECT_EQ(bytes, (size_ + 1023) / 1024 * 1024);
  EXPECT_EQ(result.status, "ファイル : SHORT.TXT  100000 バイト");
}

TEST_F(FileViewTest, StopRequestEndsAfterTheCurrentLine) {
  prompter_.cancelAtPump = {3};
  Strings lines;
  const FileViewResult result = FillFileView(*image_, image_->root, 0, ViewMode::kDump,
                                             [&](std::string_view l) { lines.emplace_back(l); });
  EXPECT_TRUE(result.stopped);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2].substr(0, 9), " 00020:  ");
  EXPECT_FALSE(work_.cancelRequested);
  EXPECT_TRUE(prompter_.asks.empty());
}

}  // namespace
}  // namespace kdl
