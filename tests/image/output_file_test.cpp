// Replacing a target file: the rename, the copy over the file where a rename would lose something, standard
// output, special files, temporary files left by killed runs, and the question before a write-protected file
// is replaced.
#include "image/output_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <vector>

#include "common/temp_files.h"
#include "support/test_support.h"

namespace kdl {
namespace {

namespace fs = std::filesystem;
using kdltest::ReadFile;
using kdltest::TempDir;
using kdltest::WriteFile;

const std::vector<uint8_t> kOld = {'o', 'l', 'd'};
const std::vector<uint8_t> kNew(70000, 'n');  // more than one piece of a copy
constexpr std::time_t kStamp = 1000000000;

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

ino_t Inode(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

bool WriteNew(ReplacingFile& out) {
  return out.file().WriteAt(0, kNew.data(), kNew.size()) == static_cast<int64_t>(kNew.size());
}

// Reads one byte from `fd`: the child's "ready".
bool AwaitByte(int fd) {
  char c = 0;
  return ::read(fd, &c, 1) == 1;
}

TEST(ReplacingFile, EachWayOfReplacingKeepsWhatARenameWouldLose) {
  const struct {
    const char* what;
    bool exists;
    bool secondLink;
    bool throughSymlink;
    ReplacingFile::Method method;
  } cases[] = {
      {"new file", false, false, false, ReplacingFile::Method::kRename},
      {"one link", true, false, false, ReplacingFile::Method::kRename},
      {"hard link", true, true, false, ReplacingFile::Method::kCopyOver},
      {"symbolic link", true, false, true, ReplacingFile::Method::kRename},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const fs::path file = dir / "T.KDL";
    if (c.exists) {
      WriteFile(file, kOld);
      fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    }
    if (c.secondLink) fs::create_hard_link(file, dir / "other.KDL");
    if (c.throughSymlink) fs::create_symlink("T.KDL", dir / "link.KDL");
    const ino_t before = Inode(file);
    ReplacingFile out;
    ASSERT_TRUE(out.Create((dir / (c.throughSymlink ? "link.KDL" : "T.KDL")).string()));
    EXPECT_EQ(out.method(), c.method);
    ASSERT_TRUE(WriteNew(out));
    // What was written can be read back by its path before the commit, whichever way it will be put in place.
    EXPECT_EQ(ReadFile(out.tempPath()), kNew);
    // Until the commit the target is what it was.
    if (c.exists) {
      EXPECT_EQ(ReadFile(file), kOld);
    }
    out.SetModificationTime(kStamp);
    ASSERT_TRUE(out.Commit());
    EXPECT_EQ(ReadFile(file), kNew);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, kStamp);
    if (c.exists) {
      EXPECT_EQ(st.st_mode & 07777, 0640u);
    }
    if (c.secondLink) {
      EXPECT_EQ(ReadFile(dir / "other.KDL"), kNew);
      EXPECT_EQ(Inode(file), before);
    }
    if (c.throughSymlink) {
      EXPECT_TRUE(fs::is_symlink(dir / "link.KDL"));
    }
    std::set<std::string> expected{"T.KDL"};
    if (c.secondLink) expected.insert("other.KDL");
    if (c.throughSymlink) expected.insert("link.KDL");
    EXPECT_EQ(Names(dir.path()), expected);
  }
}

// The file can be written but its folder cannot (a shared folder, a file handed over by someone else): the
// contents are copied over the file once complete. The child runs as an ordinary user, since root may write
// into any folder.
TEST(ReplacingFile, AFolderThatCannotBeWrittenStillGetsItsFileReplaced) {
  TempDir dir;
  const fs::path folder = dir / "shared";
  fs::create_directory(folder);
  const fs::path file = folder / "T.KDL";
  WriteFile(file, kOld);
  const ino_t before = Inode(file);
  const bool root = ::geteuid() == 0;
  constexpr uid_t kNobody = 65534;
  if (root) {
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(::chown(file.c_str(), kNobody, kNobody), 0);
  }
  ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (root && (::setresgid(kNobody, kNobody, kNobody) != 0 || ::setresuid(kNobody, kNobody, kNobody) != 0))
      _exit(10);
    ReplacingFile out;
    if (!out.Create(file.string())) _exit(11);
    if (out.method() != ReplacingFile::Method::kCopyOver) _exit(12);
    if (!WriteNew(out) || !out.Commit()) _exit(13);
    // A file that does not exist yet cannot be made there at all.
    ReplacingFile absent;
    if (absent.Create((folder / "NEW.KDL").string()) || errno != EACCES) _exit(14);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ::chmod(folder.c_str(), 0755);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(file), kNew);
  EXPECT_EQ(Inode(file), before);
  EXPECT_EQ(Names(folder), std::set<std::string>{"T.KDL"});
}

TEST(ReplacingFile, ADiscardedFileLeavesTheTargetAsItWas) {
  TempDir dir;
  const fs::path file = dir / "T.KDL";
  WriteFile(file, kOld);
  {
    ReplacingFile out;
    ASSERT_TRUE(out.Create(file.string()));
    ASSERT_TRUE(WriteNew(out));
    EXPECT_EQ(Names(dir.path()).size(), 2u);
  }  // never committed
  EXPECT_EQ(ReadFile(file), kOld);
  EXPECT_EQ(Names(dir.path()), std::set<std::string>{"T.KDL"});
}

// A directory, a FIFO or a device node in the target's place is never replaced, opened or written.
TEST(ReplacingFile, OnlyARegularFileIsReplaced) {
  TempDir dir;
  for (const mode_t kind : {S_IFDIR, S_IFIFO, S_IFCHR, S_IFBLK}) {
    const fs::path path = dir / ("node" + std::to_string(kind));
    if (kind == S_IFDIR)
      ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
    else
      ASSERT_EQ(::mknod(path.c_str(), kind | 0600, kind == S_IFIFO ? 0 : makedev(1, 3)), 0);
    ReplacingFile out;
    EXPECT_FALSE(out.Create(path.string())) << kind;
    EXPECT_EQ(errno, kind == S_IFDIR ? EISDIR : EINVAL);
    EXPECT_EQ(ExamineTarget(path.string()), TargetKind::kNotAFile);
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & S_IFMT, kind);
  }
  EXPECT_EQ(Names(dir.path()).size(), 4u);
}

