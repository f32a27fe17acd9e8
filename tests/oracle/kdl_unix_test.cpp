// `kdl` as a careful Unix tool: special files where a file is meant, standard output, write-protected
// targets, signals and Ctrl-C during a pass, questions on a terminal, and operands checked before anything is
// asked or created. Terminals are pseudo-terminals of the test's own; signals go to the test's own child by
// its process id; device nodes are made with mknod in the test's folder and never opened.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using kdltest::ReadFile;
using kdltest::RunCommand;
using kdltest::ShellQuote;

std::string Kdl() { return std::string(KDL_BINARY); }

// A `kdl` run whose standard error (and, when asked, standard input or output) is a pseudo-terminal. With
// `full`, the terminal is filled before the run starts; MakeRoom then lets the run write that much of its
// progress output before it blocks partway through a pass: a point in the middle of a pass where the test
// can act.
class PtyRun {
 public:
  struct Options {
    bool terminalInput = false;
    bool terminalOutput = false;
    bool full = false;
  };

  PtyRun(const fs::path& folder, const std::vector<std::string>& args, Options o) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    const int slave = open(ptsname(master_), O_RDWR | O_NOCTTY);
    if (slave < 0) return;
    if (o.full) Fill(slave);
    pid_ = fork();
    if (pid_ == 0) {
      setsid();
      ioctl(slave, TIOCSCTTY, 0);
      const int null = open("/dev/null", O_RDWR);
      dup2(o.terminalInput ? slave : null, STDIN_FILENO);
      dup2(o.terminalOutput ? slave : null, STDOUT_FILENO);
      dup2(slave, STDERR_FILENO);
      if (chdir(folder.c_str()) != 0) _exit(126);
      std::vector<char*> argv;
      const std::string kdl = Kdl();
      argv.push_back(const_cast<char*>(kdl.c_str()));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(slave);
  }
  ~PtyRun() {
    if (pid_ > 0 && !finished_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }
  bool Started() const { return pid_ > 0; }

  // Waits until the run sleeps (here: in a write to its full terminal). False when it ended first.
  bool AwaitBlocked() {
    int sleeping = 0;
    for (int i = 0; i < 1000 && sleeping < 5; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
      std::string pid, name, state;
      stat >> pid >> name >> state;
      if (state == "Z" || state.empty()) return false;
      sleeping = state == "S" ? sleeping + 1 : 0;
    }
    return sleeping >= 5;
  }
  void Signal(int sig) const { kill(pid_, sig); }
  void Type(const std::string& keys) const { (void)!write(master_, keys.data(), keys.size()); }

  // Reads the terminal until `text` has appeared `count` times in all; false when the run ended first.
  bool AwaitText(const std::string& text, int count = 1) {
    while (Occurrences(text) < count) {
      if (!ReadSome()) return false;
    }
    return true;
  }
  // Reads everything until the run ends; its wait status. A run that stays silent for half a minute without
  // ending hangs: it fails the test and is killed.
  int Finish() {
    while (ReadSome()) {
    }
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 300 && ended == 0; ++i) {
      ended = waitpid(pid_, &status, WNOHANG);
      if (ended == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (ended == 0) {
      ADD_FAILURE() << "the run hangs; its output: " << output_;
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    finished_ = true;
    return status;
  }
  const std::string& output() const { return output_; }

 private:
  static void Fill(int slave) {
    fcntl(slave, F_SETFL, O_NONBLOCK);
    const std::string filler(64, '.');
    while (write(slave, filler.data(), filler.size()) > 0) {
    }
    fcntl(slave, F_SETFL, 0);
  }
  int Occurrences(const std::string& text) const {
    int n = 0;
    for (size_t at = output_.find(text); at != std::string::npos; at = output_.find(text, at + 1)) ++n;
    return n;
  }
  bool ReadSome() {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, 30000) <= 0) return false;
    char buffer[4096];
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0) return false;
    for (ssize_t i = 0; i < n; ++i)
      if (buffer[i] != '.') output_.push_back(buffer[i]);
    return true;
  }

