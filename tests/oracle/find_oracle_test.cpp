// `kdl find` against mtools: for every media type and a table of patterns, the hits must be exactly the
// entries of `mdir -/` whose long or 8.3 name matches; names alone must not need a single data unit; contents
// are searched as given and in Shift-JIS; exit statuses are grep's.
#include <fnmatch.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "oracle/oracle_support.h"

namespace fs = std::filesystem;

namespace {

using kdloracle::ManifestEntry;
using kdltest::ReadFile;
using kdltest::RunCommand;
using kdltest::ShellQuote;

std::string Kdl() { return std::string(KDL_BINARY); }

bool IsAscii(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// One entry of an `mdir -/ -a` listing.
struct MdirEntry {
  std::string directory;  // "/DIR1/DIR2"; "" for the root
  std::string shortName;  // "NAME.EXT" as mdir shows it (Shift-JIS bytes in its code page 850 reading)
  std::string longName;   // empty when none
  std::string size;       // "<DIR>" or the byte count
  std::string date;       // "yy-mm-dd hh:mm"
};

std::vector<MdirEntry> ReadMdir(const fs::path& file) {
  std::vector<MdirEntry> out;
  std::ifstream in(file);
  std::string directory;
  const std::regex when(R"(^(.*?) +(<DIR>|\d+) +(\d{4})-(\d\d)-(\d\d) +(\d{1,2}):(\d\d) ?(.*)$)");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Directory for ::", 0) == 0) {
      directory = line.substr(16);
      if (directory == "/") directory.clear();
      continue;
    }
    std::smatch m;
    if (!std::regex_match(line, m, when)) continue;
    std::stringstream names(m[1].str());
    std::string name, ext;
    names >> name >> ext;
    if (name == "." || name == "..") continue;
    MdirEntry e;
    e.directory = directory;
    e.shortName = ext.empty() ? name : name + "." + ext;
    e.longName = m[8].str();
    while (!e.longName.empty() && e.longName.back() == ' ') e.longName.pop_back();
    while (!e.longName.empty() && e.longName.front() == ' ') e.longName.erase(0, 1);
    e.size = m[2].str();
    const std::string hour = m[6].str().size() == 1 ? "0" + m[6].str() : m[6].str();
    e.date = m[3].str().substr(2) + "-" + m[4].str() + "-" + m[5].str() + " " + hour + ":" + m[7].str();
    out.push_back(e);
  }
  return out;
}

// A hit reduced to what both listings can say alike: path components that are neither ASCII nor a long name
// (Shift-JIS short names, which mdir shows in another code page) become "<sjis>".
using Hit = std::tuple<std::string, std::string, std::string>;  // path, size, date

std::string Normalize(const std::string& path, const std::set<std::string>& longNames) {
  std::string out;
  std::stringstream ss(path);
  for (std::string part; std::getline(ss, part, '/');) {
    if (part.empty()) continue;
    out += "/" + (IsAscii(part) || longNames.count(part) ? part : std::string("<sjis>"));
  }
  return out;
}

bool Matches(const std::string& pattern, const MdirEntry& e, bool ignoreCase) {
  if (pattern.empty()) return true;
  if (!e.longName.empty() && fnmatch(pattern.c_str(), e.longName.c_str(), ignoreCase ? FNM_CASEFOLD : 0) == 0)
    return true;
  return fnmatch(pattern.c_str(), e.shortName.c_str(), FNM_CASEFOLD) == 0;
}

// Parses `kdl find` lines "SOURCE:/PATH  size  date" of one source.
std::multiset<Hit> ParseHits(const std::string& output, const std::string& source,
                             const std::set<std::string>& longNames) {
  std::multiset<Hit> hits;
  std::stringstream ss(output);
  for (std::string line; std::getline(ss, line);) {
    EXPECT_EQ(line.rfind(source + ":/", 0), 0u) << line;
    const std::string date = line.substr(line.size() - 14);
    const std::string rest = line.substr(source.size() + 1, line.size() - 16 - source.size() - 1);
    const size_t gap = rest.rfind("  ");
    hits.insert({Normalize(rest.substr(0, gap), longNames), rest.substr(gap + 2), date});
  }
  return hits;
}

