#include "browse/fat.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

#include "common/sjis.h"
#include "common/text_format.h"
#include "fat/dos_names.h"
#include "image/listing.h"

namespace kdl {
namespace {

constexpr uint16_t kBadCluster = 0xFF7;
constexpr const char* kBrokenFileChain = "ファイル %s のクラスタチェーンが途中で切れています";
constexpr const char* kBrokenDirectoryChain = "ディレクトリ %s のクラスタチェーンが途中で切れています";
// The long-name buffer: 20 pieces of 13 units.
constexpr size_t kLongNameUnits = 260;

// The highest cluster number a chain may use: the disk's last cluster, and never a chain-end value.
int32_t HighestCluster(const ImageState& image) {
  return std::min<int32_t>(image.layout.lastCluster, kChainEnd - 1);
}

bool IsDataCluster(const ImageState& image, int32_t cluster) {
  return cluster >= 2 && cluster <= HighestCluster(image);
}

// Follows a chain from its first cluster and yields each data cluster once. The walk ends at the chain's end
// mark, at a free or bad entry, at a cluster outside the disk, and at the first cluster seen twice; only the
// first of these is a chain that ends as it should.
class ChainWalk {
 public:
  ChainWalk(ImageState& image, int32_t first)
      : image_(image), next_(first), seen_(static_cast<size_t>(std::max(HighestCluster(image) + 1, 0))) {}

  std::optional<int32_t> Next() {
    if (!IsDataCluster(image_, next_) || seen_[static_cast<size_t>(next_)]) return std::nullopt;
    const int32_t cluster = next_;
    seen_[static_cast<size_t>(cluster)] = true;
    next_ = FatNext(image_, cluster);
    ++count_;
    return cluster;
  }
  // After Next() gave nothing: true when the chain ended with its end mark, or had no cluster at all.
  bool Complete() const { return count_ == 0 ? next_ == 0 : next_ >= kChainEnd; }

