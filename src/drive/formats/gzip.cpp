// gzip streams through zlib, and raw sector images.
#include <zlib.h>

#include <cstring>

#include "common/text_format.h"
#include "drive/formats/sector_map.h"
#include "drive/media.h"

namespace kdl::formats {
namespace {

constexpr uint8_t kMagic1 = 0x1F;
constexpr uint8_t kMagic2 = 0x8B;
constexpr uint8_t kDeflate = 8;
// zlib's window bits for a gzip wrapper (15-bit window + 16).
constexpr int kGzipWindow = 15 + 16;
constexpr size_t kPiece = 1 << 16;

constexpr const char* kBroken = "gzip のデータが壊れています (%s)";
constexpr const char* kCut = "gzip のデータが途中で切れています";
constexpr const char* kTooLarge = "展開すると %llu バイトを超えます（フロッピーディスクではありません）";
constexpr const char* kNotRaw = "ブートセクタの総セクタ数 %u のメディアタイプはありません";
constexpr const char* kShortRaw = "ファイルがディスクより %llu バイト短くなっています";
constexpr const char* kLongRaw = "ディスクの後ろの %llu バイトは読みません";

}  // namespace

bool LooksLikeGzip(ByteView head) {
  return head.size() >= 3 && head.U8(0) == kMagic1 && head.U8(1) == kMagic2 && head.U8(2) == kDeflate;
}

std::optional<std::vector<uint8_t>> Gunzip(ByteView file, uint64_t limit, std::string& error) {
  std::vector<uint8_t> out;
  size_t pos = 0;
  // A file may hold several gzip members one after the other; their contents follow one another.
  while (pos < file.size()) {
    if (!LooksLikeGzip(file.Sub(pos, file.size() - pos))) {
      // Padding of zeros after the last member is common; anything else is not ours to guess at.
      bool zeros = true;
      for (size_t i = pos; i < file.size() && zeros; ++i) zeros = file.U8(i) == 0;
      if (zeros && !out.empty()) break;
      error = Format(kBroken, "header");
      return std::nullopt;
    }
    z_stream z{};
    if (inflateInit2(&z, kGzipWindow) != Z_OK) {
      error = Format(kBroken, "zlib");
      return std::nullopt;
    }
    z.next_in = const_cast<Bytef*>(file.data() + pos);
    z.avail_in = static_cast<uInt>(std::min<size_t>(file.size() - pos, UINT32_MAX));
    int status = Z_OK;
    while (status == Z_OK) {
      const size_t before = out.size();
      if (before >= limit) break;
      const size_t room = static_cast<size_t>(std::min<uint64_t>(kPiece, limit - before));
      out.resize(before + room);
      z.next_out = out.data() + before;
      z.avail_out = static_cast<uInt>(room);
      status = inflate(&z, Z_NO_FLUSH);
      out.resize(before + (room - z.avail_out));
      if (status == Z_BUF_ERROR && z.avail_in == 0) break;
    }
    const size_t used = z.total_in;
    const char* message = z.msg;
    inflateEnd(&z);
    if (status == Z_STREAM_END) {
      pos += used;
      continue;
    }
    if (out.size() >= limit) {
      error = Format(kTooLarge, static_cast<unsigned long long>(limit));
    } else if (status == Z_OK || status == Z_BUF_ERROR) {
      error = kCut;
    } else {
      error = Format(kBroken, message != nullptr ? message : "inflate");
    }
    return std::nullopt;
  }
  return out;
}

std::vector<uint8_t> Gzip(ByteView data) {
  z_stream z{};
  if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, kGzipWindow, 9, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(data.size())));
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return status == Z_STREAM_END ? out : std::vector<uint8_t>();
}

ContainerRead DecodeRaw(ByteView file) {
  const int32_t type = MediaTypeFromBootSector(file);
  if (type < 0) {
    const unsigned count = file.size() >= 21 ? file.U16(19) : 0;
    return {std::nullopt, Format(kNotRaw, count)};
  }
  ContainerDisk disk = LinearDisk(ContainerFormat::kRaw, type, file);
  if (file.size() < disk.bytes.size()) {
    disk.notes.push_back(Format(kShortRaw, static_cast<unsigned long long>(disk.bytes.size() - file.size())));
  } else if (file.size() > disk.bytes.size()) {
    disk.notes.push_back(Format(kLongRaw, static_cast<unsigned long long>(file.size() - disk.bytes.size())));
  }
  return {std::move(disk), {}};
}

}  // namespace kdl::formats
