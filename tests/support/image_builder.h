// Test disks made in code: a FAT12 floppy laid out as the media table says, with files, directories and long
// names, and its conversion into a ".KDL" image with our own header writer, free-cluster removal and codec.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "fat/directory.h"
#include "drive/media.h"
#include "image/image.h"
#include "image/kdl_format.h"
#include "support/scripted_prompter.h"
#include "support/test_support.h"

namespace kdltest {

// Options of one directory entry made by the builder.
struct EntryOptions {
  uint8_t attribute = kdl::kAttrArchive;
  uint8_t caseFlags = 0;
  uint16_t time = 0;
  uint16_t date = 0;
  std::u16string longName;  // empty: no long-name pieces
};

class FatDiskBuilder {
 public:
  // The root directory; any other directory is named by its first cluster.
  static constexpr uint16_t kRoot = 0;

  explicit FatDiskBuilder(int mediaType);

  int mediaType() const { return mediaType_; }
  const kdl::MediaGeometry& geometry() const { return g_; }
  std::vector<uint8_t>& bytes() { return disk_; }
  const std::vector<uint8_t>& bytes() const { return disk_; }

  // A file in contiguous free clusters (none for empty content); returns its first cluster or 0.
  uint16_t AddFile(uint16_t dir, std::string_view name11, const std::vector<uint8_t>& content,
                   const EntryOptions& options = {});
  // A file stored in exactly `clusters`, in that order, linked in the FAT with an end mark on the last.
  void AddFileAt(uint16_t dir, std::string_view name11, const std::vector<uint8_t>& content,
                 const std::vector<int>& clusters, const EntryOptions& options = {});
  // A subdirectory of `clusters` clusters with its "." and ".." entries; returns its first cluster.
  uint16_t AddDirectory(uint16_t parent, std::string_view name11, const EntryOptions& options = {},
                        int clusters = 1);
  void AddVolumeLabel(std::string_view name11, uint16_t time = 0, uint16_t date = 0);
  // Writes a 32-byte entry into the next free slot of `dir` (long-name pieces first when the options have
  // one).
  void AddEntry(uint16_t dir, const kdl::DirectoryEntry& entry, const std::u16string& longName = {});

  // The next `count` free clusters (not yet marked in the FAT).
  std::vector<int> FreeClusters(int count) const;
  // Writes a FAT entry in both FAT copies.
  void SetFat(int cluster, uint16_t value);
  uint16_t Fat(int cluster) const;
  uint8_t* Sector(int sector);
  uint8_t* Cluster(int cluster);

  // A short entry with the given 11 name bytes, attribute, first cluster and size.
  static kdl::DirectoryEntry ShortEntry(std::string_view name11, const EntryOptions& options,
                                        uint16_t cluster, uint32_t size);
  // The long-name pieces for `name` belonging to the short name `name11`, in on-disk order (last piece
  // first).
  static std::vector<kdl::DirectoryEntry> LongNamePieces(const std::u16string& name, std::string_view name11);
  static uint8_t ShortNameChecksum(std::string_view name11);

 private:
  // Byte offset of entry slot `slot` of directory `dir`, or npos when the directory is full.
  size_t SlotOffset(uint16_t dir, size_t slot) const;

  int mediaType_;
  kdl::MediaGeometry g_;
  std::vector<uint8_t> disk_;
  std::map<uint16_t, size_t> nextSlot_;
  std::map<uint16_t, std::vector<int>> directoryClusters_;
};

struct KdlOptions {
  bool compress = true;
  bool omitUnused = false;
  std::string volumeLabel = std::string(kdl::kVolumeLabelLength, ' ');  // 12 Shift-JIS bytes
  uint16_t labelTime = 0;
  uint16_t labelDate = 0;
  std::array<std::string, kdl::kLabelLineCount> labels;  // Shift-JIS, at most 40 bytes
};

struct KdlImage {
  std::vector<uint8_t> bytes;
  kdl::KdlHeader header;
  kdl::TrackDirectory directory{};

  // Replaces entry `unit` of the stored track directory.
  void SetEntry(int unit, const kdl::TrackEntry& entry);
  // Replaces the stored header.
  void SetHeader(const kdl::KdlHeader& h);
};

// Turns a raw disk of `mediaType` into a ".KDL" image: unit by unit, free clusters left out when asked (never
// for unit 0), equal bytes as a fill byte, compressed when that saves a tenth, plain otherwise.
KdlImage MakeKdl(const std::vector<uint8_t>& raw, int mediaType, const KdlOptions& options = {});

// An image object wired to a scripted prompter, with a temporary folder for the files it opens.
struct ImageBench {
  ScriptedPrompter prompter;
  kdl::ImageWork work;
  kdl::ImageState image{work};
  TempDir dir;

  ImageBench() { work.prompter = &prompter; }
  // Writes `bytes` as file `name` in the folder and returns its path.
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::filesystem::path path = dir / name;
    WriteFile(path, bytes);
    return path.string();
  }
};

// `count` bytes of a repeatable pattern that compresses well but is not one repeated byte.
std::vector<uint8_t> TextBytes(size_t count, uint32_t seed = 1);
// `count` bytes that do not compress.
std::vector<uint8_t> NoiseBytes(size_t count, uint32_t seed = 1);

}  // namespace kdltest
