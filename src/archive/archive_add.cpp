#include "archive/archive_add.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <limits>
#include <random>

#include "archive/messages.h"
#include "browse/copyout.h"

namespace kdl {

using namespace archive_text;

namespace {

constexpr std::array<uint8_t, kArchiveEntrySize> kZeroRecord{};

// A new archive being built beside the file it is to replace.
struct NewArchive {
  std::string target;  // where it goes (a symbolic link is followed to the file it names)
  std::string temp;    // where it is built
  File old;            // the file it replaces, locked against other processes while the new one is built
};

// Creates a new archive holding no image (the header and a terminator, 160 bytes) under a temporary name in
// the folder of `path`. An existing file of that name is locked and left as it is until the new archive is
// put in its place, so that an addition that adds nothing never costs the old archive its images.
bool CreateArchive(ArchiveState& archive, const std::string& path,
                   const std::array<std::string, kArchiveLabelCount>& labels, NewArchive& made) {
  namespace fs = std::filesystem;
  CloseArchive(archive);
  std::error_code ec;
  fs::path target(path);
  if (fs::is_symlink(target, ec)) target = fs::weakly_canonical(target, ec);
  made.target = target.string();
  archive.path = path;
  ImageWork& work = archive.work();
  if (made.old.Open(made.target, File::Mode::kRead) && !AcquireLockOn(archive, made.old.fd())) {
    // Another process is busy with the file: nothing was changed.
    made.old.Close();
    return false;
  }
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  File& file = archive.file();
  std::random_device random;
  for (int attempt = 0; attempt < 100 && !file.IsOpen(); ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", random());
    made.temp = (folder / ("." + target.filename().string() + "." + suffix + ".part")).string();
    if (!file.Open(made.temp, File::Mode::kCreateNew) && errno != EEXIST) break;
  }
  if (!file.IsOpen() || fs::is_directory(target, ec)) {
    ShowArchiveError(archive, kCannotCreate);
    CloseArchive(archive);
    if (!made.temp.empty() && file.IsOpen()) ::unlink(made.temp.c_str());
    made.old.Close();
    return false;
  }
  // The new archive keeps the permissions of the one it replaces.
  struct stat st {};
  if (made.old.IsOpen() && ::fstat(made.old.fd(), &st) == 0) ::fchmod(file.fd(), st.st_mode & 07777);
  work.readOnly = false;
  work.archiveFile = &file;
  archive.header = MakeArchiveHeader(labels[0], labels[1]);
  archive.locked = TryLockOn(file.fd());
  for (int i = 0; i < kArchiveLabelCount; ++i)
    archive.labelTexts[static_cast<size_t>(i)] = archive.header.LabelText(i);
  if (!WriteArchiveHeader(archive) ||
      !archive.WriteAt(kFirstRecordOffset, kZeroRecord.data(), kZeroRecord.size())) {
    ShowArchiveError(archive, kCannotCreate);
    CloseArchive(archive);
    ::unlink(made.temp.c_str());
    made.old.Close();
    return false;
  }
  RewindArchive(archive);
  return true;
}

// Puts the new archive in the place of the file it replaces (`keep`), or removes it. The archive stays open
// under its new name when kept. False when it could not be put in place (after a message).
bool FinishNewArchive(ArchiveState& archive, NewArchive& made, bool keep) {
  bool ok = true;
  if (keep) {
    ok = archive.file().Sync() && std::rename(made.temp.c_str(), made.target.c_str()) == 0;
    if (!ok) ShowArchiveError(archive, kCannotCreate);
  }
  if (!keep || !ok) {
    CloseArchive(archive);
    ::unlink(made.temp.c_str());
  } else {
    archive.work().listChanged = true;
  }
  made.old.Close();
  return ok;
}

// Opens an existing archive for appending, locks it and checks the whole chain first: appending is refused
// where the chain breaks or its records and the count disagree (an addition that stopped before it raised the
// count leaves its complete image in the chain), since the next image would be written over an existing one
// or named and counted wrongly. The base offset ends on the terminator.
bool OpenForAppend(ArchiveState& archive, const std::string& path, int32_t flags) {
  if (((flags & kOpenArchiveFirst) != 0 || !archive.IsOpen()) && OpenArchive(archive, path) < 0) return false;
  if (archive.work().readOnly) {
    ShowArchiveError(archive, kWriteProtected);
    return false;
  }
  if (!LockArchive(archive)) return false;
  const ChainSurvey survey = SurveyChain(archive);
  if (const std::string problem = ChainProblem(archive, survey); !problem.empty()) {
    ShowArchiveError(archive, problem);
    UnlockArchive(archive);
    return false;
  }
  RewindArchive(archive);
  archive.setBaseOffset(survey.end);
  archive.entryIndex = survey.records - 1;
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
  bool recordWritten = false;
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
                archive.WriteAt(record, bytes.data(), bytes.size());
      recordWritten = ok;
      ok = ok && archive.file().Sync();
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
  // Whatever came of the round, the record position holds a terminator and nothing follows it. Should that
  // write fail after the record was written, the image stays whole behind it: a record must never point past
  // the file (the archive then holds the image beyond its count, for `repair` to adopt).
  const bool ended = archive.WriteAt(record, kZeroRecord.data(), kZeroRecord.size());
  if ((ended || !recordWritten) && archive.file().Size() > sizeBefore)
    archive.file().Truncate(static_cast<uint64_t>(imageStart));
  archive.setBaseOffset(record);
  return result;
}

}  // namespace

uint32_t LocalDosDateTime() { return HostTimeToDos(std::time(nullptr)); }

int32_t AddFloppies(ArchiveState& archive, ImageState& image, const std::string& path, int32_t flags,
                    const std::array<std::string, kArchiveLabelCount>& labels, ImageAdder& adder) {
  const bool create = (flags & kCreateArchive) != 0;
  NewArchive made;
  const bool opened =
      create ? CreateArchive(archive, path, labels, made) : OpenForAppend(archive, path, flags);
  if (!opened) {
    if ((flags & kCloseArchiveAfter) != 0) CloseArchive(archive);
    return -1;
  }
  ImageWork& work = archive.work();
  const int32_t savedFlags = work.openCloseFlags;
  int32_t added = 0;
  int32_t rounds = 0;
  while (adder.WantsAnother()) {
    if (archive.header.count >= kMaxArchiveImages) {
      ShowArchiveError(archive, Format(kArchiveFull, kMaxArchiveImages));
      break;
    }
    ++rounds;
    if (AddOneImage(archive, image, adder, archive.baseOffset()) != Round::kAdded) break;
    ++added;
  }
  work.openCloseFlags = savedFlags;
  if (create) {
    // A new archive replaces an older file of its name only when it holds something, or when nothing was to
    // be added to it: a run whose every round failed leaves the old archive and its images as they were.
    const bool keep = added > 0 || rounds == 0 || !made.old.IsOpen();
    if (!FinishNewArchive(archive, made, keep)) added = -1;
  }
  if (archive.IsOpen()) {
    archive.file().Sync();
    UnlockArchive(archive);
  }
  if ((flags & kCloseArchiveAfter) != 0) CloseArchive(archive);
  return added;
}

}  // namespace kdl