 private:
  ImageState& image_;
  int32_t next_;
  std::vector<bool> seen_;
  int32_t count_ = 0;
};

// The long name that the pieces before table[index] spell, or nothing when a piece is missing, out of order,
// carries another checksum, or would run past the 260-unit buffer.
std::optional<std::string> AssembleLongName(const DirectoryTable& table, size_t index) {
  const DirectoryEntry& entry = table[index];
  const size_t pieces = std::min<size_t>(entry.IndexSlot(), index);
  const uint8_t sum = ShortNameChecksum(entry);
  std::array<uint16_t, kLongNameUnits> buffer{};
  for (size_t j = 1; j <= pieces && j * kLongNameUnitsPerEntry <= kLongNameUnits; ++j) {
    const DirectoryEntry& piece = table[index - j];
    if (!piece.IsLongNamePiece() || (piece.Ordinal() & 0x3F) != j || piece.LongNameChecksum() != sum) break;
    const auto units = piece.LongNameUnits();
    std::copy(units.begin(), units.end(),
              buffer.begin() + static_cast<ptrdiff_t>((j - 1) * kLongNameUnitsPerEntry));
    if ((piece.Ordinal() & kLongNameLastPiece) == 0) continue;
    const auto end = std::find(buffer.begin(), buffer.end(), uint16_t{0});
    // An empty long name would leave the entry without a usable name; its 8.3 name stands instead.
    if (end == buffer.begin()) break;
    return Utf16ToUtf8(std::span<const uint16_t>(buffer.data(), static_cast<size_t>(end - buffer.begin())));
  }
  return std::nullopt;
}

// The byte rules of the fixed-width caption, on Shift-JIS bytes.
void NormalizeCaption(std::string& s) {
  if (s.size() != 12 || s[8] != '.') return;
  size_t end = 12;
  for (const size_t p : {size_t{11}, size_t{10}, size_t{9}}) {
    if (s[p] == ' ') end = p;
  }
  if (end == 9) end = 8;
  size_t last = 0;
  for (size_t p = 7; p >= 1; --p) {
    if (s[p] != ' ') {
      last = p;
      break;
    }
  }
  if (last == 7) {
    s.resize(end);
  } else {
    s = s.substr(0, last + 1) + s.substr(8, end - 8);
  }
}

}  // namespace

int32_t FatNext(ImageState& image, int32_t cluster) {
  const uint16_t value = Fat12Entry(ByteView(image.fat.data(), image.fat.size()), cluster);
  image.lastFatValue = value;
  return value == kBadCluster ? 0 : value;
}

bool ReadCluster(ImageState& image, int32_t cluster, uint8_t* buffer, std::vector<int32_t>* failedUnits) {
  const MediaGeometry& g = image.layout;
  if (!IsDataCluster(image, cluster)) {
    std::memset(buffer, 0, static_cast<size_t>(std::max(g.clusterSize, 0)));
    return true;
  }
  return image.ReadSectors((cluster - 2) * g.sectorsPerCluster + g.dataStart, g.sectorsPerCluster, buffer,
                           failedUnits);
}

std::vector<int32_t> ChainClusters(ImageState& image, int32_t first, bool* complete) {
  ChainWalk walk(image, first);
  std::vector<int32_t> clusters;
  while (const std::optional<int32_t> c = walk.Next()) clusters.push_back(*c);
  if (complete != nullptr) *complete = walk.Complete();
  return clusters;
}

int64_t ChainSize(ImageState& image, const DirectoryEntry& entry) {
  ChainWalk walk(image, entry.FirstCluster());
  int64_t count = 0;
  while (walk.Next()) ++count;
  return count * image.layout.clusterSize;
}

int32_t ReadChain(ImageState& image, const DirectoryEntry& entry, uint8_t* buffer, size_t size) {
  const size_t clusterSize = static_cast<size_t>(image.layout.clusterSize);
  ChainWalk walk(image, entry.FirstCluster());
  size_t done = 0;
  while (done + clusterSize <= size) {
    const std::optional<int32_t> cluster = walk.Next();
    if (!cluster) break;
    ReadCluster(image, *cluster, buffer + done);
    done += clusterSize;
  }
  return static_cast<int32_t>(done / kDirectoryEntrySize);
}

DirectoryTable LoadSubdirectory(ImageState& image, const DirectoryEntry& entry) {
  if (entry.IsDotDotEntry() && entry.FirstCluster() == 0) return image.root;
  bool complete = true;
  const std::vector<int32_t> clusters = ChainClusters(image, entry.FirstCluster(), &complete);
  if (!complete) {
    image.ReportOnce("CHAIN " + std::to_string(entry.FirstCluster()),
                     Format(kBrokenDirectoryChain, SjisToUtf8(ShortName(entry)).c_str()));
  }
  std::vector<uint8_t> bytes(clusters.size() * static_cast<size_t>(std::max(image.layout.clusterSize, 0)), 0);
  const int32_t entries = ReadChain(image, entry, bytes.data(), bytes.size());
  DirectoryTable table = DirectoryFromBytes(ByteView(bytes.data(), bytes.size()));
  table.resize(static_cast<size_t>(entries));
  CompactDirectory(table);
  return table;
}

std::string ShortName(const DirectoryEntry& entry) { return CompactShortName(entry, false); }

int EntryDisplayName(const DirectoryTable& table, size_t index, std::string& name) {
  const DirectoryEntry& entry = table.at(index);
  if (entry.IndexSlot() != 0) {
    if (std::optional<std::string> longName = AssembleLongName(table, index)) {
      name = std::move(*longName);
      return 1;
    }
  }
  const std::string sjis = CompactShortName(entry, true);
  const uint8_t flags = entry.CaseFlags();
  name = SjisToUtf8(sjis);
  return (flags & (kCaseLowerName | kCaseLowerExtension)) != 0 ? 2 : 0;
}

const DirectoryEntry* FindEntryByName(const DirectoryTable& table, std::string_view name) {
  std::string candidate;
  for (size_t i = 0; i < table.size(); ++i) {
    const DirectoryEntry& e = table[i];
    if (e.Attribute() == kAttrLongName || (e.Attribute() & kAttrVolumeLabel) != 0) continue;
    EntryDisplayName(table, i, candidate);
    if (candidate == name) return &e;
  }
  return nullptr;
}

// The caption's bytes are Shift-JIS on disk, so the fixed-width rules apply to the Shift-JIS form of the
// UTF-8 text; a text with no Shift-JIS form cannot be a caption and stays as it is.
void NormalizeListName(std::string& text) {
  std::optional<std::string> sjis = Utf8ToSjis(text);
  if (!sjis || sjis->size() != 12) return;
  NormalizeCaption(*sjis);
  text = SjisToUtf8(*sjis);
}

std::string FatDateText(uint16_t time, uint16_t date) { return DateText(time, date); }

std::string DosTimeText(uint32_t dosTime) {
  return DateText(static_cast<uint16_t>(dosTime & 0xFFFF), static_cast<uint16_t>(dosTime >> 16));
}

int CompareDateTexts(std::string_view a, std::string_view b) {
  const auto key = [](std::string_view text) {
    std::array<char, 16> k{};
    const char first = text.empty() ? '\0' : text[0];
    const char* century = (first == '8' || first == '9')   ? "19"
                          : (first >= '0' && first <= '7') ? "20"
                                                           : "00";
    k[0] = century[0];
    k[1] = century[1];
    std::copy_n(text.begin(), std::min<size_t>(text.size(), 14), k.begin() + 2);
    return k;
  };
  const auto ka = key(a), kb = key(b);
  for (size_t i = 0; i < ka.size(); ++i) {
    if (ka[i] != kb[i]) return static_cast<signed char>(ka[i]) - static_cast<signed char>(kb[i]);
  }
  return 0;
}

std::string BrokenChainText(std::string_view name) {
  return Format(kBrokenFileChain, std::string(name).c_str());
}

void OpenFileStream(ImageState& image, const DirectoryEntry& entry) {
  FileStream& s = image.stream;
  s.cluster = entry.FirstCluster();
  s.remaining = entry.Size();
  s.unread = 0;
  s.position = 0;
  s.steps = 0;
  s.seen.assign(static_cast<size_t>(std::max(HighestCluster(image) + 1, 0)), false);
  s.broken = false;
}

int NextFileByte(ImageState& image) {
  FileStream& s = image.stream;
  if (s.remaining == 0) return -1;
  if (s.unread == 0) {
    // A chain that ends, loops or leaves the disk before the size is covered ends the file here.
    if (!IsDataCluster(image, s.cluster) || static_cast<size_t>(s.cluster) >= s.seen.size() ||
        s.seen[static_cast<size_t>(s.cluster)]) {
      s.broken = true;
      s.remaining = 0;
      return -1;
    }
    s.seen[static_cast<size_t>(s.cluster)] = true;
    ReadCluster(image, s.cluster, image.clusterBuffer.data());
    s.cluster = FatNext(image, s.cluster);
    ++s.steps;
    const int32_t clusterSize = image.layout.clusterSize;
    s.unread = static_cast<int32_t>(std::min<uint32_t>(static_cast<uint32_t>(clusterSize), s.remaining));
    s.position = 0;
  }
  --s.remaining;
  --s.unread;
  return image.clusterBuffer[static_cast<size_t>(s.position++)];
}

}  // namespace kdl
