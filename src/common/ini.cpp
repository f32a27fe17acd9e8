#include "common/ini.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>

#include "common/temp_files.h"

namespace kdl {
namespace {

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  const size_t begin = s.find_first_not_of(" \t\r\n");
  if (begin == std::string_view::npos) return {};
  const size_t end = s.find_last_not_of(" \t\r\n");
  return s.substr(begin, end - begin + 1);
}

// A value written in quotes keeps its inner blanks; the quotes themselves are not part of it.
std::string_view Unquote(std::string_view s) {
  if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
    return s.substr(1, s.size() - 2);
  return s;
}

}  // namespace

bool IniFile::Load(const std::filesystem::path& path) {
  sections_.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return false;
  Parse(text.str());
  return true;
}

void IniFile::Parse(std::string_view text) {
  sections_.clear();
  Section* current = nullptr;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      if (close == std::string_view::npos) continue;
      current = &SectionFor(Trim(line.substr(1, close - 1)));
      continue;
    }
    const size_t eq = line.find('=');
    // Keys before the first section header have nowhere to live and are dropped.
    if (eq == std::string_view::npos || current == nullptr) continue;
    const std::string_view key = Trim(line.substr(0, eq));
    if (key.empty()) continue;
    const std::string value(Unquote(Trim(line.substr(eq + 1))));
    bool replaced = false;
    for (Entry& e : current->entries) {
      if (SameName(e.key, key)) {
        e.value = value;
        replaced = true;
        break;
      }
    }
    if (!replaced) current->entries.push_back({std::string(key), value});
  }
}

std::string IniFile::Text() const {
  std::string out;
  for (const Section& s : sections_) {
    if (!out.empty()) out += "\n";
    out += "[" + s.name + "]\n";
    for (const Entry& e : s.entries) out += e.key + "=" + e.value + "\n";
  }
  return out;
}

bool IniFile::Save(const std::filesystem::path& path) const {
  std::error_code ec;
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  std::filesystem::create_directories(folder, ec);
  std::random_device rd;
  const std::filesystem::path temp =
      folder / (path.filename().string() + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(rd()));
  // A signal that ends the program while the file is written removes the temporary file.
  const std::filesystem::path absolute = std::filesystem::absolute(temp, ec);
  const int slot = RegisterTemporaryFile(ec ? temp.string() : absolute.string());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) {
      UnregisterTemporaryFile(slot);
      return false;
    }
    const std::string text = Text();
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    if (!out) {
      out.close();
      std::filesystem::remove(temp, ec);
      UnregisterTemporaryFile(slot);
      return false;
    }
  }
  std::filesystem::rename(temp, path, ec);
  UnregisterTemporaryFile(slot);
  if (ec) {
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
    return false;
  }
  return true;
}

const IniFile::Section* IniFile::FindSection(std::string_view name) const {
  for (const Section& s : sections_) {
    if (SameName(s.name, name)) return &s;
  }
  return nullptr;
}

IniFile::Section& IniFile::SectionFor(std::string_view name) {
  for (Section& s : sections_) {
    if (SameName(s.name, name)) return s;
  }
  sections_.push_back({std::string(name), {}});
  return sections_.back();
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
  const Section* s = FindSection(section);
  if (s == nullptr) return std::nullopt;
  for (const Entry& e : s->entries) {
    if (SameName(e.key, key)) return e.value;
  }
  return std::nullopt;
}

std::string IniFile::GetString(std::string_view section, std::string_view key,
                               std::string_view fallback) const {
  std::optional<std::string> v = Get(section, key);
  return v ? *v : std::string(fallback);
}

int32_t IniFile::GetInt(std::string_view section, std::string_view key, int32_t fallback) const {
  std::optional<std::string> v = Get(section, key);
  if (!v || v->empty()) return fallback;
  const char* begin = v->data();
  const char* end = v->data() + v->size();
  if (*begin == '+') ++begin;
  int64_t n = 0;
  const auto [ptr, ec] = std::from_chars(begin, end, n);
  if (ec != std::errc() || ptr != end) return fallback;
  if (n < std::numeric_limits<int32_t>::min() || n > std::numeric_limits<int32_t>::max()) return fallback;
  return static_cast<int32_t>(n);
}

std::vector<std::string> IniFile::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  if (const Section* s = FindSection(section)) {
    for (const Entry& e : s->entries) keys.push_back(e.key);
  }
  return keys;
}

void IniFile::SetString(std::string_view section, std::string_view key, std::string_view value) {
  Section& s = SectionFor(section);
  for (Entry& e : s.entries) {
    if (SameName(e.key, key)) {
      e.value = std::string(value);
      return;
    }
  }
  s.entries.push_back({std::string(key), std::string(value)});
}

void IniFile::SetInt(std::string_view section, std::string_view key, int32_t value) {
  SetString(section, key, std::to_string(value));
}

std::filesystem::path SettingsFilePathFor(const std::filesystem::path& executableFolder,
                                          const char* xdgConfigHome, const char* home) {
  std::error_code ec;
  // An installed program lives in a system folder that root can write to; its settings belong to the user.
  const std::string folder = executableFolder.string();
  const bool systemFolder = folder.starts_with("/usr/") || folder == "/usr" || folder.starts_with("/bin") ||
                            folder.starts_with("/sbin") || folder.starts_with("/opt/");
  if (!executableFolder.empty() && !systemFolder && std::filesystem::is_directory(executableFolder, ec) &&
      ::access(executableFolder.c_str(), W_OK) == 0) {
    return executableFolder / kSettingsFileName;
  }
  std::filesystem::path config;
  if (xdgConfigHome != nullptr && *xdgConfigHome != '\0') {
    config = xdgConfigHome;
  } else {
    config = std::filesystem::path(home != nullptr && *home != '\0' ? home : ".") / ".config";
  }
  return config / "kdlw" / kSettingsFileName;
}

std::filesystem::path SettingsFilePath() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return SettingsFilePathFor(ec ? std::filesystem::path() : exe.parent_path(), std::getenv("XDG_CONFIG_HOME"),
                             std::getenv("HOME"));
}

}  // namespace kdl
