#include "edit/format_image.h"

#include "common/text_format.h"
#include "edit/edit_messages.h"
#include "edit/image_edit.h"
#include "edit/put.h"
#include "fat/format.h"
#include "fat/volume.h"

namespace kdl {

int32_t FormatImage(ImageState& ui, const std::string& target, const FormatOptions& options,
                    const WriteGate& gate) {
  using namespace edit_text;
  if (!IsMediaType(options.mediaType)) return -1;
  std::error_code ec;
  if (std::filesystem::exists(target, ec)) {
    Prompter* p = ui.work().prompter;
    if (p == nullptr || p->Ask(kCaptionFormat, Format(kExists, target.c_str()), Buttons::kYesNo,
                               Icon::kQuestion) != Answer::kYes)
      return -1;
  }
  const uint32_t now = CurrentDosTime();
  const auto time = static_cast<uint16_t>(now & 0xFFFF), date = static_cast<uint16_t>(now >> 16);
  // The serial number comes from the time of formatting, as DOS makes it: date and time words summed
  // crosswise.
  const uint32_t serial = (static_cast<uint32_t>(static_cast<uint16_t>(date + time)) << 16) |
                          static_cast<uint16_t>(date * 3 + time);
  std::vector<uint8_t> disk = FormatDisk(options.mediaType, serial);
  FatVolume volume(disk, MediaGeometryOf(options.mediaType));
  if (options.volumeLabel.find_first_not_of(' ') != std::string::npos) {
    const std::optional<ShortName11> name = MakeVolumeLabel(options.volumeLabel);
    if (!name) {
      ui.ShowImageError(Format(kBadLabel, options.volumeLabel.c_str()));
      return -1;
    }
    volume.SetVolumeLabel(name, time, date);
  }
  if (options.from && !PutFolderContents(ui, volume, kRootDirectory, *options.from, OverwritePolicy::kAll))
    return -1;
  if (!HasKdlExtension(target)) return WriteNewImage(ui, target, disk, nullptr, options.compress, gate);

  KdlHeader header = MakeKdlHeader(static_cast<int16_t>(options.mediaType));
  for (int i = 0; i < kLabelLineCount; ++i) header.SetLabelText(i, options.labels[static_cast<size_t>(i)]);
  header.omitUnused = options.omitUnused && CanOmitUnused(options.mediaType) ? 1 : 0;
  if (const std::optional<DirectoryEntry> label = volume.VolumeLabel()) {
    header.volumeLabel = HeaderVolumeLabel(std::string(label->Name()) + std::string(label->Extension()));
    header.labelTime = label->Time();
    header.labelDate = label->Date();
  }
  return WriteNewImage(ui, target, disk, &header, options.compress, gate);
}

}  // namespace kdl
