#include "codec/codec.h"

#include <new>
#include <stdexcept>

#include "codec/lh5_decoder.h"
#include "codec/lh5_encoder.h"

namespace kdl {

TrackCodec::TrackCodec() = default;
TrackCodec::~TrackCodec() = default;

int TrackCodec::CodecInit() {
  if (decoder_) return 0;
  decoder_.reset(new (std::nothrow) lh5::Decoder());
  return decoder_ ? 0 : -1;
}

void TrackCodec::CodecDone() { decoder_.reset(); }

int TrackCodec::CompressTrack(const uint8_t* in, uint8_t* out, int32_t length) {
  if (length <= 0 || in == nullptr || out == nullptr) return kCompressNotWorthKeeping;
  size_t n = static_cast<size_t>(length);
  lh5::EncodeResult r = lh5::Encode(in, n, out, n, /*bounded=*/true);
  switch (r.status) {
    case lh5::EncodeStatus::kOk:
      break;
    case lh5::EncodeStatus::kNoTrieMemory:
      return kCompressNoTrieMemory;
    default:
      return kCompressNotWorthKeeping;
  }
  // Keep the compressed form only when it saves at least a tenth.
  if (static_cast<int64_t>(r.size) > static_cast<int64_t>(length) * 9 / 10) return kCompressNotWorthKeeping;
  return static_cast<int>(r.size);
}

int TrackCodec::ExpandTrack(const uint8_t* in, uint8_t* out, int32_t expandedLength, int32_t storedLength) {
  if (!decoder_ || expandedLength < 0 || storedLength < 0) return kExpandBadStream;
  if (expandedLength == 0) return 0;
  if (out == nullptr || (in == nullptr && storedLength > 0)) return kExpandBadStream;
  bool ok = decoder_->Expand(in, static_cast<size_t>(storedLength), out, static_cast<size_t>(expandedLength));
  return ok ? 0 : kExpandBadStream;
}

std::vector<uint8_t> Lh5CompressUnbounded(const uint8_t* in, size_t length) {
  std::vector<uint8_t> out(lh5::UnboundedCapacity(length));
  lh5::EncodeResult r = lh5::Encode(in, length, out.data(), out.size(), /*bounded=*/false);
  if (r.status != lh5::EncodeStatus::kOk) throw std::runtime_error("lh5: unbounded compression failed");
  out.resize(r.size);
  return out;
}

}  // namespace kdl
