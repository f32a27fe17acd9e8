// A drive for tests: a disk held in memory that can have unreadable byte ranges, refuse writes, be swapped
// for another disk at the next open, and that records every read and write it is asked for.
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "drive/drive.h"

namespace kdltest {

struct Access {
  uint64_t offset;
  size_t length;
};

struct FakeDisk {
  std::vector<uint8_t> bytes;
  // Byte ranges that cannot be read; a read touching one fails.
  std::vector<Access> unreadable;
  // A write touching a byte at or after this offset fails (the disk is not changed by it).
  uint64_t failWritesFrom = UINT64_MAX;
  // Disks put into the drive at the next opens, one per open.
  std::deque<std::vector<uint8_t>> inserted;
  // No device at all: every open fails.
  bool absent = false;

  std::vector<Access> reads;
  std::vector<Access> writes;
  int opens = 0;

  // Number of reads that touched any byte of [offset, offset + length).
  int ReadsTouching(uint64_t offset, size_t length) const {
    return static_cast<int>(std::count_if(reads.begin(), reads.end(), [&](const Access& a) {
      return a.offset < offset + length && offset < a.offset + a.length;
    }));
  }
  void MakeUnreadable(uint64_t offset, size_t length) { unreadable.push_back({offset, length}); }
};

class FakeDevice : public kdl::SectorDevice {
 public:
  explicit FakeDevice(FakeDisk& disk) : disk_(disk) {}
  bool ReadAt(uint64_t offset, uint8_t* data, size_t length) override {
    disk_.reads.push_back({offset, length});
    if (offset + length > disk_.bytes.size()) return false;
    for (const Access& bad : disk_.unreadable) {
      if (bad.offset < offset + length && offset < bad.offset + bad.length) return false;
    }
    std::memcpy(data, disk_.bytes.data() + offset, length);
    return true;
  }
  bool WriteAt(uint64_t offset, const uint8_t* data, size_t length) override {
    disk_.writes.push_back({offset, length});
    if (offset + length > disk_.bytes.size() || offset + length > disk_.failWritesFrom) return false;
    std::memcpy(disk_.bytes.data() + offset, data, length);
    return true;
  }

 private:
  FakeDisk& disk_;
};

// Drive index n is disks[n].
class FakeDrives : public kdl::DeviceSource {
 public:
  explicit FakeDrives(std::vector<FakeDisk*> disks) : disks_(std::move(disks)) {}
  std::unique_ptr<kdl::SectorDevice> Open(int32_t index, bool forWriting) override {
    (void)forWriting;
    if (index < 0 || static_cast<size_t>(index) >= disks_.size()) return nullptr;
    FakeDisk& d = *disks_[static_cast<size_t>(index)];
    ++d.opens;
    if (!d.inserted.empty()) {
      d.bytes = std::move(d.inserted.front());
      d.inserted.pop_front();
    }
    if (d.absent) return nullptr;
    return std::make_unique<FakeDevice>(d);
  }

 private:
  std::vector<FakeDisk*> disks_;
};

}  // namespace kdltest
