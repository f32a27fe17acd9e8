#include "fat/volume.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <set>

#include "common/sjis.h"

namespace kdl {
namespace {

// The long-name pieces one short entry may gather: 20 pieces of 13 units hold the longest name.
constexpr int kMaxPieces = 20;
constexpr uint8_t kEndOfDirectory = 0x00;
constexpr uint8_t kChangeableAttributes = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive;
// Boot sector fields of the extended BIOS parameter block.
constexpr size_t kBootSignatureAt = 38;
constexpr uint8_t kExtendedBootSignature = 0x29;
constexpr size_t kBootLabelAt = 43;
constexpr std::string_view kNoName = "NO NAME    ";

// A short entry with the fields of `fields`; its name is set when it is added.
DirectoryEntry MakeEntry(uint8_t attribute, const NewEntry& fields, uint16_t firstCluster, uint32_t size) {
  DirectoryEntry e;
  ByteSpan b(e.bytes().data(), e.bytes().size());
  b.PutU8(11, attribute);
  // Creation time and date, and the last access date, are those of the last write.
  b.PutU16(14, fields.time);
  b.PutU16(16, fields.date);
  b.PutU16(18, fields.date);
  e.SetTime(fields.time);
  e.SetDate(fields.date);
  e.SetFirstCluster(firstCluster);
  e.SetSize(size);
  return e;
}

void SetShortName(DirectoryEntry& e, const ShortName11& name) {
  std::copy(name.begin(), name.end(), e.bytes().begin());
}

ShortName11 NameBytes(std::string_view text) {
  ShortName11 n;
  n.fill(' ');
  std::copy_n(text.begin(), std::min(text.size(), n.size()), n.begin());
  return n;
}

}  // namespace

FatVolume::FatVolume(std::span<uint8_t> disk, const MediaGeometry& layout)
    : disk_(disk), layout_(layout), fat_(disk, layout) {}

int64_t FatVolume::BytesTaken(uint64_t size) const {
  const auto cluster = static_cast<uint64_t>(layout_.clusterSize);
  return static_cast<int64_t>((size + cluster - 1) / cluster * cluster);
}

std::vector<size_t> FatVolume::SlotOffsets(uint16_t dir) const {
  std::vector<size_t> offsets;
  if (dir == kRootDirectory) {
    const size_t base = static_cast<size_t>(layout_.rootStart) * static_cast<size_t>(layout_.sectorSize);
    for (int i = 0; i < layout_.rootEntries; ++i) offsets.push_back(base + static_cast<size_t>(i) * 32);
    return offsets;
  }
  const size_t perCluster = static_cast<size_t>(layout_.clusterSize) / kDirectoryEntrySize;
  for (const int32_t cluster : fat_.Chain(dir)) {
    const size_t base = fat_.ClusterOffset(cluster);
    for (size_t i = 0; i < perCluster; ++i) offsets.push_back(base + i * kDirectoryEntrySize);
  }
  return offsets;
}

DirectoryEntry FatVolume::EntryAt(size_t offset) const {
  return DirectoryEntry(ByteView(disk_.data(), disk_.size()).Sub(offset, kDirectoryEntrySize));
}

void FatVolume::PutEntry(size_t offset, const DirectoryEntry& entry) {
  ByteSpan s(disk_.data(), disk_.size());
  for (size_t i = 0; i < kDirectoryEntrySize; ++i) s.PutU8(offset + i, entry.bytes()[i]);
}

std::vector<FatNode> FatVolume::List(uint16_t dir) const {
  std::vector<FatNode> nodes;
  const std::vector<size_t> offsets = SlotOffsets(dir);
  // The long name being gathered: its pieces stand in descending order right before their short entry.
  bool gathering = false;
  int expected = 0;
  uint8_t sum = 0;
  uint32_t start = 0;
  std::array<uint16_t, kMaxPieces * kLongNameUnitsPerEntry> units{};
  for (uint32_t i = 0; i < offsets.size(); ++i) {
    const DirectoryEntry e = EntryAt(offsets[i]);
    if (e.NameByte(0) == kEndOfDirectory) break;
    if (e.IsDeleted()) {
      gathering = false;
      continue;
    }
    if (e.IsLongNamePiece()) {
      const int n = e.Ordinal() & 0x3F;
      if ((e.Ordinal() & kLongNameLastPiece) != 0 && n >= 1 && n <= kMaxPieces) {
        gathering = true;
        sum = e.LongNameChecksum();
        start = i;
        units.fill(0);
      } else if (!gathering || (e.Ordinal() & kLongNameLastPiece) != 0 || n != expected ||
                 e.LongNameChecksum() != sum) {
        gathering = false;
        continue;
      }
      const auto piece = e.LongNameUnits();
      std::copy(piece.begin(), piece.end(), units.begin() + (n - 1) * kLongNameUnitsPerEntry);
      expected = n - 1;
      continue;
    }
    FatNode node;
    node.dir = dir;
    node.firstSlot = node.slot = i;
    node.entry = e;
    node.shortName = SjisToUtf8(CompactShortName(e, true));
    if (gathering && expected == 0 && sum == ShortNameChecksum(e)) {
      node.firstSlot = start;
      const auto end = std::find(units.begin(), units.end(), uint16_t{0});
      node.longName =
          Utf16ToUtf8(std::span<const uint16_t>(units.data(), static_cast<size_t>(end - units.begin())));
    }
    gathering = false;
    nodes.push_back(std::move(node));
  }
  return nodes;
}

std::vector<FatNode> FatVolume::Children(uint16_t dir) const {
  std::vector<FatNode> nodes = List(dir);
  std::erase_if(nodes, [](const FatNode& n) {
    return n.entry.IsDotEntry() || n.entry.IsDotDotEntry() || n.entry.IsVolumeLabel();
  });
  return nodes;
}

std::optional<FatNode> FatVolume::Lookup(uint16_t dir, std::string_view name) const {
  for (FatNode& node : Children(dir)) {
    if ((!node.longName.empty() && SameDosName(node.longName, name)) || SameDosName(node.shortName, name))
      return std::move(node);
  }
  return std::nullopt;
}

std::optional<FatNode> FatVolume::Resolve(std::string_view path) const {
  const std::vector<std::string_view> parts = PathComponents(path);
  if (parts.empty()) return std::nullopt;
  uint16_t dir = kRootDirectory;
  for (size_t k = 0; k < parts.size(); ++k) {
    std::optional<FatNode> node = Lookup(dir, parts[k]);
    if (!node) return std::nullopt;
    if (k + 1 == parts.size()) return node;
    if (!node->IsDirectory() || !fat_.IsDataCluster(node->AsDirectory())) return std::nullopt;
    dir = node->AsDirectory();
  }
  return std::nullopt;
}

std::optional<uint16_t> FatVolume::ResolveDirectory(std::string_view path) const {
  if (PathComponents(path).empty()) return kRootDirectory;
  const std::optional<FatNode> node = Resolve(path);
  if (!node || !node->IsDirectory() || !fat_.IsDataCluster(node->AsDirectory())) return std::nullopt;
  return node->AsDirectory();
}

uint16_t FatVolume::Parent(uint16_t dir) const {
  if (dir == kRootDirectory) return kRootDirectory;
  for (const FatNode& node : List(dir)) {
    if (node.entry.IsDotDotEntry())
      return fat_.IsDataCluster(node.entry.FirstCluster()) ? node.entry.FirstCluster() : kRootDirectory;
  }
  return kRootDirectory;
}

std::string FatVolume::PathOf(uint16_t dir) const {
  std::vector<std::string> names;
  for (int32_t steps = 0; dir != kRootDirectory && steps <= fat_.LastCluster(); ++steps) {
    const uint16_t parent = Parent(dir);
    std::string name = "?";
    for (const FatNode& node : Children(parent)) {
      if (node.IsDirectory() && node.AsDirectory() == dir) name = node.Name();
    }
    names.push_back(name);
    dir = parent;
  }
  std::string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) path += "\\" + *it;
  return path.empty() ? "\\" : path;
}

