#include "archive/archive_add.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <limits>

#include "archive/messages.h"
#include "browse/copyout.h"

namespace kdl {

using namespace archive_text;

namespace {

constexpr std::array<uint8_t, kArchiveEntrySize> kZeroRecord{};

// Creates (or takes over) the file `path` as a new archive holding no image: the header and a terminator,
// 160 bytes. The file is locked before it is emptied, so that an addition running in another process is
// never cut short under its feet.
bool CreateArchive(ArchiveState& archive, const std::string& path,
                   const std::array<std::string, kArchiveLabelCount>& labels) {
  CloseArchive(archive);
  File& file = archive.file();
  if (!file.Open(path, File::Mode::kCreateNew) &&
      !(errno == EEXIST && file.Open(path, File::Mode::kReadWrite))) {
    ShowArchiveError(archive, kCannotCreate);
    return false;
  }
  ImageWork& work = archive.work();
  work.readOnly = false;
  work.archiveFile = &file;
  archive.path = path;
  archive.header = MakeArchiveHeader(labels[0], labels[1]);
  if (!AcquireArchiveLock(archive)) {
    // Another process is busy with the file: nothing was changed.
    CloseArchive(archive);
    return false;
  }
  for (int i = 0; i < kArchiveLabelCount; ++i)
    archive.labelTexts[static_cast<size_t>(i)] = archive.header.LabelText(i);
  if (!file.Truncate(0) || !WriteArchiveHeader(archive) ||
      !archive.WriteAt(kFirstRecordOffset, kZeroRecord.data(), kZeroRecord.size())) {
    ShowArchiveError(archive, kCannotCreate);
    CloseArchive(archive);
    return false;
  }
  work.listChanged = true;
  RewindArchive(archive);
  return true;
}

// True when the chain goes on for two records or more past the count. One record in use there is what an
// addition leaves when it stops between writing its record and raising the count, and is written over; more
// mean that the count is wrong, and appending would destroy images.
bool ChainGoesOn(ArchiveState& archive) {
  const File& file = archive.file();
  std::array<uint8_t, kArchiveEntrySize> bytes{};
  const uint64_t at = static_cast<uint64_t>(archive.baseOffset());
  if (file.ReadAt(at, bytes.data(), bytes.size()) != static_cast<int64_t>(bytes.size())) return false;
  const ArchiveEntry orphan = ParseArchiveEntry(ByteView(bytes.data(), bytes.size()));
  if (orphan.IsEnd() || orphan.length < 0) return false;
  uint8_t marker = 0;
  const uint64_t next = at + kArchiveEntrySize + static_cast<uint64_t>(orphan.length);
  return file.ReadAt(next, &marker, 1) == 1 && marker != 0;
}

// Opens an existing archive for appending, locks it and walks to the record position behind its last image.
bool OpenForAppend(ArchiveState& archive, const std::string& path, int32_t flags) {
  if (((flags & kOpenArchiveFirst) != 0 || !archive.IsOpen()) && OpenArchive(archive, path) < 0) return false;
  if (archive.work().readOnly) {
    ShowArchiveError(archive, kWriteProtected);
    return false;
  }
  if (!LockArchive(archive)) return false;
  RewindArchive(archive);
  for (int32_t i = 0; i < archive.header.count; ++i) {
    const int32_t r = ReadEntry(archive);
    if (r <= 0) {
      // A chain shorter than the count: appending would name and count the new image wrongly.
      if (r == 0) ShowArchiveError(archive, Format(kBrokenEntry, archive.path.c_str(), i + 1));
      UnlockArchive(archive);
      return false;
    }
    SkipImage(archive);
  }
  if (archive.header.count < 0 || ChainGoesOn(archive)) {
    ShowArchiveError(
        archive, Format(kBrokenEntry, archive.path.c_str(), std::max<int32_t>(archive.header.count, 0) + 1));
    UnlockArchive(archive);
    return false;
  }
  return true;
}

enum class Round { kAdded, kNothingAdded, kFailed };

// One round at the record position `record`: the zero record, the image, a terminator behind it, the record,
// the count. Everything the adder wrote is cut off again when the round does not complete.
Round AddOneImage(ArchiveState& archive, ImageState& image, ImageAdder& adder, int64_t record) {
  ImageWork& work = archive.work();
  const int64_t sizeBefore = archive.file().Size();
  const int64_t imageStart = record + static_cast<int64_t>(kArchiveEntrySize);
  archive.entry = ArchiveEntry{};
  if (!archive.WriteAt(record, kZeroRecord.data(), kZeroRecord.size())) {
    ShowArchiveError(archive, kOutputError);
    return Round::kFailed;
  }
  archive.setBaseOffset(imageStart);
  const int32_t number = archive.header.count + 1;
  work.currentImagePath = "DISK" + std::to_string(number);
  work.openCloseFlags = (work.openCloseFlags & ~0x0F) | kOpenFirst | kCloseAfter;
  work.dialogMode = kModeCreate;
  const int64_t length = adder.AddImage(archive, image);

  Round result = length > 0 ? Round::kAdded : Round::kNothingAdded;
  if (result == Round::kAdded) {
    const int64_t end = imageStart + length;
    // The adder's length must describe bytes it really wrote, and fit the record's 32-bit field.
    if (length > std::numeric_limits<int32_t>::max() || end > archive.file().Size()) {
      ShowArchiveError(archive, kOutputError);
      result = Round::kFailed;
    } else {
      const uint32_t when =
          archive.entry.DosDateTime() != 0 ? archive.entry.DosDateTime() : LocalDosDateTime();
      const ArchiveEntry entry = MakeArchiveEntry(number, static_cast<int32_t>(length), when);
      std::array<uint8_t, kArchiveEntrySize> bytes{};
      SerializeArchiveEntry(entry, ByteSpan(bytes.data(), bytes.size()));
      // The image and its terminator reach the disk before the record that makes them part of the chain.
      bool ok = archive.WriteAt(end, kZeroRecord.data(), kZeroRecord.size()) && archive.file().Sync() &&
                archive.WriteAt(record, bytes.data(), bytes.size()) && archive.file().Sync();
      if (ok) {
        archive.header.count = static_cast<int16_t>(number);
        ok = WriteArchiveHeader(archive);
        if (!ok) archive.header.count = static_cast<int16_t>(number - 1);
      }
      if (ok) {
        archive.entry = entry;
        archive.setBaseOffset(end);
        work.listChanged = true;
        return Round::kAdded;
      }
      ShowArchiveError(archive, kOutputError);
      result = Round::kFailed;
    }
  }
  // Whatever came of the round, the record position holds a terminator and nothing follows it.
  archive.WriteAt(record, kZeroRecord.data(), kZeroRecord.size());
  if (archive.file().Size() > sizeBefore) archive.file().Truncate(static_cast<uint64_t>(imageStart));
  archive.setBaseOffset(record);
  return result;
}

}  // namespace

uint32_t LocalDosDateTime() { return HostTimeToDos(std::time(nullptr)); }

int32_t AddFloppies(ArchiveState& archive, ImageState& image, const std::string& path, int32_t flags,
                    const std::array<std::string, kArchiveLabelCount>& labels, ImageAdder& adder) {
  const bool opened = (flags & kCreateArchive) != 0 ? CreateArchive(archive, path, labels)
                                                    : OpenForAppend(archive, path, flags);
  if (!opened) {
    if ((flags & kCloseArchiveAfter) != 0) CloseArchive(archive);
    return -1;
  }
  ImageWork& work = archive.work();
  const int32_t savedFlags = work.openCloseFlags;
  int32_t added = 0;
  while (adder.WantsAnother()) {
    if (archive.header.count >= kMaxArchiveImages) {
      ShowArchiveError(archive, Format(kArchiveFull, kMaxArchiveImages));
      break;
    }
    if (AddOneImage(archive, image, adder, archive.baseOffset()) != Round::kAdded) break;
    ++added;
  }
  work.openCloseFlags = savedFlags;
  archive.file().Sync();
  UnlockArchive(archive);
  if ((flags & kCloseArchiveAfter) != 0) CloseArchive(archive);
  return added;
}

}  // namespace kdl