 public:
  // Frees `room` bytes of a filled terminal, so that the run can write that much before it blocks.
  void MakeRoom(size_t room) {
    size_t freed = 0;
    char buffer[256];
    while (freed < room) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 30000) <= 0) break;
      const ssize_t n = read(master_, buffer, std::min(sizeof buffer, room - freed));
      if (n <= 0) break;
      freed += static_cast<size_t>(n);
    }
  }

 private:
  int master_ = -1;
  pid_t pid_ = -1;
  bool finished_ = false;
  std::string output_;
};

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status); }

class KdlUnix : public ::testing::Test {
 protected:
  void SetUp() override {
    // A 1.44 MB disk with two files and a folder, made by mkfs.fat and mtools, its image, and an archive.
    const std::string disk = Path("disk.img");
    const std::string readme = std::string(KDL_SOURCE_DIR) + "/README.md";
    ASSERT_EQ(
        RunCommand("mkfs.fat -C -F 12 -f 2 -r 224 -R 1 -s 1 -S 512 -g 2/18 -M 0xF0 " + ShellQuote(disk) +
                   " 1440 >/dev/null && export MTOOLS_SKIP_CHECK=1 && mcopy -i " + ShellQuote(disk) + " " +
                   ShellQuote(readme) + " ::/README.TXT && mcopy -i " + ShellQuote(disk) + " " +
                   ShellQuote(readme) + " ::/OTHER.TXT && mmd -i " + ShellQuote(disk) + " ::/SUB")
            .status,
        0);
    ASSERT_EQ(Kdl("create disk.img D.KDL").status, 0);
    ASSERT_EQ(Kdl("add A.KDZ D.KDL").status, 0);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  // Runs kdl in the test's folder with a time limit (a run that blocks fails the test instead of hanging it).
  kdltest::CommandResult Kdl(const std::string& args) const {
    return RunCommand(
        "cd " + ShellQuote(dir_.path().string()) + " && timeout 60 " + ::Kdl() + " " + args + " </dev/null",
        true);
  }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_.path())) names.insert(e.path().filename().string());
    return names;
  }
  bool HasTemporaries() const {
    for (const std::string& n : Names())
      if (n.ends_with(".part")) return true;
    return false;
  }
  void MakeNode(const std::string& name, mode_t kind) const {
    const std::string path = Path(name);
    if (kind == S_IFDIR)
      ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    else
      ASSERT_EQ(mknod(path.c_str(), kind | 0600, kind == S_IFIFO ? 0 : makedev(kind == S_IFBLK ? 7 : 1, 3)),
                0);
  }
  mode_t KindOf(const std::string& name) const {
    struct stat st {};
    return lstat(Path(name).c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
  }

  kdltest::TempDir dir_;
};

// Regression: `raw` and `create` renamed their temporary file over a device node and reported success.
TEST_F(KdlUnix, ADeviceFifoOrFolderIsNeverWrittenAsAFile) {
  const struct {
    const char* name;
    mode_t kind;
    const char* says;
  } nodes[] = {{"null", S_IFCHR, "kdl restore"},
               {"fd", S_IFBLK, "kdl restore"},
               {"pipe", S_IFIFO, "a FIFO"},
               {"folder", S_IFDIR, "a directory"}};
  for (const auto& n : nodes) MakeNode(n.name, n.kind);
  const std::set<std::string> before = Names();
  for (const char* command : {"--yes raw D.KDL ", "--yes create disk.img ", "--yes extract A.KDZ 1 "}) {
    for (const auto& n : nodes) {
      SCOPED_TRACE(std::string(command) + n.name);
      const auto r = Kdl(command + std::string(n.name));
      EXPECT_EQ(r.status, 1) << r.output;
      EXPECT_NE(r.output.find(n.name), std::string::npos) << r.output;
      EXPECT_NE(r.output.find(n.says), std::string::npos) << r.output;
      EXPECT_EQ(KindOf(n.name), n.kind);
    }
  }
  EXPECT_EQ(Names(), before);
}

