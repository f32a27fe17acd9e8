// Turning the data bytes of one track unit into its stored form, and whole raw disks into ".KDL" images.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "common/bytes.h"
#include "image/kdl_format.h"

namespace kdl {

// The stored form of one unit: its directory entry (offset not set) and the bytes to write, if any.
struct EncodedUnit {
  TrackEntry entry;
  const uint8_t* stored = nullptr;  // points into the data or into the work buffer
  int32_t storedLength = 0;
};

// Classifies the first `dataLength` bytes of `data`: all equal (also for 0 or 1 bytes) gives a same-byte
// unit filled with data[0] (so `data` always holds at least one byte); otherwise the unit is compressed into
// `work` (kWorkBufferSize bytes) when `compress` is set and that saves at least a tenth, and stored as it is
// when not.
// True when the first `dataLength` bytes of `data` are one repeated byte (also for 0 or 1 bytes): the unit
// is stored as that byte alone.
bool IsSameByteUnit(const uint8_t* data, int32_t dataLength);

EncodedUnit EncodeTrackUnit(const uint8_t* data, int32_t dataLength, bool compress, TrackCodec& codec,
                            uint8_t* work);

// Why every cluster of a disk is stored although free clusters were to be left out.
enum class StoreWholeReason {
  kNone,             // free clusters may be left out
  kOwnLayout,        // the boot sector places FATs, root or clusters elsewhere than the media table
  kFatCopiesDiffer,  // the FAT copies disagree: no single copy tells which clusters are free
};

// What unit 0 of a disk says about its clusters: where they lie and whether the free ones may be left out.
// Free clusters are left out by the table's layout and the first FAT copy (the one reader rule of the
// format), so a disk whose own sound boot sector describes another layout, or whose FAT copies disagree, is
// stored whole.
struct FreeClusterPlan {
  MediaGeometry layout;  // the boot sector's layout when it is sound, else the table's
  StoreWholeReason storeWhole = StoreWholeReason::kNone;
  bool fatCopiesAgree = true;  // bad clusters are skipped only when every copy marks them so
};
// Judges the disk of `mediaType` from the bytes of its unit 0 (at least its boot sector).
FreeClusterPlan PlanFreeClusters(ByteView unit0, int32_t mediaType);
// The first FAT copy of `layout` as far as `unit0` holds it.
std::vector<uint8_t> FirstFatIn(ByteView unit0, const MediaGeometry& layout);

struct KdlWriteOptions {
  bool compress = true;
  bool omitUnused = true;  // forced off for the media types whose units do not start on cluster boundaries
  std::array<std::string, kLabelLineCount> labels;  // Shift-JIS, at most 40 bytes each
};

// Builds a whole ".KDL" image in memory from a raw sector image. The volume label and its date come from the
// root directory in unit 0. Empty when the raw image's boot sector names no supported media type or the image
// is shorter than its media type says.
std::optional<std::vector<uint8_t>> KdlFromRawImage(ByteView raw, const KdlWriteOptions& options,
                                                    TrackCodec& codec);

// The volume-label entry of a root directory held in unit 0: fills the header's label time and date (and the
// 11 name bytes as the label text when `takeName`). False when the root has no label entry.
bool TakeVolumeLabelFromRoot(ByteView unit0, KdlHeader& header, bool takeName);

}  // namespace kdl
