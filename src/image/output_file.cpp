#include "image/output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>

namespace kdl {

bool ReplacingFile::Create(const std::string& target) {
  Discard();
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path path(target);
  if (fs::is_symlink(path, ec)) {
    const fs::path resolved = fs::weakly_canonical(path, ec);
    if (ec) return false;
    path = resolved;
  }
  if (fs::is_directory(path, ec)) return false;
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  std::random_device rd;
  std::string temp;
  for (int attempt = 0; attempt < 100 && !file_.IsOpen(); ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", rd());
    temp = (folder / ("." + path.filename().string() + "." + suffix + ".part")).string();
    if (!file_.Open(temp, File::Mode::kCreateNew) && errno != EEXIST) return false;
  }
  if (!file_.IsOpen()) return false;
  // The replacement keeps the permissions of the file it replaces.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) ::fchmod(file_.fd(), st.st_mode & 07777);
  target_ = path.string();
  temp_ = temp;
  return true;
}

bool ReplacingFile::Commit() {
  if (!file_.IsOpen()) return false;
  const bool synced = file_.Sync();
  file_.Close();
  if (!synced || std::rename(temp_.c_str(), target_.c_str()) != 0) {
    Discard();
    return false;
  }
  temp_.clear();
  return true;
}

void ReplacingFile::Discard() {
  file_.Close();
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

}  // namespace kdl