// Regression: a FIFO named as an image or archive blocked `test`, `ls`, `cat`, `view` and `labels` for ever;
// `kdl add` turned a device operand into a new archive beside it.
TEST_F(KdlUnix, AnInputThatIsNotARegularFileIsRefusedAtOnce) {
  const struct {
    const char* name;
    mode_t kind;
    const char* kindName;
  } nodes[] = {{"pipe.KDL", S_IFIFO, "a FIFO"},
               {"pipe.img", S_IFIFO, "a FIFO"},
               {"pipe.KDZ", S_IFIFO, "a FIFO"},
               {"null", S_IFCHR, "a character device"},
               {"folder.KDL", S_IFDIR, "a directory"}};
  for (const auto& n : nodes) MakeNode(n.name, n.kind);
  for (const auto& n : nodes) {
    for (const std::string command : {"test", "ls", "labels", "list", "cat", "view", "copy"}) {
      SCOPED_TRACE(command + " " + n.name);
      std::string args = command + " " + n.name;
      if (command == "cat" || command == "view") args += " /README.TXT";
      if (command == "copy") args += " --to out";
      const auto r = Kdl(args);
      EXPECT_EQ(r.status, 1) << r.output;
      EXPECT_NE(r.output.find(std::string(n.name) + ": " + n.kindName), std::string::npos) << r.output;
    }
    const auto added = Kdl("add " + std::string(n.name) + " D.KDL");
    EXPECT_EQ(added.status, 1) << added.output;
    const auto source = Kdl("add S.KDZ " + std::string(n.name));
    EXPECT_EQ(source.status, 1) << source.output;
    EXPECT_NE(source.output.find(std::string(n.name) + ": " + n.kindName), std::string::npos)
        << source.output;
  }
  EXPECT_FALSE(fs::exists(Path("null.KDZ")));
  EXPECT_FALSE(fs::exists(Path("S.KDZ")));
  EXPECT_FALSE(fs::exists(Path("out")));
}

TEST_F(KdlUnix, StandardOutputCarriesTheImageAndNothingElse) {
  const auto raw = RunCommand("cd " + ShellQuote(dir_.path().string()) + " && " + ::Kdl() +
                              " raw D.KDL - > piped.img && " + ::Kdl() + " raw D.KDL file.img");
  ASSERT_EQ(raw.status, 0);
  EXPECT_EQ(ReadFile(Path("piped.img")), ReadFile(Path("file.img")));
  // The type line goes to standard error when standard output holds the image.
  const auto created = RunCommand("cd " + ShellQuote(dir_.path().string()) + " && " + ::Kdl() +
                                  " create disk.img - > created.img 2> messages.txt && cat messages.txt");
  ASSERT_EQ(created.status, 0) << created.output;
  EXPECT_NE(created.output.find("タイプ：2HC(1.44M)"), std::string::npos);
  EXPECT_EQ(ReadFile(Path("created.img")), ReadFile(Path("disk.img")));
  ASSERT_EQ(
      RunCommand("cd " + ShellQuote(dir_.path().string()) + " && " + ::Kdl() + " extract A.KDZ 1 - > x.KDL")
          .status,
      0);
  EXPECT_EQ(ReadFile(Path("x.KDL")), ReadFile(Path("D.KDL")));
  EXPECT_FALSE(fs::exists(Path("-.KDL")));
  // An image is not written to a terminal.
  PtyRun onTerminal(dir_.path(), {"raw", "D.KDL", "-"}, {.terminalOutput = true});
  ASSERT_TRUE(onTerminal.Started());
  EXPECT_EQ(ExitCode(onTerminal.Finish()), 1);
  EXPECT_NE(onTerminal.output().find("terminal"), std::string::npos) << onTerminal.output();
  // What cannot be done with standard output is refused on the command line.
  EXPECT_EQ(Kdl("create --verify disk.img -").status, 2);
  EXPECT_EQ(Kdl("create disk.img raw.img -l label").status, 2);
  EXPECT_FALSE(fs::exists(Path("raw.img")));
}

