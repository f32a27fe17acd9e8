// `kdl add`, `kdl list`, `kdl extract`, the archive forms of test, labels, copy and restore, and the
// ARCHIVE:N operand, run as the program itself.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "archive/archive_rig.h"

namespace kdltest {
namespace {

namespace fs = std::filesystem;

// The program: $KDL_BINARY, else the one built beside this test program.
std::string Kdl() {
  if (const char* env = std::getenv("KDL_BINARY")) return env;
#ifdef KDL_BINARY
  return KDL_BINARY;
#else
  return (fs::canonical("/proc/self/exe").parent_path().parent_path() / "src" / "kdl" / "kdl").string();
#endif
}

class ArchiveCli : public ::testing::Test {
 protected:
  void SetUp() override {
    if (RunCommand(ShellQuote(Kdl()) + " --help 2>&1").output.find("\n  list ") == std::string::npos)
      GTEST_SKIP() << Kdl() << " has no archive commands yet";
    const std::vector<uint8_t> type2 = ReadFile(Floppies() / "type2.img");
    raw2 = bench.Write("t2.img", type2);
    blank2 = bench.Write("b2.img", ReadFile(Floppies() / "blank/type2.img"));
    KdlOptions packed;
    packed.omitUnused = true;
    kdl3 = bench.Write("t3.KDL", MakeKdl(ReadFile(Floppies() / "type3.img"), 3, packed).bytes);
    // DOS times count in steps of two seconds.
    SetLocalMtime(kdl3, 2010, 5, 6, 7, 8, 10);
    archive = Path("A.KDZ");
  }
  std::string Path(const std::string& name) const { return (bench.dir / name).string(); }
  // Runs kdl with `args` (already quoted), standard input closed; standard error merged when asked.
  CommandResult Run(const std::string& args, bool mergeStderr = false) {
    return RunCommand("cd " + ShellQuote(bench.dir.path().string()) + " && " + ShellQuote(Kdl()) + " " +
                          args + " </dev/null",
                      mergeStderr);
  }

  ImageBench bench;
  std::string raw2, blank2, kdl3, archive;
};

TEST_F(ArchiveCli, AddListExtractAndLabels) {
  const CommandResult added =
      Run("add A.KDZ " + ShellQuote(raw2) + " " + ShellQuote(kdl3) + " -l ラベル -l two");
  ASSERT_EQ(added.status, 0) << added.output;
  EXPECT_EQ(added.output, "DISK1  " + raw2 + "\nDISK2  " + kdl3 + "\n");

  const CommandResult list = Run("list A.KDZ");
  ASSERT_EQ(list.status, 0);
  const std::string date = list.output.substr(22, 14);
  EXPECT_EQ(list.output, "DISK1     2HC(1.44M)  " + date + "  Volume LABEL : KDLW TYPE 2" +
                             std::string(16, ' ') + "\nDISK2     2DD(720K)   " +
                             list.output.substr(81 + 22, 14) + std::string(44, ' ') + "\n");

  EXPECT_EQ(Run("labels A.KDZ").output, "ＫＤＬ数：  2\nラベル\ntwo\n");
  EXPECT_EQ(Run("labels A.KDZ -l 新しい").output, "ＫＤＬ数：  2\n新しい\n\n");
  EXPECT_EQ(Run("labels A.KDZ -l a -l b -l c").status, 2);

  // Cut out as a standalone image, ".KDL" added, stamped with the entry's time.
  ASSERT_EQ(Run("extract A.KDZ 2 out").status, 0);
  EXPECT_TRUE(ReadFile(Path("out.KDL")) == ReadFile(kdl3));
  struct stat a {
  }, b{};
  ASSERT_EQ(stat(Path("out.KDL").c_str(), &a), 0);
  ASSERT_EQ(stat(kdl3.c_str(), &b), 0);
  EXPECT_EQ(a.st_mtime, b.st_mtime);
  // An existing output is replaced only after Yes; without a terminator nobody says Yes.
  WriteFile(Path("old.KDL"), {1, 2, 3});
  EXPECT_EQ(Run("extract A.KDZ DISK1 old.KDL").status, 1);
  EXPECT_EQ(ReadFile(Path("old.KDL")).size(), 3u);
  EXPECT_EQ(Run("--yes extract A.KDZ disk1 old.KDL").status, 0);
  EXPECT_EQ(ReadFile(Path("old.KDL")).size(), ReadFile(raw2).size() + 1536);
  const CommandResult missing = Run("extract A.KDZ 3 x", true);
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.output.find("A.KDZ に 3 番目のイメージはありません"), std::string::npos)
      << missing.output;
  EXPECT_EQ(Run("extract A.KDZ zero x").status, 2);
}

TEST_F(ArchiveCli, AddRefusesBeforeTouchingTheArchive) {
  ASSERT_EQ(Run("add A.KDZ").status, 0);
  EXPECT_EQ(fs::file_size(archive), 160u);
  const std::vector<uint8_t> empty = ReadFile(archive);
  EXPECT_EQ(Run("add A.KDZ " + ShellQuote(raw2) + " nothere.img").status, 1);
  EXPECT_EQ(Run("add A.KDZ -l late").status, 2);
  WriteFile(Path("t2.KDL"), ReadFile(raw2));
  const CommandResult wrong = Run("add A.KDZ " + ShellQuote(Path("t2.KDL")), true);
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.output.find("KDZ Form: " + Path("t2.KDL") + " はカドローンではありません"),
            std::string::npos)
      << wrong.output;
  EXPECT_TRUE(ReadFile(archive) == empty);
  WriteFile(Path("plain.KDZ"), std::vector<uint8_t>(200, 'x'));
  const CommandResult plain = Run("list plain.KDZ", true);
  EXPECT_EQ(plain.status, 1);
  EXPECT_NE(plain.output.find("not a .KDZ archive"), std::string::npos);
  // --new replaces what is there.
  ASSERT_EQ(Run("add plain.KDZ --new " + ShellQuote(raw2)).status, 0);
  EXPECT_EQ(Run("list plain").output.substr(0, 6), "DISK1 ");
}

