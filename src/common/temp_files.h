// Temporary files of this process that must not outlive it. A file being written under a temporary name is
// registered here; when a signal ends the process, the handler removes what is registered before the signal
// takes its course, so a killed run leaves nothing behind.
#pragma once

#include <span>
#include <string>

namespace kdl {

// Registers `path` (made absolute by the caller). Returns the slot to unregister, or -1 when every slot is in
// use (the file is then only removed by its owner).
int RegisterTemporaryFile(const std::string& path);
void UnregisterTemporaryFile(int slot);
// Removes every registered file. Safe to call from a signal handler.
void RemoveTemporaryFiles();

// The signals whose default action ends the process and that a program can catch.
std::span<const int> TerminatingSignals();

// Installs, for every terminating signal, a handler that removes the registered files and then lets the
// signal take the course it had before (the default action, or a handler that was installed earlier).
void InstallTemporaryFileCleanup();
// The same for one signal; a front end that handles some signals itself uses this to hand the rest on.
void InstallTemporaryFileCleanup(int signal);
// For a handler of a front end's own: removes the registered files, puts back the action the signal had
// before InstallTemporaryFileCleanup and raises it again.
void CleanUpAndResend(int signal);

// True while a process of that id exists (also one this process may not signal).
bool ProcessRuns(long pid);

// Removes, with their contents, the folders "PREFIX-PID-XXXXXX" in `parent` (a private temporary folder of
// process PID, as mkdtemp or QTemporaryDir make it) that this user owns and whose process no longer runs:
// what a killed run left behind. Returns how many were removed.
int RemoveStaleTemporaryFolders(const std::string& parent, const std::string& prefix);

}  // namespace kdl