// Temporary files left by runs that were killed are removed the next time the same target is written; one
// that a running process holds, or whose process still runs, is left alone, and so is anything not ours.
TEST(ReplacingFile, StaleTemporariesOfDeadProcessesAreRemoved) {
  TempDir dir;
  const pid_t gone = ::fork();
  ASSERT_GE(gone, 0);
  if (gone == 0) _exit(0);
  ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);

  // A process writing a temporary file of its own holds its lock.
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    const std::string name = (dir / (".T.KDL." + std::to_string(::getpid()) + "-11111111.part")).string();
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0 || ::write(ready[1], "r", 1) != 1) _exit(1);
    ::pause();
    _exit(0);
  }
  ASSERT_TRUE(AwaitByte(ready[0]));
  const std::string dead = ".T.KDL." + std::to_string(gone) + "-0000abcd.part";
  const std::string held = ".T.KDL." + std::to_string(holder) + "-11111111.part";
  const std::string alive = ".T.KDL." + std::to_string(::getpid()) + "-2222abcd.part";
  const std::vector<std::string> notOurs = {".T.KDL.notours.part",
                                            ".OTHER.KDL." + std::to_string(gone) + "-0000abcd.part",
                                            ".T.KDL." + std::to_string(gone) + "-0000ABCD.part"};
  for (const std::string& name : std::vector<std::string>{dead, alive}) WriteFile(dir / name, kOld);
  for (const std::string& name : notOurs) WriteFile(dir / name, kOld);
  WriteFile(dir / "T.KDL", kOld);

  ReplacingFile out;
  ASSERT_TRUE(out.Create((dir / "T.KDL").string()));
  ASSERT_TRUE(WriteNew(out) && out.Commit());
  std::set<std::string> expected{"T.KDL", held, alive};
  expected.insert(notOurs.begin(), notOurs.end());
  EXPECT_EQ(Names(dir.path()), expected);

  // Once its process has gone, the held file is stale too.
  ::kill(holder, SIGKILL);
  ASSERT_EQ(::waitpid(holder, nullptr, 0), holder);
  EXPECT_EQ(RemoveStaleTemporaries(dir.path().string(), "T.KDL"), 1);
  EXPECT_FALSE(fs::exists(dir / held));
  ::close(ready[0]);
  ::close(ready[1]);
}

