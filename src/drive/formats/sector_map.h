// What the container readers share: the physical layout of each media type, and the placing of the sectors
// a container stores (with their IDs and flags) into a disk of the media type their layout shows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drive/formats/container.h"

namespace kdl::formats {

// A media type as a drive sees it: cylinders, heads, sectors of one head's track, sector size.
struct PhysicalLayout {
  int32_t cylinders = 0;
  int32_t heads = 0;
  int32_t sectors = 0;  // per track of one head
  int32_t sectorSize = 0;
};

PhysicalLayout LayoutOf(int32_t type);
// The size code N of a sector size (128 << N), or -1.
int32_t SizeCode(int32_t sectorSize);

// One sector as a container stores it.
struct StoredSector {
  int32_t cylinder = 0;  // where the container stores it
  int32_t head = 0;
  uint8_t c = 0, h = 0, r = 0, n = 0;  // its ID
  ByteView data;                       // its bytes, unless it is a filled sector
  std::optional<uint8_t> fill;         // all bytes of the sector hold this value
  size_t length = 0;                   // bytes stored (the data's size, or the filled length)
  bool deleted = false;
  bool crcError = false;
  bool unavailable = false;
};

// The media type whose layout is `found` (cylinders may be fewer than the type's), choosing between types
// that differ only in cylinders by the boot sector's total sector count when `boot` holds one. Empty with
// `error` set (what was found) when no type fits.
std::optional<int32_t> MatchLayout(const PhysicalLayout& found, const std::vector<uint8_t>* boot,
                                   std::string& error);

// Refuses a disk whose readable boot sector gives another total sector count than its media type has (a
// disk of another system, or a disk whose layout lies). Empty when the disk is acceptable.
std::optional<std::string> CheckBootSector(const ContainerDisk& disk);

// Places the sectors of a container that stores them one by one (D88, ImageDisk).
class SectorAssembler {
 public:
  void Add(const StoredSector& sector) { sectors_.push_back(sector); }
  // Finds the media type from the stored layout and builds the disk; the notes so far go with it.
  ContainerRead Assemble(ContainerFormat format, std::vector<std::string> notes,
                         std::vector<std::string> comment);

 private:
  PhysicalLayout FoundLayout() const;
  bool IsGood(const StoredSector& s, int32_t cylinder, int32_t head, int32_t sizeCode, size_t size) const;

  std::vector<StoredSector> sectors_;
};

// A disk of `type` from sectors stored one after the other in logical order from `data` on: those past its
// end are missing.
ContainerDisk LinearDisk(ContainerFormat format, int32_t type, ByteView data);

// The format-specific readers and writers. Readers take the whole file.
bool LooksLikeD88(ByteView head, uint64_t fileSize);
ContainerRead DecodeD88(ByteView file);
std::vector<uint8_t> EncodeD88(int32_t type, ByteView disk, const ContainerText& text);

bool LooksLikeFdi(ByteView head, uint64_t fileSize);
ContainerRead DecodeFdi(ByteView file);
std::vector<uint8_t> EncodeFdi(int32_t type, ByteView disk);

bool LooksLikeImd(ByteView head);
ContainerRead DecodeImd(ByteView file);
std::vector<uint8_t> EncodeImd(int32_t type, ByteView disk, const ContainerText& text);

bool LooksLikeGzip(ByteView head);
// The bytes a gzip file holds (every member), at most `limit`; empty with `error` set on a broken stream.
std::optional<std::vector<uint8_t>> Gunzip(ByteView file, uint64_t limit, std::string& error);
std::vector<uint8_t> Gzip(ByteView data);

ContainerRead DecodeRaw(ByteView file);

}  // namespace kdl::formats