using FindOracle = kdloracle::FixtureSuite<::testing::TestWithParam<int>>;

// Every pattern of the table over `image` of the fixture disk of `type`, against its mdir listing `mdir`.
void FindOver(const fs::path& image, int type, const fs::path& mdir) {
  const std::vector<MdirEntry> listing = ReadMdir(mdir);
  ASSERT_GT(listing.size(), 40u);
  std::set<std::string> longNames;
  for (const MdirEntry& e : listing) {
    if (!e.longName.empty()) longNames.insert(e.longName);
  }
  struct Case {
    const char* pattern;
    bool ignoreCase;
    size_t atLeast;  // hits the table expects at the least, so that no case passes by matching nothing
  };
  const Case cases[] = {
      {"", false, 40},
      {"*.TXT", false, 20},
      {"*.txt", false, 20},
      {"D20??.TXT", false, 4},
      {"*~1.*", false, 3},
      {"DIR?", false, 3},
      {"Many entry number 0[0-4]?.txt", false, 2},
      {"many ENTRY*", false, 0},
      {"many ENTRY*", true, 2},
      {"mixedcase.txt", false, 0},
      {"mixedcase.txt", true, 1},
      {"[lm]*", false, 3},
      {"NOSUCH*", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("pattern \"") + c.pattern + "\"" + (c.ignoreCase ? " -i" : ""));
    std::multiset<Hit> expected;
    for (const MdirEntry& e : listing) {
      if (!Matches(c.pattern, e, c.ignoreCase)) continue;
      const std::string name = e.longName.empty() ? e.shortName : e.longName;
      expected.insert({Normalize(e.directory + "/" + name, longNames), e.size, e.date});
    }
    const std::string command = Kdl() + " find " + ShellQuote(image.string()) +
                                (*c.pattern != '\0' ? " " + ShellQuote(c.pattern) : "") +
                                (c.ignoreCase ? " -i" : "");
    const auto r = RunCommand(command);
    EXPECT_EQ(r.status, expected.empty() ? 1 : 0);
    const std::multiset<Hit> hits = ParseHits(r.output, image.string(), longNames);
    std::vector<Hit> extra, missing;
    std::set_difference(hits.begin(), hits.end(), expected.begin(), expected.end(),
                        std::back_inserter(extra));
    std::set_difference(expected.begin(), expected.end(), hits.begin(), hits.end(),
                        std::back_inserter(missing));
    std::string diff;
    for (const Hit& h : extra)
      diff += "  found, not listed: " + std::get<0>(h) + "  " + std::get<1>(h) + "  " + std::get<2>(h) + "\n";
    for (const Hit& h : missing)
      diff += "  listed, not found: " + std::get<0>(h) + "  " + std::get<1>(h) + "  " + std::get<2>(h) + "\n";
    EXPECT_TRUE(diff.empty()) << diff;
    EXPECT_GE(hits.size(), c.atLeast);
    if (c.atLeast == 0) {
      EXPECT_TRUE(hits.empty());
    }
  }
  // A Japanese pattern finds the Shift-JIS short name the manifest reads.
  const auto r = RunCommand(Kdl() + " find " + ShellQuote(image.string()) + " " + ShellQuote("ソ*"));
  const std::string prefix = type == 7 ? "/MISC" : "";
  EXPECT_EQ(r.output.substr(0, r.output.find("  ")), image.string() + ":" + prefix + "/ソフト.TXT")
      << r.output;
}

// The patterns over the ".KDL" image and over a D88 file of the disk (another tool's container).
TEST_P(FindOracle, HitsAndMissesAreThoseOfTheMdirListing) {
  const int type = GetParam();
  const fs::path packed = disks_->PackedKdl(type, "find" + std::to_string(type) + ".KDL");
  const fs::path container = disks_->dir() / ("find" + std::to_string(type) + ".d88");
  ASSERT_EQ(RunCommand(Kdl() + " raw " + ShellQuote(disks_->Fixture(type, ".img").string()) + " " +
                       ShellQuote(container.string()) + " >/dev/null 2>&1")
                .status,
            0);
  for (const fs::path& image : {packed, container}) {
    SCOPED_TRACE(image.filename().string());
    FindOver(image, type, disks_->Fixture(type, ".mdir"));
  }
}

