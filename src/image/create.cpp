#include "image/create.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <deque>
#include <filesystem>
#include <future>
#include <vector>

#include "common/sjis.h"
#include "common/worker_pool.h"
#include "image/drive_messages.h"
#include "image/output_file.h"
#include "image/stored_unit.h"
#include "image/track_encode.h"

namespace kdl {
namespace {

using namespace drive_text;

// The volume label from the root directory of the disk, or empty when it has none or cannot be read.
std::optional<std::string> VolumeLabelFromDrive(DriveLayer& drives, int32_t driveNumber,
                                                const KdlHeader& header) {
  const MediaGeometry& g = header.geometry;
  const int32_t sectors = g.rootStart + g.rootSectors;
  std::vector<uint8_t> bytes(static_cast<size_t>(sectors) * static_cast<size_t>(g.sectorSize));
  drives.OpenDrive(kDriveModeRead, driveNumber - 1);
  const int32_t status = drives.ReadDriveSectors(bytes.data(), 0, sectors, g.sectorSize);
  drives.CloseDrive();
  if (status != 0) return std::nullopt;
  KdlHeader scratch = header;
  if (!TakeVolumeLabelFromRoot(ByteView(bytes.data(), bytes.size()), scratch, true)) return std::nullopt;
  return scratch.volumeLabel.substr(0, 11);
}

bool WriteAll(File& file, uint64_t offset, const uint8_t* data, size_t length) {
  return file.WriteAt(offset, data, length) == static_cast<int64_t>(length);
}

void ShowProgress(Prompter* p, int32_t unit, const std::string& status) {
  if (p == nullptr) return;
  p->SetProgress(unit);
  p->SetStatus(status);
}

// Tells the user why the free clusters of this disk are stored although they were to be left out.
void TellStoredWhole(Prompter* prompter, const FreeClusterPlan& plan) {
  if (prompter == nullptr) return;
  const std::string text =
      plan.storeWhole == StoreWholeReason::kOwnLayout
          ? Format(kStoredWholeOwnLayout, plan.layout.clusterSize, plan.layout.rootEntries)
          : std::string(kStoredWholeFatCopies);
  prompter->Ask(kCaptionCreate, text, Buttons::kOk, Icon::kInformation);
}

}  // namespace

int32_t BuildHeaderFromDrive(ImageState& state, DriveLayer& drives, int32_t driveNumber, KdlHeader& header) {
  (void)state;
  const int32_t type = drives.DetectMediaType(driveNumber);
  if (type < 0) return -1;
  const std::array<std::string, kLabelLineCount> labels = header.labels;
  header = MakeKdlHeader(static_cast<int16_t>(type));
  header.labels = labels;
  if (std::optional<std::string> name = VolumeLabelFromDrive(drives, driveNumber, header))
    header.volumeLabel = HeaderVolumeLabel(*name);
  return type;
}

int32_t CreateImage(ImageState& state, DriveLayer& drives, const std::string& target, int32_t driveNumber,
                    const std::array<std::string, kLabelLineCount>& labels, std::string& typeLabel,
                    int32_t* verifyResult) {
  ImageWork& work = state.work();
  Prompter* prompter = work.prompter;
  if (verifyResult != nullptr) *verifyResult = kNotVerified;
  KdlHeader header;
  for (int i = 0; i < kLabelLineCount; ++i) {
    if (!header.SetLabelText(i, labels[static_cast<size_t>(i)])) {
      state.ShowImageError(kLabelTooLong);
      return -1;
    }
  }
  const bool inArchive = work.baseOffset != 0;
  if (!inArchive) {
    // A disk is written with a restore, never by replacing a device node; nor is a folder or FIFO replaced.
    if (target != kStandardOutputName && ExamineTarget(target) == TargetKind::kNotAFile) {
      state.ShowImageError(Format(kNotARegularFile, target.c_str()));
      return -1;
    }
    if (!ConfirmReplace(prompter, kCaptionCreate, target, Format(kExists, target.c_str()))) return -1;
  }
  while (BuildHeaderFromDrive(state, drives, driveNumber, header) < 0) {
    // A drive whose device is missing says so, rather than calling the disk unsupported.
    const std::string problem =
        drives.OpenFailure().empty() ? std::string(kUnsupportedDisk) : drives.OpenFailure();
    const Answer a = prompter != nullptr
                         ? prompter->Ask(kCaptionCreate, problem, Buttons::kRetryCancel, Icon::kQuestion)
                         : Answer::kCancel;
    if (a != Answer::kRetry) return -1;
  }
  const std::string volume = header.volumeLabel[0] == ' '
                                 ? std::string(kNoVolumeLabel)
                                 : Format(kVolumeLabel, SjisToUtf8(header.volumeLabel).c_str());
  typeLabel = Format(kTypeLine, std::string(MediaName(header.mediaType)).c_str(), volume.c_str());
  if (prompter != nullptr) prompter->ShowTypeLine(typeLabel);
  // The image already open in the state describes another file from now on.
  if (state.IsOpen()) state.CloseImage();
  if (inArchive || HasKdlExtension(target))
    return WriteKdlFromDrive(state, drives, header, driveNumber - 1, target, verifyResult);
  return WriteRawFromDrive(state, drives, header, driveNumber - 1, target, verifyResult);
}

int32_t WriteKdlFromDrive(ImageState& state, DriveLayer& drives, KdlHeader& header, int32_t driveIndex,
                          const std::string& target, int32_t* verifyResult) {
  ImageWork& work = state.work();
  Prompter* prompter = work.prompter;
  if (verifyResult != nullptr) *verifyResult = kNotVerified;
  const MediaGeometry g = header.geometry;
  if (!IsUsableGeometry(g)) {
    state.ShowImageError(kCannotCreate);
    return -1;
  }
  if (prompter != nullptr) prompter->SetProgressMaximum(g.cylinders);
  state.directory = TrackDirectory{};

  const bool inArchive = work.baseOffset != 0;
  ReplacingFile standalone;
  File* out = nullptr;
  if (inArchive) {
    if (work.archiveFile != nullptr && work.archiveFile->IsOpen() && work.baseOffset > 0)
      out = work.archiveFile;
  } else if (standalone.Create(target)) {
    out = &standalone.file();
  }
  if (out == nullptr) {
    state.ShowImageError(kCannotCreate);
    return -1;
  }
  const uint64_t base = inArchive ? static_cast<uint64_t>(work.baseOffset) : 0;

  // Units of some media do not start on cluster boundaries: they are always stored whole. The choice holds
  // for this disk only; the next disk of a run starts again from the option.
  bool omit = work.omitUnused && CanOmitUnused(header.mediaType);
  header.omitUnused = omit ? 1 : 0;

  int32_t offset = kTrackDataOffset;
  bool ok = true;
  bool writeFailed = false;
  const int32_t last = g.cylinders - 1;
  // The stored form of a unit, written at the running offset behind the units before it.
  // With a worker pool the unit stored is behind the one being read: its line is shown without moving
  // the progress bar back.
  auto status = [&](int32_t i, const std::string& line) {
    if (work.pool == nullptr) {
      ShowProgress(prompter, i, line);
    } else if (prompter != nullptr) {
      prompter->SetStatus(line);
    }
  };
  auto store = [&](int32_t i, EncodedUnit e) {
    if (e.entry.kind == kTrackSameByte) {
      status(i, Format(kReadingSame, i, last, e.entry.fill));
    } else if (e.entry.kind == kTrackNormal) {
      status(i, Format(kReading, i, last));
    }
    e.entry.offset = offset;
    if (e.storedLength > 0 &&
        !WriteAll(*out, base + static_cast<uint64_t>(offset), e.stored, static_cast<size_t>(e.storedLength)))
      return false;
    offset += e.storedLength;
    state.directory[static_cast<size_t>(i)] = e.entry;
    return true;
  };
  // With a worker pool each unit is encoded while the next ones are read; the units are stored in order,
  // and every unit read before a question, an error or the end is stored before it, as one thread would.
  struct Pending {
    int32_t unit = 0;
    std::vector<uint8_t> data;
    std::vector<uint8_t> packed;
    std::future<EncodedUnit> encoded;
  };
  std::deque<Pending> pending;
  WorkerPool* pool = work.pool;
  const size_t inFlight = pool != nullptr ? static_cast<size_t>(2 * pool->threads() + 1) : 0;
  // Stores the pending units: all of them, or (with `onlyReady`) those whose encoding is done, keeping
  // at most inFlight waiting. False after a failed write.
  auto drain = [&](bool onlyReady) {
    while (!pending.empty()) {
      Pending& front = pending.front();
      const bool ready = front.encoded.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
      if (onlyReady && !ready && pending.size() <= inFlight) break;
      Pending done = std::move(front);
      pending.pop_front();
      if (!store(done.unit, done.encoded.get())) return false;
    }
    return true;
  };

  std::vector<uint8_t> unit(kTrackBufferSize);
  drives.OpenDrive(kDriveModeRead, driveIndex);
  int32_t first = 0;
  for (int32_t i = 0; i < g.cylinders; ++i, first += g.sectorsPerTrack) {
    ShowProgress(prompter, i, Format(kReading, i, last));
    state.Pump();
    if (work.cancelRequested) {
      if (!drain(false)) {
        ok = false;
        writeFailed = true;
        break;
      }
      if (state.ConfirmCancel(kOpCreate)) {
        ok = false;
        break;
      }
    }
    if (pool != nullptr) unit.assign(kTrackBufferSize, 0);
    const int32_t read = ReadUnitFromDrive(state, drives, unit.data(), omit, i, header, first);
    if (read != 0) {
      writeFailed = !drain(false);
      if (!writeFailed) state.ShowImageError(kDriveReadError);
      ok = false;
      break;
    }
    if (i == 0) {
      // The disk's own boot sector says where its clusters lie; bad clusters are skipped by that layout.
      const ByteView unit0(unit.data(), static_cast<size_t>(g.trackSize));
      const FreeClusterPlan plan = PlanFreeClusters(unit0, header.mediaType);
      state.layout = plan.layout;
      state.fat = FirstFatIn(unit0, plan.layout);
      state.fatCopiesAgree = plan.fatCopiesAgree;
      if (omit && plan.storeWhole != StoreWholeReason::kNone) {
        omit = false;
        TellStoredWhole(prompter, plan);
      }
      header.omitUnused = omit ? 1 : 0;
    }
    const int32_t length = i == 0 || omit ? CompactUnit(state, header, i, unit.data()) : g.trackSize;
    if (i == 0) {
      TakeVolumeLabelFromRoot(ByteView(unit.data(), static_cast<size_t>(g.trackSize)), header, false);
      std::vector<uint8_t> head(kTrackDataOffset, 0);
      SerializeKdlHeader(header, ByteSpan(head.data(), kKdlHeaderSize));
      if (!WriteAll(*out, base, head.data(), head.size())) {
        ok = false;
        writeFailed = true;
        break;
      }
    }
    // "Packing" only for a unit that is compressed: a unit of one repeated byte is not.
    if (work.compress && !IsSameByteUnit(unit.data(), length))
      ShowProgress(prompter, i, Format(kReadingPacking, i, last));
    if (pool == nullptr) {
      if (!store(i, EncodeTrackUnit(unit.data(), length, work.compress, state.codec(),
                                    state.workBuffer.data()))) {
        ok = false;
        writeFailed = true;
        break;
      }
      continue;
    }
    Pending& p = pending.emplace_back();
    p.unit = i;
    p.data.swap(unit);
    p.packed.resize(kWorkBufferSize);
    const bool compress = work.compress;
    p.encoded = pool->Submit([data = p.data.data(), packed = p.packed.data(), length, compress]() {
      return EncodeTrackUnit(data, length, compress, ThreadCodec(), packed);
    });
    if (!drain(true)) {
      ok = false;
      writeFailed = true;
      break;
    }
  }
  if (ok && !drain(false)) {
    ok = false;
    writeFailed = true;
  }
  // Units read past a failure are dropped once their encoding is done with their buffers.
  for (Pending& p : pending) {
    if (p.encoded.valid()) p.encoded.wait();
  }
  pending.clear();
  drives.CloseDrive();
  if (writeFailed) state.ShowImageError(kWriteError);

  if (ok) {
    std::vector<uint8_t> dir(kTrackDirectorySize);
    SerializeTrackDirectory(state.directory, ByteSpan(dir.data(), dir.size()));
    ok = WriteAll(*out, base + kKdlHeaderSize, dir.data(), dir.size()) && (inArchive || standalone.Commit());
    if (!ok) state.ShowImageError(kWriteError);
  }
  if (prompter != nullptr) prompter->SetProgress(0);
  if (!ok) return -1;

  if (work.verify && target != kStandardOutputName) {
    // The new image is opened as any image is, then the state returns to what it held before.
    const KdlHeader previous = state.header;
    const TrackDirectory written = state.directory;
    const MediaGeometry layout = state.layout;
    const std::vector<uint8_t> fat = state.fat;
    const std::vector<uint8_t> unitFat = state.unitFat;
    const bool copiesAgree = state.fatCopiesAgree;
    const int32_t mode = work.dialogMode;
    work.dialogMode = kModeCreate;
    if (state.OpenImage(target) >= 0) {
      const int32_t verified = VerifyAgainstDrive(state, drives, driveIndex + 1, state.header, false);
      if (verifyResult != nullptr) *verifyResult = verified;
      state.CloseImage();
    } else if (verifyResult != nullptr) {
      *verifyResult = -1;
    }
    work.dialogMode = mode;
    state.header = previous;
    state.directory = written;
    state.layout = layout;
    state.fat = fat;
    state.unitFat = unitFat;
    state.fatCopiesAgree = copiesAgree;
  }
  return offset;
}

int32_t WriteRawFromDrive(ImageState& state, DriveLayer& drives, const KdlHeader& header, int32_t driveIndex,
                          const std::string& target, int32_t* verifyResult) {
  ImageWork& work = state.work();
  Prompter* prompter = work.prompter;
  if (verifyResult != nullptr) *verifyResult = kNotVerified;
  const MediaGeometry& g = header.geometry;
  ReplacingFile out;
  if (!IsUsableGeometry(g) || !out.Create(target)) {
    state.ShowImageError(kCannotCreate);
    return -1;
  }
  if (prompter != nullptr) prompter->SetProgressMaximum(g.cylinders);
  state.directory = TrackDirectory{};
  std::vector<uint8_t> unit(kTrackBufferSize);
  const size_t trackSize = static_cast<size_t>(g.trackSize);
  bool ok = true;
  drives.OpenDrive(kDriveModeRead, driveIndex);
  int32_t first = 0;
  for (int32_t i = 0; i < g.cylinders; ++i, first += g.sectorsPerTrack) {
    ShowProgress(prompter, i, Format(kReading, i, g.cylinders - 1));
    state.Pump();
    if (work.cancelRequested && state.ConfirmCancel(kOpRawCreate)) {
      ok = false;
      break;
    }
    // Sectors skipped after a read error hold the fill byte, never the bytes of the previous unit.
    std::fill(unit.begin(), unit.end(), MediaFillByte(header.mediaType));
    if (drives.ReadDriveSectors(unit.data(), first, g.sectorsPerTrack, g.sectorSize) != 0) {
      state.ShowImageError(kDriveReadError);
      ok = false;
      break;
    }
    if (!WriteAll(out.file(), static_cast<uint64_t>(i) * trackSize, unit.data(), trackSize)) {
      state.ShowImageError(kWriteError);
      ok = false;
      break;
    }
  }
  drives.CloseDrive();
  if (prompter != nullptr) prompter->SetProgress(0);
  if (ok && !out.Commit()) {
    state.ShowImageError(kWriteError);
    ok = false;
  }
  if (!ok) return -1;
  // Standard output cannot be read back; a file can, as the raw image it is.
  if (work.verify && target != kStandardOutputName) {
    const KdlHeader previous = state.header;
    const int32_t mode = work.dialogMode;
    const std::string rawPath = work.rawImagePath;
    work.dialogMode = kModeOpenRaw;
    work.rawImagePath = target;
    int32_t verified = -1;
    if (state.OpenImage(target) >= 0) {
      verified = VerifyAgainstDrive(state, drives, driveIndex + 1, state.header, false);
      state.CloseImage();
    }
    if (verifyResult != nullptr) *verifyResult = verified;
    work.dialogMode = mode;
    work.rawImagePath = rawPath;
    state.header = previous;
  }
  return g.cylinders * g.trackSize;
}

}  // namespace kdl
