// Disk images in the containers other tools use: D88 (".D88", ".D98", ".88D"), FDI (a header before the
// sectors), ImageDisk (".IMD"), HDM (the raw 1.25 MB disk) and raw images compressed with gzip.
//
// A container is recognised by its content and read whole into memory (the largest disk is 1.7 MB): its
// sectors are placed by their cylinder, head and sector numbers into the logical sector order of one of the
// eight media types, found from the geometry the container shows (sector size, sectors per track, heads,
// cylinders) and checked against the disk's own boot sector. Sectors the container lacks, marks as deleted
// or as read with a CRC error, or whose ID does not belong where it is stored, are damage: they hold the
// media fill byte and are listed, so that the caller can tell the user and let them decide. A container
// that holds no disk of the eight media types is refused with a text that says what it holds.
//
// Writers produce each container from a whole disk of a media type the container can describe.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"

namespace kdl {

enum class ContainerFormat {
  kUnknown,  // nothing we recognise (a raw image is only recognised by its boot sector, see below)
  kRaw,      // the sectors in logical order and nothing else (also HDM, the raw 1.25 MB disk)
  kHdm,      // a raw disk of media type 0; written only, read as kRaw
  kD88,
  kFdi,
  kImd,
  kGzip,  // a gzip stream holding a raw image or one of the containers above
};

// Why a sector of the disk could not be taken from the container.
enum class SectorDamage : uint8_t {
  kMissing,    // not in the container, unavailable, or beyond the end of the file
  kDeleted,    // stored with a deleted-data mark
  kCrcError,   // stored as read with a data error
  kBadId,      // stored where it belongs but its ID (cylinder, head, size) says otherwise
  kShort,      // its data is shorter than a sector
  kDuplicate,  // stored more than once with different data
};

struct DamagedSector {
  int32_t sector = 0;  // logical sector
  SectorDamage kind = SectorDamage::kMissing;
};

// A disk read out of a container.
struct ContainerDisk {
  ContainerFormat format = ContainerFormat::kUnknown;  // kGzip for a compressed file
  ContainerFormat inner = ContainerFormat::kUnknown;   // what the file (or its gzip stream) holds
  int32_t mediaType = -1;
  std::vector<uint8_t> bytes;         // cylinders x track-unit size; damaged sectors hold the fill byte
  std::vector<DamagedSector> damage;  // in ascending sector order
  int32_t ignoredSectors = 0;         // stored sectors that are not part of the media type's layout
  std::vector<std::string> notes;     // problems of the container's own structure (UTF-8)
  std::vector<std::string> comment;   // text lines the container carries (D88 disk name, IMD comment)
  bool writeProtected = false;
};

// The result of reading a container: the disk, or why there is none (UTF-8, says what was found).
struct ContainerRead {
  std::optional<ContainerDisk> disk;
  std::string error;
};

// Text a writer stores where the container has room for it.
struct ContainerText {
  std::string name;                  // D88 disk name (at most 16 bytes are kept)
  std::vector<std::string> comment;  // IMD comment lines (printable ASCII lines only)
  std::time_t time = 0;              // IMD header time (local time); 0: the epoch
};

// The largest file taken as a container, compressed or not.
inline constexpr uint64_t kMaxContainerBytes = 16u << 20;

// The container format of a file from its first bytes (at least 4,096 where the file has them) and its size.
// kRaw only when the 16-bit total sector count of a FAT boot sector names a media type; kUnknown otherwise.
ContainerFormat DetectContainer(ByteView head, uint64_t fileSize);
// True for the formats read through this module rather than as a raw file: D88, FDI, IMD and gzip.
bool IsForeignContainer(ContainerFormat format);

// Reads a whole container from memory, or from a file.
ContainerRead DecodeContainer(ByteView file);
ContainerRead ReadContainerFile(const std::string& path);

// True when `format` can describe a disk of media type `type`.
bool FormatCanHold(ContainerFormat format, int32_t type);
// The container holding `disk`, a whole disk of media type `type` (cylinders x track-unit size bytes).
// Empty when the format cannot hold that type or the disk has another size.
std::vector<uint8_t> EncodeContainer(ContainerFormat format, int32_t type, ByteView disk,
                                     const ContainerText& text = {});

// "raw", "D88", "FDI", "HDM", "IMD", "gzip".
std::string_view ContainerFormatName(ContainerFormat format);
// The format a `--format` value names: raw, d88, fdi, hdm, imd, gz (any letter case).
std::optional<ContainerFormat> ContainerFormatFromName(std::string_view name);
// The format a file name's extension suggests: .D88 .D98 .88D, .FDI, .HDM, .IMD, .GZ (any case).
std::optional<ContainerFormat> ContainerFormatFromExtension(const std::string& path);

// "C 5 H0 R 3" of a logical sector of media type `type`.
std::string SectorAddress(int32_t type, int32_t sector);
// The address of a damaged sector and what is wrong with it, on one line.
std::string DescribeSectorDamage(int32_t type, const DamagedSector& damage);
// What the damage of a disk is, one line per damaged sector (at most `limit` lines, then a count of the
// rest), then the notes; empty when the disk is whole.
std::string DescribeDamage(const ContainerDisk& disk, size_t limit = 16);

}  // namespace kdl
