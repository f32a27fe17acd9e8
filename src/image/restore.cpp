#include "image/restore.h"

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

// Writes every unit of the open image that holds data onto the open drive. 0 or -1.
int32_t WriteUnits(ImageState& state, DriveLayer& drives, int32_t driveNumber) {
  ImageWork& work = state.work();
  Prompter* prompter = work.prompter;
  const KdlHeader& h = state.header;
  const MediaGeometry& g = h.geometry;
  if (prompter != nullptr) prompter->SetProgressMaximum(g.cylinders - 1);
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
    if (h.omitUnused != 0 && CountUsedClusters(state, i, h) == 0) continue;
    if (state.ReadTrack(i) != 0) {
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

}  // namespace

int32_t RestoreToDrive(ImageState& state, DriveLayer& drives, int32_t driveNumber, int32_t* verifyResult) {
  ImageWork& work = state.work();
  Prompter* prompter = work.prompter;
  if (verifyResult != nullptr) *verifyResult = kNotVerified;
  const int32_t flags = work.openCloseFlags;
  if ((flags & kOpenFirst) != 0 && state.OpenImage(work.currentImagePath) < 0) return -1;

  int32_t result = -1;
  if (!state.IsOpen()) {
    state.ShowImageError(kFileInputError);
  } else if (state.header.mediaType == kMediaTypeDmf) {
    state.ShowImageError(kDmfNotRestorable);
  } else {
    for (;;) {
      const int32_t type = drives.DetectMediaType(driveNumber);
      if (type == state.header.mediaType) {
        result = WriteUnits(state, drives, driveNumber);
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
  if (result == 0 && work.verify) {
    const int32_t verified = VerifyAgainstDrive(state, drives, driveNumber, state.header, true);
    if (verifyResult != nullptr) *verifyResult = verified;
  }
  if (prompter != nullptr) prompter->SetProgress(0);
  if ((flags & kCloseAfter) != 0) state.CloseImage();
  return result;
}

int32_t WriteRawImage(ImageState& state, const std::string& imagePath, const std::string& outputPath) {
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
  if (prompter != nullptr) prompter->SetProgressMaximum(g.cylinders);
  bool ok = true;
  for (int32_t i = 0; i < g.cylinders; ++i) {
    ShowProgress(prompter, i, Format(kWritingRaw, i, g.cylinders - 1));
    state.Pump();
    if (work.cancelRequested && state.ConfirmCancel(kOpRawCreate)) {
      ok = false;
      break;
    }
    // A unit that cannot be read ends the output with a message even where the track read showed none.
    if (state.ReadTrack(i) != 0) {
      state.ShowImageError(kFileInputError);
      ok = false;
      break;
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
  return ok ? length : -1;
}

}  // namespace kdl
