#include "collection/volume.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "browse/fat.h"
#include "common/sjis.h"
#include "common/text_format.h"

namespace kdl {
namespace {

constexpr const char* kCannotOpen = "%s がオープンできません";
// Directory entries a volume remembers: every directory of a real disk, while a crafted disk whose clusters
// are all directories cannot make a volume hold more than a few hundred kilobytes.
constexpr size_t kMaxCachedEntries = 4096;

std::atomic<uint64_t> gNextVolumeId{1};

}  // namespace

FileIdentity IdentityOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return FileIdentity{};
  return FileIdentity{st.st_dev, st.st_ino, static_cast<int64_t>(st.st_size),
                      static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

Answer Volume::NamedPrompter::Ask(std::string_view caption, std::string_view text, Buttons buttons,
                                  Icon icon) {
  // Messages that name the file already are passed on as they are.
  if (name_.empty() || text.find(name_) != std::string_view::npos)
    return target_.Ask(caption, text, buttons, icon);
  return target_.Ask(caption, name_ + ": " + std::string(text), buttons, icon);
}

Volume::Volume(const VolumeSource& source, UnitCache& cache, Prompter& prompter)
    : source_(source),
      cache_(cache),
      id_(gNextVolumeId.fetch_add(1)),
      prompter_(prompter, source.name.empty() ? source.path : source.name) {}

Volume::~Volume() { cache_.Forget(id_); }

std::shared_ptr<Volume> Volume::Open(const VolumeSource& source, UnitCache& cache, Prompter& prompter) {
  std::shared_ptr<Volume> volume(new Volume(source, cache, prompter));
  if (!volume->OpenImage()) return nullptr;
  return volume;
}

bool Volume::OpenImage() {
  identity_ = IdentityOf(source_.path);
  work_.prompter = &prompter_;
  work_.dialogMode = kModeCreate;
  image_ = std::make_unique<ImageState>(work_);
  int32_t handle = -1;
  if (source_.baseOffset > 0) {
    // The archive is read through a handle of this volume's own, so that volumes never share a position.
    if (!archiveFile_.Open(source_.path, File::Mode::kRead)) {
      prompter_.Ask(kCaptionImage, Format(kCannotOpen, source_.path.c_str()), Buttons::kOk, Icon::kStop);
      return false;
    }
    work_.archiveFile = &archiveFile_;
    work_.baseOffset = source_.baseOffset;
    handle = image_->OpenImage(source_.name.empty() ? source_.path : source_.name);
  } else if (source_.raw) {
    handle = image_->OpenRawImage(source_.path);
  } else {
    handle = image_->OpenImage(source_.path);
  }
  if (handle < 0) return false;
  header_ = image_->header;
  // The disk's own layout where its boot sector describes one; the units follow the header either way.
  geometry_ = image_->layout;
  fat_ = image_->fat;
  return true;
}

std::shared_ptr<const UnitCache::Bytes> Volume::Unit(int32_t unit) {
  if (unit < 0 || unit >= geometry_.cylinders || unit >= kTrackDirectoryEntries) return nullptr;
  if (auto bytes = cache_.Find(id_, unit)) return bytes;
  const std::lock_guard lock(imageMutex_);
  UnitState& state = units_[static_cast<size_t>(unit)];
  // A damaged unit is read once: the message is given once and the answer stays the same.
  if (state == UnitState::kDamaged) return nullptr;
  // Another thread may have loaded it while this one waited.
  if (auto bytes = cache_.Find(id_, unit)) return bytes;
  if (image_->ReadTrack(unit) != 0) {
    state = UnitState::kDamaged;
    return nullptr;
  }
  const size_t length = std::min<size_t>(
      static_cast<size_t>(geometry_.sectorsPerTrack) * static_cast<size_t>(geometry_.sectorSize),
      image_->track.size());
  auto bytes = std::make_shared<const UnitCache::Bytes>(
      image_->track.begin(), image_->track.begin() + static_cast<ptrdiff_t>(length));
  state = UnitState::kGood;
  cache_.Insert(id_, unit, bytes);
  return bytes;
}

std::vector<int32_t> Volume::DamagedUnits() const {
  const std::lock_guard lock(imageMutex_);
  std::vector<int32_t> out;
  for (size_t u = 0; u < units_.size(); ++u) {
    if (units_[u] == UnitState::kDamaged) out.push_back(static_cast<int32_t>(u));
  }
  return out;
}

void Volume::Report(std::string_view text) { prompter_.Ask(kCaptionImage, text, Buttons::kOk, Icon::kStop); }

std::vector<int32_t> Volume::Chain(int32_t first, size_t limit) const {
  const int32_t highest = std::min<int32_t>(geometry_.lastCluster, kChainEnd - 1);
  std::vector<int32_t> chain;
  std::vector<bool> seen(static_cast<size_t>(std::max(highest + 1, 0)), false);
  const ByteView fat(fat_.data(), fat_.size());
  // Ends at the end mark, a free or bad entry, a cluster outside the disk, or the first cluster met twice.
  for (int32_t c = first; c >= 2 && c <= highest && !seen[static_cast<size_t>(c)] && chain.size() < limit;) {
    seen[static_cast<size_t>(c)] = true;
    chain.push_back(c);
    const uint16_t next = Fat12Entry(fat, c);
    c = next == 0xFF7 ? 0 : next;
  }
  return chain;
}

FileMap Volume::MapFile(const VolumeEntry& entry) const {
  FileMap map;
  map.size = entry.size;
  const auto clusterSize = static_cast<uint64_t>(std::max<int32_t>(geometry_.clusterSize, 1));
  const size_t needed = static_cast<size_t>((entry.size + clusterSize - 1) / clusterSize);
  map.clusters = Chain(entry.firstCluster, needed);
  map.readable = static_cast<uint32_t>(std::min<uint64_t>(entry.size, map.clusters.size() * clusterSize));
  return map;
}

template <typename Fn>
void Volume::ForEachPiece(const FileMap& file, uint64_t begin, uint64_t end, Fn&& fn) {
  const MediaGeometry& g = geometry_;
  const auto clusterSize = static_cast<uint64_t>(g.clusterSize);
  const auto sectorSize = static_cast<uint64_t>(g.sectorSize);
  std::shared_ptr<const UnitCache::Bytes> unitBytes;
  int64_t loaded = -1;
  for (uint64_t pos = begin; pos < end;) {
    uint64_t n = end - pos;
    const uint8_t* src = nullptr;
    if (pos < file.readable && clusterSize > 0 && sectorSize > 0 && g.sectorsPerTrack > 0) {
      const uint64_t within = pos % clusterSize;
      const int64_t sector =
          static_cast<int64_t>(file.clusters[pos / clusterSize] - 2) * g.sectorsPerCluster + g.dataStart +
          static_cast<int64_t>(within / sectorSize);
      const uint64_t inSector = within % sectorSize;
      n = std::min({sectorSize - inSector, n, file.readable - pos});
      const int64_t unit = sector / g.sectorsPerTrack;
      if (unit != loaded) {
        unitBytes = unit < kTrackDirectoryEntries ? Unit(static_cast<int32_t>(unit)) : nullptr;
        loaded = unit;
      }
      const uint64_t at = static_cast<uint64_t>(sector % g.sectorsPerTrack) * sectorSize + inSector;
      if (unitBytes != nullptr && at + n <= unitBytes->size()) src = unitBytes->data() + at;
    } else if (pos < file.readable) {
      n = file.readable - pos;
    }
    if (!fn(pos, src, n)) return;
    pos += n;
  }
}

int64_t Volume::Read(const FileMap& file, uint64_t offset, size_t size, uint8_t* out) {
  if (offset >= file.size || size == 0) return 0;
  const uint64_t end = std::min<uint64_t>(offset + size, file.size);
  int64_t copied = 0;
  bool failedAtStart = false;
  ForEachPiece(file, offset, end, [&](uint64_t pos, const uint8_t* src, uint64_t n) {
    if (src == nullptr) {
      failedAtStart = pos == offset;
      return false;
    }
    std::memcpy(out + (pos - offset), src, n);
    copied += static_cast<int64_t>(n);
    return true;
  });
  return failedAtStart ? -1 : copied;
}

bool Volume::Readable(const FileMap& file) {
  bool readable = true;
  ForEachPiece(file, 0, file.size, [&](uint64_t, const uint8_t* src, uint64_t) {
    readable = src != nullptr;
    return readable;
  });
  return readable;
}

std::vector<uint8_t> Volume::ReadAll(const FileMap& file,
                                     std::vector<std::pair<uint64_t, uint64_t>>& readable) {
  std::vector<uint8_t> bytes(file.size, 0);
  readable.clear();
  ForEachPiece(file, 0, file.size, [&](uint64_t pos, const uint8_t* src, uint64_t n) {
    if (src == nullptr) return true;
    std::memcpy(bytes.data() + pos, src, n);
    if (!readable.empty() && readable.back().second == pos)
      readable.back().second = pos + n;
    else
      readable.emplace_back(pos, pos + n);
    return true;
  });
  return bytes;
}

bool Volume::AppendSectors(int64_t first, int64_t count, std::vector<uint8_t>& bytes) {
  const MediaGeometry& g = geometry_;
  if (g.sectorsPerTrack <= 0 || g.sectorSize <= 0) return false;
  const auto sectorSize = static_cast<size_t>(g.sectorSize);
  bool complete = true;
  for (int64_t s = first; s < first + count; ++s) {
    const int64_t unit = s / g.sectorsPerTrack;
    const auto unitBytes =
        s >= 0 && unit < kTrackDirectoryEntries ? Unit(static_cast<int32_t>(unit)) : nullptr;
    const size_t at = static_cast<size_t>(s % g.sectorsPerTrack) * sectorSize;
    if (unitBytes == nullptr || at + sectorSize > unitBytes->size()) {
      complete = false;
      continue;
    }
    bytes.insert(bytes.end(), unitBytes->begin() + static_cast<ptrdiff_t>(at),
                 unitBytes->begin() + static_cast<ptrdiff_t>(at + sectorSize));
  }
  return complete;
}

std::shared_ptr<const VolumeDirectory> Volume::LoadDirectory(uint16_t cluster) {
  const MediaGeometry& g = geometry_;
  std::vector<uint8_t> bytes;
  bool complete = true;
  if (cluster == 0) {
    complete = AppendSectors(g.rootStart, g.rootSectors, bytes);
  } else {
    for (const int32_t c : Chain(cluster, SIZE_MAX)) {
      complete &= AppendSectors(static_cast<int64_t>(c - 2) * g.sectorsPerCluster + g.dataStart,
                                g.sectorsPerCluster, bytes);
    }
  }
  DirectoryTable table = DirectoryFromBytes(ByteView(bytes.data(), bytes.size()));
  if (cluster == 0 && table.size() > static_cast<size_t>(std::max<int16_t>(g.rootEntries, 0)))
    table.resize(static_cast<size_t>(g.rootEntries));
  CompactDirectory(table);

  auto directory = std::make_shared<VolumeDirectory>();
  directory->damaged = !complete;
  for (size_t i = 0; i < table.size(); ++i) {
    const DirectoryEntry& e = table[i];
    // "." and ".." are the directory's own places; a file that calls itself ".." is shown like any other.
    if (e.IsLongNamePiece() || e.IsVolumeLabel() ||
        (e.IsDirectory() && (e.IsDotEntry() || e.IsDotDotEntry())))
      continue;
    VolumeEntry v;
    EntryDisplayName(table, i, v.name);
    v.shortName = SjisToUtf8(ShortName(e));
    v.attribute = e.Attribute();
    v.time = e.Time();
    v.date = e.Date();
    v.firstCluster = e.FirstCluster();
    v.size = v.IsDirectory() ? 0 : e.Size();
    directory->entries.push_back(std::move(v));
  }
  return directory;
}

std::shared_ptr<const VolumeDirectory> Volume::Directory(uint16_t cluster) {
  {
    const std::lock_guard lock(directoryMutex_);
    if (const auto it = directories_.find(cluster); it != directories_.end()) return it->second;
  }
  std::shared_ptr<const VolumeDirectory> directory = LoadDirectory(cluster);
  const std::lock_guard lock(directoryMutex_);
  // A crafted disk can make every cluster a directory; past a bound the listings are simply made again.
  if (directoryEntries_ + directory->entries.size() > kMaxCachedEntries) {
    directories_.clear();
    directoryEntries_ = 0;
  }
  if (directories_.emplace(cluster, directory).second) directoryEntries_ += directory->entries.size();
  return directory;
}

}  // namespace kdl
