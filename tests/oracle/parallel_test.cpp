// Worker threads change nothing but the time: every command that compresses, expands or checks track
// units and images side by side gives what one thread gives (the same images, archives, raw disks,
// copied trees and restored disks, the same listings and messages in the same order, the same exit
// status) on every media type, with damaged units among them and a write that fails halfway.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "image/kdl_format.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

using kdltest::ReadFile;
using kdltest::RunCommand;
using kdltest::ShellQuote;

// Every file below `root` by relative path: its size and a hash of its bytes, and for copied files (below
// OUT*) its modification time (its damage mark instead when it has one) and mode; folders by name alone.
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string name = fs::relative(e.path(), root).string();
    if (e.is_directory()) {
      tree[name + "/"] = "";
      continue;
    }
    const std::vector<uint8_t> bytes = ReadFile(e.path());
    std::string what = std::to_string(bytes.size()) + " bytes, hash " +
                       std::to_string(std::hash<std::string>{}(std::string(bytes.begin(), bytes.end())));
    if (name.rfind("OUT", 0) == 0) {
      struct stat st {};
      ::stat(e.path().c_str(), &st);
      // A file copied across damage keeps the time of its copy, not the entry's: its mark is compared.
      char mark[512];
      const ssize_t marked = ::getxattr(e.path().c_str(), "user.kdl.damaged", mark, sizeof mark);
      what += marked >= 0 ? ", damaged " + std::string(mark, static_cast<size_t>(marked))
                          : ", time " + std::to_string(st.st_mtime);
      what += ", mode " + std::to_string(st.st_mode & 0777);
    }
    tree[name] = what;
  }
  return tree;
}

// The image `packed` with three units damaged where files lie: a compressed unit's stored bytes, a plain
// unit's bytes under its CRC and an entry of an unknown kind.
std::vector<uint8_t> Damaged(const std::vector<uint8_t>& packed) {
  std::vector<uint8_t> bytes = packed;
  const auto directory =
      kdl::ParseTrackDirectory(kdl::ByteView(bytes.data() + kdl::kKdlHeaderSize, kdl::kTrackDirectorySize));
  bool compressed = false, plain = false, entry = false;
  for (size_t unit = 1; unit < directory->size(); ++unit) {
    const kdl::TrackEntry& e = (*directory)[unit];
    const size_t at = static_cast<size_t>(e.offset) + static_cast<size_t>(e.storedLength) / 2;
    if (e.kind == kdl::kTrackCompressed && !compressed) {
      bytes[at] ^= 0x5A;
      compressed = true;
    } else if (e.kind == kdl::kTrackNormal && e.dataCrc != 0 && !plain) {
      bytes[at] ^= 0x5A;
      plain = true;
    } else if (e.kind != kdl::kTrackSameByte && !entry && compressed) {
      bytes[kdl::kKdlHeaderSize + unit * kdl::kTrackEntrySize + 6] = 9;
      entry = true;
    }
  }
  return bytes;
}

class ParallelPaths : public ::testing::TestWithParam<int> {
 protected:
  // Runs the shell line `line` in `folder`, where $K is kdl with `jobs` threads answering Yes: exit status
  // and merged output. A write over a size limit fails instead of ending the program.
  static std::string Run(const fs::path& folder, int jobs, const std::string& line) {
    const std::string k = std::string(KDL_BINARY) + " -j " + std::to_string(jobs) + " --yes";
    const auto r = RunCommand(
        "cd " + ShellQuote(folder.string()) + " && trap '' XFSZ && K=" + ShellQuote(k) + " && (" + line + ")",
        true);
    return "exit " + std::to_string(r.status) + "\n" + r.output;
  }
};

