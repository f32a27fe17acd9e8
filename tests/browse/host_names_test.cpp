#include "browse/host_names.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

namespace kdl {
namespace {

TEST(SafeHostName, OrdinaryNamesStayAsTheyAre) {
  for (const char* name : {"README.TXT", "日本語.txt", "a b", "...", ".profile", "ｶﾀｶﾅ.DOC", "a~1"})
    EXPECT_EQ(SafeHostName(name), name);
}

TEST(SafeHostName, PathSyntaxAndControlsBecomeUnderscores) {
  EXPECT_EQ(SafeHostName("a/b"), "a_b");
  EXPECT_EQ(SafeHostName("a\\b"), "a_b");
  EXPECT_EQ(SafeHostName("../../x"), ".._.._x");
  EXPECT_EQ(SafeHostName("..\\..\\x"), ".._.._x");
  EXPECT_EQ(SafeHostName("/etc/passwd"), "_etc_passwd");
  EXPECT_EQ(SafeHostName(std::string("a\0b", 3)), "a_b");
  EXPECT_EQ(SafeHostName("\x1b[31mred\x7f"), "_[31mred_");
  EXPECT_EQ(SafeHostName("tab\there"), "tab_here");
  EXPECT_EQ(SafeHostName("c1\xC2\x9B"), "c1_");  // U+009B is a terminal's CSI
}

TEST(SafeHostName, SpecialNamesAreReplaced) {
  EXPECT_EQ(SafeHostName(""), "_");
  EXPECT_EQ(SafeHostName("."), "_");
  EXPECT_EQ(SafeHostName(".."), "__");
  EXPECT_EQ(SafeHostName("./"), "._");
}

TEST(SafeHostName, InvalidUtf8BecomesOneUnderscorePerByte) {
  EXPECT_EQ(SafeHostName("\xFF"), "_");
  EXPECT_EQ(SafeHostName("a\xC0\xAF"), "a__");          // overlong "/"
  EXPECT_EQ(SafeHostName("\xED\xA0\x80z"), "___z");     // surrogate
  EXPECT_EQ(SafeHostName("\xF4\x90\x80\x80"), "____");  // above U+10FFFF
  EXPECT_EQ(SafeHostName("\xE6\x97"), "__");            // cut short
  EXPECT_EQ(SafeHostName("\xE6\x97\xA5\xE6"), "日_");
}

TEST(SafeHostName, LongNamesAreCutAtACharacterBoundary) {
  EXPECT_EQ(SafeHostName(std::string(300, 'x')), std::string(255, 'x'));
  std::string japanese;
  for (int i = 0; i < 100; ++i) japanese += "日";  // 3 bytes each
  EXPECT_EQ(SafeHostName(japanese).size(), 255u);
  EXPECT_EQ(SafeHostName(std::string(254, 'x') + "日"), std::string(254, 'x'));
  EXPECT_EQ(SafeHostName(std::string(254, 'x') + "/y"), std::string(254, 'x') + "_");
}

// Whatever bytes a disk holds, the result is one valid component that stays inside the folder it joins.
TEST(SafeHostName, AnyBytesGiveOneHarmlessComponent) {
  std::mt19937 random(7);
  const std::filesystem::path folder = "/target/folder";
  for (int round = 0; round < 20000; ++round) {
    std::string input(random() % 300, '\0');
    // Mostly the bytes that matter: separators, dots, NUL, UTF-8 lead and continuation bytes.
    static constexpr char kInteresting[] = {'/',    '\\',   '.',    '\0',   'a',   '\x1b',
                                            '\xC2', '\x80', '\xE3', '\xF0', '\xFF'};
    for (char& c : input)
      c = random() % 2 ? kInteresting[random() % sizeof kInteresting] : static_cast<char>(random() % 256);
    const std::string name = SafeHostName(input);
    ASSERT_FALSE(name.empty());
    ASSERT_LE(name.size(), kMaxHostNameBytes);
    ASSERT_NE(name, ".");
    ASSERT_NE(name, "..");
    ASSERT_EQ(name.find('/'), std::string::npos);
    ASSERT_EQ(name.find('\0'), std::string::npos);
    ASSERT_EQ(SafeHostName(name), name) << "not valid UTF-8 or not stable";
    ASSERT_EQ((folder / name).parent_path(), folder);
  }
}

}  // namespace
}  // namespace kdl
