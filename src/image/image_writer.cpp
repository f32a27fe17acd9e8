#include "image/image_writer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "common/text_format.h"
#include "image/output_file.h"
#include "image/track_encode.h"

namespace kdl {
namespace {

constexpr const char* kCannotCreate = "ファイルが作成できません";
constexpr const char* kWriteError = "ファイル出力エラー";
constexpr const char* kCheckFailed = "書き込んだイメージを読み直すと内容が違います（TRK %d）";
constexpr const char* kWriting = "出力中　　：TRK %3d / %2d         ";
constexpr std::string_view kOpCreate = "ＫＤＬ作成";
constexpr std::string_view kOpRawCreate = "Image File 作成";
constexpr std::string_view kOpUpdate = "ＫＤＬ更新";

// The temporary file a writer fills, every write passing the gate first.
class GatedOutput {
 public:
  explicit GatedOutput(const WriteGate& gate) : gate_(gate) {}
  bool Create(const std::string& target) { return Pass() && file_.Create(target); }
  bool Write(uint64_t offset, const uint8_t* data, size_t size) {
    return Pass() && file_.file().WriteAt(offset, data, size) == static_cast<int64_t>(size);
  }
  bool Commit() {
    if (!Pass()) {
      file_.Discard();
      return false;
    }
    return file_.Commit();
  }
  const std::string& tempPath() const { return file_.tempPath(); }

