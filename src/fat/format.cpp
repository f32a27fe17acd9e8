#include "fat/format.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "common/bytes.h"
#include "drive/fat_layout.h"
#include "drive/media.h"
#include "fat/fat_table.h"

namespace kdl {
namespace {

// What the media table leaves out: the descriptor byte and the physical tracks of each type.
struct PhysicalLayout {
  uint8_t descriptor;
  uint16_t sectorsPerTrack;
  uint16_t heads;
};
constexpr std::array<PhysicalLayout, kMediaTypeCount> kPhysical = {{
    {0xFE, 8, 2},   // 2HD 1.25 MB: 1,024-byte sectors
    {0xF9, 15, 2},  // 2HC 1.2 MB
    {0xF0, 18, 2},  // 2HC 1.44 MB
    {0xF9, 9, 2},   // 2DD 720 KB
    {0xFB, 8, 2},   // 2DD 640 KB
    {0xFD, 9, 2},   // 2D 360 KB
    {0xFE, 26, 1},  // 8-inch single sided, 128-byte sectors
    {0xF0, 21, 2},  // DMF 1.68 MB
}};

constexpr std::string_view kOemName = "KDLW    ";
constexpr std::string_view kNoName = "NO NAME    ";
constexpr std::string_view kFat12 = "FAT12   ";
constexpr size_t kBootCodeAt = 0x3E;

// Real-mode code loaded at 0000:7C00: prints the message at 7C63 through the video BIOS, waits for a key and
// asks the BIOS to boot again.
constexpr std::array<uint8_t, 37> kBootCode = {
    0xFA,              // cli
    0x31, 0xC0,        // xor ax, ax
    0x8E, 0xD8,        // mov ds, ax
    0x8E, 0xD0,        // mov ss, ax
    0xBC, 0x00, 0x7C,  // mov sp, 7C00h
    0xFB,              // sti
    0xFC,              // cld
    0xBE, 0x63, 0x7C,  // mov si, 7C63h (the message)
    0xAC,              // next: lodsb
    0x84, 0xC0,        // test al, al
    0x74, 0x09,        // jz done
    0xB4, 0x0E,        // mov ah, 0Eh (teletype output)
    0xBB, 0x07, 0x00,  // mov bx, 0007h
    0xCD, 0x10,        // int 10h
    0xEB, 0xF2,        // jmp next
    0x31, 0xC0,        // done: xor ax, ax
    0xCD, 0x16,        // int 16h (wait for a key)
    0xCD, 0x19,        // int 19h (boot again)
    0xEB, 0xFE,        // jmp $
};
constexpr size_t kMessageAt = kBootCodeAt + kBootCode.size();  // 0x63
// A 128-byte boot sector leaves room for the first line only.
constexpr std::string_view kMessage = "Not a system disk\r\nInsert a system disk and press any key\r\n";
constexpr std::string_view kShortMessage = "Not a system disk\r\n";

}  // namespace

uint8_t MediaDescriptor(int32_t mediaType) {
  return IsMediaType(mediaType) ? kPhysical[static_cast<size_t>(mediaType)].descriptor : 0xF0;
}

std::vector<uint8_t> FormatDisk(int32_t mediaType, uint32_t serial) {
  if (!IsMediaType(mediaType)) return {};
  const MediaRow& row = MediaTable()[static_cast<size_t>(mediaType)];
  const MediaGeometry& g = row.geometry;
  const PhysicalLayout& p = kPhysical[static_cast<size_t>(mediaType)];
  const size_t sectorSize = static_cast<size_t>(g.sectorSize);
  std::vector<uint8_t> disk(static_cast<size_t>(row.totalSectors) * sectorSize, 0);
  ByteSpan b(disk.data(), sectorSize);

  b.PutU8(0, 0xEB);
  b.PutU8(1, static_cast<uint8_t>(kBootCodeAt - 2));
  b.PutU8(2, 0x90);
  b.PutText(3, kOemName.size(), kOemName);
  b.PutU16(bpb::kBytesPerSector, static_cast<uint16_t>(g.sectorSize));
  b.PutU8(bpb::kSectorsPerCluster, static_cast<uint8_t>(g.sectorsPerCluster));
  b.PutU16(bpb::kReservedSectors, static_cast<uint16_t>(g.fatStart));
  b.PutU8(bpb::kFatCount, static_cast<uint8_t>(FatCopies(g)));
  b.PutU16(bpb::kRootEntries, static_cast<uint16_t>(g.rootEntries));
  b.PutU16(bpb::kTotalSectors, static_cast<uint16_t>(row.totalSectors));
  b.PutU8(bpb::kMediaDescriptor, p.descriptor);
  b.PutU16(bpb::kFatSectors, static_cast<uint16_t>(g.fatSectors));
  b.PutU16(24, p.sectorsPerTrack);
  b.PutU16(26, p.heads);
  b.PutU8(38, 0x29);
  b.PutU32(39, serial);
  b.PutText(43, kNoName.size(), kNoName);
  b.PutText(54, kFat12.size(), kFat12);
  for (size_t i = 0; i < kBootCode.size(); ++i) b.PutU8(kBootCodeAt + i, kBootCode[i]);
  const std::string_view message = sectorSize >= 512 ? kMessage : kShortMessage;
  b.PutText(kMessageAt, message.size(), message);
  if (sectorSize >= 512) {
    b.PutU8(510, 0x55);
    b.PutU8(511, 0xAA);
  }

  // Every FAT copy starts with the media descriptor and an end mark for the reserved entry 1.
  FatTable fat(disk, g);
  fat.Set(0, static_cast<uint16_t>(0xF00 | p.descriptor));
  fat.Set(1, kFatEnd);
  const size_t dataAt = static_cast<size_t>(g.dataStart) * sectorSize;
  std::fill(disk.begin() + static_cast<ptrdiff_t>(dataAt), disk.end(), row.fillByte);
  return disk;
}

}  // namespace kdl
