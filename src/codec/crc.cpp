#include "codec/crc.h"

#include <array>

namespace kdl {

namespace {

// One step of the register: the table entry of the low byte, XORed with the register shifted right
// by eight with bit 15 copied into the vacated upper byte (the register is a signed 16-bit value in
// the format's original code).
constexpr unsigned Step(const std::array<uint16_t, 256>& table, unsigned crc, unsigned byte) {
  const unsigned shifted = (crc >> 8) | ((crc & 0x8000u) ? 0xFF00u : 0u);
  return table[(crc ^ byte) & 0xFFu] ^ shifted;
}

constexpr std::array<uint16_t, 256> MakeByteTable() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned r = i;
    for (int bit = 0; bit < 8; ++bit) r = (r & 1) ? (r >> 1) ^ 0xA001u : r >> 1;
    table[i] = static_cast<uint16_t>(r);
  }
  return table;
}

constexpr std::array<uint16_t, 256> kByteTable = MakeByteTable();

// Every step is linear over GF(2) in the register and the byte together (no constant enters), so
// the register after eight bytes is the XOR of each input's own contribution: the low byte of the
// register enters exactly as the first byte does, the high byte through its own table, and byte i
// of the eight through table i.
constexpr int kSlice = 8;

struct SliceTables {
  std::array<std::array<uint16_t, 256>, kSlice> byteAt{};
  std::array<uint16_t, 256> highByte{};
};

constexpr SliceTables MakeSliceTables() {
  SliceTables t{};
  for (unsigned v = 0; v < 256; ++v) {
    for (int i = 0; i < kSlice; ++i) {
      unsigned crc = 0;
      for (int k = 0; k < kSlice; ++k) crc = Step(kByteTable, crc, k == i ? v : 0u);
      t.byteAt[static_cast<size_t>(i)][v] = static_cast<uint16_t>(crc);
    }
    unsigned crc = v << 8;
    for (int k = 0; k < kSlice; ++k) crc = Step(kByteTable, crc, 0u);
    t.highByte[v] = static_cast<uint16_t>(crc);
  }
  return t;
}

constexpr SliceTables kSliceTables = MakeSliceTables();

}  // namespace

uint16_t TrackCrc(const uint8_t* data, size_t length) {
  const SliceTables& t = kSliceTables;
  unsigned crc = 0;
  size_t i = 0;
  for (; i + kSlice <= length; i += kSlice) {
    const uint8_t* b = data + i;
    crc = t.byteAt[0][(crc ^ b[0]) & 0xFFu] ^ t.highByte[crc >> 8] ^ t.byteAt[1][b[1]] ^ t.byteAt[2][b[2]] ^
          t.byteAt[3][b[3]] ^ t.byteAt[4][b[4]] ^ t.byteAt[5][b[5]] ^ t.byteAt[6][b[6]] ^ t.byteAt[7][b[7]];
  }
  for (; i < length; ++i) crc = Step(kByteTable, crc, data[i]);
  return static_cast<uint16_t>(crc);
}

uint8_t ByteSum(const uint8_t* data, size_t length) {
  unsigned sum = 0;
  for (size_t i = 0; i < length; ++i) sum += data[i];
  return static_cast<uint8_t>(sum);
}

}  // namespace kdl
