#include "drive/drive_settings.h"

#include <sys/stat.h>

#include "drive/host_drive.h"

namespace kdl {
namespace {

constexpr std::string_view kDrivesSection = "Drives";
constexpr std::string_view kAccessSection = "DriveAccess";
constexpr std::string_view kSectorRetryKey = "SectorRetry";

// "A:" .. "Z:" in either case: the drive index, or -1.
int32_t LetterIndex(const std::string& operand) {
  if (operand.size() != 2 || operand[1] != ':') return -1;
  const char c = operand[0];
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a';
  return -1;
}

}  // namespace

DriveSettings DriveSettingsFromIni(const IniFile& ini) {
  DriveSettings s;
  s.devices.assign(kDriveLetters, std::string());
  const std::vector<std::string> keys = ini.Keys(kDrivesSection);
  if (keys.empty()) {
    s.devices[0] = "/dev/fd0";
    s.devices[1] = "/dev/fd1";
  }
  for (const std::string& key : keys) {
    const int32_t index = LetterIndex(key + ":");
    if (index >= 0) s.devices[static_cast<size_t>(index)] = ini.GetString(kDrivesSection, key, "");
  }
  if (ini.GetInt(kAccessSection, kSectorRetryKey, 0) != 0) s.readFailure = ReadFailure::kSectorBySector;
  return s;
}

std::optional<DriveOperand> ResolveDriveOperand(const std::string& operand, const DriveSettings& settings,
                                                std::string& error) {
  const int32_t index = LetterIndex(operand);
  if (index >= 0) {
    if (static_cast<size_t>(index) >= settings.devices.size() ||
        settings.devices[static_cast<size_t>(index)].empty()) {
      error = "drive " + operand + " has no device in the settings file's [Drives] list";
      return std::nullopt;
    }
    return DriveOperand{settings.devices, index + 1};
  }
  struct stat st {};
  if (::stat(operand.c_str(), &st) != 0) {
    error = operand + ": no such drive, device or file";
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
    error = operand + ": neither a block device nor a regular file";
    return std::nullopt;
  }
  // A disk image of another tool's format acts as a drive only when it holds a disk of a media type.
  if (const std::optional<std::string> problem = ForeignContainerProblem(operand)) {
    error = operand + ": " + *problem;
    return std::nullopt;
  }
  return DriveOperand{{operand}, 1};
}

}  // namespace kdl
