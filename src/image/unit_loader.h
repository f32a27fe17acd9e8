// Reading one track unit of an image back into its restored bytes, apart from the image object, so that
// the units of an image can be read side by side on the worker pool. The message a failed read shows is
// handed back instead of shown: only the thread that talks to the user shows it.
#pragma once

#include <cstdint>
#include <string>

#include "codec/codec.h"
#include "common/bytes.h"
#include "common/file.h"
#include "image/kdl_format.h"

namespace kdl {

// What reading a unit needs; nothing of it changes while units are read.
struct UnitSource {
  const File* file = nullptr;
  uint64_t base = 0;  // where the image starts in the file
  const KdlHeader* header = nullptr;
  const TrackDirectory* directory = nullptr;
  ByteView fat;  // the image's first FAT, which decides the free clusters of units above 0
};

// Reads, checks and restores unit `unit` into `track` (kTrackBufferSize bytes) with the help of `work`
// (kWorkBufferSize bytes). False when it cannot: `message` then holds what the user is shown, or is empty
// for a short read, which fails without a message.
bool LoadUnit(const UnitSource& source, int32_t unit, TrackCodec& codec, uint8_t* work, uint8_t* track,
              std::string& message);

// The codec of the calling thread, initialised on first use.
TrackCodec& ThreadCodec();

}  // namespace kdl
