// Fuzzes the expander: the first two bytes give the expanded length (little-endian), the rest is
// the stored stream. Both buffers are exactly sized heap blocks so that the sanitizers catch any
// access outside them; the result must be 0 or -3.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "codec/codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static kdl::TrackCodec codec;
  static const bool ready = codec.CodecInit() == 0;
  if (!ready || size < 2) return 0;
  const size_t expanded = static_cast<size_t>(data[0] | (data[1] << 8));
  const size_t stored = size - 2;
  std::unique_ptr<uint8_t[]> in(new uint8_t[stored]);
  if (stored != 0) std::memcpy(in.get(), data + 2, stored);
  std::unique_ptr<uint8_t[]> out(new uint8_t[expanded]);
  int r =
      codec.ExpandTrack(in.get(), out.get(), static_cast<int32_t>(expanded), static_cast<int32_t>(stored));
  if (r != 0 && r != -3) std::abort();
  return 0;
}
