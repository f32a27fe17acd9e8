#include "drive/drive.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

#include "drive/media.h"

namespace kdl {
namespace {

constexpr std::string_view kReadErrorCaption = "FDD Read";
constexpr std::string_view kReadErrorText = "フロッピーディスクの入力でエラーがありました";

// The boot sector is read with this size whatever the medium's sector size.
constexpr size_t kBootReadLength = 1024;

// Byte range of a run of sectors; empty for arguments no disk can satisfy.
struct Run {
  uint64_t offset = 0;
  size_t length = 0;
};
std::optional<Run> RunOf(int32_t first, int32_t count, int32_t sectorSize) {
  if (first < 0 || count < 0 || sectorSize <= 0) return std::nullopt;
  return Run{static_cast<uint64_t>(first) * static_cast<uint64_t>(sectorSize),
             static_cast<size_t>(count) * static_cast<size_t>(sectorSize)};
}

}  // namespace

DriveLayer::DriveLayer(DeviceSource& source, Prompter* prompter, ReadFailure readFailure)
    : source_(source), prompter_(prompter), readFailure_(readFailure) {}

int32_t DriveLayer::OpenDrive(int32_t mode, int32_t index) {
  // A handle left open is dropped, not reused: every pass starts from a fresh open.
  device_.reset();
  openFailure_.clear();
  if (mode == kDriveModeRead || mode == kDriveModeWrite) {
    device_ = source_.Open(index, mode == kDriveModeWrite);
    if (!device_) openFailure_ = source_.WhyNotOpen(index);
  }
  // Damage known before the first read is told once, before anything is read.
  if (device_ && !damageReported_ && prompter_ != nullptr) {
    const std::string report = device_->DamageReport();
    damageReported_ = true;
    if (!report.empty()) prompter_->Ask(kReadErrorCaption, report, Buttons::kOk, Icon::kExclamation);
  }
  return device_ ? 0 : 1;
}

void DriveLayer::CloseDrive() { device_.reset(); }

int32_t DriveLayer::ReadDriveSectors(uint8_t* buffer, int32_t first, int32_t count, int32_t sectorSize) {
  const std::optional<Run> run = RunOf(first, count, sectorSize);
  if (!run) return -1;
  if (device_ && device_->ReadAt(run->offset, buffer, run->length)) return 0;
  if (readFailure_ == ReadFailure::kFailRun && !(device_ && device_->FailsBySector())) return -1;

  // One sector at a time: the user decides about each sector that still cannot be read.
  const size_t size = static_cast<size_t>(sectorSize);
  for (int32_t i = 0; i < count; ++i) {
    const uint64_t offset = run->offset + static_cast<uint64_t>(i) * size;
    uint8_t* into = buffer + static_cast<size_t>(i) * size;
    for (;;) {
      if (device_ && device_->ReadAt(offset, into, size)) break;
      const Answer a = prompter_ != nullptr ? prompter_->Ask(kReadErrorCaption, kReadErrorText,
                                                             Buttons::kAbortRetryIgnore, Icon::kQuestion)
                                            : Answer::kAbort;
      if (a == Answer::kRetry) continue;
      if (a == Answer::kIgnore) {
        if (!detecting_) ignored_.push_back(first + i);
        break;
      }
      return -1;
    }
  }
  return 0;
}

int32_t DriveLayer::WriteDriveSectors(const uint8_t* buffer, int32_t first, int32_t count,
                                      int32_t sectorSize) {
  const std::optional<Run> run = RunOf(first, count, sectorSize);
  if (!run || !device_) return -1;
  return device_->WriteAt(run->offset, buffer, run->length) ? 0 : -1;
}

int32_t DriveLayer::ProbeMediaType(uint8_t* boot, size_t length) {
  for (const int32_t type : device_->ProbeTypes()) {
    std::fill(boot, boot + length, 0xFF);
    if (!device_->UseMediaType(type) || !device_->ReadAt(0, boot, length)) continue;
    if (MediaTypeFromBootSector(ByteView(boot, length)) == type) return type;
  }
  std::fill(boot, boot + length, 0xFF);
  device_->UseMediaType(-1);
  return -1;
}

int32_t DriveLayer::DetectMediaType(int32_t driveNumber) {
  std::array<uint8_t, kBootReadLength> boot;
  boot.fill(0xFF);
  OpenDrive(kDriveModeRead, driveNumber - 1);
  int32_t type = -1;
  bool haveBoot = false;
  if (device_ && device_->KnownMediaType() >= 0) {
    type = device_->KnownMediaType();
    haveBoot = true;
  }
  // A device that must be told some formats gets a silent look first, then each of those formats, before the
  // ordinary read with its failure behaviour.
  if (!haveBoot && device_ && !device_->ProbeTypes().empty()) {
    if (device_->ReadAt(0, boot.data(), boot.size())) {
      haveBoot = true;
      type = MediaTypeFromBootSector(ByteView(boot.data(), boot.size()));
    } else {
      type = ProbeMediaType(boot.data(), boot.size());
      haveBoot = type >= 0;
    }
  }
  detecting_ = true;
  if (!haveBoot && ReadDriveSectors(boot.data(), 0, 1, static_cast<int32_t>(boot.size())) == 0)
    type = MediaTypeFromBootSector(ByteView(boot.data(), boot.size()));
  detecting_ = false;
  if (type >= 0 && device_ && !device_->UseMediaType(type)) type = -1;
  CloseDrive();
  return type;
}

}  // namespace kdl
