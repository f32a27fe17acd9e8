#include "codec/crc.h"

#include <array>

namespace kdl {

namespace {

constexpr std::array<uint16_t, 256> MakeCrcTable() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned r = i;
    for (int bit = 0; bit < 8; ++bit) r = (r & 1) ? (r >> 1) ^ 0xA001u : r >> 1;
    table[i] = static_cast<uint16_t>(r);
  }
  return table;
}

constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

uint16_t TrackCrc(const uint8_t* data, size_t length) {
  unsigned crc = 0;
  for (size_t i = 0; i < length; ++i) {
    // The register is a signed 16-bit value in the format's original code: the shift copies bit 15.
    unsigned shifted = (crc >> 8) | ((crc & 0x8000u) ? 0xFF00u : 0u);
    crc = kCrcTable[(crc ^ data[i]) & 0xFFu] ^ shifted;
  }
  return static_cast<uint16_t>(crc);
}

uint8_t ByteSum(const uint8_t* data, size_t length) {
  unsigned sum = 0;
  for (size_t i = 0; i < length; ++i) sum += data[i];
  return static_cast<uint8_t>(sum);
}

}  // namespace kdl