// Regression: `--yes` replaced a read-only target, while a copy never replaced a file without write bits.
// One rule now: only a person at the terminal can say to replace a write-protected file.
TEST_F(KdlUnix, AWriteProtectedTargetIsReplacedOnlyByAPerson) {
  const std::vector<uint8_t> kept = {'k', 'e', 'p', 't'};
  for (const std::string name : {"locked.img", "locked.KDL", "lockedx.KDL"}) {
    kdltest::WriteFile(Path(name), kept);
    fs::permissions(Path(name), fs::perms::owner_read);
  }
  const struct {
    std::string args;
    std::string target;
  } runs[] = {{"--yes raw D.KDL locked.img", "locked.img"},
              {"--yes create disk.img locked.KDL", "locked.KDL"},
              {"--yes extract A.KDZ 1 lockedx.KDL", "lockedx.KDL"}};
  for (const auto& run : runs) {
    SCOPED_TRACE(run.args);
    const auto r = Kdl(run.args);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("書き込み禁止"), std::string::npos) << r.output;
    EXPECT_EQ(ReadFile(Path(run.target)), kept);
  }
  // Images and archives without write bits are not changed in place either.
  ASSERT_EQ(Kdl("add L.KDZ D.KDL").status, 0);
  fs::copy_file(Path("D.KDL"), Path("L.KDL"));
  fs::permissions(Path("L.KDL"), fs::perms::owner_read);
  fs::permissions(Path("L.KDZ"), fs::perms::owner_read);
  const std::vector<uint8_t> image = ReadFile(Path("L.KDL")), box = ReadFile(Path("L.KDZ"));
  const struct {
    const char* args;
    const char* says;
  } inPlace[] = {{"--yes labels L.KDL -l changed", "L.KDL is write-protected"},
                 {"--yes labels L.KDZ -l changed", "書き込み禁止"},
                 {"--yes add L.KDZ D.KDL", "書き込み禁止"},
                 {"--yes add --new L.KDZ D.KDL", "L.KDZ は書き込み禁止です。上書きしますか？"}};
  for (const auto& run : inPlace) {
    const auto r = Kdl(run.args);
    EXPECT_EQ(r.status, 1) << run.args << ": " << r.output;
    EXPECT_NE(r.output.find(run.says), std::string::npos) << run.args << ": " << r.output;
  }
  EXPECT_EQ(ReadFile(Path("L.KDL")), image);
  EXPECT_EQ(ReadFile(Path("L.KDZ")), box);
  // A disk-image file without write bits, as a drive, is a write-protected disk.
  ASSERT_EQ(RunCommand("cd " + ShellQuote(dir_.path().string()) +
                       " && mkfs.fat -C -F 12 -M 0xF0 -g 2/18 lockeddisk.img 1440 >/dev/null && chmod 0444 "
                       "lockeddisk.img")
                .status,
            0);
  const std::vector<uint8_t> blank = ReadFile(Path("lockeddisk.img"));
  const auto restored = Kdl("--yes restore D.KDL lockeddisk.img");
  EXPECT_EQ(restored.status, 1) << restored.output;
  EXPECT_NE(restored.output.find("lockeddisk.img のディスクは書き込み禁止です"), std::string::npos)
      << restored.output;
  EXPECT_EQ(ReadFile(Path("lockeddisk.img")), blank);
  // A person says yes on the terminal, whatever --yes says.
  PtyRun person(dir_.path(), {"--yes", "raw", "D.KDL", "locked.img"}, {.terminalInput = true});
  ASSERT_TRUE(person.AwaitText("書き込み禁止です。上書きしますか？ [y/N]"));
  person.Type("y\n");
  EXPECT_EQ(ExitCode(person.Finish()), 0) << person.output();
  ASSERT_EQ(Kdl("raw D.KDL expected.img").status, 0);
  EXPECT_EQ(ReadFile(Path("locked.img")), ReadFile(Path("expected.img")));
}

