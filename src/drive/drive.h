// Raw sector access to the disk in a floppy drive: open a drive for reading or writing, read or write a run
// of logical sectors, close; and the media type of the disk from its boot sector.
//
// The layer addresses a disk only by logical sector number (counted from 0 over the whole disk) and a sector
// size the caller takes from the media table; it knows nothing of tracks, heads or file systems. One drive is
// open at a time. What a drive is on this host (a floppy device, a USB floppy, a raw image file acting as a
// drive, a test double) is behind SectorDevice; DriveLayer adds the behaviour the callers rely on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/prompt.h"

namespace kdl {

// One opened drive.
class SectorDevice {
 public:
  virtual ~SectorDevice() = default;
  // Reads exactly `length` bytes at byte `offset`. On failure the buffer is left as it was.
  virtual bool ReadAt(uint64_t offset, uint8_t* data, size_t length) = 0;
  // Writes exactly `length` bytes at byte `offset`; never makes a disk longer.
  virtual bool WriteAt(uint64_t offset, const uint8_t* data, size_t length) = 0;
  // Media types whose format the device cannot recognise by itself, in the order to try them when the disk
  // cannot be read as it is.
  virtual std::span<const int32_t> ProbeTypes() const { return {}; }
  // Tells the device the format of the disk it holds, for devices that must be told (a floppy controller).
  // False when the device cannot be set up for that format.
  virtual bool UseMediaType(int32_t type) {
    (void)type;
    return true;
  }
  // The media type of the disk when the device knows it without reading the boot sector (an image file of
  // another tool, whose layout says it); -1 otherwise.
  virtual int32_t KnownMediaType() const { return -1; }
  // True when the sectors a read cannot deliver are known one by one (the damaged sectors of an image
  // file): a failed run is then always read again sector by sector, so that only those sectors are lost
  // and the user decides about each.
  virtual bool FailsBySector() const { return false; }
  // What is known to be wrong with the disk before it is read (UTF-8, for the user); empty when nothing.
  virtual std::string DamageReport() const { return {}; }
};

// Opens the device behind a drive index (0 = A:).
class DeviceSource {
 public:
  virtual ~DeviceSource() = default;
  // Null when there is no such drive or it cannot be opened.
  virtual std::unique_ptr<SectorDevice> Open(int32_t index, bool forWriting) = 0;
  // Why the last Open of drive `index` failed, as a message for the user; empty when the reason is nothing
  // about the device itself (no disk in the drive, for one).
  virtual std::string WhyNotOpen(int32_t index) const {
    (void)index;
    return {};
  }
};

// What a failed run read does.
enum class ReadFailure {
  kFailRun,         // the run fails at once, without a question
  kSectorBySector,  // the run is read again one sector at a time, asking Abort/Retry/Ignore for each failure
};

inline constexpr int32_t kDriveModeRead = 0;
inline constexpr int32_t kDriveModeWrite = 1;

// The drive layer: one drive open at a time. Results follow the program's rule: 0 success, -1 failure.
class DriveLayer {
 public:
  DriveLayer(DeviceSource& source, Prompter* prompter, ReadFailure readFailure = ReadFailure::kFailRun);
  DriveLayer(const DriveLayer&) = delete;
  DriveLayer& operator=(const DriveLayer&) = delete;

  // Opens drive `index` (0 = A:) for reading (mode 0) or writing (mode 1); any other mode opens nothing.
  // Returns 0 when a drive is open afterwards, 1 when not; a failed open shows up as failing transfers.
  int32_t OpenDrive(int32_t mode, int32_t index);
  void CloseDrive();
  bool IsOpen() const { return device_ != nullptr; }

  // Reads `count` sectors of `sectorSize` bytes from logical sector `first` into `buffer`. 0 or -1.
  int32_t ReadDriveSectors(uint8_t* buffer, int32_t first, int32_t count, int32_t sectorSize);
  // Writes `count` sectors from `buffer` at logical sector `first`; never retried. 0 or -1.
  int32_t WriteDriveSectors(const uint8_t* buffer, int32_t first, int32_t count, int32_t sectorSize);

  // The media type of the disk in drive `driveNumber` (1 = A:) from its boot sector's total sector count,
  // or -1 when the disk cannot be read or the count is not in the media table.
  int32_t DetectMediaType(int32_t driveNumber);

  // Why the drive could not be opened at the last open, when its device is missing or unusable ("the
  // drive's device /dev/fd0 does not exist"); empty after a successful open or when the device is there.
  const std::string& OpenFailure() const { return openFailure_; }

  // The logical sectors that could not be read and were ignored (the Ignore answer of a sector-by-sector
  // read) since the layer was made or the list cleared, in the order met.
  const std::vector<int32_t>& IgnoredSectors() const { return ignored_; }
  void ClearIgnoredSectors() { ignored_.clear(); }

  ReadFailure readFailure() const { return readFailure_; }
  void setReadFailure(ReadFailure r) { readFailure_ = r; }

 private:
  // Finds the format of a disk the device cannot read as it is, by trying the formats it must be told.
  int32_t ProbeMediaType(uint8_t* boot, size_t length);

  DeviceSource& source_;
  Prompter* prompter_;
  ReadFailure readFailure_;
  std::unique_ptr<SectorDevice> device_;
  std::string openFailure_;
  std::vector<int32_t> ignored_;
  bool detecting_ = false;  // the boot sector is read for the media type: an ignored sector is no data lost
  bool damageReported_ = false;  // the device's damage report has been shown once
};

}  // namespace kdl
