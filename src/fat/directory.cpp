#include "fat/directory.h"

#include <algorithm>

namespace kdl {

DirectoryEntry::DirectoryEntry(ByteView raw) {
  ByteView src = raw.Sub(0, kDirectoryEntrySize);
  std::copy(src.data(), src.data() + kDirectoryEntrySize, bytes_.begin());
}

std::array<uint16_t, kLongNameUnitsPerEntry> DirectoryEntry::LongNameUnits() const {
  // The 13 units lie in three runs: 1-10, 14-25, 28-31.
  static constexpr size_t kUnitOffsets[kLongNameUnitsPerEntry] = {1,  3,  5,  7,  9,  14, 16,
                                                                  18, 20, 22, 24, 28, 30};
  std::array<uint16_t, kLongNameUnitsPerEntry> units{};
  for (size_t i = 0; i < units.size(); ++i) units[i] = View().U16(kUnitOffsets[i]);
  return units;
}

uint8_t ShortNameChecksum(const DirectoryEntry& entry) {
  uint8_t sum = 0;
  for (size_t i = 0; i < 11; ++i)
    sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + entry.bytes()[i]);
  return sum;
}

DirectoryTable DirectoryFromBytes(ByteView raw) {
  DirectoryTable table;
  table.reserve(raw.size() / kDirectoryEntrySize);
  for (size_t off = 0; off + kDirectoryEntrySize <= raw.size(); off += kDirectoryEntrySize)
    table.emplace_back(raw.Sub(off, kDirectoryEntrySize));
  return table;
}

int32_t CompactDirectory(DirectoryEntry* table, int32_t count) {
  int32_t i = 0;
  for (int32_t j = 0; j < count; ++j) {
    const DirectoryEntry& e = table[j];
    if (e.IsDeleted()) {
      // A deleted entry breaks a long name: the pieces before it belong to no short entry after it.
      while (i > 0 && table[i - 1].IsLongNamePiece()) --i;
      continue;
    }
    if (e.IsDotEntry()) continue;
    if (e.IsEnd()) break;
    if (i != j) table[i] = table[j];
    if (!table[i].IsLongNamePiece()) table[i].SetIndexSlot(static_cast<uint16_t>(i));
    ++i;
  }
  return i;
}

void CompactDirectory(DirectoryTable& table) {
  const int32_t n = CompactDirectory(table.data(), static_cast<int32_t>(table.size()));
  table.resize(static_cast<size_t>(n));
}

}  // namespace kdl
