#include "collection/volume_pool.h"

#include <algorithm>

namespace kdl {

VolumePool::VolumePool(UnitCache& cache, Prompter& prompter, size_t maxOpen)
    : cache_(cache), prompter_(prompter), maxOpen_(std::max<size_t>(maxOpen, 1)) {}

std::shared_ptr<Volume> VolumePool::Get(const VolumeSource& source) {
  const FileIdentity identity = IdentityOf(source.path);
  const std::lock_guard lock(mutex_);
  const auto it =
      std::find_if(slots_.begin(), slots_.end(), [&](const Slot& s) { return s.source == source; });
  if (it != slots_.end()) {
    if (it->identity == identity) {
      slots_.splice(slots_.begin(), slots_, it);
      return it->volume;
    }
    slots_.erase(it);
  }
  // Opening reads the header, the FAT and the root; other threads wait for it, which keeps one image from
  // being opened twice at once.
  std::shared_ptr<Volume> volume = Volume::Open(source, cache_, prompter_);
  slots_.push_front(Slot{source, volume ? volume->identity() : identity, volume});
  while (slots_.size() > maxOpen_) slots_.pop_back();
  return volume;
}

size_t VolumePool::open() const {
  const std::lock_guard lock(mutex_);
  return static_cast<size_t>(
      std::count_if(slots_.begin(), slots_.end(), [](const Slot& s) { return s.volume != nullptr; }));
}

}  // namespace kdl
