#include "collection/unit_cache.h"

namespace kdl {

UnitCache::UnitCache(size_t capacityBytes) : capacity_(capacityBytes) {}

std::shared_ptr<const UnitCache::Bytes> UnitCache::Find(uint64_t volume, int32_t unit) {
  const std::lock_guard lock(mutex_);
  const auto it = slots_.find(Key(volume, unit));
  if (it == slots_.end()) {
    ++misses_;
    return nullptr;
  }
  ++hits_;
  order_.splice(order_.begin(), order_, it->second);
  return it->second->bytes;
}

void UnitCache::Insert(uint64_t volume, int32_t unit, std::shared_ptr<const Bytes> bytes) {
  if (bytes == nullptr) return;
  const uint64_t key = Key(volume, unit);
  const std::lock_guard lock(mutex_);
  if (const auto it = slots_.find(key); it != slots_.end()) {
    bytes_ -= it->second->bytes->size();
    order_.erase(it->second);
    slots_.erase(it);
  }
  bytes_ += bytes->size();
  order_.push_front(Slot{key, std::move(bytes)});
  slots_[key] = order_.begin();
  Trim();
}

void UnitCache::Forget(uint64_t volume) {
  const std::lock_guard lock(mutex_);
  for (auto it = order_.begin(); it != order_.end();) {
    if ((it->key >> 8) == volume) {
      bytes_ -= it->bytes->size();
      slots_.erase(it->key);
      it = order_.erase(it);
    } else {
      ++it;
    }
  }
}

UnitCache::Stats UnitCache::stats() const {
  const std::lock_guard lock(mutex_);
  return Stats{hits_, misses_, slots_.size(), bytes_};
}

void UnitCache::Trim() {
  // The unit just added stays even when it alone is over the capacity: the caller is about to use it.
  while (bytes_ > capacity_ && order_.size() > 1) {
    const Slot& last = order_.back();
    bytes_ -= last.bytes->size();
    slots_.erase(last.key);
    order_.pop_back();
  }
}

}  // namespace kdl
