// What every container fuzz target checks: the reader of one format, given any bytes, refuses them with a
// reason or returns a whole disk of a media type with its damage in order; a disk it returns, when its boot
// sector is intact, is written by the format's writer and read back unchanged and whole.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include "drive/formats/container.h"
#include "drive/formats/sector_map.h"
#include "drive/media.h"

namespace kdlfuzz {

inline int CheckContainer(const uint8_t* data, size_t size, kdl::ContainerRead (*decode)(kdl::ByteView),
                          kdl::ContainerFormat format) {
  using namespace kdl;
  const ContainerRead read = decode(ByteView(data, size));
  if (!read.disk) {
    if (read.error.empty()) std::abort();
    return 0;
  }
  const ContainerDisk& disk = *read.disk;
  if (!IsMediaType(disk.mediaType)) std::abort();
  const MediaGeometry g = MediaGeometryOf(disk.mediaType);
  if (disk.bytes.size() != static_cast<size_t>(g.cylinders) * static_cast<size_t>(g.trackSize)) std::abort();
  for (size_t i = 0; i < disk.damage.size(); ++i) {
    if (disk.damage[i].sector < 0 || disk.damage[i].sector >= g.cylinders * g.sectorsPerTrack) std::abort();
    if (i > 0 && disk.damage[i - 1].sector >= disk.damage[i].sector) std::abort();
  }
  DescribeDamage(disk);
  if (!disk.damage.empty() && disk.damage.front().sector == 0) return 0;
  const ContainerFormat writer = FormatCanHold(format, disk.mediaType) ? format : ContainerFormat::kRaw;
  const std::vector<uint8_t> again =
      EncodeContainer(writer, disk.mediaType, ByteView(disk.bytes.data(), disk.bytes.size()));
  // Read back by the writer's own reader: content detection could take a raw disk whose first bytes happen
  // to look like a container's header for that container.
  ContainerRead back;
  if (writer == ContainerFormat::kGzip) {
    std::string error;
    const auto raw = formats::Gunzip(ByteView(again.data(), again.size()), kMaxContainerBytes, error);
    if (!raw) std::abort();
    back = formats::DecodeRaw(ByteView(raw->data(), raw->size()));
  } else if (writer == ContainerFormat::kRaw || writer == ContainerFormat::kHdm) {
    back = formats::DecodeRaw(ByteView(again.data(), again.size()));
  } else {
    back = decode(ByteView(again.data(), again.size()));
  }
  if (!back.disk || back.disk->bytes != disk.bytes || !back.disk->damage.empty() ||
      back.disk->mediaType != disk.mediaType)
    std::abort();
  return 0;
}

}  // namespace kdlfuzz
