// Expanded track units shared by every image a collection reader has open.
//
// Mounting a folder of thousands of images must not hold thousands of expanded units: the cache keeps the
// most recently used units up to a fixed number of bytes, whatever the number of images, and forgets the
// rest. Safe to use from several threads at once; the bytes handed out stay valid for as long as the caller
// holds them, even after the cache has dropped them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace kdl {

class UnitCache {
 public:
  using Bytes = std::vector<uint8_t>;

  struct Stats {
    uint64_t hits = 0;
    uint64_t misses = 0;
    size_t units = 0;  // units held now
    size_t bytes = 0;  // bytes held now
  };

  explicit UnitCache(size_t capacityBytes);
  UnitCache(const UnitCache&) = delete;
  UnitCache& operator=(const UnitCache&) = delete;

  // The bytes of unit `unit` of the image known as `volume`, or null when they are not held.
  std::shared_ptr<const Bytes> Find(uint64_t volume, int32_t unit);
  // Keeps the bytes, dropping the least recently used units while the total is over the capacity.
  void Insert(uint64_t volume, int32_t unit, std::shared_ptr<const Bytes> bytes);
  // Drops every unit of `volume`.
  void Forget(uint64_t volume);

  Stats stats() const;
  size_t capacity() const { return capacity_; }

 private:
  struct Slot {
    uint64_t key;
    std::shared_ptr<const Bytes> bytes;
  };
  static uint64_t Key(uint64_t volume, int32_t unit) { return (volume << 8) | static_cast<uint8_t>(unit); }
  void Trim();

  const size_t capacity_;
  mutable std::mutex mutex_;
  std::list<Slot> order_;  // most recently used first
  std::unordered_map<uint64_t, std::list<Slot>::iterator> slots_;
  size_t bytes_ = 0;
  uint64_t hits_ = 0;
  uint64_t misses_ = 0;
};

}  // namespace kdl
