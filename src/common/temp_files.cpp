#include "common/temp_files.h"

#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>

namespace kdl {
namespace {

// A handful of files at a time: one output per operation.
constexpr size_t kSlots = 16;

enum SlotState : int { kFree = 0, kFilling = 1, kArmed = 2 };

struct Slot {
  std::atomic<int> state{kFree};
  char path[PATH_MAX];
};

std::array<Slot, kSlots> gSlots;

constexpr std::array<int, 22> kTerminating = {
    SIGHUP,  SIGINT,  SIGQUIT, SIGILL,    SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,  SIGUSR1, SIGSEGV, SIGUSR2,
    SIGPIPE, SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS};

// The actions the signals had before ours, by signal number.
std::array<struct sigaction, 65> gPrevious{};
std::array<std::atomic<bool>, 65> gSaved{};

bool IsFault(int signal) {
  return signal == SIGSEGV || signal == SIGBUS || signal == SIGFPE || signal == SIGILL || signal == SIGTRAP ||
         signal == SIGSYS;
}

void OnTerminatingSignal(int signal, siginfo_t* info, void*) {
  RemoveTemporaryFiles();
  if (signal >= 0 && static_cast<size_t>(signal) < gPrevious.size() && gSaved[static_cast<size_t>(signal)])
    sigaction(signal, &gPrevious[static_cast<size_t>(signal)], nullptr);
  else
    ::signal(signal, SIG_DFL);
  // A fault raised by the processor happens again when the handler returns, now with the earlier action.
  if (IsFault(signal) && info != nullptr && info->si_code > 0) return;
  raise(signal);
}

}  // namespace

int RegisterTemporaryFile(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (size_t i = 0; i < gSlots.size(); ++i) {
    int expected = kFree;
    if (!gSlots[i].state.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(gSlots[i].path, path.c_str(), path.size() + 1);
    gSlots[i].state = kArmed;
    return static_cast<int>(i);
  }
  return -1;
}

void UnregisterTemporaryFile(int slot) {
  if (slot >= 0 && static_cast<size_t>(slot) < gSlots.size()) gSlots[static_cast<size_t>(slot)].state = kFree;
}

void RemoveTemporaryFiles() {
  for (Slot& slot : gSlots) {
    int expected = kArmed;
    // Taken for removal, so that a second signal does not remove a name that a new file got meanwhile.
    if (slot.state.compare_exchange_strong(expected, kFilling)) {
      unlink(slot.path);
      slot.state = kFree;
    }
  }
}

std::span<const int> TerminatingSignals() { return kTerminating; }

void InstallTemporaryFileCleanup(int signal) {
  if (signal <= 0 || static_cast<size_t>(signal) >= gPrevious.size()) return;
  struct sigaction action {};
  action.sa_sigaction = OnTerminatingSignal;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  struct sigaction previous {};
  if (sigaction(signal, &action, &previous) != 0) return;
  // Installed twice, the earlier action stays the one from before the first installation.
  if (!gSaved[static_cast<size_t>(signal)] && previous.sa_sigaction != OnTerminatingSignal) {
    gPrevious[static_cast<size_t>(signal)] = previous;
    gSaved[static_cast<size_t>(signal)] = true;
  }
}

void InstallTemporaryFileCleanup() {
  for (const int signal : kTerminating) {
    struct sigaction current {};
    // A signal ignored by whoever started us (nohup, a shell's background job) stays ignored.
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    InstallTemporaryFileCleanup(signal);
  }
}

void CleanUpAndResend(int signal) { OnTerminatingSignal(signal, nullptr, nullptr); }

bool ProcessRuns(long pid) { return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

int RemoveStaleTemporaryFolders(const std::string& parent, const std::string& prefix) {
  namespace fs = std::filesystem;
  const std::string start = prefix + "-";
  std::error_code ec;
  int removed = 0;
  for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!name.starts_with(start)) continue;
    // "PID-XXXXXX": the id in digits, a dash, six characters of mkdtemp.
    const std::string_view rest = std::string_view(name).substr(start.size());
    const size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash > 9 || rest.size() - dash - 1 != 6) continue;
    long pid = 0;
    const auto parsed = std::from_chars(rest.data(), rest.data() + dash, pid);
    if (parsed.ec != std::errc() || parsed.ptr != rest.data() + dash || ProcessRuns(pid)) continue;
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) continue;
    std::error_code removeError;
    if (fs::remove_all(it->path(), removeError) > 0 && !removeError) ++removed;
  }
  return removed;
}

}  // namespace kdl
