#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>

#include "common/bytes.h"
#include "common/file.h"
#include "common/sjis.h"
#include "support/test_support.h"

namespace kdl {
namespace {

TEST(ByteView, LittleEndianAndBounds) {
  const uint8_t raw[] = {0x01, 0x02, 0x03, 0x04, 0xFF, 0xFF};
  ByteView v(raw, sizeof raw);
  EXPECT_EQ(v.U16(0), 0x0201);
  EXPECT_EQ(v.U32(0), 0x04030201u);
  EXPECT_EQ(v.I16(4), -1);
  EXPECT_THROW(v.U32(3), BoundsError);
  EXPECT_THROW(v.U8(6), BoundsError);
  EXPECT_THROW(v.Sub(5, 2), BoundsError);
  // An offset so large that offset + length wraps must not pass the check.
  EXPECT_THROW(v.Sub(SIZE_MAX, 2), BoundsError);
  EXPECT_FALSE(CheckedAdd(UINT64_MAX, 1));
  EXPECT_EQ(*CheckedAdd(1, 2), 3u);
}

TEST(ByteSpan, WritesAndPadsText) {
  uint8_t raw[8] = {};
  ByteSpan s(raw, sizeof raw);
  s.PutU32(0, 0xA1B2C3D4);
  EXPECT_EQ(raw[0], 0xD4);
  EXPECT_EQ(raw[3], 0xA1);
  s.PutText(4, 4, "ab");
  EXPECT_EQ(raw[6], ' ');
  EXPECT_THROW(s.PutText(4, 4, "abcde"), BoundsError);
  EXPECT_THROW(s.PutU16(7, 1), BoundsError);
}

TEST(Sjis, RoundTripsJapaneseText) {
  // "日本語" and half-width katakana "ｶﾅ".
  const std::string sjis = "\x93\xFA\x96\x7B\x8C\xEA\xB6\xC5";
  EXPECT_EQ(SjisToUtf8(sjis), "日本語ｶﾅ");
  auto back = Utf8ToSjis("日本語ｶﾅ");
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, sjis);
  // 0x5C as a trail byte belongs to the character ("表"), it is not a backslash.
  EXPECT_EQ(SjisToUtf8("\x95\x5C"), "表");
}

TEST(Sjis, BadBytesBecomeReplacementCharacters) {
  EXPECT_EQ(SjisToUtf8("a\x81"), "a\xEF\xBF\xBD");
  EXPECT_EQ(SjisToUtf8(std::string("\xA0z", 2)), "\xEF\xBF\xBDz");
  EXPECT_FALSE(Utf8ToSjis("\xF0\x9F\x98\x80"));  // an emoji has no Shift-JIS form
  EXPECT_FALSE(Utf8ToSjis("\xC3"));              // truncated UTF-8
}

TEST(Utf16, SurrogatesAndStrays) {
  const uint16_t pair[] = {'A', 0xD83D, 0xDE00, 0xDC00, 0x65E5};
  EXPECT_EQ(Utf16ToUtf8(pair), "A\xF0\x9F\x98\x80\xEF\xBF\xBD日");
}

TEST(File, PositionedReadsAndWrites) {
  kdltest::TempDir dir;
  File f;
  ASSERT_TRUE(f.Open((dir / "f").string(), File::Mode::kCreate));
  EXPECT_EQ(f.WriteAt(4, "xyz", 3), 3);
  EXPECT_EQ(f.Size(), 7);
  char buf[8] = {};
  EXPECT_EQ(f.ReadAt(4, buf, 8), 3);  // a read past the end is short, not an error
  EXPECT_EQ(std::string(buf, 3), "xyz");
  EXPECT_EQ(f.ReadAt(100, buf, 8), 0);
  File g;
  EXPECT_FALSE(g.Open((dir / "f").string(), File::Mode::kCreateNew));
  EXPECT_FALSE(g.Open((dir / "missing").string(), File::Mode::kRead));
}

// Regression: an image or archive named by a FIFO blocked every command for ever. Only regular files are
// opened; anything else is refused at once, in every mode, and left as it was.
TEST(File, OnlyRegularFilesOpenAndNothingElseBlocks) {
  kdltest::TempDir dir;
  const std::string fifo = (dir / "fifo").string();
  const std::string folder = (dir / "folder").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  for (const File::Mode mode : {File::Mode::kRead, File::Mode::kReadWrite, File::Mode::kCreate}) {
    File f;
    EXPECT_FALSE(f.Open(fifo, mode));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_FALSE(f.Open(folder, mode));
    EXPECT_EQ(errno, EISDIR);
  }
  struct stat st {};
  ASSERT_EQ(stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_STREQ(FileKindName(st.st_mode), "a FIFO");
}

}  // namespace
}  // namespace kdl