FatStatus FatVolume::AddRawEntries(uint16_t dir, const std::vector<DirectoryEntry>& entries,
                                   uint32_t* firstSlot) {
  const size_t need = entries.size();
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::vector<size_t> offsets = SlotOffsets(dir);
    size_t end = offsets.size();
    for (size_t i = 0; i < offsets.size(); ++i) {
      if (disk_[offsets[i]] == kEndOfDirectory) {
        end = i;
        break;
      }
    }
    const auto isFree = [&](size_t i) { return i >= end || disk_[offsets[i]] == kDeletedMark; };
    size_t run = 0;
    for (size_t i = 0; i < offsets.size(); ++i) {
      run = isFree(i) ? run + 1 : 0;
      if (run < need) continue;
      const size_t start = i + 1 - need;
      for (size_t k = 0; k < need; ++k) PutEntry(offsets[start + k], entries[k]);
      // Slots past the old end may hold leftovers: the one after the new entries must end the directory.
      if (start + need < offsets.size() && start + need > end) disk_[offsets[start + need]] = kEndOfDirectory;
      if (firstSlot != nullptr) *firstSlot = static_cast<uint32_t>(start);
      return FatStatus::kOk;
    }
    if (dir == kRootDirectory) return FatStatus::kRootFull;
    const std::vector<int32_t> chain = fat_.Chain(dir);
    if (chain.empty()) return FatStatus::kNotFound;
    // A subdirectory grows by as many cleared clusters as the entries need beyond its free slots at the end.
    const size_t perCluster = static_cast<size_t>(layout_.clusterSize) / kDirectoryEntrySize;
    const size_t more = need - run;
    const std::vector<int32_t> added =
        fat_.Allocate(static_cast<int32_t>((more + perCluster - 1) / perCluster));
    if (added.empty()) return FatStatus::kNoRoom;
    for (const int32_t c : added) ZeroCluster(c);
    fat_.Set(chain.back(), static_cast<uint16_t>(added.front()));
  }
  return FatStatus::kNoRoom;
}

