// The drives of this host: a floppy device of a PC floppy controller (/dev/fdN), any other block device
// (a USB floppy drive, /dev/sdX), or a regular file holding a raw disk image, which then acts as the drive.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drive/drive.h"

namespace kdl {

// The geometry the floppy controller's driver is given for a format it does not detect by itself, in the
// driver's terms: sizes count 512-byte units, sectors per track count one head.
struct FloppyParameters {
  uint32_t size = 0;  // 512-byte units on the disk
  uint32_t sect = 0;  // 512-byte units per track (one head)
  uint32_t head = 0;
  uint32_t track = 0;    // cylinders
  uint32_t stretch = 0;  // 0: single steps, first sector 1
  uint8_t gap = 0;       // read/write gap
  uint8_t rate = 0;      // data rate code, sector size code in bits 3-5
  uint8_t spec1 = 0;     // step rate and head unload time
  uint8_t fmtGap = 0;    // format gap
};

// Parameters for media type `type` when the driver must be told them: the 1,024-byte-sector 1.25 MB format
// and DMF. Empty for the formats the driver detects itself, and for the 8-inch format, whose 3,328-byte
// tracks the driver cannot address (it counts tracks in 512-byte units).
std::optional<FloppyParameters> FloppyParametersFor(int32_t type);

// The media types a floppy controller's device tries when a disk cannot be read as it is.
std::span<const int32_t> FloppyProbeTypes();

// Opens what a path names: a regular file (a raw disk image acting as the drive, never changing its length,
// or a disk image of another tool's format, read only), a floppy controller device or another block device.
// Null when it is none of these or cannot be opened.
std::unique_ptr<SectorDevice> OpenHostDevice(const std::string& path, bool forWriting);

// True when `path` is a regular file holding a disk image of another tool's format (D88, FDI, ImageDisk,
// gzip), which acts as a drive for reading only.
bool IsForeignContainerFile(const std::string& path);
// Why such a file cannot act as a drive (UTF-8: what it holds instead of a disk of a media type); empty
// when it can, or when it is no such file.
std::optional<std::string> ForeignContainerProblem(const std::string& path);

// Drives by index: entry n is the device path of drive n (0 = A:); an empty entry is no drive.
class HostDrives : public DeviceSource {
 public:
  explicit HostDrives(std::vector<std::string> paths) : paths_(std::move(paths)) {}
  std::unique_ptr<SectorDevice> Open(int32_t index, bool forWriting) override;
  std::string WhyNotOpen(int32_t index) const override;
  const std::vector<std::string>& paths() const { return paths_; }

 private:
  std::vector<std::string> paths_;
  int32_t failedIndex_ = -1;
  int failedErrno_ = 0;
};

// The message for a drive device at `path` that could not be opened with `error` (an errno value); empty
// for the errors that mean no disk is in the drive.
std::string DeviceOpenFailureText(const std::string& path, int error);

}  // namespace kdl
