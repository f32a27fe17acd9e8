#include "image/restore.h"

#include <algorithm>

#include "image/create.h"
#include "image/drive_messages.h"
#include "image/output_file.h"

namespace kdl {
namespace {

using namespace drive_text;

void ShowProgress(Prompter* p, int32_t unit, const std::string& status) {
  if (p == nullptr) return;
  p->SetProgress(unit);
  p->SetStatus(status);
}

// True when the restore writes unit `unit` of the open image: every unit, unless the image leaves free
// clusters out and the unit has no used cluster.
bool IsWritten(const ImageState& state, int32_t unit) {
  return state.header.omitUnused == 0 || CountUsedClusters(state, unit, state.header) > 0;
}

// "3, 5, 12"
std::string UnitList(const std::vector<int32_t>& units) {
  std::string text;
  for (const int32_t u : units) text += (text.empty() ? "" : ", ") + std::to_string(u);
  return text;
}

// Writes every unit of the open image that holds data onto the open drive; the units in `damaged` are written
// as the media fill byte. 0 or -1.
int32_t WriteUnits(ImageState& state, DriveLayer& drives, int32_t driveNumber,
                   const std::vector<int32_t>& damaged) {
  ImageWork& work = state.work();
  Prompter* prompter = work.prompter;
  const KdlHeader& h = state.header;
  const MediaGeometry& g = h.geometry;
  if (prompter != nullptr) prompter->SetProgressMaximum(g.cylinders - 1);
  state.PreloadUnits();
  // A disk that is write-protected, or a device that cannot be written, is named with the reason.
  if (drives.OpenDrive(kDriveModeWrite, driveNumber - 1) != 0 && !drives.OpenFailure().empty()) {
    state.ShowImageError(drives.OpenFailure());
    return -1;
  }
  int32_t first = 0;
  for (int32_t i = 0; i < g.cylinders; ++i, first += g.sectorsPerTrack) {
    ShowProgress(prompter, i, Format(kRestoring, i, g.cylinders - 1));
    state.Pump();
    if (work.cancelRequested && state.ConfirmCancel(kOpRestore)) return -1;
    // Without a used cluster the unit is not written: the disk keeps what it had there.
    if (!IsWritten(state, i)) continue;
    if (std::find(damaged.begin(), damaged.end(), i) != damaged.end()) {
      std::fill(state.track.begin(), state.track.end(), MediaFillByte(h.mediaType));
      state.cachedTrack = -1;
    } else if (state.ReadTrack(i) != 0) {
      state.ShowImageError(kFileInputError);
      return -1;
    }
    if (drives.WriteDriveSectors(state.track.data(), first, g.sectorsPerTrack, g.sectorSize) != 0) {
      state.ShowImageError(kDriveOutputError);
      return -1;
    }
  }
  return 0;
}

// Decides, before anything is written, what becomes of an image some of whose units cannot be read. True when
// the restore may go on (with `damaged` filled), false when it is refused.
bool AcceptDamage(ImageState& state, const std::vector<int32_t>& damaged, int32_t written) {
  if (damaged.empty()) return true;
  ImageWork& work = state.work();
  const uint8_t fill = MediaFillByte(state.header.mediaType);
  if (static_cast<int32_t>(damaged.size()) >= written) {
    state.ShowImageError(kRestoreNothingReadable);
    return false;
  }
  switch (work.damagedUnits) {
    case DamagedUnitPolicy::kFill:
      return true;
    case DamagedUnitPolicy::kRefuse:
      state.ShowImageError(Format(kRestoreDamagedRefused, UnitList(damaged).c_str()));
      return false;
    case DamagedUnitPolicy::kAsk:
      break;
  }
  return work.prompter != nullptr &&
         work.prompter->Ask(kCaptionRestore, Format(kRestoreDamagedAsk, UnitList(damaged).c_str(), fill),
                            Buttons::kYesNo, Icon::kQuestion) == Answer::kYes;
}

}  // namespace

std::vector<int32_t> DamagedUnitsToWrite(ImageState& state, int32_t& written) {
  std::vector<int32_t> damaged;
  written = 0;
  const KdlHeader& h = state.header;
  UnitBuffers buffers;
  // With a worker pool every unit is read side by side here, and the writing takes them from memory.
  state.PreloadUnits();
  for (int32_t i = 0; i < h.geometry.cylinders; ++i) {
    if (!IsWritten(state, i)) continue;
    ++written;
    const TrackEntry& e = state.directory[static_cast<size_t>(i)];
    // Units above 0 of an image that leaves free clusters out are put together by the FAT in unit 0.
    const bool placeable = h.omitUnused == 0 || i == 0 || e.kind == kTrackSameByte || state.unitFatSound;
    bool sound = placeable;
    if (placeable) {
      const std::optional<std::string>* read = state.PreloadedProblem(i);
      sound = read != nullptr ? !read->has_value()
                              : !DecodeStoredUnit(state.file(), state.baseOffset(), i, e, h.geometry,
                                                  state.codec(), buffers);
    }
    if (!sound) damaged.push_back(i);
  }
  return damaged;
}

int32_t RestoreToDrive(ImageState& state, DriveLayer& drives, int32_t driveNumber, int32_t* verifyResult,
                       std::vector<int32_t>* filledUnits) {
  ImageWork& work = state.work();
  Prompter* prompter = work.prompter;
  if (verifyResult != nullptr) *verifyResult = kNotVerified;
  if (filledUnits != nullptr) filledUnits->clear();
  const int32_t flags = work.openCloseFlags;
  if ((flags & kOpenFirst) != 0 && state.OpenImage(work.currentImagePath) < 0) return -1;
  state.BeginOperation();

  int32_t result = -1;
  std::vector<int32_t> damaged;
  int32_t written = 0;
  if (!state.IsOpen()) {
    state.ShowImageError(kFileInputError);
  } else if (state.header.mediaType == kMediaTypeDmf) {
    state.ShowImageError(kDmfNotRestorable);
  } else if (damaged = DamagedUnitsToWrite(state, written); AcceptDamage(state, damaged, written)) {
    for (;;) {
      const int32_t type = drives.DetectMediaType(driveNumber);
      if (type == state.header.mediaType) {
        result = WriteUnits(state, drives, driveNumber, damaged);
        break;
      }
      const std::string name(type >= 0 ? MediaName(type) : kUnknownMediaName);
      // A drive whose device is missing says so, rather than calling its disk one of an unknown type.
      const std::string question = type < 0 && !drives.OpenFailure().empty()
                                       ? drives.OpenFailure() + kRetryQuestion
                                       : Format(kOtherMedia, name.c_str());
      const Answer a = prompter != nullptr
                           ? prompter->Ask(kCaptionRestore, question, Buttons::kYesNo, Icon::kQuestion)
                           : Answer::kNo;
      if (a != Answer::kYes) break;
    }
  }
  drives.CloseDrive();
  if (result == 0 && !damaged.empty()) {
    state.ShowImageError(
        Format(kRestoreFilled, UnitList(damaged).c_str(), MediaFillByte(state.header.mediaType)));
    if (filledUnits != nullptr) *filledUnits = damaged;
  }
  if (result == 0 && work.verify) {
    const int32_t verified = VerifyAgainstDrive(state, drives, driveNumber, state.header, true);
    if (verifyResult != nullptr) *verifyResult = verified;
  }
  if (prompter != nullptr) prompter->SetProgress(0);
  if ((flags & kCloseAfter) != 0) state.CloseImage();
  return result;
}

int32_t WriteRawImage(ImageState& state, const std::string& imagePath, const std::string& outputPath,
                      std::vector<int32_t>* filledUnits) {
  ImageWork& work = state.work();
  Prompter* prompter = work.prompter;
  // The image first: an image that cannot be read leaves no trace of an output, and its open has already
  // said why it failed.
  if (state.OpenImage(imagePath) < 0) return -1;
  ReplacingFile out;
  const bool protectedTarget =
      outputPath != kStandardOutputName && ExamineTarget(outputPath) == TargetKind::kWriteProtected;
  if (protectedTarget && !ConfirmReplace(prompter, kCaptionRawOutput, outputPath, {})) {
    state.CloseImage();
    return -1;
  }
  if (!out.Create(outputPath)) {
    state.ShowImageError(ExamineTarget(outputPath) == TargetKind::kNotAFile
                             ? Format(kNotARegularFile, outputPath.c_str())
                             : std::string(kCannotCreate));
    state.CloseImage();
    return -1;
  }
  const MediaGeometry& g = state.header.geometry;
  const size_t trackSize = static_cast<size_t>(g.trackSize);
  state.PreloadUnits();
  if (prompter != nullptr) prompter->SetProgressMaximum(g.cylinders);
  bool ok = true;
  std::vector<int32_t> filled;
  for (int32_t i = 0; i < g.cylinders; ++i) {
    ShowProgress(prompter, i, Format(kWritingRaw, i, g.cylinders - 1));
    state.Pump();
    if (work.cancelRequested && state.ConfirmCancel(kOpRawCreate)) {
      ok = false;
      break;
    }
    // A unit that cannot be read (told by the track read) becomes the fill byte: the rest is still worth
    // having.
    if (state.ReadTrack(i) != 0) {
      std::fill(state.track.begin(), state.track.end(), MediaFillByte(state.header.mediaType));
      filled.push_back(i);
    }
    if (out.file().WriteAt(static_cast<uint64_t>(i) * trackSize, state.track.data(), trackSize) !=
        static_cast<int64_t>(trackSize)) {
      state.ShowImageError(kWriteError);
      ok = false;
      break;
    }
  }
  if (prompter != nullptr) prompter->SetProgress(0);
  const int32_t length = g.cylinders * g.trackSize;
  state.CloseImage();
  if (ok && !out.Commit()) {
    state.ShowImageError(kWriteError);
    ok = false;
  }
  if (ok && !filled.empty()) {
    state.ShowImageError(Format(kRawFilled, UnitList(filled).c_str(), MediaFillByte(state.header.mediaType)));
    if (filledUnits != nullptr) *filledUnits = filled;
  }
  return ok ? length : -1;
}

}  // namespace kdl
