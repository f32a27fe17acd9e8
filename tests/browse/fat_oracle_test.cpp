// Disks written by mtools, an independent FAT implementation, read back through our reader: every name, every
// byte and the dates must be what mtools stored.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>

#include "browse/fat.h"
#include "support/image_builder.h"

namespace kdl {
namespace {

using kdltest::ImageBench;
using kdltest::ShellQuote;

using Tree = std::map<std::string, std::vector<uint8_t>>;

bool Mtools(const std::string& command) {
  return kdltest::RunCommand("MTOOLS_SKIP_CHECK=1 " + command + " >/dev/null 2>&1").status == 0;
}

// Every file below `table` by its display path, read through the file stream.
void Collect(ImageState& image, const DirectoryTable& table, const std::string& prefix, Tree& tree) {
  for (size_t i = 0; i < table.size(); ++i) {
    const DirectoryEntry& e = table[i];
    if (e.IsLongNamePiece() || e.IsVolumeLabel()) continue;
    std::string name;
    EntryDisplayName(table, i, name);
    if (e.IsDirectory()) {
      if (name[0] != '.') Collect(image, LoadSubdirectory(image, e), prefix + name + "/", tree);
      continue;
    }
    std::vector<uint8_t>& bytes = tree[prefix + name];
    OpenFileStream(image, e);
    for (int b = NextFileByte(image); b >= 0; b = NextFileByte(image))
      bytes.push_back(static_cast<uint8_t>(b));
  }
}

// The first "yyyy-mm-dd  h:mm" of an mdir listing as "yy-mm-dd hh:mm", or "" when there is none.
std::string MdirDate(const std::string& text) {
  auto digits = [&](size_t at, size_t n) {
    if (at + n > text.size()) return false;
    for (size_t k = 0; k < n; ++k)
      if (!std::isdigit(static_cast<unsigned char>(text[at + k]))) return false;
    return true;
  };
  for (size_t i = 0; i + 10 <= text.size(); ++i) {
    if (!digits(i, 4) || text[i + 4] != '-' || !digits(i + 5, 2) || text[i + 7] != '-' || !digits(i + 8, 2))
      continue;
    size_t j = i + 10;
    while (j < text.size() && text[j] == ' ') ++j;
    const size_t colon = text.find(':', j);
    if (colon == std::string::npos || colon == j || colon - j > 2 || !digits(j, colon - j) ||
        !digits(colon + 1, 2))
      continue;
    const std::string hour = text.substr(j, colon - j);
    return text.substr(i + 2, 8) + " " + (hour.size() == 1 ? "0" : "") + hour + ":" +
           text.substr(colon + 1, 2);
  }
  return "";
}

// A deleted entry between the pieces of a long name and its short entry ends the long name, as mtools reads
// the disk; pieces that stand directly before their entry still give the long name.
TEST(FatOracle, ADeletedEntryEndsALongName) {
  if (!kdltest::HaveTool("mdir")) GTEST_SKIP() << "mtools is not installed";
  kdltest::FatDiskBuilder disk(2);
  constexpr uint16_t kRoot = kdltest::FatDiskBuilder::kRoot;
  for (const DirectoryEntry& piece :
       kdltest::FatDiskBuilder::LongNamePieces(u"Broken long name.txt", "BROKEN~1TXT"))
    disk.AddEntry(kRoot, piece);
  DirectoryEntry deleted = kdltest::FatDiskBuilder::ShortEntry("GONE    TXT", {}, 0, 0);
  deleted.bytes()[0] = kDeletedMark;
  disk.AddEntry(kRoot, deleted);
  disk.AddFile(kRoot, "BROKEN~1TXT", kdltest::TextBytes(40));
  kdltest::EntryOptions kept;
  kept.longName = u"Kept long name.txt";
  disk.AddFile(kRoot, "KEPTLO~1TXT", kdltest::TextBytes(50), kept);
  ImageBench bench;
  const std::string img = bench.Write("disk.img", disk.bytes());
  const kdltest::CommandResult mdir =
      kdltest::RunCommand("MTOOLS_SKIP_CHECK=1 mdir -/ -a -i " + ShellQuote(img) + " ::", true);
  ASSERT_EQ(mdir.status, 0) << mdir.output;
  ASSERT_NE(mdir.output.find("Kept long name.txt"), std::string::npos) << mdir.output;
  ASSERT_EQ(mdir.output.find("Broken long name.txt"), std::string::npos) << mdir.output;

  bench.work.dialogMode = kModeOpenRaw;
  bench.work.rawImagePath = img;
  ASSERT_GE(bench.image.OpenImage(img), 0);
  std::set<std::string> names;
  for (size_t i = 0; i < bench.image.root.size(); ++i) {
    std::string name;
    if (!bench.image.root[i].IsLongNamePiece())
      names.insert((EntryDisplayName(bench.image.root, i, name), name));
  }
  EXPECT_EQ(names, (std::set<std::string>{"BROKEN~1.TXT", "Kept long name.txt"}));
}

struct Format {
  int type;
  const char* size;  // mformat -f
};

TEST(FatOracle, TreeWrittenByMtoolsReadsBackFromRawAndKdlImages) {
  if (!kdltest::HaveTool("mformat") || !kdltest::HaveTool("mcopy") || !kdltest::HaveTool("mmd"))
    GTEST_SKIP() << "mtools is not installed";
  for (const Format format : {Format{3, "720"}, Format{2, "1440"}, Format{5, "360"}}) {
    SCOPED_TRACE(format.size);
    ImageBench bench;
    const std::string img = ShellQuote((bench.dir / "disk.img").string());
    ASSERT_TRUE(Mtools("mformat -C -i " + img + " -f " + format.size + " -v ORACLE ::"));
    Tree expected;
    auto put = [&](const std::string& target, std::vector<uint8_t> bytes) {
      const std::string host = bench.Write("host.tmp", bytes);
      ASSERT_TRUE(Mtools("mcopy -i " + img + " " + ShellQuote(host) + " " + ShellQuote("::/" + target)));
      expected[target] = std::move(bytes);
    };
    ASSERT_TRUE(Mtools("mmd -i " + img + " '::/Sub Dir' '::/Sub Dir/Nested' ::/EMPTYDIR"));
    put("readme.txt", kdltest::TextBytes(5));
    put("UPPER.TXT", kdltest::TextBytes(1234, 2));
    put("big.dat", kdltest::TextBytes(40000, 3));
    put("Sub Dir/A rather long file name.bin", kdltest::NoiseBytes(5000));
    put("Sub Dir/Nested/Long name two.txt", kdltest::TextBytes(777, 4));
    put("Sub Dir/Nested/empty.txt", {});
    // A hole left by a deleted file makes the next file's chain jump.
    put("f1.bin", kdltest::NoiseBytes(3000, 1));
    put("f2.bin", kdltest::NoiseBytes(3000, 2));
    put("f3.bin", kdltest::NoiseBytes(3000, 3));
    ASSERT_TRUE(Mtools("mdel -i " + img + " ::/f2.bin"));
    expected.erase("f2.bin");
    put("frag.bin", kdltest::NoiseBytes(9000, 4));

    const std::vector<uint8_t> raw = kdltest::ReadFile(bench.dir / "disk.img");
    bench.work.dialogMode = kModeOpenRaw;
    bench.work.rawImagePath = (bench.dir / "disk.img").string();
    ASSERT_GE(bench.image.OpenImage(""), 0);
    EXPECT_EQ(bench.image.header.mediaType, format.type);
    Tree fromRaw;
    Collect(bench.image, bench.image.root, "", fromRaw);
    EXPECT_EQ(fromRaw, expected);

    // The mtools date of one entry against ours.
    const kdltest::CommandResult listing =
        kdltest::RunCommand("MTOOLS_SKIP_CHECK=1 mdir -i " + img + " ::/UPPER.TXT 2>/dev/null");
    const std::string mtoolsDate = MdirDate(listing.output);
    ASSERT_FALSE(mtoolsDate.empty()) << listing.output;
    const DirectoryEntry* upper = FindEntryByName(bench.image.root, "UPPER.TXT");
    ASSERT_NE(upper, nullptr);
    EXPECT_EQ(FatDateText(upper->Time(), upper->Date()), mtoolsDate);
    bench.image.CloseImage();

    kdltest::KdlOptions options;
    options.omitUnused = true;
    bench.work.dialogMode = kModeCreate;
    ASSERT_GE(
        bench.image.OpenImage(bench.Write("disk.KDL", kdltest::MakeKdl(raw, format.type, options).bytes)), 0);
    Tree fromKdl;
    Collect(bench.image, bench.image.root, "", fromKdl);
    EXPECT_EQ(fromKdl, expected);
    EXPECT_TRUE(bench.prompter.asks.empty());
  }
}

}  // namespace
}  // namespace kdl
