// Arbitrary bytes as an image file (and as a raw sector image when its boot sector names a media type),
// served as a mount would serve them: every directory of the tree listed, every name looked up again, every
// file read in pieces of changing sizes, and the whole image searched by name and contents. Nothing may
// crash, hang or touch memory outside its buffers, and the names shown must stay safe and unique.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "collection/find.h"
#include "collection/volume.h"
#include "kdl/mount/mount_tree.h"

namespace {

using namespace kdl;

// Bounds on the work one input may cause.
constexpr size_t kMaxNodes = 2000;
constexpr uint64_t kMaxFileBytes = 1u << 20;

struct Walk {
  kdlmount::MountTree& tree;
  const uint8_t* data;
  size_t size;
  size_t nodes = 0;
  uint64_t bytes = 0;

  void Directory(const kdlmount::Node& node, const std::string& path) {
    std::vector<std::pair<std::string, kdlmount::Node>> children;
    if (tree.List(node, children) != 0) return;
    std::set<std::string> names;
    for (const auto& [name, child] : children) {
      if (++nodes > kMaxNodes) return;
      // One safe, unique name per entry.
      if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
          !names.insert(name).second)
        std::abort();
      kdlmount::Node again;
      if (tree.Lookup(path + "/" + name, again) != 0) std::abort();
      tree.Attributes(child);
      tree.DosAttribute(child);
      if (child.kind == kdlmount::NodeKind::kDirectory) {
        Directory(child, path + "/" + name);
      } else {
        File(child);
      }
    }
  }

  void File(const kdlmount::Node& node) {
    kdlmount::MountTree::OpenFile file;
    if (tree.Open(node, file) != 0) return;
    std::vector<uint8_t> buffer(70000);
    uint64_t offset = 0;
    for (size_t step = 0; offset < file.map.size && bytes < kMaxFileBytes; ++step) {
      const size_t want = 1 + (size > 0 ? data[step % size] * 257u : 4096u) % buffer.size();
      const int64_t got = file.volume->Read(file.map, offset, want, buffer.data());
      if (got > static_cast<int64_t>(want)) std::abort();
      // Past an unreadable byte the next piece is tried, as a reader skipping damage would.
      offset += got > 0 ? static_cast<uint64_t>(got) : 512;
      bytes += static_cast<uint64_t>(std::max<int64_t>(got, 0));
    }
  }
};

void Serve(const std::string& path, bool raw, const uint8_t* data, size_t size) {
  SilentPrompter prompter;
  // A source that is not a folder, archive or image is refused by Open; the image itself is given.
  kdlmount::TreeOptions options;
  options.cacheBytes = 64u << 10;
  kdlmount::MountTree tree(path, prompter, options);
  std::string error;
  if (!tree.Open(error)) return;
  kdlmount::Node root;
  if (tree.Lookup("/", root) != 0) return;
  Walk walk{tree, data, size};
  walk.Directory(root, "");

  UnitCache cache(64u << 10);
  const std::shared_ptr<Volume> volume = Volume::Open(VolumeSource{path, 0, raw, "fuzz"}, cache, prompter);
  if (volume == nullptr) return;
  FindQuery query;
  query.pattern = "*[A-Z]?*";
  query.text = "日本";
  query.ignoreCase = true;
  const FindMatcher matcher(query);
  size_t hits = 0;
  FindInVolume(*volume, matcher, [&](const FindHit&) { ++hits; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int fd = memfd_create("collection_walk", 0);
  if (fd < 0 || ftruncate(fd, 0) != 0) return 0;
  if (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  Serve(path, MediaTypeFromBootSector(ByteView(data, size)) >= 0, data, size);
  return 0;
}
