#include "codec/lh5_encoder.h"

#include "codec/lh5_match_finder.h"

namespace kdl::lh5 {

EncodeResult Encode(const uint8_t* in, size_t length, uint8_t* out, size_t capacity, bool bounded) {
  return EncodeWith<MatchFinder>(in, length, out, capacity, bounded);
}

}  // namespace kdl::lh5
