#include "image/export.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "common/file.h"
#include "common/sjis.h"
#include "common/temp_files.h"
#include "drive/host_drive.h"
#include "image/drive_messages.h"
#include "image/output_file.h"
#include "image/restore.h"
#include "image/track_encode.h"

namespace kdl {
namespace {

using namespace drive_text;

constexpr const char* kCannotHold = "%s 形式には %s のディスクを書けません";

// Where the raw disk waits while the container is made: a private folder, removed on every exit path. The
// disk file in it is registered as a temporary file, so a signal removes it too, and the folder a killed run
// leaves is removed the next time one is made.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::error_code ec;
    const std::filesystem::path parent = std::filesystem::temp_directory_path(ec);
    if (ec) return;
    RemoveStaleTemporaryFolders(parent.string(), kPrefix);
    std::string pattern =
        (parent / (std::string(kPrefix) + "-" + std::to_string(::getpid()) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchFolder() {
    if (slot_ >= 0) UnregisterTemporaryFile(slot_);
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  bool ok() const { return !path_.empty(); }
  // The path of the folder's one file, registered for removal by a signal.
  std::string File(const char* name) {
    std::string file = (std::filesystem::path(path_) / name).string();
    if (slot_ < 0) slot_ = RegisterTemporaryFile(file);
    return file;
  }

 private:
  static constexpr const char* kPrefix = "kdl-export";
  std::string path_;
  int slot_ = -1;
};

// The image's label lines and volume label, where the container has room for text.
ContainerText TextOf(const KdlHeader& header) {
  ContainerText text;
  for (int i = 0; i < kLabelLineCount; ++i) {
    const std::string line = header.LabelText(i);
    if (!line.empty()) text.comment.push_back(line);
  }
  std::string volume = header.volumeLabel;
  while (!volume.empty() && (volume.back() == ' ' || volume.back() == '\0')) volume.pop_back();
  text.name = text.comment.empty() ? volume : text.comment.front();
  text.time = std::time(nullptr);
  return text;
}

}  // namespace

int64_t WriteImageAs(ImageState& state, const std::string& imagePath, const std::string& outputPath,
                     ContainerFormat format, std::vector<int32_t>* filledUnits) {
  if (format == ContainerFormat::kRaw) return WriteRawImage(state, imagePath, outputPath, filledUnits);
  // The image first: an image that cannot be read leaves no trace of an output, and its open has already
  // said why it failed.
  if (state.OpenImage(imagePath) < 0) return -1;
  const int32_t type = state.header.mediaType;
  const ContainerText text = TextOf(state.header);
  state.CloseImage();
  if (!FormatCanHold(format, type)) {
    std::string name(MediaName(type));
    while (!name.empty() && name.back() == ' ') name.pop_back();
    state.ShowImageError(Format(kCannotHold, std::string(ContainerFormatName(format)).c_str(), name.c_str()));
    return -1;
  }
  const bool protectedTarget =
      outputPath != kStandardOutputName && ExamineTarget(outputPath) == TargetKind::kWriteProtected;
  if (protectedTarget && !ConfirmReplace(state.work().prompter, kCaptionRawOutput, outputPath, {})) return -1;
  ReplacingFile out;
  if (!out.Create(outputPath)) {
    state.ShowImageError(ExamineTarget(outputPath) == TargetKind::kNotAFile
                             ? Format(kNotARegularFile, outputPath.c_str())
                             : std::string(kCannotCreate));
    return -1;
  }
  ScratchFolder scratch;
  if (!scratch.ok()) {
    state.ShowImageError(kCannotCreate);
    return -1;
  }
  const std::string rawPath = scratch.File("disk.img");
  if (WriteRawImage(state, imagePath, rawPath, filledUnits) < 0) return -1;
  kdl::File raw;
  const int64_t size = raw.Open(rawPath, File::Mode::kRead) ? raw.Size() : -1;
  std::vector<uint8_t> disk(static_cast<size_t>(std::max<int64_t>(size, 0)));
  if (size < 0 || raw.ReadAt(0, disk.data(), disk.size()) != size) {
    state.ShowImageError(kFileInputError);
    return -1;
  }
  // A disk without label lines is named by its volume label, from its root when the image had none.
  ContainerText named = text;
  if (named.name.empty()) {
    KdlHeader header = MakeKdlHeader(static_cast<int16_t>(type));
    const size_t unit0 = std::min(disk.size(), static_cast<size_t>(header.geometry.trackSize));
    if (TakeVolumeLabelFromRoot(ByteView(disk.data(), unit0), header, true)) named.name = TextOf(header).name;
  }
  if (named.comment.empty() && !named.name.empty()) named.comment.push_back(named.name);
  const std::vector<uint8_t> bytes = EncodeContainer(format, type, ByteView(disk.data(), disk.size()), named);
  if (bytes.empty() ||
      out.file().WriteAt(0, bytes.data(), bytes.size()) != static_cast<int64_t>(bytes.size()) ||
      !out.Commit()) {
    state.ShowImageError(kWriteError);
    return -1;
  }
  return static_cast<int64_t>(bytes.size());
}

LabelTexts ContainerLabels(const ContainerDisk& disk) {
  LabelTexts labels;
  for (size_t i = 0; i < disk.comment.size() && i < labels.size(); ++i) {
    std::string line(CutSjisText(disk.comment[i], kLabelLineLength));
    std::replace_if(
        line.begin(), line.end(), [](char c) { return static_cast<uint8_t>(c) < 0x20 || c == 0x7F; }, ' ');
    while (!line.empty() && line.back() == ' ') line.pop_back();
    labels[i] = std::move(line);
  }
  return labels;
}

LabelTexts ContainerFileLabels(const std::string& path) {
  if (!IsForeignContainerFile(path)) return {};
  const ContainerRead read = ReadContainerFile(path);
  return read.disk ? ContainerLabels(*read.disk) : LabelTexts{};
}

}  // namespace kdl
