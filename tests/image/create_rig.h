// What the creation and restore tests share: an image object wired to a scripted prompter and a fake drive,
// test disks with data in chosen track units, and the floppy fixtures built once by the fixture script.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "drive/drive.h"
#include "drive/host_drive.h"
#include "image/create.h"
#include "image/restore.h"
#include "support/fake_drive.h"
#include "support/image_builder.h"

namespace kdltest {

struct DriveRig {
  ImageBench bench;
  FakeDisk disk;
  FakeDrives source{{&disk}};
  kdl::DriveLayer drives{source, &bench.prompter};

  ScriptedPrompter& prompter() { return bench.prompter; }
  kdl::ImageWork& work() { return bench.work; }
  kdl::ImageState& image() { return bench.image; }
  std::string Path(const std::string& name) const { return (bench.dir / name).string(); }

  // CreateImage from the fake drive (drive number 1) into `name` in the rig's folder.
  int32_t Create(const std::string& name, std::string* typeLabel = nullptr, int32_t* verified = nullptr) {
    std::string label;
    return kdl::CreateImage(image(), drives, Path(name), 1, {}, typeLabel != nullptr ? *typeLabel : label,
                            verified);
  }
  // Every track unit of the image file `name`, restored, one after the other.
  std::vector<uint8_t> Units(const std::string& name);
};

// First cluster of track unit `unit` and the byte offset of cluster `cluster` on a disk of `g`.
int FirstClusterOf(int unit, const kdl::MediaGeometry& g);
size_t ClusterOffset(int cluster, const kdl::MediaGeometry& g);
// Fills the free clusters of a built disk with bytes that are neither the fill byte nor compressible, as a
// used disk holds in clusters of deleted files.
void LitterFreeClusters(FatDiskBuilder& disk);

// The disk a raw output of an image made with free clusters left out must equal: `raw` with every free or bad
// cluster of the units above 0 (by the FAT inside `raw`) filled with the media fill byte.
std::vector<uint8_t> WithFreeClustersBlank(const std::vector<uint8_t>& raw, int mediaType);

// The header and the track directory stored at `offset` of a file.
kdl::KdlHeader StoredHeader(const std::string& path, uint64_t offset = 0);
kdl::TrackDirectory StoredDirectory(const std::string& path, uint64_t offset = 0);

// Copies every file of the FAT disk `raw` out with mtools and compares the tree with the fixture's own
// extraction of media type `type`. Empty when they agree, else what mcopy or diff said.
std::string FilesDifferFromFixture(const std::filesystem::path& raw, int type);
// What `fsck.fat -n` says of a disk (its exit status and report, with the file's name taken out), to compare
// with what it says of the disk the image was made from.
std::string FsckReport(const std::filesystem::path& raw);

}  // namespace kdltest
