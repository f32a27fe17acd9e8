// Reading the FAT12 file system of the open image: chains, directories, names, dates and file bytes.
// Every read goes through the image's sector reads; nothing here writes.
//
// Chain walks are bounded: a chain that loops, reaches a free or bad entry, or leaves the disk's clusters
// ends the walk, so a damaged or hostile disk can never make us read outside the FAT or the disk.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fat/directory.h"
#include "image/image.h"

namespace kdl {

// A cluster number at or above this ends a chain.
inline constexpr int32_t kChainEnd = 0xFF6;

// Next cluster of a chain; a bad-cluster mark reads as 0. Keeps the raw value in image.lastFatValue.
int32_t FatNext(ImageState& image, int32_t cluster);
// Reads the sectors of data cluster `cluster` into `buffer` (cluster-size bytes); a number that is not a data
// cluster of the disk gives zero bytes. False when a unit the cluster lies in could not be read (its part of
// the buffer is zero); such units are added to `failedUnits` when given.
bool ReadCluster(ImageState& image, int32_t cluster, uint8_t* buffer,
                 std::vector<int32_t>* failedUnits = nullptr);
// The data clusters of the chain from `first`, each once, as the bounded walk meets them. `complete`, when
// given, tells whether the chain ended with its end mark (or had no cluster), rather than at a free or bad
// entry, outside the disk, or by looping back.
std::vector<int32_t> ChainClusters(ImageState& image, int32_t first, bool* complete = nullptr);
// Bytes taken by the entry's cluster chain (clusters x cluster size), counting each cluster the bounded walk
// reaches; 0 when the first cluster is not a data cluster.
int64_t ChainSize(ImageState& image, const DirectoryEntry& entry);
// Reads the chain, cluster after cluster, into `buffer` (`size` bytes); returns the 32-byte entries read.
int32_t ReadChain(ImageState& image, const DirectoryEntry& entry, uint8_t* buffer, size_t size);
// The compacted table of the subdirectory `entry`: ".." with first cluster 0 gives a copy of the root, any
// other directory with first cluster 0 is empty. A chain that breaks off is told (once per operation).
// Callers walking a tree must guard against directories met twice (DirectoryVisits): a directory may name
// itself, an ancestor, or share clusters with another.
DirectoryTable LoadSubdirectory(ImageState& image, const DirectoryEntry& entry);

// The compact 8.3 name, in Shift-JIS bytes as stored (a leading 0x05 stands for 0xE5).
std::string ShortName(const DirectoryEntry& entry);
// The name to show for table[index] in UTF-8: 1 long name, 2 8.3 name with case flags, 0 plain 8.3 name.
// Names come from the disk as they are: they may hold "/", "\", ".." or control characters.
int EntryDisplayName(const DirectoryTable& table, size_t index, std::string& name);
// The first entry (not a long-name piece, not a volume label) whose display name equals `name`
// (UTF-8, byte for byte); nullptr when none does.
const DirectoryEntry* FindEntryByName(const DirectoryTable& table, std::string_view name);
// Turns the fixed-width caption of a short name ("README  .TXT") back into the compact name ("README.TXT").
void NormalizeListName(std::string& text);

// "yy-mm-dd hh:mm" from the four bytes of a FAT time and date (time first).
std::string FatDateText(uint16_t time, uint16_t date);
// The same from a 32-bit DOS date-time (time in the low half).
std::string DosTimeText(uint32_t dosTime);
// Orders two date texts, years 80-99 before 00-79.
int CompareDateTexts(std::string_view a, std::string_view b);

// The message for a file whose cluster chain ends before its size is covered (`name` in UTF-8).
std::string BrokenChainText(std::string_view name);

// The file's bytes one at a time.
void OpenFileStream(ImageState& image, const DirectoryEntry& entry);
// Next byte (0-255) of the stream, or -1 at its end. When the chain ends before the size is covered, the
// stream ends there and image.stream.broken is set.
int NextFileByte(ImageState& image);

}  // namespace kdl
