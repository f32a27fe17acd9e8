// The names a new entry gets: the 8.3 name alone where it holds the name (case flags for lower-case parts),
// otherwise a long name and the short name Windows derives, with a numeric tail unique in the directory.
#include "fat/dos_names.h"

#include <gtest/gtest.h>

#include <set>

#include "common/sjis.h"

namespace kdl {
namespace {

std::string Stored(const ShortName11& n) { return std::string(n.begin(), n.end()); }

std::string Sjis(const char* utf8) { return *Utf8ToSjis(utf8); }

struct NameCase {
  const char* name;
  std::string shortName;  // the 11 stored bytes
  uint8_t caseFlags;
  bool longName;
  std::set<std::string> taken;  // short names already in the directory
};

TEST(DosNames, ShortAndLongNamesAsWindowsMakesThem) {
  const NameCase cases[] = {
      {"README.TXT", "README  TXT", 0, false, {}},
      {"readme.txt", "README  TXT", 0x18, false, {}},
      {"readme.TXT", "README  TXT", 0x08, false, {}},
      {"MAKEFILE", "MAKEFILE   ", 0, false, {}},
      {"Readme.txt", "README  TXT", 0, true, {}},
      {"Long File Name.txt", "LONGFI~1TXT", 0, true, {}},
      {"Long File Name 2.txt", "LONGFI~2TXT", 0, true, {"LONGFI~1TXT"}},
      {"Long File Name 10.txt",
       "LONGF~10TXT",
       0,
       true,
       {"LONGFI~1TXT", "LONGFI~2TXT", "LONGFI~3TXT", "LONGFI~4TXT", "LONGFI~5TXT", "LONGFI~6TXT",
        "LONGFI~7TXT", "LONGFI~8TXT", "LONGFI~9TXT"}},
      {"archive.tar.gz", "ARCHIV~1GZ ", 0, true, {}},
      {".profile", "PROFIL~1   ", 0, true, {}},
      {"a+b;c.txt", "A_B_C~1 TXT", 0, true, {}},
      {"extension.html", "EXTENS~1HTM", 0, true, {}},
      {"README.TXT", "README~1TXT", 0, true, {"README  TXT"}},
      // Shift-JIS: a valid 8.3 name needs no long name; a long one is cut between characters, never inside
      // one.
      {"漢字.TXT", Sjis("漢字") + "    TXT", 0, false, {}},
      {"日本語のファイル名.txt", Sjis("日本語") + "~1TXT", 0, true, {}},
      {"ｶﾅ.TXT", Sjis("ｶﾅ") + "      TXT", 0, false, {}},
      // A name that begins with the lead byte 0xE5 stores 0x05 in its place.
      {"蕁.DAT", "\x05" + Sjis("蕁").substr(1) + "      DAT", 0, false, {}},
      // Characters Shift-JIS cannot hold become "_" in the short name.
      {"café.txt", "CAF_~1  TXT", 0, true, {}},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto names =
        MakeEntryNames(c.name, [&](const ShortName11& n) { return c.taken.count(Stored(n)) != 0; });
    ASSERT_TRUE(names);
    EXPECT_EQ(Stored(names->shortName), c.shortName);
    EXPECT_EQ(names->caseFlags, c.caseFlags);
    EXPECT_EQ(!names->longName.empty(), c.longName);
  }
}

TEST(DosNames, NamesDosCannotHold) {
  const std::pair<std::string, NameFault> cases[] = {
      {"a:b", NameFault::kBadCharacter},
      {"a\\b", NameFault::kBadCharacter},
      {"what?", NameFault::kBadCharacter},
      {std::string("tab\there"), NameFault::kBadCharacter},
      {"", NameFault::kEmpty},
      {"..", NameFault::kEmpty},
      {"CON", NameFault::kDeviceName},
      {"con.txt", NameFault::kDeviceName},
      {"Lpt1.doc", NameFault::kDeviceName},
      {std::string(256, 'x'), NameFault::kTooLong},
      {"\xFF\xFE", NameFault::kNotUtf8},
      {"CONSOLE.TXT", NameFault::kNone},
      {std::string(255, 'x'), NameFault::kNone},
  };
  for (const auto& [name, fault] : cases) EXPECT_EQ(CheckName(name), fault) << name;
  EXPECT_EQ(TrimName("name. . "), "name");
  EXPECT_EQ(TrimName("..."), "");
}

TEST(DosNames, LongNamePiecesCarryTheChecksumAndOrder) {
  const std::u16string name = u"A name that needs three pieces.text";  // 35 units
  ShortName11 shortName;
  const std::string s = "ANAMET~1TEX";
  std::copy(s.begin(), s.end(), shortName.begin());
  const std::vector<DirectoryEntry> pieces = MakeLongNamePieces(name, shortName);
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0].Ordinal(), 0x43);
  EXPECT_EQ(pieces[1].Ordinal(), 0x02);
  EXPECT_EQ(pieces[2].Ordinal(), 0x01);
  DirectoryEntry e;
  std::copy(s.begin(), s.end(), e.bytes().begin());
  std::u16string back;
  for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
    EXPECT_EQ(it->LongNameChecksum(), ShortNameChecksum(e));
    EXPECT_EQ(it->Attribute(), kAttrLongName);
    for (const uint16_t u : it->LongNameUnits()) back += static_cast<char16_t>(u);
  }
  // 35 units, a terminating 0x0000, then 0xFFFF to the end of the last piece.
  EXPECT_EQ(back.substr(0, 35), name);
  EXPECT_EQ(back[35], u'\0');
  EXPECT_EQ(back.substr(36), std::u16string(3, u'\xFFFF'));
}

TEST(DosNames, VolumeLabels) {
  EXPECT_EQ(Stored(*MakeVolumeLabel("my disk")), "MY DISK    ");
  EXPECT_EQ(Stored(*MakeVolumeLabel("ELEVENCHARS")), "ELEVENCHARS");
  EXPECT_EQ(Stored(*MakeVolumeLabel("日本語")), Sjis("日本語") + "     ");
  EXPECT_FALSE(MakeVolumeLabel("TWELVE CHARS"));
  EXPECT_FALSE(MakeVolumeLabel("a.b"));
  EXPECT_FALSE(MakeVolumeLabel("a*b"));
  EXPECT_FALSE(MakeVolumeLabel("   "));
}

}  // namespace
}  // namespace kdl
