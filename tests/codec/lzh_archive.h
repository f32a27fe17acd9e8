// Minimal LHA archive writing and reading for the codec's oracle tests: one -lh5- member per
// archive written with a level-0 header, and the members of archives made by other tools read
// back (header levels 0, 1 and 2) to get at their raw compressed streams.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kdltest {

// CRC-16/ARC (the checksum LHA archives keep of each member's original bytes).
uint16_t Crc16Arc(const std::vector<uint8_t>& data);

// An archive of one member `name` whose compressed form is `stream` (method `method`).
std::vector<uint8_t> MakeLzhArchive(const std::string& name, const std::vector<uint8_t>& original,
                                    const std::vector<uint8_t>& stream, const std::string& method = "-lh5-");

struct LzhMember {
  std::string method;
  std::string name;
  int level = 0;
  uint32_t originalSize = 0;
  uint16_t crc = 0;
  std::vector<uint8_t> stream;
};

// The members of an archive; throws std::runtime_error on a malformed one.
std::vector<LzhMember> ParseLzhArchive(const std::vector<uint8_t>& archive);

}  // namespace kdltest
