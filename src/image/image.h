// The one open disk image: a ".KDL" file, a ".KDL" image inside an archive, or a raw sector image presented
// as if it were one. It keeps copies of the header, the track directory, the first FAT and the compacted root
// directory, and a cache of exactly one track unit through which every read of the disk's contents goes.
#pragma once

#include <array>
#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "codec/codec.h"
#include "common/file.h"
#include "common/prompt.h"
#include "drive/fat_layout.h"
#include "drive/formats/container.h"
#include "fat/directory.h"
#include "image/kdl_format.h"
#include "image/stored_unit.h"

namespace kdl {

class WorkerPool;

// What the image dialog does.
enum DialogMode : int32_t {
  kModeCreate = 0,
  kModeRestore = 1,
  kModeRestoreWithSkip = 2,
  kModeLabels = 3,
  kModeOpenRaw = 4,
  kModeRawOutput = 5,
};

// Open/close flags of an operation.
inline constexpr int32_t kOpenFirst = 0x01;
inline constexpr int32_t kCloseAfter = 0x02;
inline constexpr int32_t kOpenArchiveFirst = 0x10;
inline constexpr int32_t kCloseArchiveAfter = 0x20;
inline constexpr int32_t kCreateArchive = 0x40;

// What a restore does with an image some of whose units cannot be read.
enum class DamagedUnitPolicy {
  kAsk,     // ask whether to write the readable units and fill the damaged ones
  kRefuse,  // write nothing
  kFill,    // write the readable units and fill the damaged ones with the media fill byte
};

// The work area shared by the image operations and the windows that start them.
struct ImageWork {
  Prompter* prompter = nullptr;  // never null while an operation runs

  bool readOnly = false;                                     // the file could only be opened for reading
  bool compress = true;                                      // compress track units
  bool omitUnused = true;                                    // leave free clusters out
  bool verify = false;                                       // verify after writing
  DamagedUnitPolicy damagedUnits = DamagedUnitPolicy::kAsk;  // restore of a partly damaged image
  bool cancelRequested = false;
  bool busy = false;
  int32_t dialogMode = kModeCreate;
  int32_t openCloseFlags = 0;
  std::string currentImagePath;
  std::string rawImagePath;
  bool rawSource = false;  // the file chosen for adding to an archive is a raw sector image
  int32_t dialogResult = 0;
  bool listChanged = false;  // an image file outside an archive was created or relabelled

  // Workers for the track units and images that can be worked on side by side; none: everything runs on
  // the calling thread, one unit after the other.
  WorkerPool* pool = nullptr;

  // Set by the archive runs while they work on one image after another: where the image after the current
  // one starts in the open archive (0: none or not known). With a worker pool its units are then read
  // while the current image is worked on.
  int64_t followingImage = 0;

  // Set by the archive operations: the open archive file and where the image starts inside it.
  // A base offset of 0 means a standalone file.
  File* archiveFile = nullptr;
  int64_t baseOffset = 0;
};

// Reading position of one file's bytes.
struct FileStream {
  int32_t cluster = 0;     // next cluster to read
  uint32_t remaining = 0;  // bytes of the file not yet delivered
  int32_t unread = 0;      // bytes left in the cluster buffer
  int32_t position = 0;    // read position in the cluster buffer
  int32_t steps = 0;       // clusters read so far
  std::vector<bool> seen;  // clusters already read, to stop a chain that loops
  bool broken = false;     // the chain ended before the file's size was covered
};

inline constexpr size_t kMaxFatBytes = 4608;

class ImageState {
 public:
  explicit ImageState(ImageWork& work);
  ~ImageState();
  ImageState(const ImageState&) = delete;
  ImageState& operator=(const ImageState&) = delete;

  // Opens `path` (or, in dialog mode 4, the raw image path) and loads header, directory, FAT and root. With a
  // non-zero base offset the image is read from the archive file at that offset. A header whose media type or
  // geometry the buffers cannot hold is refused. A standalone file that is a disk image of another tool's
  // format (see OpenRawImage), or a raw disk whose name does not end in ".KDL", opens as that disk, read
  // only. Returns a non-negative handle, or -1 after
  // telling the user why.
  int32_t OpenImage(const std::string& path);
  // Presents a raw sector image, recognised by the total sector count in its boot sector, or a disk image of
  // another tool's format (D88, FDI, ImageDisk, gzip), recognised by its content and read whole. A track
  // unit holding damaged sectors of such an image does not read (its message names them).
  int32_t OpenRawImage(const std::string& path);
  void CloseImage();
  bool IsOpen() const { return open_; }

  // Makes the track buffer hold track unit `unit`: 0, or -1 after telling why (once per unit and operation).
  int32_t ReadTrack(int32_t unit);
  // With a worker pool in the work area, reads and checks every unit of the open image side by side ahead of
  // an operation that reads them all; ReadTrack then takes each from memory and shows the message its read
  // would have shown, when it would have shown it. Without a pool it does nothing.
  // Inside an archive, it also starts reading the units of the image at work().followingImage, and takes
  // over such units read for the image it opened when they belong to that very image.
  // Once the units are read ahead, a second call before the next image is opened does nothing.
  void PreloadUnits();
  // What reading unit `unit` ahead found (nothing for a sound unit, else why it cannot be read); null when
  // it was not read ahead.
  const std::optional<std::string>* PreloadedProblem(int32_t unit) const;
  // Drops what was read ahead for an image that is not going to be opened (an archive run has ended).
  void DropLookAhead();
  // Copies `count` logical sectors from `first` on into `dest` (count x sector-size bytes), through the track
  // cache. Sectors of a unit that cannot be read, or that lie outside the disk, come out as zero bytes, never
  // as another unit's bytes. False when any sector could not be read; the units that could not be read are
  // added to `failedUnits` when given.
  bool ReadSectors(int32_t first, int32_t count, uint8_t* dest, std::vector<int32_t>* failedUnits = nullptr);

