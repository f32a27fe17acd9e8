// The one open archive and the operations that open, walk, list, label, report on and cut up archive files.
//
// The operations never look inside an image themselves: to read one they set the base offset of the work
// area and let the image operations find the image at that offset in the open archive. Every failure is
// told to the user through the work area's prompter (caption "KDZ Form") before the operation returns.
//
// A walk trusts nothing it reads: a record that cannot be read whole, or whose length is negative or runs
// past the end of the file, ends the walk with a message instead of sending the next read into garbage.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "archive/archive_format.h"
#include "common/file.h"
#include "image/image.h"
#include "image/listing.h"

namespace kdl {

class ArchiveState {
 public:
  // The archive operations share `work` with the image operations: its prompter, read-only flag, flags,
  // current image path, list-changed flag, and the archive file and base offset through which an image
  // operation reads an image inside the archive.
  explicit ArchiveState(ImageWork& work);
  // Closes the file; the work area is not touched, so it may already be gone.
  ~ArchiveState();
  ArchiveState(const ArchiveState&) = delete;
  ArchiveState& operator=(const ArchiveState&) = delete;

  ImageWork& work() { return work_; }
  File& file() { return file_; }
  bool IsOpen() const { return file_.IsOpen(); }
  // Position of the record or image being worked on; 0 when no archive image is in use.
  int64_t baseOffset() const { return work_.baseOffset; }
  void setBaseOffset(int64_t offset) { work_.baseOffset = offset; }

  std::string path;                                        // the archive's file name
  ArchiveHeader header;                                    // copy of the header; its count is the image count
  ArchiveEntry entry;                                      // the record last read or being written
  int32_t entryIndex = -1;                                 // index (from 0) of `entry` in the chain
  std::array<std::string, kArchiveLabelCount> labelTexts;  // Shift-JIS, trailing blanks removed
  bool locked = false;                                     // this state holds the archive's write lock
  // Called before every write the archive operations make; false makes that write fail. Lets tests stop an
  // addition at any write.
  std::function<bool()> writeGate;

  // Writes through the gate; false unless every byte was written.
  bool WriteAt(int64_t offset, const void* data, size_t size);