 private:
  bool Pass() const { return !gate_ || gate_(); }
  const WriteGate& gate_;
  ReplacingFile file_;
};

// The first FAT copy where the image reader takes it from: the clusters it restores depend on it.
ByteView ReaderFat(const std::vector<uint8_t>& disk, const MediaGeometry& g) {
  const size_t sectorSize = static_cast<size_t>(g.sectorSize);
  return ByteView(disk.data(), disk.size())
      .Sub(static_cast<size_t>(g.fatStart) * sectorSize, static_cast<size_t>(g.fatSectors) * sectorSize);
}

// The clusters of a unit that hold data, in unit order.
std::vector<bool> UsedClusters(int unit, const MediaGeometry& g, ByteView fat) {
  const UnitClusters c = ClustersOfUnit(unit, g);
  std::vector<bool> used(static_cast<size_t>(std::max(c.count, 0)));
  for (int32_t i = 0; i < c.count; ++i)
    used[static_cast<size_t>(i)] = ClusterHoldsData(Fat12Entry(fat, c.first + i));
  return used;
}

// True when a unit read back holds what the disk holds, leaving out free clusters when the image does.
bool UnitMatches(const uint8_t* read, const uint8_t* expected, int unit, const MediaGeometry& g, bool omit,
                 ByteView fat) {
  if (unit == 0 || !omit) return std::memcmp(read, expected, static_cast<size_t>(g.trackSize)) == 0;
  const std::vector<bool> used = UsedClusters(unit, g, fat);
  const size_t size = static_cast<size_t>(g.clusterSize);
  for (size_t i = 0; i < used.size(); ++i) {
    if (used[i] && std::memcmp(read + i * size, expected + i * size, size) != 0) return false;
  }
  return true;
}

// Everything a ".KDL" writer needs besides the disk.
struct KdlPlan {
  std::array<uint8_t, kKdlHeaderSize> header{};  // as it is to be stored
  MediaGeometry geometry;                        // as the reader will use it
  int32_t mediaType = 0;
  bool omitUnused = false;
  bool compress = true;
  std::string_view operation;
  // The open image whose stored units may be copied, and which units to copy; null for a new image.
  ImageState* source = nullptr;
  std::array<bool, kTrackDirectoryEntries> reuse{};
};

bool ReportProgress(ImageState& state, int32_t unit, int32_t last, std::string_view operation) {
  if (Prompter* p = state.work().prompter) {
    p->SetProgress(unit);
    p->SetStatus(Format(kWriting, unit, last));
  }
  state.Pump();
  return !(state.work().cancelRequested && state.ConfirmCancel(operation));
}

// Writes the units and then the header and directory into `out`; the image length, or -1.
int32_t WriteKdl(ImageState& state, GatedOutput& out, const KdlPlan& plan, const std::vector<uint8_t>& disk) {
  const MediaGeometry& g = plan.geometry;
  const ByteView fat = ReaderFat(disk, g);
  if (Prompter* p = state.work().prompter) p->SetProgressMaximum(g.cylinders);
  TrackDirectory directory{};
  std::vector<uint8_t> unit(kTrackBufferSize), stored(kWorkBufferSize), work(kWorkBufferSize);
  int32_t offset = kTrackDataOffset;
  for (int32_t t = 0; t < g.cylinders; ++t) {
    if (!ReportProgress(state, t, g.cylinders - 1, plan.operation)) return -1;
    TrackEntry entry;
    const uint8_t* bytes = nullptr;
    int32_t length = 0;
    if (plan.source != nullptr && plan.reuse[static_cast<size_t>(t)]) {
      entry = plan.source->directory[static_cast<size_t>(t)];
      length = entry.kind == kTrackSameByte ? 0 : entry.storedLength;
      const uint64_t at =
          static_cast<uint64_t>(plan.source->baseOffset()) + static_cast<uint64_t>(entry.offset);
      if (plan.source->file().ReadAt(at, stored.data(), static_cast<size_t>(length)) != length) {
        state.ShowImageError(kWriteError);
        return -1;
      }
      bytes = stored.data();
    } else {
      const size_t trackSize = static_cast<size_t>(g.trackSize);
      std::memcpy(unit.data(), disk.data() + static_cast<size_t>(t) * trackSize, trackSize);
      const int32_t data = plan.omitUnused ? RemoveFreeClusters(t, unit.data(), g, fat) : g.trackSize;
      // A unit without a used cluster is stored as the media fill byte, as if it had never been read.
      if (data == 0) unit[0] = MediaFillByte(plan.mediaType);
      const EncodedUnit e = EncodeTrackUnit(unit.data(), data, plan.compress, state.codec(), work.data());
      entry = e.entry;
      bytes = e.stored;
      length = e.storedLength;
    }
    entry.offset = offset;
    if (length > 0 && !out.Write(static_cast<uint64_t>(offset), bytes, static_cast<size_t>(length))) {
      state.ShowImageError(kWriteError);
      return -1;
    }
    offset += length;
    directory[static_cast<size_t>(t)] = entry;
  }
  std::vector<uint8_t> head(kTrackDataOffset, 0);
  std::copy(plan.header.begin(), plan.header.end(), head.begin());
  SerializeTrackDirectory(directory, ByteSpan(head.data() + kKdlHeaderSize, kTrackDirectorySize));
  if (!out.Write(0, head.data(), head.size())) {
    state.ShowImageError(kWriteError);
    return -1;
  }
  return offset;
}

// Reads the new ".KDL" file back through the image reader and compares every unit with the disk.
bool CheckKdl(ImageState& state, const std::string& file, const KdlPlan& plan,
              const std::vector<uint8_t>& disk) {
  const MediaGeometry& g = plan.geometry;
  const ByteView fat = ReaderFat(disk, g);
  ImageWork work;
  ImageState reader(work);
  int32_t bad = reader.OpenImage(file) < 0 ? 0 : -1;
  for (int32_t t = 0; bad < 0 && t < g.cylinders; ++t) {
    const uint8_t* expected = disk.data() + static_cast<size_t>(t) * static_cast<size_t>(g.trackSize);
    if (reader.ReadTrack(t) != 0 || !UnitMatches(reader.track.data(), expected, t, g, plan.omitUnused, fat))
      bad = t;
  }
  reader.CloseImage();
  if (bad >= 0) state.ShowImageError(Format(kCheckFailed, bad));
  return bad < 0;
}

// Writes a raw image: the disk, then `tail` (what followed the disk in the old file).
int32_t WriteRaw(ImageState& state, GatedOutput& out, const std::vector<uint8_t>& disk,
                 const MediaGeometry& g, const std::vector<uint8_t>& tail, std::string_view operation) {
  if (Prompter* p = state.work().prompter) p->SetProgressMaximum(g.cylinders);
  const size_t trackSize = static_cast<size_t>(g.trackSize);
  for (int32_t t = 0; t < g.cylinders; ++t) {
    if (!ReportProgress(state, t, g.cylinders - 1, operation)) return -1;
    const uint64_t at = static_cast<uint64_t>(t) * trackSize;
    if (!out.Write(at, disk.data() + at, trackSize)) {
      state.ShowImageError(kWriteError);
      return -1;
    }
  }
  if (!tail.empty() && !out.Write(disk.size(), tail.data(), tail.size())) {
    state.ShowImageError(kWriteError);
    return -1;
  }
  return static_cast<int32_t>(disk.size());
}

bool CheckRaw(ImageState& state, const std::string& file, const std::vector<uint8_t>& disk,
              const std::vector<uint8_t>& tail) {
  File in;
  std::vector<uint8_t> back(disk.size() + tail.size());
  const bool same = in.Open(file, File::Mode::kRead) && in.Size() == static_cast<int64_t>(back.size()) &&
                    in.ReadAt(0, back.data(), back.size()) == static_cast<int64_t>(back.size()) &&
                    std::equal(disk.begin(), disk.end(), back.begin()) &&
                    std::equal(tail.begin(), tail.end(), back.begin() + static_cast<ptrdiff_t>(disk.size()));
  if (!same) state.ShowImageError(Format(kCheckFailed, 0));
  return same;
}

// Runs a writer into a temporary file beside `target`, checks what it wrote, and puts it in the target's
// place.
int32_t WriteChecked(ImageState& state, const std::string& target, const WriteGate& gate,
                     const std::function<int32_t(GatedOutput&)>& write,
                     const std::function<bool(const std::string&)>& check) {
  GatedOutput out(gate);
  if (!out.Create(target)) {
    state.ShowImageError(kCannotCreate);
    return -1;
  }
  int32_t length = write(out);
  if (Prompter* p = state.work().prompter) {
    p->SetProgress(0);
    p->SetStatus("");
  }
  if (length >= 0 && !check(out.tempPath())) length = -1;
  if (length >= 0 && !out.Commit()) {
    state.ShowImageError(kWriteError);
    length = -1;
  }
  return length;
}

}  // namespace

bool StoresCompressed(const TrackDirectory& directory, int32_t cylinders) {
  bool plain = false;
  for (int32_t t = 0; t < cylinders && t < kTrackDirectoryEntries; ++t) {
    const uint8_t kind = directory[static_cast<size_t>(t)].kind;
    if (kind == kTrackCompressed) return true;
    plain = plain || kind == kTrackNormal;
  }
  return !plain;
}

bool ReadWholeDisk(ImageState& image, std::vector<uint8_t>& disk) {
  const MediaGeometry& g = image.header.geometry;
  const size_t trackSize = static_cast<size_t>(g.trackSize);
  disk.assign(trackSize * static_cast<size_t>(g.cylinders), 0);
  for (int32_t t = 0; t < g.cylinders; ++t) {
    if (image.ReadTrack(t) != 0) return false;
    std::memcpy(disk.data() + static_cast<size_t>(t) * trackSize, image.track.data(), trackSize);
  }
  return true;
}

int32_t WriteNewImage(ImageState& state, const std::string& target, const std::vector<uint8_t>& disk,
                      const KdlHeader* header, bool compress, const WriteGate& gate) {
  if (header == nullptr) {
    const int32_t type = MediaTypeFromBootSector(ByteView(disk.data(), disk.size()));
    if (type < 0) return -1;
    const MediaGeometry g = MediaGeometryOf(type);
    return WriteChecked(
        state, target, gate,
        [&](GatedOutput& out) { return WriteRaw(state, out, disk, g, {}, kOpRawCreate); },
        [&](const std::string& file) { return CheckRaw(state, file, disk, {}); });
  }
  KdlPlan plan;
  SerializeKdlHeader(*header, ByteSpan(plan.header.data(), plan.header.size()));
  plan.geometry = header->geometry;
  plan.mediaType = header->mediaType;
  plan.omitUnused = header->omitUnused != 0;
  plan.compress = compress;
  plan.operation = kOpCreate;
  return WriteChecked(
      state, target, gate, [&](GatedOutput& out) { return WriteKdl(state, out, plan, disk); },
      [&](const std::string& file) { return CheckKdl(state, file, plan, disk); });
}

int32_t RewriteImage(ImageState& image, const std::string& path, const std::vector<uint8_t>& before,
                     const std::vector<uint8_t>& after, const std::optional<HeaderLabel>& label,
                     const WriteGate& gate) {
  const MediaGeometry& g = image.header.geometry;
  if (image.isRaw) {
    const int64_t size = image.file().Size();
    std::vector<uint8_t> tail(
        size > static_cast<int64_t>(after.size()) ? static_cast<size_t>(size) - after.size() : 0);
    if (!tail.empty() &&
        image.file().ReadAt(after.size(), tail.data(), tail.size()) != static_cast<int64_t>(tail.size())) {
      image.ShowImageError(kWriteError);
      return -1;
    }
    return WriteChecked(
        image, path, gate, [&](GatedOutput& out) { return WriteRaw(image, out, after, g, tail, kOpUpdate); },
        [&](const std::string& file) { return CheckRaw(image, file, after, tail); });
  }
  KdlPlan plan;
  if (image.file().ReadAt(static_cast<uint64_t>(image.baseOffset()), plan.header.data(), kKdlHeaderSize) !=
      static_cast<int64_t>(kKdlHeaderSize)) {
    image.ShowImageError(kWriteError);
    return -1;
  }
  if (label) {
    ByteSpan h(plan.header.data(), plan.header.size());
    h.PutText(kdl_header::kVolumeLabel, kVolumeLabelLength, label->volumeLabel.substr(0, kVolumeLabelLength));
    h.PutU16(kdl_header::kLabelTime, label->time);
    h.PutU16(kdl_header::kLabelDate, label->date);
  }
  plan.geometry = g;
  plan.mediaType = image.header.mediaType;
  plan.omitUnused = image.header.omitUnused != 0;
  plan.compress = StoresCompressed(image.directory, g.cylinders);
  plan.operation = kOpUpdate;
  plan.source = &image;
  // A unit is copied as stored when its bytes are the same and, with free clusters left out, so is the set of
  // its clusters that hold data: the stored bytes depend on both.
  const ByteView oldFat = ReaderFat(before, g), newFat = ReaderFat(after, g);
  const size_t trackSize = static_cast<size_t>(g.trackSize);
  for (int32_t t = 0; t < g.cylinders; ++t) {
    const size_t at = static_cast<size_t>(t) * trackSize;
    const bool same = std::equal(after.begin() + static_cast<ptrdiff_t>(at),
                                 after.begin() + static_cast<ptrdiff_t>(at + trackSize),
                                 before.begin() + static_cast<ptrdiff_t>(at));
    const bool sameClusters =
        t == 0 || !plan.omitUnused || UsedClusters(t, g, oldFat) == UsedClusters(t, g, newFat);
    plan.reuse[static_cast<size_t>(t)] = same && sameClusters;
  }
  return WriteChecked(
      image, path, gate, [&](GatedOutput& out) { return WriteKdl(image, out, plan, after); },
      [&](const std::string& file) { return CheckKdl(image, file, plan, after); });
}

}  // namespace kdl
