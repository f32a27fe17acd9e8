#include "image/image.h"

#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/text_format.h"
#include "common/worker_pool.h"
#include "image/export.h"
#include "image/track_encode.h"

namespace kdl {
namespace {

constexpr const char* kCannotOpen = "%s がオープンできません";
constexpr const char* kInputError = "ファイル入力エラー";
constexpr const char* kNotAnImage = "%s はカドローンではありません";
constexpr const char* kBadGeometry = "%s のディスク形式情報が正しくありません";
constexpr const char* kUnsupportedDisk = "サポートしていないディスクです";
constexpr const char* kNoUnitFat = "TRK:%2d  FAT が読めないため復元できません";
constexpr const char* kDamagedUnit = "TRK:%2d  損傷したセクタがあります\n%s";
constexpr const char* kContainerRefused = "サポートしていないディスクです\n%s : %s";
constexpr const char* kInterrupted = "%s ： ユーザー割り込みがありました\n中断しますか?";

// A raw image is recognised by its boot sector's first 24 bytes, another tool's container by its first 4 KB.
constexpr size_t kRawProbeLength = 24;
constexpr size_t kContainerProbeLength = 4096;

bool ReadExactly(const File& file, uint64_t offset, uint8_t* data, size_t size) {
  return file.ReadAt(offset, data, size) == static_cast<int64_t>(size);
}

// The directory of a raw disk: every unit stored as it is, one after the other, without CRCs to check.
TrackDirectory RawDirectory(const MediaGeometry& g) {
  TrackDirectory directory{};
  for (int j = 0; j < g.cylinders; ++j) {
    TrackEntry& e = directory[static_cast<size_t>(j)];
    e.offset = j * g.trackSize;
    e.storedLength = g.trackSize;
    e.dataLength = g.trackSize;
    e.kind = kTrackNormal;
  }
  return directory;
}

}  // namespace

struct ImageState::LookAhead {
  int64_t base = 0;
  SilentPrompter silent;
  File file;  // the archive, opened again so that closing it under the readers does no harm
  ImageWork work;
  std::unique_ptr<ImageState> image;
  std::vector<PreloadedUnit> units;
  std::vector<std::future<void>> done;