  // Starts one operation of the user's (a copy, a view, a listing, a directory shown, a restore): a damaged
  // unit or a broken chain is told once per operation, not once per cluster that touches it. Opening an
  // image starts one.
  void BeginOperation() { reported_.clear(); }
  // Shows `text` as an error unless `key` was told before in this operation. True when it was shown.
  bool ReportOnce(const std::string& key, std::string_view text);

  // A message box with caption "KDL Form", OK and the stop icon.
  void ShowImageError(std::string_view text);
  // Asks whether to stop `operation` after a cancel request; clears the request whatever the answer.
  bool ConfirmCancel(std::string_view operation);
  // Runs the message pump once, noting a cancel request.
  void Pump();

  ImageWork& work() { return work_; }
  TrackCodec& codec() { return codec_; }
  // The file the image is read from (the archive file for an image inside one).
  File& file();
  // Where the image starts in file(): the base offset taken at open, 0 for a standalone or raw file.
  int64_t baseOffset() const { return base_; }
  // True when the open image lies inside the archive file.
  bool inArchive() const { return inArchive_; }
  // The disk of an open image of another tool's format; null for any other image.
  const ContainerDisk* container() const { return container_.get(); }

  KdlHeader header;  // as stored, except that type 7 carries the table's geometry
  // Where the disk's FATs, root directory and clusters lie: the header's geometry, unless the boot sector in
  // unit 0 holds a sound BIOS parameter block that places them elsewhere (a disk formatted with another
  // cluster size or root than the media table's). The track units themselves always follow the header.
  MediaGeometry layout;
  TrackDirectory directory{};
  std::vector<uint8_t> fat;  // first FAT copy of `layout`: what chains, directories and files are read by
  // The FAT by which the writer left free clusters out of units above 0: the first FAT copy of the header's
  // geometry (the same bytes as `fat` unless the layout differs). Restores the units of such an image.
  std::vector<uint8_t> unitFat;
  // False when unit 0 could not be read for unitFat: units above 0 of an image that leaves free clusters out
  // cannot be put back together without it.
  bool unitFatSound = true;
  // True when every FAT copy of `layout` agrees; only then are clusters the first copy marks bad taken as
  // bad.
  bool fatCopiesAgree = true;
  DirectoryTable root;  // compacted root directory
  int32_t cachedTrack = -1;
  int32_t lastFatValue = 0;  // raw 12-bit value of the last FAT lookup
  std::array<uint8_t, kTrackBufferSize> track{};
  std::vector<uint8_t> workBuffer = std::vector<uint8_t>(kWorkBufferSize);
  // One cluster of `layout` (up to kMaxLayoutClusterSize bytes), sized when the image is opened.
  std::vector<uint8_t> clusterBuffer = std::vector<uint8_t>(static_cast<size_t>(kMaxClusterSize));
  FileStream stream;
  bool isRaw = false;        // a raw sector image is open
  uint64_t trackLoads = 0;   // track units read from the file (the cache's misses)
  uint64_t failedReads = 0;  // track reads that failed; copy-out compares it before and after a file
  uint64_t errorsShown = 0;  // messages shown by ShowImageError; runs over many images compare it

 private:
  // A unit read ahead by PreloadUnits: its restored bytes, or the message its read shows.
  struct PreloadedUnit {
    bool done = false;
    std::optional<std::string> problem;
    std::vector<uint8_t> bytes;
  };

  // The image after the current one in an archive, opened on its own and having its units read.
  struct LookAhead;
  // Submits the reading of every unit of the open image into `units`; `done` receives the futures.
  void SubmitUnits(std::vector<PreloadedUnit>& units, std::vector<std::future<void>>& done);
  // Takes over the units of the look-ahead when it read the image now open; drops it in any case.
  bool AdoptLookAhead();
  void StartLookAhead(int64_t base);

  bool LoadFatAndRoot(bool fromRawFile);
  // Reads `count` sectors from `first` on, from the raw file (or a container's disk) itself or through the
  // track cache.
  bool ReadArea(bool fromRawFile, int32_t first, int32_t count, std::vector<uint8_t>& out);
  // What the file just opened holds when it is not a ".KDL" image: another tool's container, a raw disk, or
  // kUnknown (also for a ".KDL" image).
  ContainerFormat ProbeOwnFile() const;
  int32_t OpenContainer(const std::string& path);
  // Reads `size` bytes at `offset` of a raw image: from the file, or from a container's disk.
  bool ReadRaw(uint64_t offset, uint8_t* data, size_t size);
  // Which sectors of a container's unit are damaged, as the message the user sees; empty when none are.
  std::optional<std::string> ContainerUnitProblem(int32_t unit) const;
  // Reads, checks and restores one unit into the track buffer (or takes it from what PreloadUnits read),
  // telling why it cannot once per unit; the caller keeps the cache state.
  bool LoadTrack(int32_t unit);
  // Closes the file opened for the image unless it is the archive's.
  void DropFile();

  ImageWork& work_;
  TrackCodec codec_;
  UnitBuffers unitBuffers_;
  std::set<std::string> reported_;
  File own_;
  bool open_ = false;
  bool inArchive_ = false;
  int64_t base_ = 0;
  std::vector<PreloadedUnit> preloaded_;
  // The header and directory bytes as read at open, to tell a look-ahead's image from another.
  std::array<uint8_t, kKdlHeaderSize + kTrackDirectorySize> stored_{};
  std::unique_ptr<LookAhead> lookAhead_;
  std::unique_ptr<ContainerDisk> container_;
};

}  // namespace kdl
