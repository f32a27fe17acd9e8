#include "edit/image_edit.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "browse/copyout.h"
#include "common/text_format.h"
#include "drive/fat_layout.h"
#include "edit/edit_messages.h"

namespace kdl {
namespace {

using namespace edit_text;

const char* DamageText(FatDamage::Kind kind) {
  switch (kind) {
    case FatDamage::kLoop:
      return kDamageLoop;
    case FatDamage::kCross:
      return kDamageCross;
    case FatDamage::kBroken:
      return kDamageBroken;
    default:
      return kDamageShort;
  }
}

// The label entry's name, time and date as the header stores them.
HeaderLabel HeaderLabelOf(const std::optional<DirectoryEntry>& entry) {
  HeaderLabel label;
  label.volumeLabel = std::string(kVolumeLabelLength, ' ');
  if (!entry) return label;
  label.volumeLabel = HeaderVolumeLabel(std::string(entry->Name()) + std::string(entry->Extension()));
  label.time = entry->Time();
  label.date = entry->Date();
  return label;
}

bool SameLabel(const std::optional<DirectoryEntry>& a, const std::optional<DirectoryEntry>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || a->bytes() == b->bytes();
}

}  // namespace

uint32_t CurrentDosTime() {
  std::time_t now = std::time(nullptr);
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch != nullptr && *epoch != '\0') {
    char* end = nullptr;
    const long long value = std::strtoll(epoch, &end, 10);
    if (end != nullptr && *end == '\0' && value >= 0) now = static_cast<std::time_t>(value);
  }
  return HostTimeToDos(now);
}

bool ReportFatStatus(ImageState& ui, FatStatus status, const std::string& what, int64_t needed,
                     int64_t free) {
  const char* c = what.c_str();
  switch (status) {
    case FatStatus::kNotFound:
      ui.ShowImageError(Format(kNotFound, c));
      break;
    case FatStatus::kNotADirectory:
      ui.ShowImageError(Format(kNotADirectory, c));
      break;
    case FatStatus::kIsADirectory:
      ui.ShowImageError(Format(kIsADirectory, c));
      break;
    case FatStatus::kExists:
      ui.ShowImageError(Format(kAlreadyExists, c));
      break;
    case FatStatus::kBadName:
      ui.ShowImageError(Format(kBadName, c));
      break;
    case FatStatus::kRootFull:
      ui.ShowImageError(Format(kRootFull, c));
      break;
    case FatStatus::kNoRoom:
      ui.ShowImageError(Format(kNoRoom, c, static_cast<long long>(needed), static_cast<long long>(free)));
      break;
    case FatStatus::kIntoItself:
      ui.ShowImageError(Format(kIntoItself, c));
      break;
    case FatStatus::kOk:
      break;
  }
  return false;
}

bool ImageEdit::Begin(const std::string& path) {
  path_ = path;
  volume_.reset();
  if (!image_.IsOpen()) return false;
  if (image_.inArchive()) {
    image_.ShowImageError(Format(kInArchive, path.c_str()));
    return false;
  }
  // A disk image of another tool's format is read only: writing it back as a raw disk would drop its format.
  if (image_.container() != nullptr) {
    image_.ShowImageError(Format(kOtherToolsImage, path.c_str()));
    return false;
  }
  // The image is replaced by a new file on commit: the old one must be a regular file that may be written.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    image_.ShowImageError(Format(kNotRegularFile, path.c_str()));
    return false;
  }
  if ((st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0) {
    image_.ShowImageError(Format(kReadOnlyFile, path.c_str()));
    return false;
  }
  // Every offset below comes from the media table: a header that describes another disk is not written on.
  if (image_.header.geometry != MediaGeometryOf(image_.header.mediaType)) {
    image_.ShowImageError(Format(kBadGeometry, path.c_str()));
    return false;
  }
  if (!ReadWholeDisk(image_, before_)) {
    image_.ShowImageError(Format(kUnreadable, path.c_str()));
    return false;
  }
  disk_ = before_;
  // The reader's layout: the boot sector's where it is sound, else the table's.
  const MediaGeometry layout = image_.layout;
  // Free clusters were left out by the table's FAT; a disk laid out otherwise cannot be stored that way.
  if (!image_.isRaw && image_.header.omitUnused != 0 && DiffersFromTable(layout, image_.header.mediaType)) {
    image_.ShowImageError(Format(kOwnLayoutOmitted, path.c_str()));
    return false;
  }
  volume_.emplace(std::span<uint8_t>(disk_), layout);
  if (const std::optional<FatDamage> damage = volume_->FindDamage()) {
    image_.ShowImageError(Format(kDamaged, damage->path.c_str(), DamageText(damage->kind)));
    volume_.reset();
    return false;
  }
  labelBefore_ = volume_->VolumeLabel();
  return true;
}

bool ImageEdit::Commit() {
  if (!volume_) return false;
  bool ok = true;
  if (changed()) {
    const std::optional<DirectoryEntry> label = volume_->VolumeLabel();
    std::optional<HeaderLabel> header;
    if (!SameLabel(label, labelBefore_)) header = HeaderLabelOf(label);
    ok = RewriteImage(image_, path_, before_, disk_, header, writeGate) >= 0;
  }
  image_.CloseImage();
  volume_.reset();
  return ok;
}

}  // namespace kdl
