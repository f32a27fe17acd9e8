// The program's start: one instance at a time, the main window, and the command-line start with a file.
#pragma once

namespace kdlw {

// Runs the window program. Exit status 1 when another instance was running (it was asked to come
// forward), 0 otherwise.
int RunApplication(int argc, char** argv);

}  // namespace kdlw
