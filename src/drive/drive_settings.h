// Which device each drive letter names, and how failed reads behave: the drive part of the settings file.
//
//   [Drives]            one key per letter; without the section, A: is /dev/fd0 and B: is /dev/fd1
//   A=/dev/fd0
//   B=/dev/sdb
//   [DriveAccess]
//   SectorRetry=0       1: a failed run read is read again sector by sector, asking Abort/Retry/Ignore
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/ini.h"
#include "drive/drive.h"

namespace kdl {

inline constexpr int kDriveLetters = 26;

struct DriveSettings {
  std::vector<std::string> devices;  // entry n: device of drive n (0 = A:); empty: no drive
  ReadFailure readFailure = ReadFailure::kFailRun;
};

DriveSettings DriveSettingsFromIni(const IniFile& ini);

// A DRIVE operand made usable: the device list to open and the drive number (1 = A:) to use in it.
struct DriveOperand {
  std::vector<std::string> devices;
  int32_t driveNumber = 1;
};

// Resolves "A:" (any letter, any case) through the settings, or takes a block device or a regular file (a raw
// disk image, or a disk image of another tool's format, acting as the drive) by its path. Empty with `error`
// set when the operand names no usable drive, or a container that holds no disk of a media type.
std::optional<DriveOperand> ResolveDriveOperand(const std::string& operand, const DriveSettings& settings,
                                                std::string& error);

}  // namespace kdl
