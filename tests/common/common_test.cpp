#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "common/bytes.h"
#include "common/file.h"
#include "common/sjis.h"
#include "common/temp_files.h"
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

// Regression: a window program killed while a file was open with the desktop left a folder of copied files
// in the temporary folder for good. The next run removes such folders: only ours, only of dead processes.
TEST(TemporaryFolders, OnlyFoldersOfProcessesThatAreGoneAreRemoved) {
  kdltest::TempDir dir;
  const pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  const std::string dead = std::to_string(child), alive = std::to_string(getpid());
  const struct {
    std::string name;
    bool folder;
    bool removed;
  } entries[] = {
      {"kdlw-" + dead + "-a1B2c3", true, true},    // left by a process that is gone
      {"kdlw-" + alive + "-a1B2c3", true, false},  // in use by a running process
      {"kdlw-" + dead + "-toolong", true, false},  // not of the form mkdtemp makes
      {"kdlw-x" + dead + "-a1B2c3", true, false},  // no process id
      {"other-" + dead + "-a1B2c3", true, false},  // another program's
      {"kdlw-" + dead + "-d4E5f6", false, false},  // a file, not a folder
  };
  for (const auto& e : entries) {
    if (e.folder) {
      ASSERT_EQ(mkdir((dir / e.name).c_str(), 0700), 0);
      kdltest::WriteFile(dir / e.name / "copy.txt", {'x'});
    } else {
      kdltest::WriteFile(dir / e.name, {'x'});
    }
  }
  EXPECT_EQ(RemoveStaleTemporaryFolders(dir.path().string(), "kdlw"), 1);
  for (const auto& e : entries) EXPECT_EQ(std::filesystem::exists(dir / e.name), !e.removed) << e.name;
  EXPECT_EQ(RemoveStaleTemporaryFolders((dir / "missing").string(), "kdlw"), 0);
}

}  // namespace
}  // namespace kdl
