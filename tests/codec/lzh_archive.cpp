#include "codec/lzh_archive.h"

#include <stdexcept>

#include "common/bytes.h"

namespace kdltest {

uint16_t Crc16Arc(const std::vector<uint8_t>& data) {
  unsigned crc = 0;
  for (uint8_t b : data) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001u : crc >> 1;
  }
  return static_cast<uint16_t>(crc);
}

// Level-0 header:
//   0 header size (bytes from offset 2 to the end of the header)   1 checksum of those bytes
//   2 method "-lh5-"   7 compressed size   11 original size   15 MS-DOS time stamp
//   19 attribute   20 level (0)   21 name length n   22 name   22+n CRC-16 of the original
std::vector<uint8_t> MakeLzhArchive(const std::string& name, const std::vector<uint8_t>& original,
                                    const std::vector<uint8_t>& stream, const std::string& method) {
  const size_t headerSize = 22 + name.size();
  std::vector<uint8_t> out(2 + headerSize + stream.size() + 1, 0);
  kdl::ByteSpan h(out.data(), out.size());
  h.PutU8(0, static_cast<uint8_t>(headerSize));
  h.PutText(2, 5, method);
  h.PutU32(7, static_cast<uint32_t>(stream.size()));
  h.PutU32(11, static_cast<uint32_t>(original.size()));
  h.PutU32(15, 0x5A210000);  // 2025-01-01 00:00
  h.PutU8(19, 0x20);
  h.PutU8(20, 0);
  h.PutU8(21, static_cast<uint8_t>(name.size()));
  h.PutText(22, name.size(), name);
  h.PutU16(22 + name.size(), Crc16Arc(original));
  unsigned sum = 0;
  for (size_t i = 2; i < 2 + headerSize; ++i) sum += out[i];
  h.PutU8(1, static_cast<uint8_t>(sum));
  for (size_t i = 0; i < stream.size(); ++i) out[2 + headerSize + i] = stream[i];
  // The final zero byte ends the archive.
  return out;
}

namespace {

// Sizes of a level-1 or level-2 header's extended headers, starting with the size at `off`.
size_t SkipExtendedHeaders(const kdl::ByteView& v, size_t off) {
  size_t total = 0;
  size_t next = v.U16(off);
  off += 2;
  while (next != 0) {
    if (next < 3) throw std::runtime_error("lzh: bad extended header size");
    total += next;
    off += next;
    next = v.U16(off - 2);
  }
  return total;
}

}  // namespace

std::vector<LzhMember> ParseLzhArchive(const std::vector<uint8_t>& archive) {
  kdl::ByteView v(archive.data(), archive.size());
  std::vector<LzhMember> members;
  size_t p = 0;
  while (p < v.size() && v.U8(p) != 0) {
    LzhMember m;
    m.level = v.U8(p + 20);
    m.method = std::string(v.Text(p + 2, 5));
    uint32_t packed = v.U32(p + 7);
    m.originalSize = v.U32(p + 11);
    size_t data = 0;
    if (m.level == 0 || m.level == 1) {
      size_t headerSize = v.U8(p);
      size_t nameLength = v.U8(p + 21);
      m.name = std::string(v.Text(p + 22, nameLength));
      m.crc = v.U16(p + 22 + nameLength);
      data = p + 2 + headerSize;
      if (m.level == 1) {
        // The packed size counts the extended headers that follow the base header.
        size_t ext = SkipExtendedHeaders(v, p + 2 + headerSize - 2);
        data += ext;
        packed -= static_cast<uint32_t>(ext);
      }
    } else if (m.level == 2) {
      size_t headerSize = v.U16(p);
      m.crc = v.U16(p + 21);
      SkipExtendedHeaders(v, p + 24);
      data = p + headerSize;
    } else {
      throw std::runtime_error("lzh: unknown header level");
    }
    kdl::ByteView s = v.Sub(data, packed);
    m.stream.assign(s.data(), s.data() + s.size());
    members.push_back(std::move(m));
    p = data + packed;
  }
  return members;
}

}  // namespace kdltest