// Regression: with no terminal, SIGINT and SIGTERM never stopped a pass (the interruption question was
// answered No), SIGTERM left a temporary file behind, and Ctrl-C at the interruption question was taken as
// No. Now a signal stops the pass as the cancel button does: exit 130, the earlier target whole, no litter.
TEST_F(KdlUnix, SignalsAndCtrlCStopAPassCleanly) {
  const std::vector<uint8_t> old = {'o', 'l', 'd'};
  const struct {
    const char* what;
    int signal;         // sent by process id; 0: Ctrl-C typed on the terminal
    bool terminal;      // standard input is the terminal
    const char* reply;  // typed at the interruption question
    int exit;
  } cases[] = {
      {"SIGTERM, no terminal", SIGTERM, false, nullptr, 130},
      {"SIGINT, no terminal", SIGINT, false, nullptr, 130},
      {"SIGHUP, no terminal", SIGHUP, false, nullptr, 130},
      {"Ctrl-C, answered yes", 0, true, "y\n", 130},
      {"Ctrl-C, Ctrl-C at the question", 0, true, "\x03", 130},
      {"Ctrl-C, answered no", 0, true, "n\n", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    kdltest::WriteFile(Path("T.KDL"), old);
    PtyRun run(dir_.path(), {"--yes", "create", "disk.img", "T.KDL"},
               {.terminalInput = c.terminal, .full = true});
    ASSERT_TRUE(run.Started());
    run.MakeRoom(2000);
    ASSERT_TRUE(run.AwaitBlocked()) << "the pass ended before the terminal was full";
    if (c.signal != 0)
      run.Signal(c.signal);
    else
      run.Type("\x03");
    if (c.reply != nullptr) {
      ASSERT_TRUE(run.AwaitText("中断しますか? [y/N]")) << run.output();
      run.Type(c.reply);
    }
    const int status = run.Finish();
    EXPECT_EQ(ExitCode(status), c.exit) << run.output();
    EXPECT_FALSE(HasTemporaries());
    if (c.exit == 0) {
      EXPECT_EQ(Kdl("test T.KDL").status, 0);
    } else {
      EXPECT_EQ(ReadFile(Path("T.KDL")), old);
    }
  }
  // With no earlier target, a stopped creation leaves nothing at all.
  fs::remove(Path("T.KDL"));
  PtyRun run(dir_.path(), {"create", "disk.img", "T.KDL"}, {.full = true});
  run.MakeRoom(2000);
  ASSERT_TRUE(run.AwaitBlocked());
  run.Signal(SIGTERM);
  EXPECT_EQ(ExitCode(run.Finish()), 130);
  EXPECT_FALSE(fs::exists(Path("T.KDL")));
  EXPECT_FALSE(HasTemporaries());
}

// A disk whose second half cannot be read: a disk-image file shorter than its boot sector says.
class KdlDamagedDisk : public KdlUnix {
 protected:
  void SetUp() override {
    KdlUnix::SetUp();
    std::vector<uint8_t> disk = ReadFile(Path("disk.img"));
    disk.resize(40 * 18432);
    kdltest::WriteFile(Path("half.img"), disk);
    kdltest::WriteFile(Path("empty.img"), {});
  }
};

// Regression: with --yes, --sector-retry aborted at the third unreadable sector, and an unreadable drive made
// two questions alternate for ever.
TEST_F(KdlDamagedDisk, AnUnattendedRescueIgnoresEveryBadSectorAndEnds) {
  auto r = Kdl("--yes create --sector-retry --keep-unused half.img R.KDL");
  EXPECT_EQ(r.status, 1) << r.output.substr(r.output.size() - std::min<size_t>(r.output.size(), 500));
  EXPECT_NE(r.output.find(
                "kdl: 1440 unreadable sector(s) ignored, left filled with the media fill byte: 1440-2879"),
            std::string::npos);
  EXPECT_EQ(Kdl("test R.KDL").status, 0);
  const auto files = Kdl("cat R.KDL /README.TXT");
  EXPECT_EQ(files.status, 0);
  const std::vector<uint8_t> readme = ReadFile(std::string(KDL_SOURCE_DIR) + "/README.md");
  EXPECT_EQ(files.output, std::string(readme.begin(), readme.end()));

  r = Kdl("--yes create --sector-retry empty.img E.KDL");
  EXPECT_EQ(r.status, 1);
  EXPECT_LT(std::count(r.output.begin(), r.output.end(), '\n'), 20) << r.output;
  EXPECT_FALSE(fs::exists(Path("E.KDL")));
}

// Regression: Ctrl-C at any question, and end of input, left the input stream failed, so every later question
// was answered No at once. A Ctrl-C at a question now stops the run; end of input answers one question.
TEST_F(KdlDamagedDisk, CtrlCAtAQuestionStopsAndEndOfInputAnswersOnlyThatQuestion) {
  PtyRun run(dir_.path(), {"create", "--sector-retry", "--keep-unused", "half.img", "R.KDL"},
             {.terminalInput = true});
  ASSERT_TRUE(run.AwaitText("[A]bort/[r]etry/[i]gnore")) << run.output();
  run.Type("\x03");
  EXPECT_EQ(ExitCode(run.Finish()), 130);
  EXPECT_FALSE(fs::exists(Path("R.KDL")));
  EXPECT_FALSE(HasTemporaries());

  // Both files exist in the target: end of input skips the first, "y" replaces the second.
  fs::create_directory(Path("out"));
  kdltest::WriteFile(Path("out/OTHER.TXT"), {'1'});
  kdltest::WriteFile(Path("out/README.TXT"), {'2'});
  PtyRun copy(dir_.path(), {"copy", "D.KDL", "OTHER.TXT", "README.TXT", "--to", "out", "--policy", "ask"},
              {.terminalInput = true});
  ASSERT_TRUE(copy.AwaitText("[y/N]", 1)) << copy.output();
  copy.Type("\x04");
  ASSERT_TRUE(copy.AwaitText("[y/N]", 2)) << copy.output();
  copy.Type("y\n");
  EXPECT_EQ(ExitCode(copy.Finish()), 0) << copy.output();
  EXPECT_EQ(ReadFile(Path("out/OTHER.TXT")), std::vector<uint8_t>{'1'});
  EXPECT_EQ(fs::file_size(Path("out/README.TXT")), fs::file_size(std::string(KDL_SOURCE_DIR) + "/README.md"));
}

// Operands are checked before anything is asked or created, and each failure gets one message naming its
// real cause.
TEST_F(KdlUnix, OperandsAreCheckedFirstAndEachFailureSaysWhy) {
  // A copy from a missing image creates no folder, even with --yes.
  auto r = Kdl("--yes copy missing.KDL --to newdir");
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(fs::exists(Path("newdir")));
  EXPECT_EQ(r.output.find("作成しますか"), std::string::npos) << r.output;
  // A file given as the folder says so.
  r = Kdl("copy D.KDL --to D.KDL");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("D.KDL: a regular file, not a folder"), std::string::npos) << r.output;
  // SUB/.. inside the image is the root, as a shell takes it.
  ASSERT_EQ(Kdl("copy D.KDL SUB/.. --to .").status, 0);
  EXPECT_TRUE(fs::exists(Path("README.TXT")));
  EXPECT_TRUE(fs::is_directory(Path("SUB")));
  EXPECT_FALSE(fs::exists(Path("__")));
  // A raw output of a missing image: one message, and no question about the output.
  kdltest::WriteFile(Path("existing.img"), {'e'});
  r = Kdl("--yes raw missing.KDL existing.img");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "KDL Form: missing.KDL がオープンできません\n");
  EXPECT_EQ(ReadFile(Path("existing.img")), std::vector<uint8_t>{'e'});
  // An archive named as an image says how to name one of its images.
  r = Kdl("ls A.KDZ");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("A.KDZ:N"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("サポートしていないディスクです"), std::string::npos);
  // An image or archive named where a drive, or an image to add, is meant says what it is; nothing is made.
  const struct {
    std::string args;
    int status;
    std::string says;
    const char* made;
  } misplaced[] = {
      {"--yes create D.KDL made.KDL", 1, "D.KDL is a .KDL image, not a disk", "made.KDL"},
      {"--yes create A.KDZ made.img", 1, "A.KDZ is a .KDZ archive, not a disk", "made.img"},
      {"--yes restore D.KDL A.KDZ", 1, "A.KDZ is a .KDZ archive, not a disk", nullptr},
      {"--yes restore A.KDZ D.KDL", 1, "D.KDL is a .KDL image, not a disk", nullptr},
      {"add made.KDZ A.KDZ", 1, "A.KDZ is a .KDZ archive, not an image to add", "made.KDZ"},
      {"--yes bogus D.KDL", 2, "bogus: no such command", nullptr},
      {"list A.KDZ:1", 1, "A.KDZ:1 names an image inside A.KDZ; this command takes the archive itself",
       nullptr},
      {"add A.KDZ:1 D.KDL", 1, "A.KDZ:1 names an image inside A.KDZ", "A.KDZ:1"},
      {"--yes extract A.KDZ 1 ''", 2, "OUTPUT: an empty name names nothing", ".KDL"},
      {"--yes copy D.KDL --to ''", 2, "--to: an empty name names nothing", nullptr},
      {"ls A.KDZ:DISK", 1, "A.KDZ:DISK: \"DISK\" is neither an image number (from 1) nor DISKn of A.KDZ",
       nullptr},
  };
  const std::vector<uint8_t> image = ReadFile(Path("D.KDL")), box = ReadFile(Path("A.KDZ"));
  for (const auto& m : misplaced) {
    r = Kdl(m.args);
    EXPECT_EQ(r.status, m.status) << m.args << ": " << r.output;
    EXPECT_NE(r.output.find(m.says), std::string::npos) << m.args << ": " << r.output;
    if (m.made != nullptr) {
      EXPECT_FALSE(fs::exists(Path(m.made))) << m.args;
    }
  }
  EXPECT_EQ(ReadFile(Path("D.KDL")), image);
  EXPECT_EQ(ReadFile(Path("A.KDZ")), box);
  // A .KDL image is known by its contents when it carries another name.
  fs::copy_file(Path("D.KDL"), Path("D.bin"));
  ASSERT_EQ(Kdl("add B.KDZ D.bin").status, 0);
  ASSERT_EQ(Kdl("extract B.KDZ 1 fromB.KDL").status, 0);
  ASSERT_EQ(Kdl("extract A.KDZ 1 fromA.KDL").status, 0);
  EXPECT_EQ(ReadFile(Path("fromB.KDL")), ReadFile(Path("fromA.KDL")));
  // A label line is one line of text.
  r = Kdl("labels D.KDL -l " + ShellQuote("one\ntwo"));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.output.find("control character"), std::string::npos);
  r = Kdl("labels D.KDL");
  EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 5);
  // An entry name beginning with a zero byte lists visibly.
  std::vector<uint8_t> archive = ReadFile(Path("A.KDZ"));
  archive[129] = 0;
  kdltest::WriteFile(Path("N.KDZ"), archive);
  r = Kdl("list N.KDZ");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output.substr(0, 8), "?ISK1   ") << r.output;
}

}  // namespace