// Every unit that holds neither the FAT, the root nor a directory is damaged: a search by names alone must
// not notice, since it never reads them.
TEST_P(FindOracle, NamesAloneReadNoDataUnit) {
  const int type = GetParam();
  const std::vector<uint8_t> raw = ReadFile(disks_->Fixture(type, ".img"));
  // The layout from the boot sector, and the directories' chains from the FAT, read here independently.
  const size_t sectorSize = raw[11] | (raw[12] << 8), perCluster = raw[13],
               reserved = raw[14] | (raw[15] << 8);
  const size_t fats = raw[16], rootEntries = raw[17] | (raw[18] << 8), fatSectors = raw[22] | (raw[23] << 8);
  const size_t perUnit = static_cast<size_t>(raw[24] | (raw[25] << 8)) * (raw[26] | (raw[27] << 8));
  const size_t rootStart = reserved + fats * fatSectors;
  const size_t dataStart = rootStart + (rootEntries * 32 + sectorSize - 1) / sectorSize;
  const auto fat = [&](size_t n) {
    const size_t at = reserved * sectorSize + n * 3 / 2;
    const unsigned v = raw[at] | (raw[at + 1] << 8);
    return n % 2 == 0 ? (v & 0xFFF) : (v >> 4);
  };
  std::set<size_t> needed;
  for (size_t s = 0; s < dataStart; ++s) needed.insert(s / perUnit);
  for (const ManifestEntry& m : kdloracle::ReadManifest(disks_->Fixture(type, ".manifest"))) {
    if (m.kind != 'd') continue;
    for (size_t c = m.cluster; c >= 2 && c < 0xFF0; c = fat(c)) {
      for (size_t s = 0; s < perCluster; ++s) needed.insert((dataStart + (c - 2) * perCluster + s) / perUnit);
    }
  }
  std::vector<uint8_t> image = ReadFile(disks_->PackedKdl(type, "nodata.KDL"));
  const fs::path clean = disks_->PackedKdl(type, "clean.KDL");
  size_t damaged = 0;
  for (size_t unit = 0; unit < 80; ++unit) {
    const size_t entry = 256 + 16 * unit;
    const size_t offset = image[entry] | (image[entry + 1] << 8) | (image[entry + 2] << 16);
    const size_t stored = image[entry + 4] | (image[entry + 5] << 8);
    if (needed.count(unit) || stored == 0 || image[entry + 6] == 1) continue;
    image[offset + stored / 2] ^= 0x5A;
    ++damaged;
  }
  ASSERT_GT(damaged, 10u);
  const fs::path path = disks_->dir() / "nodata.KDL";
  kdltest::WriteFile(path, image);
  const auto names = RunCommand(Kdl() + " find " + ShellQuote(path.string()) + " 2>&1");
  const auto reference = RunCommand(Kdl() + " find " + ShellQuote(clean.string()));
  EXPECT_EQ(names.status, 0) << names.output;
  std::string same = reference.output;
  for (size_t at; (at = same.find(clean.string())) != std::string::npos;)
    same.replace(at, clean.string().size(), path.string());
  EXPECT_EQ(names.output, same);
  // Searching the contents does read them, and says so.
  const auto contents = RunCommand(Kdl() + " find " + ShellQuote(path.string()) + " '*.BIN' --grep x 2>&1");
  EXPECT_EQ(contents.status, 2);
  EXPECT_NE(contents.output.find("CRC Error"), std::string::npos) << contents.output;
}

INSTANTIATE_TEST_SUITE_P(AllMediaTypes, FindOracle, ::testing::Range(0, 8));

