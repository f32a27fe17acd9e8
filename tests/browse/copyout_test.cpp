#include "browse/copyout.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <ctime>
#include <deque>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "browse/dir_list.h"
#include "browse/fat.h"
#include "common/temp_files.h"
#include "support/image_builder.h"
#include "support/scripted_prompter.h"
#include "support/test_support.h"

namespace kdl {
namespace {

namespace fs = std::filesystem;
using kdltest::EntryOptions;
using kdltest::FatDiskBuilder;
constexpr uint16_t kRoot = FatDiskBuilder::kRoot;

// 2024-03-15 10:30:46 as a FAT date and time.
constexpr uint16_t kDate = (44 << 9) | (3 << 5) | 15;
constexpr uint16_t kTime = (10 << 11) | (30 << 5) | 23;

EntryOptions Stamped(uint8_t attribute = kAttrArchive) {
  EntryOptions o;
  o.attribute = attribute;
  o.time = kTime;
  o.date = kDate;
  return o;
}

EntryOptions Named(std::u16string longName, uint8_t attribute = kAttrArchive) {
  EntryOptions o = Stamped(attribute);
  o.longName = std::move(longName);
  return o;
}

std::vector<uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }
std::string Text(const fs::path& p) {
  const std::vector<uint8_t> b = kdltest::ReadFile(p);
  return {b.begin(), b.end()};
}

std::time_t LocalTime(int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = 124, t.tm_mon = 2, t.tm_mday = 15, t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

void SetModified(const fs::path& p, std::time_t t) {
  const timespec times[2] = {{t, 0}, {t, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
}

// The kept attribute byte; -1 when there is none, -2 when the file system keeps no extended attributes.
int DosAttribute(const fs::path& p) {
  uint8_t b = 0;
  if (getxattr(p.c_str(), std::string(kDosAttributeXattr).c_str(), &b, 1) == 1) return b;
  return errno == ENOTSUP ? -2 : -1;
}

mode_t Mode(const fs::path& p) {
  struct stat st {};
  return lstat(p.c_str(), &st) == 0 ? st.st_mode : 0;
}

std::set<std::string> Names(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

class CopyOutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_.prompter = &prompter_;
    image_ = std::make_unique<ImageState>(work_);
    fs::create_directories(out_);
  }

  void WriteImage() {
    kdltest::WriteFile(kdl_, kdltest::MakeKdl(disk_.bytes(), 5).bytes);
    work_.currentImagePath = kdl_.string();
  }
  void Open() {
    WriteImage();
    ASSERT_GE(image_->OpenImage(kdl_.string()), 0);
  }
  size_t RootIndex(std::string_view name) {
    const DirectoryEntry* e = FindEntryByName(image_->root, name);
    EXPECT_NE(e, nullptr) << name;
    return static_cast<size_t>(e - image_->root.data());
  }
  fs::path Dir(const std::string& name) {
    fs::create_directories(out_ / name);
    return out_ / name;
  }

  FatDiskBuilder disk_{5};
  kdltest::TempDir temp_;
  fs::path kdl_ = temp_ / "disk.kdl";
  fs::path out_ = temp_ / "parent" / "out";
  kdltest::ScriptedPrompter prompter_;
  ImageWork work_;
  std::unique_ptr<ImageState> image_;
};

TEST_F(CopyOutTest, WholeImageKeepsTreeContentAndTimes) {
  disk_.AddVolumeLabel("MYDISK     ");
  const std::vector<uint8_t> big = kdltest::NoiseBytes(2500);
  disk_.AddFile(kRoot, "README  TXT", big, Stamped());
  disk_.AddFile(kRoot, "EMPTY   DAT", {}, Stamped());
  const uint16_t docs = disk_.AddDirectory(kRoot, "DOCS       ");
  disk_.AddFile(docs, "A       TXT", Bytes("in docs"));
  disk_.AddFile(disk_.AddDirectory(docs, "SUB        "), "B       TXT", Bytes("deeper"), Stamped());
  WriteImage();
  work_.openCloseFlags = kOpenFirst | kCloseAfter;

  EXPECT_EQ(CopyWholeImage(*image_, out_, false, OverwritePolicy::kNewer), 0);
  EXPECT_FALSE(image_->IsOpen());
  EXPECT_EQ(Names(out_), (std::set<std::string>{"README.TXT", "EMPTY.DAT", "DOCS"}));
  EXPECT_EQ(kdltest::ReadFile(out_ / "README.TXT"), big);
  EXPECT_EQ(Text(out_ / "DOCS" / "A.TXT"), "in docs");
  EXPECT_EQ(Text(out_ / "DOCS" / "SUB" / "B.TXT"), "deeper");
  EXPECT_EQ(fs::file_size(out_ / "EMPTY.DAT"), 0u);
  for (const fs::path& p : {out_ / "README.TXT", out_ / "EMPTY.DAT", out_ / "DOCS" / "SUB" / "B.TXT"}) {
    struct stat st {};
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    std::tm t{};
    localtime_r(&st.st_mtime, &t);
    EXPECT_EQ((std::vector<int>{t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec}),
              (std::vector<int>{124, 2, 15, 10, 30, 46}))
        << p;
  }
  // A plain archive file keeps no attribute byte.
  EXPECT_LT(DosAttribute(out_ / "README.TXT"), 0);
  const std::string status = "コピー中 : " + (out_ / "README.TXT").string() + " 24-03-15 10:30 2500 bytes";
  EXPECT_NE(std::find(prompter_.statuses.begin(), prompter_.statuses.end(), status),
            prompter_.statuses.end());
  EXPECT_EQ(prompter_.statuses.back(), "");
  EXPECT_TRUE(prompter_.asks.empty());

  work_.currentImagePath = (temp_ / "missing.kdl").string();
  EXPECT_EQ(CopyWholeImage(*image_, out_, false, OverwritePolicy::kNewer), -1);
}

TEST_F(CopyOutTest, OverwritePolicies) {
  disk_.AddFile(kRoot, "README  TXT", Bytes("NEW"), Stamped());
  Open();
  const std::string older =
      "ファイル：README.TXT  24-03-15 09:30 はすでに存在します\n古いファイルですが 上書きしますか？";
  const std::string newer = "ファイル：README.TXT  24-03-15 11:30 はすでに存在します\n上書きしますか？";
  const std::string sameMinute = "ファイル：README.TXT  24-03-15 10:30 はすでに存在します\n上書きしますか？";
  struct Case {
    OverwritePolicy policy;
    std::time_t existing;
    std::deque<Answer> answers;
    bool replaced;
    std::string question;
  };
  const std::vector<Case> cases = {
      {OverwritePolicy::kNewer, LocalTime(9, 30, 0), {}, true, ""},
      {OverwritePolicy::kNewer, LocalTime(10, 30, 0), {}, false, ""},  // same minute: not older
      {OverwritePolicy::kNewer, LocalTime(11, 30, 0), {}, false, ""},
      {OverwritePolicy::kAll, LocalTime(11, 30, 0), {}, true, ""},
      {OverwritePolicy::kSkip, LocalTime(9, 30, 0), {}, false, ""},
      {OverwritePolicy::kAsk, LocalTime(9, 30, 0), {Answer::kYes}, true, older},
      {OverwritePolicy::kAsk, LocalTime(11, 30, 0), {Answer::kNo}, false, newer},
      {OverwritePolicy::kAsk, LocalTime(11, 30, 0), {Answer::kYes}, true, newer},
      {OverwritePolicy::kAsk, LocalTime(10, 30, 59), {Answer::kNo}, false, sameMinute},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const fs::path dir = Dir(std::to_string(i));
    kdltest::WriteFile(dir / "README.TXT", Bytes("OLD"));
    SetModified(dir / "README.TXT", cases[i].existing);
    prompter_.Clear();
    prompter_.answers = cases[i].answers;
    EXPECT_EQ(CopyFileOut(*image_, image_->root, RootIndex("README.TXT"), dir, cases[i].policy), 0);
    EXPECT_EQ(Text(dir / "README.TXT"), cases[i].replaced ? "NEW" : "OLD");
    if (cases[i].question.empty()) {
      EXPECT_TRUE(prompter_.asks.empty());
    } else {
      ASSERT_EQ(prompter_.asks.size(), 1u);
      EXPECT_EQ(prompter_.asks[0].caption, "FILE Copy");
      EXPECT_EQ(prompter_.asks[0].text, cases[i].question);
      EXPECT_EQ(prompter_.asks[0].icon, Icon::kQuestion);
    }
  }
}

// Root may write to any file, so these tests look at mode bits: a file without write bits is write-protected
// for the copy itself, and only a person's Yes (AskInPerson) replaces it. A directory in the file's place
// makes creation fail for every user.
TEST_F(CopyOutTest, ReadOnlyAttributeAndCreateFailure) {
  disk_.AddFile(kRoot, "LOCKED  TXT", Bytes("locked"), Stamped(kAttrReadOnly | kAttrArchive));
  disk_.AddFile(kRoot, "HIDDEN  SYS", Bytes("h"), Stamped(kAttrHidden | kAttrSystem));
  disk_.AddFile(kRoot, "TAKEN   TXT", Bytes("t"), Stamped());
  Open();
  fs::create_directory(out_ / "TAKEN.TXT");
  prompter_.answers = {Answer::kYes};
  EXPECT_EQ(CopyWholeImage(*image_, out_, false, OverwritePolicy::kAll), 0);
  const std::string takenQuestion =
      "ファイル " + (out_ / "TAKEN.TXT").string() + " がオープンできません。\nコピーを続けますか";
  ASSERT_EQ(prompter_.Texts(), std::vector<std::string>{takenQuestion});
  EXPECT_EQ(prompter_.asks[0].icon, Icon::kStop);
  EXPECT_EQ(prompter_.asks[0].buttons, Buttons::kYesNo);

  EXPECT_EQ(Mode(out_ / "LOCKED.TXT") & 0222, 0u);
  EXPECT_NE(Mode(out_ / "HIDDEN.SYS") & 0200, 0u);
  if (DosAttribute(out_ / "LOCKED.TXT") != -2) {
    EXPECT_EQ(DosAttribute(out_ / "LOCKED.TXT"), 0x21);
    EXPECT_EQ(DosAttribute(out_ / "HIDDEN.SYS"), 0x06);
  }

  // Written over by hand, the read-only copy is asked about under every policy that would replace it: No
  // keeps it and goes on, Yes replaces it (read-only again afterwards).
  const std::string lockedQuestion = (out_ / "LOCKED.TXT").string() + " は書き込み禁止です。上書きしますか？";
  for (const Answer answer : {Answer::kNo, Answer::kYes}) {
    fs::permissions(out_ / "LOCKED.TXT", fs::perms::owner_write, fs::perm_options::add);
    kdltest::WriteFile(out_ / "LOCKED.TXT", Bytes("mine"));
    fs::permissions(out_ / "LOCKED.TXT", fs::perms::all, fs::perm_options::remove);
    fs::permissions(out_ / "LOCKED.TXT", fs::perms::owner_read, fs::perm_options::add);
    prompter_.Clear();
    prompter_.answers = {answer};
    EXPECT_EQ(CopyFileOut(*image_, image_->root, RootIndex("LOCKED.TXT"), out_, OverwritePolicy::kAll), 0);
    ASSERT_EQ(prompter_.Texts(), std::vector<std::string>{lockedQuestion});
    EXPECT_EQ(prompter_.asks[0].icon, Icon::kExclamation);
    EXPECT_EQ(Text(out_ / "LOCKED.TXT"), answer == Answer::kYes ? "locked" : "mine");
    EXPECT_EQ(Mode(out_ / "LOCKED.TXT") & 0222, 0u);
  }
}

TEST_F(CopyOutTest, FlattenedFilesOfTheSameNameMeetThePolicy) {
  disk_.AddFile(disk_.AddDirectory(kRoot, "A          "), "X       TXT", Bytes("first"), Stamped());
  disk_.AddFile(disk_.AddDirectory(kRoot, "B          "), "X       TXT", Bytes("second"), Stamped());
  Open();
  EXPECT_EQ(CopyWholeImage(*image_, Dir("skip"), true, OverwritePolicy::kSkip), 0);
  EXPECT_EQ(CopyWholeImage(*image_, Dir("all"), true, OverwritePolicy::kAll), 0);
  prompter_.answers = {Answer::kNo};
  EXPECT_EQ(CopyWholeImage(*image_, Dir("ask"), true, OverwritePolicy::kAsk), 0);
  EXPECT_EQ(Names(out_ / "skip"), std::set<std::string>{"X.TXT"});
  EXPECT_EQ(Text(out_ / "skip" / "X.TXT"), "first");
  EXPECT_EQ(Text(out_ / "all" / "X.TXT"), "second");
  EXPECT_EQ(Text(out_ / "ask" / "X.TXT"), "first");
  EXPECT_EQ(prompter_.asks.size(), 1u);
}

TEST_F(CopyOutTest, CancelAnsweredYesStopsAndNoGoesOn) {
  for (const char* name : {"F1      TXT", "F2      TXT", "F3      TXT"})
    disk_.AddFile(kRoot, name, Bytes(name));
  Open();
  prompter_.cancelAtPump = {2};
  prompter_.answers = {Answer::kYes};
  EXPECT_EQ(CopyWholeImage(*image_, Dir("yes"), false, OverwritePolicy::kAll), kCopyStopped);
  EXPECT_EQ(Names(out_ / "yes"), std::set<std::string>{"F1.TXT"});
  ASSERT_EQ(prompter_.asks.size(), 1u);
  EXPECT_EQ(prompter_.asks[0].caption, kCaptionInterrupt);
  EXPECT_NE(prompter_.asks[0].text.find("コピー"), std::string::npos);
  EXPECT_FALSE(work_.cancelRequested);

  prompter_.pumpCalls = 0;
  prompter_.answers = {Answer::kNo};
  EXPECT_EQ(CopyWholeImage(*image_, Dir("no"), false, OverwritePolicy::kAll), 0);
  EXPECT_EQ(Names(out_ / "no"), (std::set<std::string>{"F1.TXT", "F2.TXT", "F3.TXT"}));
  EXPECT_FALSE(work_.cancelRequested);
}

TEST_F(CopyOutTest, CraftedNamesNeverLeaveTheTarget) {
  disk_.AddFile(kRoot, "..         ", Bytes("dots"));
  disk_.AddFile(kRoot, "A/B     TXT", Bytes("slash"));
  disk_.AddFile(kRoot, "X1         ", Bytes("x"), Named(u"../../x"));
  disk_.AddFile(kRoot, "Y1         ", Bytes("y"), Named(u"..\\..\\y"));
  disk_.AddFile(kRoot, "ABS        ", Bytes("abs"), Named(u"/abs"));
  const uint16_t up = disk_.AddDirectory(kRoot, "UP         ", Named(u"../up", kAttrDirectory));
  disk_.AddFile(up, "ESC        ", Bytes("escape"), Named(u"../../../escape"));
  disk_.AddFile(kRoot, "LINK    TXT", Bytes("evil"));
  // A directory that contains itself, and one without a data cluster (cluster 0 would read as the root).
  const uint16_t loop = disk_.AddDirectory(kRoot, "LOOP       ");
  disk_.AddFile(loop, "IN      TXT", Bytes("in loop"));
  disk_.AddEntry(loop, FatDiskBuilder::ShortEntry("AGAIN      ", Stamped(kAttrDirectory), loop, 0));
  disk_.AddEntry(kRoot, FatDiskBuilder::ShortEntry("ZERO       ", Stamped(kAttrDirectory), 0, 0));
  disk_.AddFile(disk_.AddDirectory(kRoot, "SNEAKY     "), "S       TXT", Bytes("sneaky"));
  Open();
  const fs::path parent = out_.parent_path();
  kdltest::WriteFile(parent / "victim.txt", Bytes("precious"));
  fs::create_symlink("../victim.txt", out_ / "LINK.TXT");
  fs::create_directory_symlink("..", out_ / "SNEAKY");
  prompter_.answers = {Answer::kYes};

  EXPECT_EQ(CopyWholeImage(*image_, out_, false, OverwritePolicy::kAll), 0);
  EXPECT_EQ(prompter_.Texts(),
            (std::vector<std::string>{
                "ファイル " + (out_ / "LINK.TXT").string() + " がオープンできません。\nコピーを続けますか",
                "ディレクトリ " + (out_ / "LOOP" / "AGAIN").string() +
                    " は他のディレクトリと同じ場所を指しているため読みません",
                "コピー先ディレクトリが作れません"}));
  EXPECT_EQ(Text(parent / "victim.txt"), "precious");
  EXPECT_EQ(Names(parent), (std::set<std::string>{"out", "victim.txt"}));
  EXPECT_EQ(Names(out_), (std::set<std::string>{"__", "A_B.TXT", ".._.._x", ".._.._y", "_abs", ".._up",
                                                "LINK.TXT", "LOOP", "ZERO", "SNEAKY"}));
  EXPECT_EQ(Text(out_ / ".._up" / ".._.._.._escape"), "escape");
  EXPECT_EQ(Names(out_ / "LOOP"), std::set<std::string>{"IN.TXT"});
  EXPECT_TRUE(fs::is_empty(out_ / "ZERO"));
}

TEST_F(CopyOutTest, TreesDeeperThan256LevelsAreCut) {
  uint16_t dir = kRoot;
  for (int level = 0; level < 300; ++level) dir = disk_.AddDirectory(dir, "D          ");
  disk_.AddFile(kRoot, "AFTER   TXT", Bytes("after"));
  Open();
  EXPECT_EQ(CopyWholeImage(*image_, out_, false, OverwritePolicy::kAll), 0);
  EXPECT_EQ(prompter_.Texts(), std::vector<std::string>{"コピー先ディレクトリが作れません"});
  fs::path deepest = out_;
  int levels = 0;
  while (fs::exists(deepest / "D")) deepest /= "D", ++levels;
  EXPECT_EQ(levels, 256);
  EXPECT_EQ(Text(out_ / "AFTER.TXT"), "after");
}

TEST_F(CopyOutTest, BrokenChainsAreReportedAndTheCopyGoesOn) {
  const uint16_t one = disk_.AddFile(kRoot, "ONE     BIN", kdltest::NoiseBytes(1024));
  disk_.AddEntry(kRoot, FatDiskBuilder::ShortEntry("SHORT   BIN", Stamped(), one, 5000));
  const uint16_t two = disk_.AddFile(kRoot, "TWO     BIN", kdltest::NoiseBytes(2048));
  disk_.SetFat(two + 1, two);
  disk_.AddEntry(kRoot, FatDiskBuilder::ShortEntry("CIRCLE  BIN", Stamped(), two, 100000));
  disk_.AddFile(kRoot, "LAST    TXT", Bytes("last"));
  Open();
  EXPECT_EQ(CopyWholeImage(*image_, out_, false, OverwritePolicy::kAll), 0);
  EXPECT_EQ(prompter_.Texts(),
            (std::vector<std::string>{
                "ファイル " + (out_ / "SHORT.BIN").string() + " のクラスタチェーンが途中で切れています",
                "ファイル " + (out_ / "CIRCLE.BIN").string() + " のクラスタチェーンが途中で切れています"}));
  EXPECT_EQ(prompter_.asks[0].caption, kCaptionImage);
  EXPECT_EQ(fs::file_size(out_ / "SHORT.BIN"), 1024u);
  EXPECT_EQ(fs::file_size(out_ / "CIRCLE.BIN"), 2048u);
  EXPECT_EQ(Text(out_ / "LAST.TXT"), "last");
}

// A file size limit makes the second cluster's write fail part way, for root as for anyone.
TEST_F(CopyOutTest, FailedWriteStopsAndKeepsThePartialFile) {
  disk_.AddFile(kRoot, "BIG     BIN", kdltest::NoiseBytes(4000));
  Open();
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  const rlimit small{1500, old.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int32_t result =
      CopyFileOut(*image_, image_->root, RootIndex("BIG.BIN"), out_, OverwritePolicy::kAll);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(prompter_.Texts(), std::vector<std::string>{"ファイル " + (out_ / "BIG.BIN").string() +
                                                        " 出力エラーが発生しました"});
  EXPECT_EQ(fs::file_size(out_ / "BIG.BIN"), 1500u);
}

// Regression: a run killed while a file was copied out left it cut short at a cluster boundary, looking
// complete. A terminating signal now removes the file being written; the files before it stay.
TEST_F(CopyOutTest, ASignalWhileAFileIsWrittenRemovesThatFile) {
  disk_.AddFile(kRoot, "FIRST   TXT", Bytes("done before"));
  disk_.AddFile(kRoot, "BIG     BIN", kdltest::NoiseBytes(6000));
  Open();
  // The progress of the second cluster of BIG.BIN is where the signal comes.
  struct Killing : kdltest::ScriptedPrompter {
    void SetProgress(int position) override {
      if (position > 0) ::raise(SIGTERM);
    }
  } killing;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    InstallTemporaryFileCleanup();
    work_.prompter = &killing;
    CopyWholeImage(*image_, out_, false, OverwritePolicy::kAll);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(Names(out_), std::set<std::string>{"FIRST.TXT"});
}

TEST_F(CopyOutTest, SelectionCopiesSelectedItemsAndStopsWhenTold) {
  disk_.AddVolumeLabel("MYDISK     ");
  disk_.AddFile(kRoot, "TOP     TXT", Bytes("top"));
  const uint16_t docs = disk_.AddDirectory(kRoot, "DOCS       ");
  disk_.AddFile(docs, "F1      TXT", Bytes("f1"));
  disk_.AddFile(docs, "F2      TXT", Bytes("f2"));
  disk_.AddFile(disk_.AddDirectory(docs, "INNER      "), "G       TXT", Bytes("g"));
  Open();
  const auto selection = [](const DirectoryTable& table, std::set<std::string> chosen) {
    std::vector<SelectionItem> items;
    for (const ListItem& item : ListDirectory(table))
      items.push_back({item.caption, item.typeText, chosen.count(item.caption) != 0});
    return items;
  };
  const std::vector<SelectionItem> root = selection(image_->root, {"MYDISK  .   ", "TOP     .TXT"});
  EXPECT_EQ(CopySelection(*image_, image_->root, root, Dir("root"), false, OverwritePolicy::kAll), 0);
  EXPECT_EQ(Names(out_ / "root"), std::set<std::string>{"TOP.TXT"});

  const DirectoryTable sub = LoadSubdirectory(*image_, *FindEntryByName(image_->root, "DOCS"));
  const std::vector<SelectionItem> items = selection(sub, {"..      .   ", "F1      .TXT", "INNER   .   "});
  EXPECT_EQ(CopySelection(*image_, sub, items, Dir("docs"), false, OverwritePolicy::kAll), 0);
  EXPECT_EQ(Names(out_ / "docs"), (std::set<std::string>{"F1.TXT", "INNER"}));
  EXPECT_EQ(Text(out_ / "docs" / "INNER" / "G.TXT"), "g");

  fs::create_directories(out_ / "stop" / "F1.TXT");
  prompter_.answers = {Answer::kNo};
  EXPECT_EQ(CopySelection(*image_, sub, items, out_ / "stop", false, OverwritePolicy::kAll), -1);
  EXPECT_EQ(Names(out_ / "stop"), std::set<std::string>{"F1.TXT"});
}

// The policies order full dates: an entry of 2090 is newer than a host file of 2005, one of 1990 older.
TEST_F(CopyOutTest, NewerAndAskCompareFullYears) {
  const auto dated = [](int year) {
    EntryOptions o = Stamped();
    o.date = static_cast<uint16_t>(((year - 1980) << 9) | (1 << 5) | 1);
    return o;
  };
  disk_.AddFile(kRoot, "LATE    TXT", Bytes("NEW"), dated(2090));
  disk_.AddFile(kRoot, "EARLY   TXT", Bytes("NEW"), dated(1990));
  Open();
  std::tm t{};
  t.tm_year = 105, t.tm_mon = 5, t.tm_mday = 1, t.tm_hour = 12, t.tm_isdst = -1;
  const std::time_t host = std::mktime(&t);
  for (const char* name : {"LATE.TXT", "EARLY.TXT"}) {
    kdltest::WriteFile(out_ / name, Bytes("OLD"));
    SetModified(out_ / name, host);
    EXPECT_EQ(CopyFileOut(*image_, image_->root, RootIndex(name), out_, OverwritePolicy::kNewer), 0);
  }
  EXPECT_EQ(Text(out_ / "LATE.TXT"), "NEW");
  EXPECT_EQ(Text(out_ / "EARLY.TXT"), "OLD");
  kdltest::WriteFile(out_ / "LATE.TXT", Bytes("OLD"));
  SetModified(out_ / "LATE.TXT", host);
  prompter_.answers = {Answer::kNo};
  EXPECT_EQ(CopyFileOut(*image_, image_->root, RootIndex("LATE.TXT"), out_, OverwritePolicy::kAsk), 0);
  ASSERT_EQ(prompter_.asks.size(), 1u);
  EXPECT_NE(prompter_.asks[0].text.find("古いファイルですが "), std::string::npos) << prompter_.asks[0].text;
}

// A file copied again from an entry that is now a plain archive file keeps no attributes of its earlier copy.
TEST_F(CopyOutTest, AttributesOfAnEarlierCopyDoNotOutliveIt) {
  disk_.AddFile(kRoot, "NOTE    TXT", Bytes("hidden"), Stamped(kAttrHidden | kAttrArchive));
  Open();
  EXPECT_EQ(CopyWholeImage(*image_, out_, false, OverwritePolicy::kAll), 0);
  if (DosAttribute(out_ / "NOTE.TXT") == -2) GTEST_SKIP() << "no extended attributes here";
  EXPECT_EQ(DosAttribute(out_ / "NOTE.TXT"), 0x22);
  image_->CloseImage();
  FatDiskBuilder plain(5);
  plain.AddFile(kRoot, "NOTE    TXT", Bytes("plain"), Stamped());
  kdltest::WriteFile(kdl_, kdltest::MakeKdl(plain.bytes(), 5).bytes);
  ASSERT_GE(image_->OpenImage(kdl_.string()), 0);
  EXPECT_EQ(CopyWholeImage(*image_, out_, false, OverwritePolicy::kAll), 0);
  EXPECT_EQ(Text(out_ / "NOTE.TXT"), "plain");
  EXPECT_EQ(DosAttribute(out_ / "NOTE.TXT"), -1);
}

// A directory holding two entries that point back at it would fan out for ever: each directory is entered
// once, and the entries met again are told by name and not copied, listed or put in the folder tree.
TEST_F(CopyOutTest, DirectoriesMetAgainAreToldAndNotEnteredTwice) {
  const uint16_t d = disk_.AddDirectory(kRoot, "D          ", Stamped(kAttrDirectory));
  disk_.AddFile(d, "F       TXT", Bytes("f"));
  for (const char* name : {"X          ", "Y          "})
    disk_.AddEntry(d, FatDiskBuilder::ShortEntry(name, Stamped(kAttrDirectory), d, 0));
  Open();
  EXPECT_EQ(CopyWholeImage(*image_, out_, false, OverwritePolicy::kAll), 0);
  EXPECT_EQ(Names(out_ / "D"), std::set<std::string>{"F.TXT"});
  const std::string again = " は他のディレクトリと同じ場所を指しているため読みません";
  EXPECT_EQ(prompter_.Texts(),
            (std::vector<std::string>{"ディレクトリ " + (out_ / "D" / "X").string() + again,
                                      "ディレクトリ " + (out_ / "D" / "Y").string() + again}));
  // The folder gets its entry's time once its files are written.
  struct stat st {};
  ASSERT_EQ(stat((out_ / "D").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, *DosToHostTime(kTime, kDate));

  prompter_.Clear();
  const std::vector<FolderNode> tree = BuildFolderTree(*image_, image_->root);
  ASSERT_EQ(tree.size(), 1u);
  ASSERT_EQ(tree[0].children.size(), 2u);
  EXPECT_TRUE(tree[0].children[0].children.empty());
  EXPECT_EQ(prompter_.asks.size(), 2u);
}

TEST(DosTime, ValidFieldsRoundTripAndInvalidOnesAreRefused) {
  for (const uint32_t dos : {0x58AF5357u, 0x00210000u, 0x285DBF7Cu /* 2000-02-29 23:59:56 */}) {
    const auto t = DosToHostTime(static_cast<uint16_t>(dos), static_cast<uint16_t>(dos >> 16));
    ASSERT_TRUE(t.has_value()) << std::hex << dos;
    EXPECT_EQ(HostTimeToDos(*t), dos) << std::hex << dos;
  }
  EXPECT_FALSE(DosToHostTime(0, 0));                                // month 0, day 0
  EXPECT_FALSE(DosToHostTime(0, (43 << 9) | (2 << 5) | 29));        // 2023-02-29
  EXPECT_FALSE(DosToHostTime(24 << 11, (44 << 9) | (1 << 5) | 1));  // hour 24
  EXPECT_FALSE(DosToHostTime(30, (44 << 9) | (1 << 5) | 1));        // second 60
  EXPECT_EQ(HostTimeToDos(0), 0x00210000u);                         // before 1980: held to its first day
}

}  // namespace
}  // namespace kdl
