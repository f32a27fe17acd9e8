#include "kdl/stop_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "common/temp_files.h"

namespace kdlcli {
namespace {

std::atomic<int> gPending{0};
std::atomic<bool> gMustStop{false};
std::atomic<bool> gAnswering{false};
std::atomic<bool> gCooperative{false};
bool gInteractive = false;
// Written to once the run must stop, so that a wait for an answer wakes up whichever thread the signal
// reached and however close to the wait it came.
int gWake[2] = {-1, -1};

void MarkMustStop() {
  gMustStop = true;
  if (gWake[1] >= 0) {
    const int saved = errno;
    (void)!write(gWake[1], "!", 1);
    errno = saved;
  }
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

void OnStopSignal(int signal) {
  // Only a person at the terminal is asked, and only about a Ctrl-C.
  if (signal != SIGINT || !gInteractive) MarkMustStop();
  if (gAnswering) {
    // A signal at a question ends the run: the wait for the answer wakes up.
    MarkMustStop();
    return;
  }
  if (!gCooperative || gPending.fetch_add(1) >= 1) {
    kdl::RemoveTemporaryFiles();
    _exit(kExitStopped);
  }
}

}  // namespace

void InstallStopHandlers(bool interactive) {
  gInteractive = interactive;
  if (gWake[0] < 0 && pipe2(gWake, O_CLOEXEC | O_NONBLOCK) != 0) gWake[0] = gWake[1] = -1;
  kdl::InstallTemporaryFileCleanup();
  for (const int signal : kStopSignals) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Restarted: a message that a signal catches halfway out to a full terminal is written whole, not
    // dropped with everything after it. A wait for an answer wakes through the pipe instead.
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
  }
}

void StopCooperatively() { gCooperative = true; }

bool TakeStopRequest() {
  if (gMustStop) return true;
  int pending = gPending.load();
  while (pending > 0 && !gPending.compare_exchange_weak(pending, 0)) {
  }
  return pending > 0;
}

bool MustStop() { return gMustStop; }

bool StopPending() { return gMustStop || gPending > 0; }

void BeginAnswer() { gAnswering = true; }

bool AwaitInput(int fd) {
  for (;;) {
    if (gMustStop) return false;
    pollfd fds[2] = {{fd, POLLIN, 0}, {gWake[0], POLLIN, 0}};
    const int n = poll(fds, gWake[0] >= 0 ? 2 : 1, -1);
    if (n < 0 && errno != EINTR) return true;  // the read that follows reports the fault
    if (gMustStop) return false;
    if (n > 0 && fds[0].revents != 0) return true;
  }
}

void EndAnswer() {
  gAnswering = false;
  // The question answered the Ctrl-C that led to it.
  gPending = 0;
}

}  // namespace kdlcli
