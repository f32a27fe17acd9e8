// A blank FAT12 disk of one of the eight media types, laid out as the media table says: a boot sector with
// the parameter block and a boot code that says the disk cannot start a system, two empty FATs that begin
// with the media descriptor, an empty root directory, and a data area holding the media's fill byte, as a
// freshly formatted floppy does.
//
//   offset  size  boot sector field                 offset  size  boot sector field
//        0     3  jump to the boot code                 26     2  heads
//        3     8  OEM name                              28     4  hidden sectors (0)
//       11    13  BIOS parameter block (fat_layout.h)   32     4  32-bit total sectors (0)
//       24     2  sectors per track                     36     1  drive number (0)
//       38     1  extended boot signature 0x29          39     4  volume serial number
//       43    11  volume label ("NO NAME    ")          54     8  file system type "FAT12   "
//       62     -  boot code and its message            510     2  0x55 0xAA (sectors of 512 bytes and up)
#pragma once

#include <cstdint>
#include <vector>

namespace kdl {

// The whole disk of media type `mediaType` (0..7), total sectors x sector size bytes.
std::vector<uint8_t> FormatDisk(int32_t mediaType, uint32_t serial);

// The media descriptor byte of a media type's disks (0xF0 to 0xFE).
uint8_t MediaDescriptor(int32_t mediaType);

}  // namespace kdl