// Contents: a disk made by mtools with the same Japanese text in Shift-JIS and in UTF-8, a text whose
// Shift-JIS form appears only across a character boundary, and a text split by a cluster boundary; several
// sources.
TEST(FindContents, TextAsGivenAndInShiftJisOverArchivesAndFolders) {
  kdltest::TempDir dir;
  const auto sh = [&](const std::string& command) {
    return RunCommand("cd " + ShellQuote(dir.path().string()) + " && " + command);
  };
  ASSERT_EQ(
      sh("mkfs.fat -C -F 12 -f 2 -r 224 -R 1 -s 1 -S 512 -g 2/18 -M 0xF0 disk.img 1440 >/dev/null").status,
      0);
  ASSERT_EQ(
      sh("printf 'memo: 日本語のテキスト\\n' > utf8.txt && iconv -f UTF-8 -t SHIFT_JIS utf8.txt > sjis.txt "
         "&& "
         "printf 'Hello World\\n' > ascii.txt && printf '\\203\\203\\101' > trail.bin && "
         "{ head -c 509 /dev/zero; printf 'needle'; head -c 600 /dev/zero; } > split.bin && "
         "mkdir sub && cp ascii.txt sub/Hello.TXT && "
         "MTOOLS_SKIP_CHECK=1 mcopy -s -i disk.img utf8.txt sjis.txt ascii.txt trail.bin split.bin sub ::/")
          .status,
      0);
  ASSERT_EQ(sh(Kdl() + " create disk.img disk.KDL >/dev/null 2>&1").status, 0);
  const std::string image = (dir / "disk.KDL").string();

  const auto files = [&](const std::string& args) {
    const auto r = RunCommand(Kdl() + " find " + ShellQuote(image) + " " + args);
    std::set<std::string> names;
    std::stringstream ss(r.output);
    for (std::string line; std::getline(ss, line);)
      names.insert(line.substr(image.size() + 1, line.find("  ") - image.size() - 1));
    return std::make_pair(r.status, names);
  };
  using Names = std::set<std::string>;
  // mtools keeps the names' case: lower-case 8.3 names by their case flags, "Hello.TXT" as a long name.
  EXPECT_EQ(files("--grep 日本語"), std::make_pair(0, Names{"/utf8.txt", "/sjis.txt"}));
  EXPECT_EQ(files("'S*' --grep 日本語"), std::make_pair(0, Names{"/sjis.txt"}));
  // "ア" is 83 41 in Shift-JIS: those bytes are in trail.bin, but as the end of "ャ" and an "A".
  EXPECT_EQ(files("--grep ア").first, 1);
  EXPECT_EQ(files("--grep ャA"), std::make_pair(0, Names{"/trail.bin"}));
  EXPECT_EQ(files("--grep world").first, 1);
  EXPECT_EQ(files("--grep world -i"), std::make_pair(0, Names{"/ascii.txt", "/sub/Hello.TXT"}));
  EXPECT_EQ(files("--grep needle"), std::make_pair(0, Names{"/split.bin"}));

  // An archive and a folder of images: each hit names its source and image.
  fs::create_directories(dir / "shelf/box");
  ASSERT_EQ(
      sh(Kdl() + " add shelf/box/set.KDZ disk.KDL disk.img >/dev/null 2>&1 && cp disk.img shelf/raw.img && "
                 "echo text > shelf/notes.txt")
          .status,
      0);
  const auto r = RunCommand(Kdl() + " find " + ShellQuote((dir / "shelf").string()) + " 'hello.*'");
  EXPECT_EQ(r.status, 0);
  const std::string shelf = (dir / "shelf").string();
  std::set<std::string> lines;
  std::stringstream ss(r.output);
  for (std::string line; std::getline(ss, line);) lines.insert(line);
  EXPECT_EQ(lines.size(), 3u) << r.output;
  const std::string date = r.output.substr(r.output.find('\n') - 14, 14);
  for (const std::string& source :
       {shelf + "/box/set.KDZ:DISK1", shelf + "/box/set.KDZ:DISK2", shelf + "/raw.img"})
    EXPECT_EQ(lines.count(source + ":/sub/Hello.TXT  12  " + date), 1u) << source << "\n" << r.output;
  // A source that is not there: an error, and the others are still searched.
  const auto missing = RunCommand(Kdl() + " find " + ShellQuote(image) + " " +
                                  ShellQuote((dir / "none.KDL").string()) + " 'ascii.txt' 2>/dev/null");
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.output, image + ":/ascii.txt  12  " + date + "\n");
}

}  // namespace
