// One disk image opened for reading by many threads at once: the reader behind mounting and searching a
// collection.
//
// The image object underneath reads one unit at a time and is not reentrant, so each volume keeps its own and
// takes its own lock only to load a unit that the shared unit cache does not hold; units already expanded are
// served to every thread without it. Only the units that hold what is asked for are ever read: the FAT and
// the directories for a listing, a file's own clusters for its bytes.
//
// A unit that cannot be read (CRC error, failed expansion, short file) is never replaced by other bytes: the
// bytes it holds are reported as unreadable, and the rest of the file reads normally.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "collection/unit_cache.h"
#include "common/file.h"
#include "common/prompt.h"
#include "fat/directory.h"
#include "image/image.h"

namespace kdl {

// Where an image lies.
struct VolumeSource {
  std::string path;        // the ".KDL" file, raw sector image or archive holding it
  int64_t baseOffset = 0;  // where the image starts inside the archive; 0 for a file of its own
  bool raw = false;        // a raw sector image presented as an image
  std::string name;        // how messages name the image ("disks.KDZ:DISK3")

  bool operator==(const VolumeSource&) const = default;
};

// The host file's identity when it was opened: a file replaced or rewritten since is another image.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  int64_t size = -1;
  int64_t modifiedNs = 0;

  bool operator==(const FileIdentity&) const = default;
};
// The identity of the file at `path`, or one with size -1 when it cannot be examined.
FileIdentity IdentityOf(const std::string& path);

// A file or directory of the disk.
struct VolumeEntry {
  std::string name;       // UTF-8 display name: the long name, else the 8.3 name with its case flags
  std::string shortName;  // UTF-8 compact 8.3 name as stored
  uint8_t attribute = 0;
  uint16_t time = 0;  // FAT time and date of the last write
  uint16_t date = 0;
  uint16_t firstCluster = 0;
  uint32_t size = 0;  // 0 for a directory

  bool IsDirectory() const { return (attribute & kAttrDirectory) != 0; }
};

struct VolumeDirectory {
  // In directory order; volume labels, ".", "..", deleted entries and long-name pieces are left out.
  std::vector<VolumeEntry> entries;
  // Some of its sectors could not be read: the entries they held are missing.
  bool damaged = false;
};

// Where a file's bytes lie: its data clusters in chain order, as far as the chain reaches.
struct FileMap {
  std::vector<int32_t> clusters;
  uint32_t size = 0;      // the size its entry gives
  uint32_t readable = 0;  // the bytes the chain covers: less than size when the chain breaks off
};

class Volume {
 public:
  // Opens the image. `prompter` hears every message (the image's name in front) and must be safe to call
  // from several threads. Null when the image cannot be opened, after a message saying why.
  static std::shared_ptr<Volume> Open(const VolumeSource& source, UnitCache& cache, Prompter& prompter);
  ~Volume();
  Volume(const Volume&) = delete;
  Volume& operator=(const Volume&) = delete;

  const VolumeSource& source() const { return source_; }
  const FileIdentity& identity() const { return identity_; }
  const KdlHeader& header() const { return header_; }

  // The directory whose first cluster is `cluster`; 0 is the root.
  std::shared_ptr<const VolumeDirectory> Directory(uint16_t cluster);
  FileMap MapFile(const VolumeEntry& entry) const;

  // Copies up to `size` bytes of the file from `offset` into `out`. Returns the number of bytes copied,
  // which is short of `size` at the end of the file and before the first byte that cannot be read; -1 when
  // the byte at `offset` itself cannot be read (it lies in a damaged unit or past the end of a broken chain).
  int64_t Read(const FileMap& file, uint64_t offset, size_t size, uint8_t* out);
  // True when every byte of the file can be read; loads the units that are not known yet.
  bool Readable(const FileMap& file);
  // The whole file: its bytes (zero where unreadable) and the [begin, end) ranges that could be read.
  std::vector<uint8_t> ReadAll(const FileMap& file, std::vector<std::pair<uint64_t, uint64_t>>& readable);

  // Units found damaged so far, in order.
  std::vector<int32_t> DamagedUnits() const;
  // Tells the user something about this image, named in front.
  void Report(std::string_view text);

 private:
  Volume(const VolumeSource& source, UnitCache& cache, Prompter& prompter);
  bool OpenImage();
  // The unit's bytes from the cache or the image; null when the unit cannot be read.
  std::shared_ptr<const UnitCache::Bytes> Unit(int32_t unit);
  // Calls fn(position, bytes or null, length) for consecutive pieces of the file's bytes in [begin, end),
  // each inside one sector; stops when fn returns false.
  template <typename Fn>
  void ForEachPiece(const FileMap& file, uint64_t begin, uint64_t end, Fn&& fn);
  std::shared_ptr<const VolumeDirectory> LoadDirectory(uint16_t cluster);
  // Appends the directory bytes of `count` sectors from `first`; false when some could not be read (their
  // entries are then left out).
  bool AppendSectors(int64_t first, int64_t count, std::vector<uint8_t>& bytes);
  std::vector<int32_t> Chain(int32_t first, size_t limit) const;

  class NamedPrompter : public Prompter {
   public:
    NamedPrompter(Prompter& target, std::string name) : target_(target), name_(std::move(name)) {}
    Answer Ask(std::string_view caption, std::string_view text, Buttons buttons, Icon icon) override;

   private:
    Prompter& target_;
    std::string name_;
  };

  const VolumeSource source_;
  UnitCache& cache_;
  const uint64_t id_;  // this volume's units in the cache
  NamedPrompter prompter_;
  FileIdentity identity_;

  // The image object and what it learnt about units, behind imageMutex_.
  mutable std::mutex imageMutex_;
  ImageWork work_;
  File archiveFile_;
  std::unique_ptr<ImageState> image_;
  enum class UnitState : uint8_t { kUnknown, kGood, kDamaged };
  std::array<UnitState, kTrackDirectoryEntries> units_{};

  // Fixed once open; read by every thread without a lock.
  KdlHeader header_;
  MediaGeometry geometry_;  // where the FAT, root and clusters lie
  std::vector<uint8_t> fat_;

  std::mutex directoryMutex_;
  std::map<uint16_t, std::shared_ptr<const VolumeDirectory>> directories_;
  size_t directoryEntries_ = 0;
};

}  // namespace kdl