  ~LookAhead() { Wait(); }
  void Wait() {
    for (std::future<void>& f : done) {
      if (f.valid()) f.wait();
    }
  }
};

ImageState::~ImageState() = default;

ImageState::ImageState(ImageWork& work) : work_(work) { codec_.CodecInit(); }

File& ImageState::file() { return inArchive_ && work_.archiveFile != nullptr ? *work_.archiveFile : own_; }

void ImageState::DropFile() {
  if (!inArchive_) own_.Close();
}

int32_t ImageState::OpenImage(const std::string& path) {
  if (work_.dialogMode == kModeOpenRaw) return OpenRawImage(work_.rawImagePath);
  BeginOperation();
  preloaded_.clear();
  // Units read ahead for another image than this one are of no use any more.
  if (lookAhead_ && lookAhead_->base != work_.baseOffset) lookAhead_.reset();
  open_ = false;
  isRaw = false;
  container_.reset();
  cachedTrack = -1;
  if (work_.baseOffset != 0) {
    if (work_.archiveFile == nullptr || !work_.archiveFile->IsOpen() || work_.baseOffset < 0) {
      ShowImageError(Format(kCannotOpen, path.c_str()));
      return -1;
    }
    own_.Close();
    inArchive_ = true;
    base_ = work_.baseOffset;
  } else {
    inArchive_ = false;
    base_ = 0;
    if (!OpenForChange(own_, path, work_.readOnly)) {
      ShowImageError(Format(kCannotOpen, path.c_str()));
      return -1;
    }
  }

  std::array<uint8_t, kKdlHeaderSize + kTrackDirectorySize> head{};
  const uint64_t base = static_cast<uint64_t>(base_);
  // A standalone file that is a disk image of another tool's format opens as that disk; so does a raw disk
  // (an HDM file) when its name does not say it is an image.
  const ContainerFormat other = inArchive_ ? ContainerFormat::kUnknown : ProbeOwnFile();
  if (IsForeignContainer(other)) {
    work_.readOnly = true;
    return OpenContainer(path);
  }
  if (other == ContainerFormat::kRaw && !HasKdlExtension(path)) return OpenRawImage(path);
  if (!ReadExactly(file(), base, head.data(), head.size())) {
    ShowImageError(kInputError);
    DropFile();
    return -1;
  }
  stored_ = head;
  std::optional<KdlHeader> parsed = ParseKdlHeader(ByteView(head.data(), kKdlHeaderSize));
  if (!parsed) {
    ShowImageError(Format(kNotAnImage, path.c_str()));
    DropFile();
    return -1;
  }
  header = *parsed;
  directory = *ParseTrackDirectory(ByteView(head.data() + kKdlHeaderSize, kTrackDirectorySize));
  // Type-7 images are always read with the table's own geometry, whatever their header holds.
  if (header.mediaType == kMediaTypeDmf) header.geometry = MediaGeometryOf(kMediaTypeDmf);
  if (!IsMediaType(header.mediaType) || !IsUsableGeometry(header.geometry)) {
    ShowImageError(Format(kBadGeometry, path.c_str()));
    DropFile();
    return -1;
  }
  open_ = true;
  LoadFatAndRoot(false);
  return file().fd();
}

int32_t ImageState::OpenRawImage(const std::string& path) {
  BeginOperation();
  preloaded_.clear();
  open_ = false;
  isRaw = false;
  cachedTrack = -1;
  inArchive_ = false;
  base_ = 0;
  work_.readOnly = true;
  if (!own_.Open(path, File::Mode::kRead)) {
    ShowImageError(Format(kCannotOpen, path.c_str()));
    return -1;
  }
  container_.reset();
  std::array<uint8_t, kContainerProbeLength> boot{};
  const int64_t size = own_.Size();
  const int64_t got = own_.ReadAt(0, boot.data(), boot.size());
  if (got < static_cast<int64_t>(kRawProbeLength)) {
    ShowImageError(kInputError);
    own_.Close();
    return -1;
  }
  const ByteView head(boot.data(), static_cast<size_t>(got));
  if (IsForeignContainer(DetectContainer(head, static_cast<uint64_t>(size)))) return OpenContainer(path);
  const int32_t type = MediaTypeFromBootSector(head.Sub(0, kRawProbeLength));
  if (type < 0) {
    ShowImageError(kUnsupportedDisk);
    own_.Close();
    return -1;
  }
  header = MakeKdlHeader(static_cast<int16_t>(type));
  for (std::string& line : header.labels) line.assign(kLabelLineLength, '\0');
  work_.baseOffset = 0;
  isRaw = true;

  directory = RawDirectory(header.geometry);
  open_ = true;
  if (!LoadFatAndRoot(true)) {
    ShowImageError(kInputError);
    open_ = false;
    isRaw = false;
    own_.Close();
    return -1;
  }
  return own_.fd();
}

bool ImageState::ReadArea(bool fromRawFile, int32_t first, int32_t count, std::vector<uint8_t>& out) {
  const size_t sectorSize = static_cast<size_t>(header.geometry.sectorSize);
  out.assign(static_cast<size_t>(std::max(count, 0)) * sectorSize, 0);
  if (fromRawFile) return ReadRaw(static_cast<uint64_t>(first) * sectorSize, out.data(), out.size());
  return ReadSectors(first, count, out.data());
}

ContainerFormat ImageState::ProbeOwnFile() const {
  std::array<uint8_t, kContainerProbeLength> head{};
  const int64_t got = own_.ReadAt(0, head.data(), head.size());
  if (got <= 0) return ContainerFormat::kUnknown;
  const ByteView view(head.data(), static_cast<size_t>(got));
  if (view.size() >= kKdlMagic.size() && view.Equals(0, kKdlMagic)) return ContainerFormat::kUnknown;
  return DetectContainer(view, static_cast<uint64_t>(std::max<int64_t>(own_.Size(), 0)));
}

int32_t ImageState::OpenContainer(const std::string& path) {
  ContainerRead read = ReadContainerFile(path);
  if (!read.disk) {
    ShowImageError(Format(kContainerRefused, path.c_str(), read.error.c_str()));
    own_.Close();
    return -1;
  }
  container_ = std::make_unique<ContainerDisk>(std::move(*read.disk));
  const int32_t type = container_->mediaType;
  header = MakeKdlHeader(static_cast<int16_t>(type));
  for (std::string& line : header.labels) line.assign(kLabelLineLength, '\0');
  // The text the container carries (a D88 disk name, an ImageDisk comment) shows as its label lines.
  const LabelTexts labels = ContainerLabels(*container_);
  for (size_t i = 0; i < labels.size(); ++i) {
    if (!labels[i].empty()) header.SetLabelText(static_cast<int>(i), labels[i]);
  }
  const MediaGeometry& g = header.geometry;
  TakeVolumeLabelFromRoot(ByteView(container_->bytes.data(), static_cast<size_t>(g.trackSize)), header, true);
  work_.baseOffset = 0;
  isRaw = true;
  directory = RawDirectory(g);
  open_ = true;
  LoadFatAndRoot(true);
  return own_.fd();
}

bool ImageState::ReadRaw(uint64_t offset, uint8_t* data, size_t size) {
  if (!container_) return ReadExactly(own_, offset, data, size);
  if (!RangeFits(offset, size, container_->bytes.size())) return false;
  std::memcpy(data, container_->bytes.data() + offset, size);
  return true;
}

std::optional<std::string> ImageState::ContainerUnitProblem(int32_t unit) const {
  if (!container_) return std::nullopt;
  const int32_t perUnit = header.geometry.sectorsPerTrack;
  std::string lines;
  for (const DamagedSector& d : container_->damage) {
    if (d.sector / perUnit == unit) lines += DescribeSectorDamage(container_->mediaType, d) + "\n";
  }
  if (lines.empty()) return std::nullopt;
  lines.pop_back();
  return Format(kDamagedUnit, unit, lines.c_str());
}

bool ImageState::LoadFatAndRoot(bool fromRawFile) {
  const MediaGeometry& g = header.geometry;
  // Units restored while the FAT itself is read must not take clusters as free.
  fat.clear();
  unitFat.clear();
  preloaded_.clear();
  layout = g;
  std::vector<uint8_t> boot;
  bool ok = ReadArea(fromRawFile, 0, 1, boot);
  // The disk's own layout counts only where it keeps the image's track units as they are.
  if (ok) {
    const std::optional<MediaGeometry> own =
        FatLayoutFromBootSector(ByteView(boot.data(), boot.size()), header.mediaType);
    if (own && own->cylinders == g.cylinders && own->sectorSize == g.sectorSize &&
        own->sectorsPerTrack == g.sectorsPerTrack && own->trackSize == g.trackSize)
      layout = *own;
  }
  std::vector<uint8_t> fatBytes;
  unitFatSound = true;  // while it is being read
  unitFatSound = ReadArea(fromRawFile, g.fatStart, g.fatSectors, fatBytes);
  ok = unitFatSound && ok;
  unitFat = std::move(fatBytes);
  // A unit beyond unit 0 restored while the FAT was still unknown must be restored again with it.
  if (cachedTrack > 0) cachedTrack = -1;
  std::vector<uint8_t> fats;
  ok = ReadArea(fromRawFile, layout.fatStart, layout.rootStart - layout.fatStart, fats) && ok;
  fatCopiesAgree = FatCopiesAgree(ByteView(fats.data(), fats.size()), layout);
  fats.resize(
      std::min(fats.size(), static_cast<size_t>(layout.fatSectors) * static_cast<size_t>(layout.sectorSize)));
  fat = std::move(fats);
  std::vector<uint8_t> rootBytes;
  ok = ReadArea(fromRawFile, layout.rootStart, layout.rootSectors, rootBytes) && ok;
  root = DirectoryFromBytes(ByteView(rootBytes.data(), rootBytes.size()));
  if (root.size() > static_cast<size_t>(layout.rootEntries))
    root.resize(static_cast<size_t>(layout.rootEntries));
  CompactDirectory(root);
  clusterBuffer.assign(static_cast<size_t>(layout.clusterSize), 0);
  return ok;
}

void ImageState::CloseImage() {
  preloaded_.clear();
  if (!inArchive_) own_.Close();
  container_.reset();
  inArchive_ = false;
  open_ = false;
  isRaw = false;
  cachedTrack = -1;
  root.clear();
  root.shrink_to_fit();
  fat.clear();
  unitFat.clear();
}

int32_t ImageState::ReadTrack(int32_t unit) {
  if (unit == cachedTrack) return 0;
  cachedTrack = -1;
  if (!open_ || unit < 0 || unit >= header.geometry.cylinders) {
    ++failedReads;
    return -1;
  }
  ++trackLoads;
  if (!LoadTrack(unit)) {
    ++failedReads;
    return -1;
  }
  cachedTrack = unit;
  return 0;
}

bool ImageState::LoadTrack(int32_t unit) {
  const TrackEntry& e = directory[static_cast<size_t>(unit)];
  std::optional<std::string> problem;
  if (container_) {
    // A damaged unit still holds its intact sectors and the fill byte in the rest, but does not read.
    const uint64_t at = static_cast<uint64_t>(e.offset);
    const size_t stored = static_cast<size_t>(e.storedLength);
    if (!ReadRaw(at, workBuffer.data(), stored)) return false;
    const ByteView fatView(unitFat.data(), unitFat.size());
    RestoreTrackUnit(unit, workBuffer.data(), e.dataLength, header, fatView, track.data());
    problem = ContainerUnitProblem(unit);
  } else if (header.omitUnused != 0 && unit > 0 && e.kind != kTrackSameByte && !unitFatSound) {
    problem = Format(kNoUnitFat, unit);
  } else if (static_cast<size_t>(unit) < preloaded_.size() && preloaded_[static_cast<size_t>(unit)].done) {
    const PreloadedUnit& u = preloaded_[static_cast<size_t>(unit)];
    if (!u.problem) {
      std::memcpy(track.data(), u.bytes.data(), track.size());
      return true;
    }
    problem = u.problem;
  } else {
    problem = ReadStoredUnit(file(), base_, unit, e, header, ByteView(unitFat.data(), unitFat.size()), codec_,
                             unitBuffers_, track.data());
  }
  if (!problem) return true;
  ReportOnce("TRK " + std::to_string(unit), *problem);
  return false;
}

void ImageState::SubmitUnits(std::vector<PreloadedUnit>& units, std::vector<std::future<void>>& done) {
  const int32_t cylinders = header.geometry.cylinders;
  units.assign(static_cast<size_t>(cylinders), PreloadedUnit{});
  const File* source = &file();
  const int64_t base = base_;
  const KdlHeader* h = &header;
  const ByteView fatView(unitFat.data(), unitFat.size());
  done.clear();
  done.reserve(units.size());
  for (int32_t i = 0; i < cylinders; ++i) {
    const TrackEntry& e = directory[static_cast<size_t>(i)];
    // A unit that needs a FAT the image does not have is refused by ReadTrack on the user's thread; it is
    // not worth restoring here.
    if (h->omitUnused != 0 && i > 0 && e.kind != kTrackSameByte && !unitFatSound) continue;
    PreloadedUnit* u = &units[static_cast<size_t>(i)];
    done.push_back(work_.pool->Submit([source, base, h, fatView, e, i, u]() {
      thread_local UnitBuffers buffers;
      u->bytes.resize(kTrackBufferSize);
      u->problem = ReadStoredUnit(*source, base, i, e, *h, fatView, ThreadCodec(), buffers, u->bytes.data());
      if (u->problem) u->bytes = {};
      u->done = true;
    }));
  }
}

bool ImageState::AdoptLookAhead() {
  std::unique_ptr<LookAhead> ahead = std::move(lookAhead_);
  if (!ahead) return false;
  ahead->Wait();
  const ImageState& other = *ahead->image;
  if (!inArchive_ || ahead->base != base_ || other.stored_ != stored_ || other.unitFat != unitFat ||
      other.unitFatSound != unitFatSound || other.layout != layout)
    return false;
  for (std::future<void>& f : ahead->done) f.get();
  preloaded_ = std::move(ahead->units);
  return true;
}

void ImageState::StartLookAhead(int64_t base) {
  auto ahead = std::make_unique<LookAhead>();
  ahead->base = base;
  const File& archive = file();
  const int fd = archive.IsOpen() ? ::dup(archive.fd()) : -1;
  if (fd < 0 || !ahead->file.Adopt(fd)) return;
  ahead->work.prompter = &ahead->silent;
  ahead->work.pool = work_.pool;
  ahead->work.archiveFile = &ahead->file;
  ahead->work.baseOffset = base;
  ahead->image = std::make_unique<ImageState>(ahead->work);
  ImageState& next = *ahead->image;
  if (next.OpenImage("") < 0 || next.isRaw) return;
  next.SubmitUnits(ahead->units, ahead->done);
  lookAhead_ = std::move(ahead);
}

void ImageState::PreloadUnits() {
  if (work_.pool == nullptr || !open_ || isRaw) return;
  if (preloaded_.size() == static_cast<size_t>(header.geometry.cylinders)) return;
  if (!AdoptLookAhead()) {
    std::vector<PreloadedUnit> units;
    std::vector<std::future<void>> done;
    SubmitUnits(units, done);
    for (std::future<void>& f : done) f.get();
    preloaded_ = std::move(units);
  }
  if (inArchive_ && work_.followingImage > base_) StartLookAhead(work_.followingImage);
}

void ImageState::DropLookAhead() { lookAhead_.reset(); }

const std::optional<std::string>* ImageState::PreloadedProblem(int32_t unit) const {
  if (unit < 0 || static_cast<size_t>(unit) >= preloaded_.size()) return nullptr;
  const PreloadedUnit& u = preloaded_[static_cast<size_t>(unit)];
  return u.done ? &u.problem : nullptr;
}

bool ImageState::ReportOnce(const std::string& key, std::string_view text) {
  if (!reported_.insert(key).second) return false;
  ShowImageError(text);
  return true;
}

bool ImageState::ReadSectors(int32_t first, int32_t count, uint8_t* dest, std::vector<int32_t>* failedUnits) {
  const MediaGeometry& g = header.geometry;
  if (!open_ || g.sectorsPerTrack <= 0 || g.sectorSize <= 0) return false;
  const size_t sectorSize = static_cast<size_t>(g.sectorSize);
  bool ok = true;
  // A unit that failed is not tried again for the rest of this call: one message per damaged unit is enough.
  int64_t failedUnit = -1;
  for (int64_t s = first; s < static_cast<int64_t>(first) + count; ++s, dest += sectorSize) {
    const int64_t unit = s >= 0 ? s / g.sectorsPerTrack : -1;
    if (unit < 0 || unit >= g.cylinders || unit == failedUnit || ReadTrack(static_cast<int32_t>(unit)) != 0) {
      if (unit >= 0 && unit < g.cylinders && unit != failedUnit) {
        failedUnit = unit;
        if (failedUnits != nullptr) failedUnits->push_back(static_cast<int32_t>(unit));
      }
      std::memset(dest, 0, sectorSize);
      ok = false;
      continue;
    }
    std::memcpy(dest, track.data() + static_cast<size_t>(s % g.sectorsPerTrack) * sectorSize, sectorSize);
  }
  return ok;
}

void ImageState::ShowImageError(std::string_view text) {
  ++errorsShown;
  if (work_.prompter != nullptr) work_.prompter->Ask(kCaptionImage, text, Buttons::kOk, Icon::kStop);
}

bool ImageState::ConfirmCancel(std::string_view operation) {
  const std::string text = Format(kInterrupted, std::string(operation).c_str());
  const Answer answer = work_.prompter != nullptr ? work_.prompter->Ask(kCaptionInterrupt, text,
                                                                        Buttons::kYesNo, Icon::kExclamation)
                                                  : Answer::kNo;
  work_.cancelRequested = false;
  return answer == Answer::kYes;
}

void ImageState::Pump() {
  if (work_.prompter != nullptr && work_.prompter->Pump()) work_.cancelRequested = true;
}

}  // namespace kdl