TEST_F(ArchiveCli, ImagesInsideAnArchiveAreOperandsOfTheImageCommands) {
  ASSERT_EQ(Run("add A.KDZ " + ShellQuote(raw2) + " " + ShellQuote(kdl3)).status, 0);
  EXPECT_EQ(Run("ls A.KDZ:2 -R").output, Run("ls " + ShellQuote(kdl3) + " -R").output);
  EXPECT_EQ(Run("ls A.KDZ:disk1").output, Run("ls " + ShellQuote(raw2)).output);
  const std::vector<uint8_t> readme = ReadFile(Floppies() / "type3.files" / "README.TXT");
  EXPECT_EQ(Run("cat A.KDZ:DISK2 /README.TXT").output, std::string(readme.begin(), readme.end()));
  const CommandResult test = Run("test A.KDZ:2");
  EXPECT_EQ(test.status, 0);
  EXPECT_EQ(test.output.rfind("KDL :DISK2       FDD type:2DD(720K)  ", 0), 0u) << test.output.substr(0, 80);
  const CommandResult none = Run("ls A.KDZ:3", true);
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.output.find("に 3 番目のイメージはありません"), std::string::npos) << none.output;
  // A name whose part before the ":" is no file stays a plain file name.
  EXPECT_EQ(Run("ls nothere.KDZ:1").status, 1);

  const CommandResult all = Run("test A.KDZ");
  EXPECT_EQ(all.status, 0);
  EXPECT_EQ(all.output.rfind("FILE:A.KDZ ", 0), 0u);
  EXPECT_NE(all.output.find("KDL :DISK1       FDD type:2HC(1.44M)"), std::string::npos);
  // A damaged unit of the second image fails the test of the whole archive.
  std::vector<uint8_t> bytes = ReadFile(archive);
  const size_t second = 160 + ReadFile(raw2).size() + 1536 + 32;
  const kdl::TrackDirectory dir = *kdl::ParseTrackDirectory(kdl::ByteView(bytes.data() + second + 256, 1280));
  for (const kdl::TrackEntry& e : dir) {
    if (e.kind == kdl::kTrackCompressed) {
      bytes[second + static_cast<size_t>(e.offset) + 5] ^= 0xFF;
      break;
    }
  }
  WriteFile(archive, bytes);
  const CommandResult damaged = Run("test A.KDZ");
  EXPECT_EQ(damaged.status, 1);
  EXPECT_NE(damaged.output.find("    Error"), std::string::npos);
}

TEST_F(ArchiveCli, CopyAndRestoreEveryImage) {
  ASSERT_EQ(Run("add A.KDZ " + ShellQuote(blank2) + " " + ShellQuote(raw2)).status, 0);
  fs::create_directory(Path("out"));
  ASSERT_EQ(Run("copy A.KDZ --to out").status, 0);
  EXPECT_EQ(CompareWithMcopy(Path("out/DISK2"), Floppies() / "type2.files"), "");
  EXPECT_TRUE(fs::is_directory(Path("out/DISK1")));
  EXPECT_EQ(Run("copy A.KDZ /README.TXT --to out").status, 2);

  // A raw image file acts as the drive: both images are written to it in turn, the second one last.
  const std::string drive = bench.Write("drive.img", ReadFile(Floppies() / "blank/type2.img"));
  std::vector<uint8_t> before = ReadFile(drive);
  before[20000] ^= 1;
  WriteFile(drive, before);
  EXPECT_EQ(Run("restore A.KDZ drive.img").status, 1);
  EXPECT_TRUE(ReadFile(drive) == before);
  const CommandResult restored = Run("--yes restore A.KDZ drive.img --verify", true);
  EXPECT_EQ(restored.status, 0) << restored.output;
  EXPECT_TRUE(ReadFile(drive) == ReadFile(raw2));
}

}  // namespace
}  // namespace kdltest
