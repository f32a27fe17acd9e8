// Fuzzes compression: whatever CompressTrack keeps must expand to the input, stay within nine
// tenths of it, and be written inside an exactly sized output block; data it refuses must still
// have a complete stream that expands. With the first byte odd, the rest is repeated up to the
// length in the next two bytes, to reach long matches, several blocks and the window refill.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "codec/codec.h"

namespace {

std::vector<uint8_t> MakeInput(const uint8_t* data, size_t size) {
  if (size >= 4 && (data[0] & 1)) {
    size_t length = static_cast<size_t>(data[1] | (data[2] << 8)) % 30000;
    std::vector<uint8_t> v(length);
    for (size_t i = 0; i < length; ++i) v[i] = data[3 + i % (size - 3)];
    return v;
  }
  if (size == 0) return {};
  return std::vector<uint8_t>(data + 1, data + size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static kdl::TrackCodec codec;
  static const bool ready = codec.CodecInit() == 0;
  if (!ready || size > 60000) return 0;
  const std::vector<uint8_t> input = MakeInput(data, size);
  const size_t n = input.size();

  std::unique_ptr<uint8_t[]> out(new uint8_t[n]);
  int stored = codec.CompressTrack(input.data(), out.get(), static_cast<int32_t>(n));
  std::vector<uint8_t> stream;
  if (stored >= 0) {
    if (static_cast<size_t>(stored) > n * 9 / 10) std::abort();
    stream.assign(out.get(), out.get() + stored);
  } else if (stored == -1) {
    stream = kdl::Lh5CompressUnbounded(input.data(), n);
  } else {
    std::abort();
  }

  std::unique_ptr<uint8_t[]> back(new uint8_t[n]);
  int r = codec.ExpandTrack(stream.data(), back.get(), static_cast<int32_t>(n),
                            static_cast<int32_t>(stream.size()));
  if (r != 0) std::abort();
  if (n != 0 && std::memcmp(back.get(), input.data(), n) != 0) std::abort();
  return 0;
}
