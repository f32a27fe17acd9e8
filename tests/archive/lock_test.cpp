// Two processes changing one archive never interleave: the second waits for the first (Retry) or gives up
// (Cancel) with a clear message, and appends made at the same time all arrive whole.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "archive/archive_rig.h"

namespace kdltest {
namespace {

// A prompter that always wants to wait for the archive.
class PatientPrompter : public kdl::Prompter {
 public:
  kdl::Answer Ask(std::string_view, std::string_view, kdl::Buttons buttons, kdl::Icon) override {
    return buttons == kdl::Buttons::kRetryCancel ? kdl::Answer::kRetry : kdl::Answer::kOk;
  }
};

// A child process that holds the archive's lock until `holdMs` have passed; returns once it holds it.
pid_t HoldLock(const std::string& path, int holdMs) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    close(ready[0]);
    kdl::File file;
    if (!file.Open(path, kdl::File::Mode::kReadWrite) || flock(file.fd(), LOCK_EX) != 0) _exit(1);
    const char byte = 1;
    if (write(ready[1], &byte, 1) != 1) _exit(1);
    usleep(static_cast<useconds_t>(holdMs) * 1000);
    _exit(0);
  }
  close(ready[1]);
  char byte = 0;
  const ssize_t n = read(ready[0], &byte, 1);
  close(ready[0]);
  return n == 1 ? child : -1;
}

int Wait(pid_t child) {
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(ArchiveLock, ASecondWriterGivesUpOnCancelAndWaitsOnRetry) {
  ArchiveRig rig;
  const std::string img = rig.Write("x.img", ReadFile(Floppies() / "blank/type5.img"));
  ASSERT_EQ(rig.AddFiles("L.KDZ", {img}, true), 1);
  const std::vector<uint8_t> before = ReadFile(rig.Path("L.KDZ"));

  pid_t holder = HoldLock(rig.Path("L.KDZ"), 60000);
  ASSERT_GT(holder, 0);
  rig.prompter.answers = {kdl::Answer::kCancel};
  EXPECT_EQ(rig.AddFiles("L.KDZ", {img}, false), -1);
  ASSERT_EQ(rig.prompter.asks.size(), 1u);
  EXPECT_EQ(rig.prompter.asks[0].text, rig.Path("L.KDZ") + " は他のプログラムが更新中です");
  EXPECT_EQ(rig.prompter.asks[0].buttons, kdl::Buttons::kRetryCancel);
  EXPECT_EQ(rig.prompter.asks[0].caption, "KDZ Form");
  // The labels are the header's business too.
  rig.prompter.answers = {kdl::Answer::kCancel};
  EXPECT_EQ(kdl::WriteArchiveLabels(rig.archive, rig.Path("L.KDZ"),
                                    kdl::kOpenArchiveFirst | kdl::kCloseArchiveAfter, {"a", "b"}),
            -1);
  EXPECT_TRUE(ReadFile(rig.Path("L.KDZ")) == before);
  kill(holder, SIGKILL);
  Wait(holder);

  holder = HoldLock(rig.Path("L.KDZ"), 400);
  ASSERT_GT(holder, 0);
  rig.prompter.Clear();
  rig.prompter.answers = {kdl::Answer::kRetry};
  EXPECT_EQ(rig.AddFiles("L.KDZ", {img}, false), 1);
  EXPECT_EQ(rig.prompter.asks.size(), 1u);
  EXPECT_EQ(Wait(holder), 0);
  EXPECT_EQ(rig.List("L.KDZ").size(), 2u);
}

TEST(ArchiveLock, AppendsFromTwoProcessesAtOnceAllArriveWhole) {
  ArchiveRig rig;
  ASSERT_EQ(rig.AddFiles("C.KDZ", {}, true), 0);
  std::vector<std::string> sources;
  for (int i = 0; i < 12; ++i) {
    KdlOptions options;
    options.labels[0] = "image " + std::to_string(i);
    options.compress = i % 2 == 0;
    const std::vector<uint8_t> raw = ReadFile(Floppies() / (i % 3 == 0 ? "type5.img" : "blank/type5.img"));
    sources.push_back(rig.Write("s" + std::to_string(i) + ".KDL", MakeKdl(raw, 5, options).bytes));
  }
  std::vector<pid_t> children;
  for (int half = 0; half < 2; ++half) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      PatientPrompter patient;
      kdl::ImageWork work;
      work.prompter = &patient;
      kdl::ImageState image(work);
      kdl::ArchiveState archive(work);
      int added = 0;
      // One run per image, so that the two processes take turns as often as they can.
      for (int i = half; i < 12; i += 2) {
        FileAdder adder({sources[static_cast<size_t>(i)]});
        added += kdl::AddFloppies(archive, image, rig.Path("C.KDZ"),
                                  kdl::kOpenArchiveFirst | kdl::kCloseArchiveAfter, {}, adder);
      }
      _exit(added);
    }
    children.push_back(child);
  }
  for (pid_t child : children) EXPECT_EQ(Wait(child), 6);

  const std::vector<std::string> lines = rig.List("C.KDZ");
  ASSERT_EQ(lines.size(), 12u);
  std::multiset<std::vector<uint8_t>> expected, got;
  for (int i = 0; i < 12; ++i) {
    std::string name = "DISK" + std::to_string(i + 1);
    name.resize(10, ' ');
    EXPECT_EQ(lines[static_cast<size_t>(i)].substr(0, 10), name);
    expected.insert(ReadFile(sources[static_cast<size_t>(i)]));
    got.insert(rig.Extract("C.KDZ", i));
  }
  EXPECT_TRUE(got == expected);
  EXPECT_EQ(rig.Report("C.KDZ"), 0);
}

}  // namespace
}  // namespace kdltest