FatStatus FatVolume::AddEntry(uint16_t dir, std::string_view name, DirectoryEntry entry, FatNode* created) {
  std::set<ShortName11> taken;
  for (const FatNode& node : List(dir)) taken.insert(ShortNameOf(node.entry));
  const std::optional<EntryNames> names =
      MakeEntryNames(name, [&](const ShortName11& n) { return taken.count(n) != 0; });
  if (!names) return FatStatus::kBadName;
  SetShortName(entry, names->shortName);
  entry.SetCaseFlags(names->caseFlags);
  std::vector<DirectoryEntry> all;
  if (!names->longName.empty()) all = MakeLongNamePieces(names->longName, names->shortName);
  all.push_back(entry);
  uint32_t first = 0;
  const FatStatus status = AddRawEntries(dir, all, &first);
  if (status != FatStatus::kOk || created == nullptr) return status;
  created->dir = dir;
  created->firstSlot = first;
  created->slot = first + static_cast<uint32_t>(all.size() - 1);
  created->entry = entry;
  created->longName = names->longName.empty() ? std::string() : std::string(name);
  created->shortName = SjisToUtf8(CompactShortName(entry, true));
  return FatStatus::kOk;
}

void FatVolume::MarkDeleted(const FatNode& node) {
  const std::vector<size_t> offsets = SlotOffsets(node.dir);
  for (uint32_t s = node.firstSlot; s <= node.slot && s < offsets.size(); ++s)
    disk_[offsets[s]] = kDeletedMark;
}

void FatVolume::ZeroCluster(int32_t cluster) {
  const size_t at = fat_.ClusterOffset(cluster);
  ByteSpan(disk_.data(), disk_.size()).Fill(at, static_cast<size_t>(layout_.clusterSize), 0);
}

FatStatus FatVolume::StoreContent(ByteView content, uint16_t* first) {
  *first = 0;
  if (content.size() == 0) return FatStatus::kOk;
  const size_t clusterSize = static_cast<size_t>(layout_.clusterSize);
  const size_t count = (content.size() + clusterSize - 1) / clusterSize;
  if (count > static_cast<size_t>(fat_.LastCluster())) return FatStatus::kNoRoom;
  const std::vector<int32_t> chain = fat_.Allocate(static_cast<int32_t>(count));
  if (chain.empty()) return FatStatus::kNoRoom;
  ByteSpan out(disk_.data(), disk_.size());
  for (size_t k = 0; k < chain.size(); ++k) {
    const size_t at = fat_.ClusterOffset(chain[k]);
    const size_t n = std::min(clusterSize, content.size() - k * clusterSize);
    // The slack after the file's last byte is cleared rather than left with what the cluster held before.
    out.Fill(at, clusterSize, 0);
    std::memcpy(out.data() + at, content.Sub(k * clusterSize, n).data(), n);
  }
  *first = static_cast<uint16_t>(chain.front());
  return FatStatus::kOk;
}