// A run killed by a signal while it writes removes its temporary file; the earlier target stays whole, and
// the signal still ends the process as it would have.
TEST(ReplacingFile, ATerminatingSignalRemovesTheTemporaryFile) {
#ifdef __SANITIZE_ADDRESS__
  // Under AddressSanitizer a SIGSEGV is the sanitizer's: it reports and exits instead of dying by the signal.
  const std::vector<int> signals{SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGPIPE};
#else
  const std::vector<int> signals{SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGPIPE, SIGSEGV};
#endif
  for (const int sig : signals) {
    SCOPED_TRACE(strsignal(sig));
    TempDir dir;
    const fs::path file = dir / "T.KDL";
    WriteFile(file, kOld);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const struct rlimit noCore { 0, 0 };
      ::setrlimit(RLIMIT_CORE, &noCore);
      InstallTemporaryFileCleanup();
      ReplacingFile out;
      if (!out.Create(file.string()) || !WriteNew(out) || ::write(ready[1], "r", 1) != 1) _exit(1);
      for (;;) ::pause();
    }
    ASSERT_TRUE(AwaitByte(ready[0]));
    EXPECT_EQ(Names(dir.path()).size(), 2u);
    ASSERT_EQ(::kill(child, sig), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status));
    if (WIFSIGNALED(status)) {
      EXPECT_EQ(WTERMSIG(status), sig);
    }
    EXPECT_EQ(Names(dir.path()), std::set<std::string>{"T.KDL"});
    EXPECT_EQ(ReadFile(file), kOld);
    ::close(ready[0]);
    ::close(ready[1]);
  }
}

// "-": nothing reaches standard output before the contents are complete, then all of them do.
TEST(ReplacingFile, StandardOutputGetsTheWholeContentsOnlyAtTheEnd) {
  int data[2], written[2], go[2];
  ASSERT_EQ(::pipe(data), 0);
  ASSERT_EQ(::pipe(written), 0);
  ASSERT_EQ(::pipe(go), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::dup2(data[1], STDOUT_FILENO);
    ReplacingFile out;
    if (!out.Create(std::string(kStandardOutputName)) ||
        out.method() != ReplacingFile::Method::kStandardOutput || !WriteNew(out) ||
        ::write(written[1], "w", 1) != 1 || !AwaitByte(go[0]) || !out.Commit())
      _exit(1);
    _exit(0);
  }
  ::close(data[1]);
  ASSERT_TRUE(AwaitByte(written[0]));
  ::fcntl(data[0], F_SETFL, O_NONBLOCK);
  char probe = 0;
  EXPECT_EQ(::read(data[0], &probe, 1), -1);
  EXPECT_EQ(errno, EAGAIN);
  ::fcntl(data[0], F_SETFL, 0);
  ASSERT_EQ(::write(go[1], "g", 1), 1);
  std::vector<uint8_t> received;
  uint8_t buffer[8192];
  for (ssize_t n; (n = ::read(data[0], buffer, sizeof buffer)) > 0;)
    received.insert(received.end(), buffer, buffer + n);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(received, kNew);
  for (int fd : {data[0], written[0], written[1], go[0], go[1]}) ::close(fd);
}

// Records whether a question went through AskInPerson, which only a person may answer Yes.
class RecordingPrompter : public Prompter {
 public:
  Answer answer = Answer::kNo;
  std::vector<std::string> asked;
  std::vector<std::string> askedInPerson;
  Answer Ask(std::string_view, std::string_view text, Buttons, Icon) override {
    asked.emplace_back(text);
    return answer;
  }
  Answer AskInPerson(std::string_view, std::string_view text, Buttons, Icon) override {
    askedInPerson.emplace_back(text);
    return answer;
  }
};

TEST(ConfirmReplace, AsksByWhatTheTargetIs) {
  TempDir dir;
  const std::string plain = (dir / "plain.KDL").string();
  const std::string locked = (dir / "locked.KDL").string();
  WriteFile(plain, kOld);
  WriteFile(locked, kOld);
  fs::permissions(locked, fs::perms::owner_read);
  fs::create_directory(dir / "folder");
  const std::string exists = "exists?";
  const std::string lockedQuestion = locked + " は書き込み禁止です。上書きしますか？";
  const struct {
    std::string target;
    Answer answer;
    bool result;
    std::vector<std::string> asked;
    std::vector<std::string> askedInPerson;
  } cases[] = {
      {(dir / "absent.KDL").string(), Answer::kNo, true, {}, {}},
      {"-", Answer::kNo, true, {}, {}},
      {plain, Answer::kYes, true, {exists}, {}},
      {plain, Answer::kNo, false, {exists}, {}},
      {locked, Answer::kYes, true, {}, {lockedQuestion}},
      {locked, Answer::kNo, false, {}, {lockedQuestion}},
      {(dir / "folder").string(), Answer::kYes, false, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    RecordingPrompter p;
    p.answer = c.answer;
    EXPECT_EQ(ConfirmReplace(&p, "caption", c.target, exists), c.result);
    EXPECT_EQ(p.asked, c.asked);
    EXPECT_EQ(p.askedInPerson, c.askedInPerson);
  }
}

}  // namespace
}  // namespace kdl
