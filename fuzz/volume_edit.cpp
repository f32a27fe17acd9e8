// Changes a hostile disk: the first input byte picks the media type, the next byte says how many of the
// input's last bytes form a name, and the rest is laid over the start of a freshly formatted disk of that
// type (boot sector, FATs, root and the first clusters). A volume whose chains loop, cross or break off must
// be refused; any other must take a new folder, a new file under the input's own name, a removal, a move,
// attribute and label changes without crashing, without touching memory outside the disk, and without leaving
// damage behind.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fat/format.h"
#include "fat/volume.h"
#include "image/track_encode.h"

namespace {

using namespace kdl;

// The longest overlay: the system area of every type and some of its clusters.
constexpr size_t kMaxOverlay = 64 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int32_t type = data[0] % kMediaTypeCount;
  const size_t nameLength = std::min<size_t>(data[1] % 64, size - 2);
  const std::string name(reinterpret_cast<const char*>(data + size - nameLength), nameLength);
  const size_t overlay = std::min(size - 2 - nameLength, kMaxOverlay);
  std::vector<uint8_t> disk = FormatDisk(type, 1);
  std::copy(data + 2, data + 2 + std::min(overlay, disk.size()), disk.begin());

  FatVolume v(disk, PlanFreeClusters(ByteView(disk.data(), disk.size()), type).layout);
  if (v.FindDamage()) return 0;
  const NewEntry fields{kAttrArchive, 0x6000, 0x3021};
  std::vector<uint8_t> content(3000);
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>(i * 7);

  FatNode folder;
  const bool madeFolder = v.MakeDirectory(kRootDirectory, "New folder", fields, &folder) == FatStatus::kOk;
  v.CreateFile(kRootDirectory, name, ByteView(content.data(), content.size()), fields);
  if (madeFolder)
    v.CreateFile(folder.AsDirectory(), "A long name inside.txt", ByteView(content.data(), 10), fields);
  std::vector<FatNode> children = v.Children(kRootDirectory);
  if (children.size() > 2) v.Remove(children[2]);
  children = v.Children(kRootDirectory);
  if (madeFolder && !children.empty() && children.back().slot != folder.slot)
    v.Move(children.back(), folder.AsDirectory(), "moved " + children.back().Name());
  if (!children.empty()) v.SetAttributes(children.front(), kAttrHidden | kAttrReadOnly);
  v.SetVolumeLabel(MakeVolumeLabel("FUZZED"), fields.time, fields.date);
  v.Resolve("/New folder/moved x");
  // Whatever the disk held, a sound volume stays sound after our changes.
  if (v.FindDamage()) std::abort();
  return 0;
}