FatStatus FatVolume::CreateFile(uint16_t dir, std::string_view name, ByteView content, const NewEntry& fields,
                                FatNode* created) {
  if (CheckName(name) != NameFault::kNone) return FatStatus::kBadName;
  if (Lookup(dir, name)) return FatStatus::kExists;
  uint16_t first = 0;
  if (const FatStatus s = StoreContent(content, &first); s != FatStatus::kOk) return s;
  const uint8_t attribute = fields.attribute & kChangeableAttributes;
  return AddEntry(dir, name, MakeEntry(attribute, fields, first, static_cast<uint32_t>(content.size())),
                  created);
}

FatStatus FatVolume::ReplaceFile(const FatNode& node, ByteView content, const NewEntry& fields) {
  if (node.IsDirectory()) return FatStatus::kIsADirectory;
  if (fat_.IsDataCluster(node.entry.FirstCluster())) fat_.FreeChain(node.entry.FirstCluster());
  uint16_t first = 0;
  if (const FatStatus s = StoreContent(content, &first); s != FatStatus::kOk) return s;
  DirectoryEntry e = MakeEntry(fields.attribute & kChangeableAttributes, fields, first,
                               static_cast<uint32_t>(content.size()));
  SetShortName(e, ShortNameOf(node.entry));
  e.SetCaseFlags(node.entry.CaseFlags());
  PutEntry(SlotOffsets(node.dir).at(node.slot), e);
  return FatStatus::kOk;
}

FatStatus FatVolume::MakeDirectory(uint16_t dir, std::string_view name, const NewEntry& fields,
                                   FatNode* created) {
  if (CheckName(name) != NameFault::kNone) return FatStatus::kBadName;
  if (Lookup(dir, name)) return FatStatus::kExists;
  const std::vector<int32_t> cluster = fat_.Allocate(1);
  if (cluster.empty()) return FatStatus::kNoRoom;
  const auto self = static_cast<uint16_t>(cluster.front());
  ZeroCluster(self);
  DirectoryEntry dot = MakeEntry(kAttrDirectory, fields, self, 0);
  SetShortName(dot, NameBytes("."));
  DirectoryEntry dotDot = MakeEntry(kAttrDirectory, fields, dir, 0);
  SetShortName(dotDot, NameBytes(".."));
  const size_t at = fat_.ClusterOffset(self);
  PutEntry(at, dot);
  PutEntry(at + kDirectoryEntrySize, dotDot);
  const auto attribute = static_cast<uint8_t>(kAttrDirectory | (fields.attribute & kChangeableAttributes));
  return AddEntry(dir, name, MakeEntry(attribute, fields, self, 0), created);
}

FatStatus FatVolume::Remove(const FatNode& top) {
  // Everything below a directory, breadth first; removed in reverse, so every entry goes before the
  // directory that holds it. A directory met twice (a damaged disk) is entered once.
  std::vector<FatNode> nodes{top};
  std::vector<bool> entered(static_cast<size_t>(fat_.LastCluster()) + 1);
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (!nodes[i].IsDirectory()) continue;
    const uint16_t dir = nodes[i].AsDirectory();
    if (!fat_.IsDataCluster(dir) || entered[dir]) continue;
    entered[dir] = true;
    for (FatNode& child : Children(dir)) nodes.push_back(std::move(child));
  }
  for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) {
    MarkDeleted(*it);
    if (fat_.IsDataCluster(it->entry.FirstCluster())) fat_.FreeChain(it->entry.FirstCluster());
  }
  return FatStatus::kOk;
}

