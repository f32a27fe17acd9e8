// Helpers shared by the test programs: files, temporary folders and external commands.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kdltest {

std::vector<uint8_t> ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// Path of a file under tests/data.
std::filesystem::path DataPath(const std::string& relative);

// A fresh folder removed with everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

struct CommandResult {
  int status = -1;     // exit status, or -1 when the command could not run
  std::string output;  // standard output (standard error too when merged)
};

// Runs a shell command line; standard error goes to the test's own unless mergeStderr.
CommandResult RunCommand(const std::string& command, bool mergeStderr = false);

// Quotes a string for the shell.
std::string ShellQuote(const std::string& s);

// True when `tool` is on PATH.
bool HaveTool(const std::string& tool);

// The folder the fixture script fills (typeN.img, typeN.files/, blank/typeN.img ...), built once and kept
// between test programs, keyed by the script's contents.
const std::filesystem::path& Floppies();

// True while `mountpoint` is a mount point of this process's view of the system (/proc/self/mountinfo).
bool IsMounted(const std::filesystem::path& mountpoint);

}  // namespace kdltest