 private:
  ImageWork& work_;
  File file_;
};

// Results of ReadEntry besides 1 (a record in use, the base offset now at its image) and 0 (the terminator).
inline constexpr int32_t kEntryBroken = -1;

// What lies at a record position of the chain.
enum class RecordKind {
  kInUse,   // a sound record: marked in use, its image inside the file
  kEnd,     // the terminator, or the end of the file
  kBroken,  // anything else: an unreadable or unmarked record, a length that does not fit, or an image whose
            // own track directory runs past the length where no record follows it
};
// Reads the record at `at` of an archive file into `entry` and judges it.
RecordKind ReadRecord(const File& file, int64_t at, ArchiveEntry& entry);
// How far the image at `imageStart` reaches by its own track directory (from its first byte), or -1 when it
// has no image header to tell.
int64_t StoredImageEnd(const File& file, int64_t imageStart);

// The whole chain as it stands in the file, whatever the header's count says.
struct ChainSurvey {
  int32_t records = 0;               // sound records in use before the chain ends
  int64_t end = kFirstRecordOffset;  // where it ends: the terminator, the end of the file, or a broken record
  bool broken = false;               // it ends at a broken record
};
// Walks every record from the first on, without messages.
ChainSurvey SurveyChain(ArchiveState& archive);
// What is wrong with the chain `survey` describes against the header's count, as the message the user sees;
// empty when it is sound and agrees with the count.
std::string ChainProblem(ArchiveState& archive, const ChainSurvey& survey);
// After a walk of `walked` records that stopped at the terminator or at the header's count, with the base
// offset on the record that follows: true when the chain ends there and the count holds. Otherwise tells
// what is wrong (a broken record, or a count that differs from the chain) and returns false.
bool ChainEndsAtCount(ArchiveState& archive, int32_t walked);

// Appends ".KDZ" to a file name without extension (only the last component counts: "./a" has none).
std::string WithArchiveExtension(const std::string& path);
// Opens the archive (read-write, else read-only with work().readOnly set) and reads its header. The file
// descriptor, or -1: after "%s がオープンできません" when the file cannot be opened, silently when it is
// not an archive (shorter than 128 bytes or without the magic). The base offset becomes 128.
int32_t OpenArchive(ArchiveState& archive, const std::string& path);
// Closes the archive (releasing its lock) and sets the base offset to 0.
void CloseArchive(ArchiveState& archive);

// Starts a walk at the first record: base offset 128, no entry read yet.
void RewindArchive(ArchiveState& archive);
// Reads the record at the base offset into archive.entry (ReadRecord): 1 and the base offset moved past the
// record onto the image, 0 at the terminator or the end of the file (base offset unchanged), or kEntryBroken
// after a message.
int32_t ReadEntry(ArchiveState& archive);
// Moves the base offset from an image (after ReadEntry returned 1) to the record that follows it.
void SkipImage(ArchiveState& archive);
// Where the image behind the next record starts, seen from an image (after ReadEntry returned 1) without
// moving on; 0 at the terminator or when the next record cannot be read.
int64_t FollowingImageOffset(ArchiveState& archive);
// Walks from the first record to entry `index` (from 0) and reads it: 1 with the base offset on its image,
// 0 after a message when the archive has no such entry, kEntryBroken after a message.
int32_t PositionOnEntry(ArchiveState& archive, int32_t index);
// The index of the first entry whose name is `name` (ASCII letters in any case), or -1 after a message when
// none is or the chain breaks before one is found.
int32_t FindArchiveEntry(ArchiveState& archive, std::string_view name);

// Takes the archive's exclusive write lock, asking Retry/Cancel while another process holds it (Retry waits
// for it). False when the user cancelled.
bool AcquireArchiveLock(ArchiveState& archive);
// The same for any file of `archive`'s (the file a new archive replaces): false when the user cancelled.
bool AcquireLockOn(ArchiveState& archive, int fd);
// Takes the exclusive lock on `fd` if nobody holds it; false when another process does.
bool TryLockOn(int fd);
// Takes the lock as AcquireArchiveLock does, then rereads the header, since another process may have
// changed it. False when the user cancelled or the header can no longer be read; the archive is unchanged.
bool LockArchive(ArchiveState& archive);
void UnlockArchive(ArchiveState& archive);
// Rewrites the 128-byte header from archive.header.
bool WriteArchiveHeader(ArchiveState& archive);

// One 80-column line of the archive list (Shift-JIS bytes): name, media name, date and time, and the first
// label line or the volume label. `imageHeader` is the first bytes of the image (up to 256; missing bytes
// count as zero). Control bytes in the name show as "?".
std::string FormatEntryLine(const ArchiveEntry& entry, ByteView imageHeader);
// Calls `line` with the list line of every entry, at most the header's count and stopping at the terminator.
// The number of lines, or -1 when the chain breaks or does not end where the count says (after a message; the
// lines before it were given).
int32_t ListArchive(ArchiveState& archive, const std::function<void(const std::string&)>& line);

// Opens the archive first with kOpenArchiveFirst and closes it afterwards with kCloseArchiveAfter. Sets the
// label texts from the header and `statusText` to "ＫＤＬ数：%3d" with the count. 0, or -1 when the archive
// could not be opened.
int32_t ShowArchiveSummary(ArchiveState& archive, const std::string& path, int32_t flags,
                           std::string& statusText);
// Rewrites the two label lines of the header (each cut to 40 bytes at a character boundary) under the write
// lock; the rest of the file is not touched. Sets list changed. 0, or -1 after a message.
int32_t WriteArchiveLabels(ArchiveState& archive, const std::string& path, int32_t flags,
                           const std::array<std::string, kArchiveLabelCount>& texts);
// Cuts image `index` (from 0) out of the open archive into `output` ("-": standard output), stamped with the
// entry's date and time. The output is written whole before it replaces an earlier file; a write-protected
// one is replaced only on a person's Yes. The number of bytes written, or -1 after a message.
int64_t ExtractEntry(ArchiveState& archive, const std::string& output, int32_t index);

// The report of the whole archive (kOpenArchiveFirst opens archive.path): a first line about the archive
// file, then the information listing of every image. Lines are UTF-8 and given one by one. Returns the number
// of track units that failed to read, plus one for every image that could not be opened, a broken chain or a
// count that differs from the chain; -1 when the archive could not be opened.
int32_t ArchiveReport(ArchiveState& archive, ImageState& image, int32_t flags,
                      const std::function<void(const std::string&)>& line);

// Mends the archive `path` whose chain and count disagree, after asking: complete records beyond the count
// are adopted, a record whose length leads nowhere while its image's own track directory leads to the next
// record gets that length, and a broken record with everything behind it is cut off by a new terminator (the
// bytes stay in the file). The number of images the archive holds afterwards (also when it needed nothing),
// or -1 when it could not be opened, locked or written, or the user declined. Closes the archive.
int32_t RepairArchive(ArchiveState& archive, const std::string& path);

// Where the image at the base offset comes from, for the first line of its listing.
ArchiveImageInfo CurrentImageInfo(const ArchiveState& archive);

// Message box of the archive operations: caption "KDZ Form", OK, stop icon.
void ShowArchiveError(ArchiveState& archive, std::string_view text);

}  // namespace kdl
