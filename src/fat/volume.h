// A writable FAT12 volume over a whole disk held in memory: directories and their entries (long names
// included), files, subdirectories, attributes and the volume label. Everything changes the bytes in memory
// only; writing them to an image is the caller's business, so a change that fails halfway is dropped by not
// writing it.
//
// Directories are named by their first cluster; the root, whose size is fixed, is directory 0. Before
// changing anything a caller asks FindDamage: writing on top of chains that loop, cross or break off would
// spread the damage, so such a volume is to be refused.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "drive/media.h"
#include "fat/directory.h"
#include "fat/dos_names.h"
#include "fat/fat_table.h"

namespace kdl {

inline constexpr uint16_t kRootDirectory = 0;

// The outcome of a change.
enum class FatStatus {
  kOk,
  kNotFound,
  kNotADirectory,
  kIsADirectory,
  kExists,
  kBadName,
  kRootFull,  // the root has no room for the entries and cannot grow
  kNoRoom,    // not enough free clusters
  kIntoItself,
};

// One entry of a directory as found on the disk.
struct FatNode {
  uint16_t dir = kRootDirectory;  // the directory that holds it
  uint32_t firstSlot = 0;         // its first long-name piece, or the short entry when it has none
  uint32_t slot = 0;              // the short entry
  DirectoryEntry entry;
  std::string longName;   // UTF-8; empty when no valid pieces stand before the entry
  std::string shortName;  // UTF-8 compact 8.3 name, case flags applied

  const std::string& Name() const { return longName.empty() ? shortName : longName; }
  bool IsDirectory() const { return entry.IsDirectory(); }
  // The directory this entry is, when it is one.
  uint16_t AsDirectory() const { return entry.FirstCluster(); }
};

// What is wrong with a file system that must not be written on.
struct FatDamage {
  enum Kind { kLoop, kCross, kBroken, kShort } kind;
  std::string path;  // "\DIR\FILE", display names
};

// The fields a new entry takes besides its name.
struct NewEntry {
  uint8_t attribute = kAttrArchive;
  uint16_t time = 0;
  uint16_t date = 0;
};

class FatVolume {
 public:
  // `disk` holds the whole disk and must outlive the volume; `layout` must fit it (the table row of its media
  // type, or the sound layout its boot sector describes).
  FatVolume(std::span<uint8_t> disk, const MediaGeometry& layout);

  const MediaGeometry& layout() const { return layout_; }
  FatTable& fat() { return fat_; }
  int64_t FreeBytes() const { return int64_t{fat_.CountFree()} * layout_.clusterSize; }
  // Bytes a file of `size` bytes takes on this disk: whole clusters.
  int64_t BytesTaken(uint64_t size) const;

  // The first damage met walking the whole tree, or empty when every chain is sound: a chain that loops,
  // shares a cluster with another, runs into a free, bad or out-of-range entry, or is shorter than its file.
  std::optional<FatDamage> FindDamage() const;

  // Every entry of a directory in disk order, with their long names; "." and "..", volume labels included.
  std::vector<FatNode> List(uint16_t dir) const;
  // The files and subdirectories of a directory: List without "." , ".." and volume labels.
  std::vector<FatNode> Children(uint16_t dir) const;
  // The child named `name`: its long name (ASCII letters in any case) or its 8.3 name as DOS reads it.
  std::optional<FatNode> Lookup(uint16_t dir, std::string_view name) const;
  // Resolves "/DIR/NAME" or "\dir\name" (long or 8.3 names); the root itself has no node.
  std::optional<FatNode> Resolve(std::string_view path) const;
  // Resolves a path to a directory ("", "/" and "\" are the root).
  std::optional<uint16_t> ResolveDirectory(std::string_view path) const;
  // The directory above `dir` (the root for the root), from its ".." entry.
  uint16_t Parent(uint16_t dir) const;
  // "\DIR\SUB" for a directory, display names.
  std::string PathOf(uint16_t dir) const;

  // A new file `name` in `dir` holding `content`. kExists, kBadName, kRootFull or kNoRoom leave the volume as
  // it was only as far as the caller needs: it drops the whole change.
  FatStatus CreateFile(uint16_t dir, std::string_view name, ByteView content, const NewEntry& fields,
                       FatNode* created = nullptr);
  // Gives an existing file new content, attribute and time; its name and place stay.
  FatStatus ReplaceFile(const FatNode& node, ByteView content, const NewEntry& fields);
  // A new directory `name` in `dir` with its "." and ".." entries.
  FatStatus MakeDirectory(uint16_t dir, std::string_view name, const NewEntry& fields,
                          FatNode* created = nullptr);
  // Removes an entry, freeing its clusters; a directory with everything below it.
  FatStatus Remove(const FatNode& node);
  // Renames `node` to `name` in `newDir` (a move when that is another directory). kExists when another entry
  // has the name there; kIntoItself when a directory would go below itself.
  FatStatus Move(const FatNode& node, uint16_t newDir, std::string_view name);
  // Sets the read-only, hidden, system and archive bits of an entry; the directory bit stays as it is.
  FatStatus SetAttributes(const FatNode& node, uint8_t attributes);

  // The volume label of the root directory's label entry, Shift-JIS name bytes; empty when there is none.
  std::optional<DirectoryEntry> VolumeLabel() const;
  // Sets the volume label in the root's label entry and in the boot sector's field where the boot sector has
  // one; an empty `label` removes it. kRootFull when the root has no slot for a new label entry.
  FatStatus SetVolumeLabel(const std::optional<ShortName11>& label, uint16_t time, uint16_t date);

 private:
  std::vector<size_t> SlotOffsets(uint16_t dir) const;
  DirectoryEntry EntryAt(size_t offset) const;
  void PutEntry(size_t offset, const DirectoryEntry& entry);
  // Writes `pieces` and `entry` into free slots of `dir`, growing a subdirectory when it is full.
  FatStatus AddEntry(uint16_t dir, std::string_view name, DirectoryEntry entry, FatNode* created);
  FatStatus AddRawEntries(uint16_t dir, const std::vector<DirectoryEntry>& entries, uint32_t* firstSlot);
  void MarkDeleted(const FatNode& node);
  // Copies `content` into a new chain; 0 for empty content.
  FatStatus StoreContent(ByteView content, uint16_t* first);
  void ZeroCluster(int32_t cluster);

  std::span<uint8_t> disk_;
  MediaGeometry layout_;
  FatTable fat_;
};

}  // namespace kdl