FatStatus FatVolume::Move(const FatNode& node, uint16_t newDir, std::string_view name) {
  if (CheckName(name) != NameFault::kNone) return FatStatus::kBadName;
  if (node.IsDirectory()) {
    uint16_t d = newDir;
    for (int32_t steps = 0; steps <= fat_.LastCluster(); ++steps) {
      if (d == node.AsDirectory()) return FatStatus::kIntoItself;
      if (d == kRootDirectory) break;
      d = Parent(d);
    }
  }
  const std::optional<FatNode> existing = Lookup(newDir, name);
  if (existing && !(existing->dir == node.dir && existing->slot == node.slot)) return FatStatus::kExists;
  MarkDeleted(node);
  if (const FatStatus s = AddEntry(newDir, name, node.entry, nullptr); s != FatStatus::kOk) return s;
  if (node.IsDirectory() && newDir != node.dir && fat_.IsDataCluster(node.AsDirectory())) {
    const std::vector<size_t> offsets = SlotOffsets(node.AsDirectory());
    for (const FatNode& inside : List(node.AsDirectory())) {
      if (!inside.entry.IsDotDotEntry()) continue;
      DirectoryEntry e = inside.entry;
      e.SetFirstCluster(newDir);
      PutEntry(offsets.at(inside.slot), e);
    }
  }
  return FatStatus::kOk;
}

FatStatus FatVolume::SetAttributes(const FatNode& node, uint8_t attributes) {
  DirectoryEntry e = node.entry;
  e.SetAttribute(
      static_cast<uint8_t>((e.Attribute() & ~kChangeableAttributes) | (attributes & kChangeableAttributes)));
  PutEntry(SlotOffsets(node.dir).at(node.slot), e);
  return FatStatus::kOk;
}

std::optional<DirectoryEntry> FatVolume::VolumeLabel() const {
  for (const FatNode& node : List(kRootDirectory)) {
    if (node.entry.IsVolumeLabel()) return node.entry;
  }
  return std::nullopt;
}

FatStatus FatVolume::SetVolumeLabel(const std::optional<ShortName11>& label, uint16_t time, uint16_t date) {
  std::optional<FatNode> current;
  for (FatNode& node : List(kRootDirectory)) {
    if (node.entry.IsVolumeLabel()) {
      current = std::move(node);
      break;
    }
  }
  if (label) {
    DirectoryEntry e = current ? current->entry : MakeEntry(kAttrVolumeLabel, NewEntry{}, 0, 0);
    SetShortName(e, *label);
    e.SetTime(time);
    e.SetDate(date);
    if (current) {
      PutEntry(SlotOffsets(kRootDirectory).at(current->slot), e);
    } else if (const FatStatus s = AddRawEntries(kRootDirectory, {e}, nullptr); s != FatStatus::kOk) {
      return s;
    }
  } else if (current) {
    MarkDeleted(*current);
  }
  // The boot sector carries the label too when it has the extended parameter block.
  if (disk_.size() > kBootLabelAt + 11 && disk_[kBootSignatureAt] == kExtendedBootSignature) {
    const ShortName11 field = label ? *label : NameBytes(kNoName);
    std::copy(field.begin(), field.end(), disk_.begin() + kBootLabelAt);
  }
  return FatStatus::kOk;
}

std::optional<FatDamage> FatVolume::FindDamage() const {
  // Which chain claimed each cluster: a second claim by the same chain is a loop, by another a cross.
  std::vector<int32_t> owner(static_cast<size_t>(fat_.LastCluster()) + 1, 0);
  int32_t chainId = 0;
  std::vector<std::pair<uint16_t, std::string>> pending{{kRootDirectory, std::string()}};
  while (!pending.empty()) {
    const auto [dir, path] = pending.back();
    pending.pop_back();
    for (const FatNode& node : Children(dir)) {
      const std::string where = path + "\\" + node.Name();
      const int32_t first = node.entry.FirstCluster();
      const uint32_t size = node.entry.Size();
      if (!node.IsDirectory() && first == 0) {
        if (size > 0) return FatDamage{FatDamage::kShort, where};
        continue;
      }
      ++chainId;
      int64_t clusters = 0;
      for (int32_t c = first;;) {
        if (!fat_.IsDataCluster(c)) return FatDamage{FatDamage::kBroken, where};
        int32_t& claimed = owner[static_cast<size_t>(c)];
        if (claimed != 0) return FatDamage{claimed == chainId ? FatDamage::kLoop : FatDamage::kCross, where};
        claimed = chainId;
        ++clusters;
        const uint16_t next = fat_.Get(c);
        if (next >= kFatEndMin) break;
        c = next;
      }
      if (node.IsDirectory()) {
        pending.emplace_back(static_cast<uint16_t>(first), where);
      } else if (clusters * layout_.clusterSize < int64_t{size}) {
        return FatDamage{FatDamage::kShort, where};
      }
    }
  }
  return std::nullopt;
}

}  // namespace kdl