TEST_P(ParallelPaths, GiveWhatOneThreadGives) {
  const int type = GetParam();
  const fs::path fixtures = kdltest::Floppies();
  kdltest::TempDir dir;
  fs::copy_file(fixtures / ("type" + std::to_string(type) + ".img"), dir / "disk.img");
  // A disk cut short in its last third: reading it fails there.
  std::vector<uint8_t> disk = ReadFile(dir / "disk.img");
  kdltest::WriteFile(dir / "short.img",
                     std::vector<uint8_t>(disk.begin(), disk.begin() + disk.size() * 2 / 3));

  // The images the other commands work on, made once with one thread.
  const fs::path made = dir / "made";
  fs::create_directory(made);
  ASSERT_EQ(Run(made, 1, "$K create ../disk.img PACKED.KDL").substr(0, 6), "exit 0");
  ASSERT_EQ(Run(made, 1, "$K create --keep-unused ../disk.img WHOLE.KDL").substr(0, 6), "exit 0");
  const std::vector<uint8_t> packed = ReadFile(made / "PACKED.KDL");
  kdltest::WriteFile(made / "DAMAGED.KDL", Damaged(packed));

  const std::vector<std::string> commands = {
      "$K create ../disk.img C1.KDL",
      "$K create --keep-unused ../disk.img C2.KDL",
      "$K create --no-compress ../disk.img C3.KDL",
      "$K create --keep-unused ../short.img C4.KDL",
      "ulimit -f 40; $K create --keep-unused ../disk.img C5.KDL",
      "$K test PACKED.KDL",
      "$K test DAMAGED.KDL",
      "$K raw PACKED.KDL PACKED.IMG",
      "$K raw DAMAGED.KDL DAMAGED.IMG",
      "$K copy PACKED.KDL --to OUT1 --policy all",
      "$K copy DAMAGED.KDL --to OUT2 --policy all",
      "$K restore PACKED.KDL TARGET1.IMG",
      "$K restore DAMAGED.KDL TARGET2.IMG",
      // The archive's time shows in the report of its test: both runs give it the same one.
      "$K add A.KDZ PACKED.KDL DAMAGED.KDL WHOLE.KDL ../disk.img; s=$?; "
      "touch -d '2001-02-03 04:05:06' A.KDZ; exit $s",
      "$K test A.KDZ",
      "$K copy A.KDZ --to OUT3 --policy all",
      "$K raw A.KDZ:2 FROMARCHIVE.IMG",
      "$K restore A.KDZ TARGET3.IMG",
  };
  std::map<int, std::vector<std::string>> outputs;
  std::map<int, std::map<std::string, std::string>> trees;
  for (int jobs : {1, 4}) {
    const fs::path folder = dir / ("j" + std::to_string(jobs));
    fs::create_directory(folder);
    for (const char* name : {"PACKED.KDL", "WHOLE.KDL", "DAMAGED.KDL"}) {
      fs::copy_file(made / name, folder / name);
      ASSERT_EQ(RunCommand("touch -d '2001-02-03 04:05:06' " + ShellQuote((folder / name).string())).status,
                0);
    }
    for (const char* name : {"TARGET1.IMG", "TARGET2.IMG", "TARGET3.IMG"})
      fs::copy_file(dir / "disk.img", folder / name);
    for (const std::string& command : commands)
      outputs[jobs].push_back(command + "\n" + Run(folder, jobs, command));
    trees[jobs] = Tree(folder);
  }
  ASSERT_EQ(outputs[1].size(), outputs[4].size());
  for (size_t i = 0; i < outputs[1].size(); ++i) EXPECT_EQ(outputs[4][i], outputs[1][i]);
  EXPECT_EQ(trees[4], trees[1]);
  // The runs met what they were made to meet.
  const std::string all = [&] {
    std::string text;
    for (const std::string& o : outputs[1]) text += o;
    return text;
  }();
  EXPECT_NE(all.find("CRC Error"), std::string::npos);
  EXPECT_NE(all.find("トラック情報が正しくありません"), std::string::npos);
  EXPECT_NE(all.find("Drv Read Err"), std::string::npos);
  EXPECT_NE(all.find("ファイル出力エラー"), std::string::npos);
  EXPECT_GT(trees[1].count("OUT1/"), 0u);
  EXPECT_EQ(ReadFile(dir / "j1" / "C1.KDL"), packed);
}

INSTANTIATE_TEST_SUITE_P(AllMediaTypes, ParallelPaths, ::testing::Range(0, 8));

}  // namespace
