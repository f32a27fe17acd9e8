// Checksums of stored tracks and archive entry records.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kdl {

// 16-bit CRC of every stored track (polynomial 0xA001, reflected, start 0). Unlike CRC-16/ARC the
// register is shifted right arithmetically: bit 15 is copied into the vacated upper byte.
// "123456789" gives 0xE07D.
uint16_t TrackCrc(const uint8_t* data, size_t length);

// Sum of the bytes modulo 256 (the seal of an archive entry record).
uint8_t ByteSum(const uint8_t* data, size_t length);

}  // namespace kdl
