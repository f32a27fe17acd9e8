// Ctrl-C and the other signals that ask `kdl` to stop.
//
// A command that writes something (create, restore, raw, copy, add) stops as the cancel button stops it: the
// signal only marks a request, the running pass sees it at its next track unit or file, and cleans up (the
// temporary file removed, an earlier target left as it was). On a terminal a Ctrl-C is asked about first
// ("中断しますか?"); a Ctrl-C at any question, SIGTERM, SIGHUP, and any signal when nobody can be asked stop
// without a question. Every other command, and any command that gets a second signal before it has seen the
// first, ends at once after removing its temporary files. The exit status after a stop is 130.
#pragma once

namespace kdlcli {

inline constexpr int kExitStopped = 130;

// Installs the handlers. `interactive`: a person answers questions on the terminal.
void InstallStopHandlers(bool interactive);
// The running command stops cooperatively (it writes something and cleans up as the cancel button does).
void StopCooperatively();

// True once for every request not yet taken: the pass then asks the interruption question.
bool TakeStopRequest();
// The run must end without asking: the interruption question is answered Yes, every other the safe way.
bool MustStop();
// A stop request came that nothing has taken yet (the command finished before its pass looked).
bool StopPending();

// Marks the time the program waits for an answer on the terminal: a signal then ends the wait and the run,
// instead of ending the program.
void BeginAnswer();
void EndAnswer();
// Waits until `fd` has something to read (or has ended); false when the run must stop first. A stop that
// comes at any moment, on any thread, ends the wait.
bool AwaitInput(int fd);

}  // namespace kdlcli
