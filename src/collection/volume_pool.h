// The volumes a long-running reader keeps open: at most a fixed number, the least recently used closed first,
// so that a collection of any size is served in bounded memory. A file changed since its volume was opened is
// opened again.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>

#include "collection/unit_cache.h"
#include "collection/volume.h"
#include "common/prompt.h"

namespace kdl {

class VolumePool {
 public:
  // `prompter` hears the volumes' messages and must be safe to call from several threads.
  VolumePool(UnitCache& cache, Prompter& prompter, size_t maxOpen);

  // The open volume of `source`, opened now when it is not open or its file changed since. Null when it
  // cannot be opened; the failure is remembered until the file changes, so that its message is given once.
  std::shared_ptr<Volume> Get(const VolumeSource& source);
  // Volumes held open now.
  size_t open() const;

 private:
  struct Slot {
    VolumeSource source;
    FileIdentity identity;
    std::shared_ptr<Volume> volume;  // null: the image could not be opened
  };

  UnitCache& cache_;
  Prompter& prompter_;
  const size_t maxOpen_;
  mutable std::mutex mutex_;
  std::list<Slot> slots_;  // most recently used first
};

}  // namespace kdl
