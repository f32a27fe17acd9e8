#include "kdl/stop_signals.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "common/temp_files.h"

namespace kdlcli {
namespace {

std::atomic<int> gPending{0};
std::atomic<bool> gMustStop{false};
std::atomic<bool> gAnswering{false};
std::atomic<bool> gCooperative{false};
bool gInteractive = false;

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

void OnStopSignal(int signal) {
  // Only a person at the terminal is asked, and only about a Ctrl-C.
  if (signal != SIGINT || !gInteractive) gMustStop = true;
  if (gAnswering) {
    // A signal at a question ends the run: the read that waits for the answer fails with EINTR.
    gMustStop = true;
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
  kdl::InstallTemporaryFileCleanup();
  for (const int signal : kStopSignals) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read waiting for an answer returns at once.
    action.sa_flags = 0;
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

void EndAnswer() {
  gAnswering = false;
  // The question answered the Ctrl-C that led to it.
  gPending = 0;
}

}  // namespace kdlcli
