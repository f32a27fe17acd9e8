#include "support/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace kdltest {

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path.string());
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::filesystem::path DataPath(const std::string& relative) {
  return std::filesystem::path(KDL_TEST_DATA_DIR) / relative;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kdltest-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Copy-out tests leave write-protected files and folders behind; make them removable first.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(path_, ec);
}

CommandResult RunCommand(const std::string& command, bool mergeStderr) {
  CommandResult result;
  std::string line = mergeStderr ? command + " 2>&1" : command;
  FILE* pipe = popen(line.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

bool HaveTool(const std::string& tool) {
  return RunCommand("command -v " + ShellQuote(tool) + " >/dev/null 2>&1").status == 0;
}

namespace fs = std::filesystem;

const fs::path& Floppies() {
  static const fs::path folder = [] {
    const fs::path scripts = fs::path(KDL_SOURCE_DIR) / "tests" / "fixtures";
    std::string contents;
    for (const char* name : {"make_floppies.sh", "fatpatch.py"}) {
      std::ifstream in(scripts / name, std::ios::binary);
      std::ostringstream text;
      text << in.rdbuf();
      contents += text.str();
    }
    char key[32];
    std::snprintf(key, sizeof key, "%016zx", std::hash<std::string>{}(contents));
    const fs::path target =
        fs::temp_directory_path() / ("kdl-floppies-" + std::to_string(getuid()) + "-" + key);
    if (fs::exists(target / "done")) return target;
    // Built beside the target and renamed into place, so test programs running at once never see half of it.
    std::string pattern = target.string() + ".build-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return target;
    const fs::path build(pattern);
    const CommandResult r = RunCommand("bash " + ShellQuote((scripts / "make_floppies.sh").string()) + " " +
                                           ShellQuote(build.string()) + " >/dev/null",
                                       true);
    if (r.status != 0) throw std::runtime_error("make_floppies.sh failed: " + r.output);
    std::ofstream(build / "done") << "ok\n";
    std::error_code ec;
    fs::rename(build, target, ec);
    if (ec) fs::remove_all(build, ec);
    return target;
  }();
  return folder;
}

bool IsMounted(const std::filesystem::path& mountpoint) {
  std::ifstream in("/proc/self/mountinfo");
  const std::string target = std::filesystem::weakly_canonical(mountpoint).string();
  for (std::string line; std::getline(in, line);) {
    std::stringstream ss(line);
    std::string id, parent, device, root, point;
    ss >> id >> parent >> device >> root >> point;
    if (point == target) return true;
  }
  return false;
}

}  // namespace kdltest
