// Settings files in the INI form: "[Section]" lines, "Key=Value" lines, ";" or "#" comment lines.
//
// Section and key names compare without regard to ASCII letter case, as the profile functions of the
// original platform do. Values are text; a decimal reading is offered on top. Saving writes sections and
// keys in the order they were first seen; comments are not kept.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kdl {

class IniFile {
 public:
  // Replaces the contents with the file's. False when the file cannot be read (the contents are then empty).
  bool Load(const std::filesystem::path& path);
  // Replaces the contents with those of `text`. Lines that are neither sections, keys nor comments are
  // ignored.
  void Parse(std::string_view text);
  // Writes the contents to `path` through a temporary file in the same folder. False on any error.
  bool Save(const std::filesystem::path& path) const;
  std::string Text() const;

  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  std::string GetString(std::string_view section, std::string_view key, std::string_view fallback) const;
  // The value as a decimal number (optional sign, digits); `fallback` when missing, not a number or out of
  // range.
  int32_t GetInt(std::string_view section, std::string_view key, int32_t fallback) const;
  // Key names of a section in file order; empty when the section does not exist.
  std::vector<std::string> Keys(std::string_view section) const;

  void SetString(std::string_view section, std::string_view key, std::string_view value);
  void SetInt(std::string_view section, std::string_view key, int32_t value);

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  const Section* FindSection(std::string_view name) const;
  Section& SectionFor(std::string_view name);

  std::vector<Section> sections_;
};

// The file name of the settings file.
inline constexpr std::string_view kSettingsFileName = "KDLW.INI";

// Where the settings file lives: beside the executable when that folder is writable, otherwise
// $XDG_CONFIG_HOME/kdlw/KDLW.INI, or ~/.config/kdlw/KDLW.INI when XDG_CONFIG_HOME is unset or empty.
std::filesystem::path SettingsFilePath();
// The same rule for a given executable folder and environment values (null when unset).
std::filesystem::path SettingsFilePathFor(const std::filesystem::path& executableFolder,
                                          const char* xdgConfigHome, const char* home);

}  // namespace kdl
