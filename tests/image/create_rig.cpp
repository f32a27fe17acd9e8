#include "image/create_rig.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>

namespace kdltest {

std::vector<uint8_t> DriveRig::Units(const std::string& name) {
  kdl::ImageState& state = image();
  std::vector<uint8_t> out;
  if (state.OpenImage(Path(name)) < 0) {
    ADD_FAILURE() << "cannot open " << name;
    return out;
  }
  const kdl::MediaGeometry& g = state.header.geometry;
  for (int unit = 0; unit < g.cylinders; ++unit) {
    EXPECT_EQ(state.ReadTrack(unit), 0) << "unit " << unit;
    out.insert(out.end(), state.track.begin(), state.track.begin() + g.trackSize);
  }
  state.CloseImage();
  return out;
}

int FirstClusterOf(int unit, const kdl::MediaGeometry& g) { return kdl::ClustersOfUnit(unit, g).first; }

size_t ClusterOffset(int cluster, const kdl::MediaGeometry& g) {
  return (static_cast<size_t>(cluster - 2) * static_cast<size_t>(g.sectorsPerCluster) +
          static_cast<size_t>(g.dataStart)) *
         static_cast<size_t>(g.sectorSize);
}

void LitterFreeClusters(FatDiskBuilder& disk) {
  const kdl::MediaGeometry& g = disk.geometry();
  const std::vector<uint8_t> noise = NoiseBytes(static_cast<size_t>(g.clusterSize), 99);
  for (int c = 2; c <= g.lastCluster; ++c) {
    if (disk.Fat(c) == 0) std::copy(noise.begin(), noise.end(), disk.Cluster(c));
  }
}

std::vector<uint8_t> WithFreeClustersBlank(const std::vector<uint8_t>& raw, int mediaType) {
  const kdl::MediaGeometry g = kdl::MediaGeometryOf(mediaType);
  const kdl::ByteView fat(raw.data() + static_cast<size_t>(g.fatStart) * static_cast<size_t>(g.sectorSize),
                          static_cast<size_t>(g.fatSectors) * static_cast<size_t>(g.sectorSize));
  std::vector<uint8_t> out = raw;
  for (int c = 2; c <= g.lastCluster; ++c) {
    const size_t at = ClusterOffset(c, g);
    if (at < static_cast<size_t>(g.trackSize) || kdl::ClusterHoldsData(kdl::Fat12Entry(fat, c))) continue;
    std::fill_n(out.begin() + static_cast<ptrdiff_t>(at), g.clusterSize, kdl::MediaFillByte(mediaType));
  }
  return out;
}

kdl::KdlHeader StoredHeader(const std::string& path, uint64_t offset) {
  const std::vector<uint8_t> bytes = ReadFile(path);
  std::optional<kdl::KdlHeader> h =
      kdl::ParseKdlHeader(kdl::ByteView(bytes.data(), bytes.size()).Sub(offset, kdl::kKdlHeaderSize));
  if (!h) ADD_FAILURE() << path << " has no image header at " << offset;
  return h.value_or(kdl::KdlHeader{});
}

kdl::TrackDirectory StoredDirectory(const std::string& path, uint64_t offset) {
  const std::vector<uint8_t> bytes = ReadFile(path);
  return *kdl::ParseTrackDirectory(
      kdl::ByteView(bytes.data(), bytes.size()).Sub(offset + kdl::kKdlHeaderSize, kdl::kTrackDirectorySize));
}

std::string FilesDifferFromFixture(const std::filesystem::path& raw, int type) {
  TempDir work;
  // The same mtools settings the fixture script extracted its trees with.
  const std::string env = "HOME=" + ShellQuote(work.path().string()) +
                          " TZ=UTC LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=0 MTOOLS_LOWER_CASE=0"
                          " MTOOLS_NAME_NUMERIC_TAIL=1 ";
  const std::filesystem::path out = work / "files";
  std::filesystem::create_directory(out);
  const std::filesystem::path expected = Floppies() / ("type" + std::to_string(type) + ".files");
  const CommandResult r = RunCommand(env + "mcopy -s -m -i " + ShellQuote(raw.string()) +
                                         " :: " + ShellQuote(out.string() + "/") + " && diff -r " +
                                         ShellQuote(out.string()) + " " + ShellQuote(expected.string()),
                                     true);
  return r.status == 0 ? std::string() : "status " + std::to_string(r.status) + ": " + r.output;
}

std::string FsckReport(const std::filesystem::path& raw) {
  const CommandResult r = RunCommand("fsck.fat -n " + ShellQuote(raw.string()), true);
  std::string out = "exit " + std::to_string(r.status) + "\n" + r.output;
  for (size_t at; (at = out.find(raw.string())) != std::string::npos;)
    out.replace(at, raw.string().size(), "DISK");
  return out;
}

}  // namespace kdltest
