// Track units read from a drive: what is read of a unit, how free clusters are left out or blanked, and the
// comparison of an image with a disk.
#include <algorithm>
#include <cstring>
#include <vector>

#include "image/create.h"
#include "image/drive_messages.h"

namespace kdl {
namespace {

using namespace drive_text;

constexpr uint16_t kBadCluster = 0xFF7;

// The FAT by which free clusters are left out, blanked and restored: the first copy of the header's geometry.
ByteView UnitFatOf(const ImageState& state) { return ByteView(state.unitFat.data(), state.unitFat.size()); }

size_t TrackBytes(const MediaGeometry& g) {
  return std::min(static_cast<size_t>(std::max<int16_t>(g.trackSize, 0)), kTrackBufferSize);
}

// True when logical sector `s` lies in a cluster the disk's own FAT marks bad, by the disk's own layout.
// Where the FAT copies disagree no copy is trusted to say so.
bool InBadCluster(const ImageState& state, int32_t s) {
  const MediaGeometry& g = state.layout;
  if (!state.fatCopiesAgree || s < g.dataStart || g.sectorsPerCluster <= 0) return false;
  const int32_t cluster = (s - g.dataStart) / g.sectorsPerCluster + 2;
  return cluster <= g.lastCluster &&
         Fat12Entry(ByteView(state.fat.data(), state.fat.size()), cluster) == kBadCluster;
}

}  // namespace

int32_t CountUsedClusters(const ImageState& state, int32_t unit, const KdlHeader& header) {
  const UnitClusters c = ClustersOfUnit(unit, header.geometry);
  if (unit == 0) return c.count;
  int32_t used = 0;
  for (int32_t i = 0; i < c.count; ++i)
    used += ClusterHoldsData(Fat12Entry(UnitFatOf(state), c.first + i)) ? 1 : 0;
  return used;
}

int32_t CompactUnit(ImageState& state, const KdlHeader& header, int32_t unit, uint8_t* buffer) {
  const MediaGeometry& g = header.geometry;
  if (unit != 0) return RemoveFreeClusters(unit, buffer, g, UnitFatOf(state));
  const size_t at = static_cast<size_t>(std::max<int16_t>(g.fatStart, 0)) * static_cast<size_t>(g.sectorSize);
  const size_t length =
      static_cast<size_t>(std::max<int16_t>(g.fatSectors, 0)) * static_cast<size_t>(g.sectorSize);
  if (RangeFits(at, length, TrackBytes(g)) && length <= kMaxFatBytes)
    state.unitFat.assign(buffer + at, buffer + at + length);
  else
    state.unitFat.clear();
  return g.trackSize;
}

void BlankFreeClusters(const ImageState& state, const KdlHeader& header, int32_t unit, uint8_t* buffer) {
  if (unit <= 0 || header.omitUnused != 1) return;
  const MediaGeometry& g = header.geometry;
  const UnitClusters c = ClustersOfUnit(unit, g);
  const size_t size = static_cast<size_t>(std::max(g.clusterSize, 0));
  const uint8_t fill = MediaFillByte(header.mediaType);
  for (int32_t i = 0; i < c.count; ++i) {
    const size_t at = static_cast<size_t>(i) * size;
    if (!RangeFits(at, size, TrackBytes(g))) break;
    if (!ClusterHoldsData(Fat12Entry(UnitFatOf(state), c.first + i))) std::memset(buffer + at, fill, size);
  }
}

int32_t ReadUnitFromDrive(ImageState& state, DriveLayer& drives, uint8_t* buffer, bool omitUnused,
                          int32_t unit, const KdlHeader& header, int32_t firstSector) {
  const MediaGeometry& g = header.geometry;
  std::memset(buffer, MediaFillByte(header.mediaType), TrackBytes(g));
  if (omitUnused && CountUsedClusters(state, unit, header) == 0) return 0;

  const int32_t end = firstSector + g.sectorsPerTrack;
  bool anyBad = false;
  for (int32_t s = firstSector; unit > 0 && s < end && !anyBad; ++s) anyBad = InBadCluster(state, s);
  if (!anyBad) return drives.ReadDriveSectors(buffer, firstSector, g.sectorsPerTrack, g.sectorSize);

  // Read around the bad clusters: each run of sectors outside them in one request, the rest keeps the fill.
  int32_t s = firstSector;
  while (s < end) {
    if (InBadCluster(state, s)) {
      ++s;
      continue;
    }
    int32_t runEnd = s + 1;
    while (runEnd < end && !InBadCluster(state, runEnd)) ++runEnd;
    uint8_t* into = buffer + static_cast<size_t>(s - firstSector) * static_cast<size_t>(g.sectorSize);
    const int32_t status = drives.ReadDriveSectors(into, s, runEnd - s, g.sectorSize);
    if (status != 0) return status;
    s = runEnd;
  }
  return 0;
}

int32_t VerifyAgainstDrive(ImageState& state, DriveLayer& drives, int32_t driveNumber,
                           const KdlHeader& header, bool afterRestore) {
  ImageWork& work = state.work();
  Prompter* prompter = work.prompter;
  if (const int32_t type = drives.DetectMediaType(driveNumber); type != header.mediaType) {
    state.ShowImageError(type < 0 && !drives.OpenFailure().empty() ? drives.OpenFailure()
                                                                   : std::string(kMediaDiffers));
    return -1;
  }
  const MediaGeometry& g = header.geometry;
  const size_t trackSize = TrackBytes(g);
  std::vector<uint8_t> buffer(kTrackBufferSize);
  state.cachedTrack = -1;
  drives.OpenDrive(kDriveModeRead, driveNumber - 1);
  if (prompter != nullptr) prompter->SetProgressMaximum(g.cylinders);
  int32_t first = 0;
  int32_t result = 0;
  for (int32_t i = 0; i < g.cylinders; ++i, first += g.sectorsPerTrack) {
    if (prompter != nullptr) {
      prompter->SetProgress(i);
      prompter->SetStatus(Format(kVerifying, i, g.cylinders - 1));
    }
    state.Pump();
    if (work.cancelRequested && state.ConfirmCancel(kOpVerify)) {
      result = -1;
      break;
    }
    if (header.omitUnused != 0 && CountUsedClusters(state, i, header) == 0) continue;
    // A unit the image cannot give back counts as differing: the disk cannot be shown to match it.
    const bool imageRead = state.ReadTrack(i) == 0;
    if (ReadUnitFromDrive(state, drives, buffer.data(), header.omitUnused != 0, i, header, first) != 0) {
      state.ShowImageError(kFddInputError);
      result = -1;
      break;
    }
    if (!afterRestore) {
      BlankFreeClusters(state, header, i, buffer.data());
      BlankFreeClusters(state, header, i, state.track.data());
      state.cachedTrack = -1;
    }
    if (!imageRead || std::memcmp(buffer.data(), state.track.data(), trackSize) != 0) {
      ++result;
      const Answer a = prompter != nullptr
                           ? prompter->Ask(kCaptionVerify, kVerifyDiffers, Buttons::kYesNo, Icon::kQuestion)
                           : Answer::kNo;
      if (a != Answer::kYes) break;
    }
  }
  drives.CloseDrive();
  if (prompter != nullptr) prompter->SetProgress(0);
  return result;
}

}  // namespace kdl
