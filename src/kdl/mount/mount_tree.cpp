#include "kdl/mount/mount_tree.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>

#include "browse/copyout.h"
#include "browse/host_names.h"

namespace kdlmount {
namespace {

namespace fs = std::filesystem;

// A tree deeper than this is cut: no disk of 260-character paths needs more, and a crafted one cannot make a
// walk go on for ever.
constexpr size_t kMaxDepth = 128;
// Host files whose kind and archives whose list are remembered; past these the memory is simply cleared.
constexpr size_t kMaxRememberedKinds = 4096;
constexpr size_t kMaxRememberedArchives = 64;

// Keeps the text of the last message, for telling why a source cannot be mounted.
class KeepLastPrompter : public kdl::Prompter {
 public:
  kdl::Answer Ask(std::string_view, std::string_view text, kdl::Buttons, kdl::Icon) override {
    last = text;
    return kdl::Answer::kNo;
  }
  std::string last;
};

std::string Join(const std::string& folder, const std::string& name) {
  return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      if (i > start) parts.push_back(path.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

timespec HostTime(const struct stat& st) { return st.st_mtim; }

timespec EntryTime(uint16_t time, uint16_t date) {
  // A time the entry cannot hold as a date shows as the first moment DOS knows.
  const auto t = kdl::DosToHostTime(time, date);
  return timespec{t ? *t : kdl::DosToHostTime(0, 0x21).value_or(0), 0};
}

// The mode of a folder made from a file: readable where the file is, searchable where readable.
mode_t FolderModeOf(mode_t fileMode) {
  const mode_t read = fileMode & 0444;
  return S_IFDIR | read | (fileMode & 0222) | (read >> 2);
}

}  // namespace

std::vector<std::string> UniqueNames(const std::vector<std::string>& names) {
  std::set<std::string> used(names.begin(), names.end());
  std::set<std::string> taken;
  std::vector<std::string> out;
  out.reserve(names.size());
  for (const std::string& name : names) {
    if (taken.insert(name).second) {
      out.push_back(name);
      continue;
    }
    for (int k = 2;; ++k) {
      const std::string suffix = "~" + std::to_string(k);
      std::string base = name;
      // Cut the name, never inside a character, so that the suffix fits within 255 bytes.
      while (base.size() + suffix.size() > kdl::kMaxHostNameBytes) {
        base.pop_back();
        while (!base.empty() && (static_cast<uint8_t>(base.back()) & 0xC0) == 0x80) base.pop_back();
        if (!base.empty() && static_cast<uint8_t>(base.back()) >= 0xC0) base.pop_back();
      }
      const std::string candidate = base + suffix;
      if (used.count(candidate) == 0 && taken.insert(candidate).second) {
        out.push_back(candidate);
        break;
      }
    }
  }
  return out;
}

MountTree::MountTree(std::string source, kdl::Prompter& prompter, TreeOptions options)
    : source_(std::move(source)),
      prompter_(prompter),
      cache_(options.cacheBytes),
      pool_(cache_, prompter, options.maxOpenImages) {}

bool MountTree::Open(std::string& error) {
  struct stat st {};
  if (::stat(source_.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    root_ = Node{};
    root_.kind = NodeKind::kFolder;
    root_.hostPath = source_;
    return true;
  }
  // An image, an archive, or one image of an archive: the walk says which, or why not.
  KeepLastPrompter why;
  std::optional<kdl::CollectionImage> image;
  bool archive = false;
  if (::stat(source_.c_str(), &st) == 0 && kdl::ClassifySource(source_, false) == kdl::SourceKind::kArchive) {
    archive = true;
  } else {
    kdl::WalkCollection(source_, why, [&](const kdl::CollectionImage& found) {
      if (!image) image = found;
    });
  }
  if (archive) {
    std::vector<kdl::ArchiveImage> images;
    if (!kdl::ListArchiveImages(source_, why, images) && images.empty()) {
      error = why.last;
      return false;
    }
    root_ = Node{};
    root_.kind = NodeKind::kArchive;
    root_.hostPath = source_;
    return true;
  }
  if (!image) {
    error = why.last.empty() ? source_ + ": no image" : why.last;
    return false;
  }
  // The image must open now: a mount whose root cannot be read helps nobody.
  kdl::UnitCache probeCache(0);
  if (kdl::Volume::Open(image->source, probeCache, why) == nullptr) {
    error = why.last;
    return false;
  }
  root_ = ImageRoot(image->source, image->source.path, 0);
  return true;
}

Node MountTree::ImageRoot(const kdl::VolumeSource& source, const std::string& hostPath, uint32_t imageTime) {
  Node node;
  node.kind = NodeKind::kDirectory;
  node.hostPath = hostPath;
  node.source = source;
  node.imageRoot = true;
  node.imageTime = imageTime;
  return node;
}

kdl::SourceKind MountTree::Classify(const std::string& path) {
  const kdl::FileIdentity identity = kdl::IdentityOf(path);
  {
    const std::lock_guard lock(hostMutex_);
    const auto it = kinds_.find(path);
    if (it != kinds_.end() && it->second.identity == identity) return it->second.kind;
  }
  const kdl::SourceKind kind = kdl::ClassifySource(path, true);
  const std::lock_guard lock(hostMutex_);
  if (kinds_.size() >= kMaxRememberedKinds) kinds_.clear();
  kinds_[path] = Remembered{identity, kind, nullptr};
  return kind;
}

std::shared_ptr<const std::vector<kdl::ArchiveImage>> MountTree::Images(const std::string& archive) {
  const kdl::FileIdentity identity = kdl::IdentityOf(archive);
  {
    const std::lock_guard lock(hostMutex_);
    const auto it = archives_.find(archive);
    if (it != archives_.end() && it->second.identity == identity) return it->second.images;
  }
  auto images = std::make_shared<std::vector<kdl::ArchiveImage>>();
  // A broken chain still shows the images before it; the message has been given.
  kdl::ListArchiveImages(archive, prompter_, *images);
  const std::lock_guard lock(hostMutex_);
  if (archives_.size() >= kMaxRememberedArchives) archives_.clear();
  archives_[archive] = Remembered{identity, kdl::SourceKind::kArchive, images};
  return images;
}

std::optional<Node> MountTree::HostFileNode(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  switch (Classify(path)) {
    case kdl::SourceKind::kImage:
      return ImageRoot(kdl::VolumeSource{path, 0, false, path}, path, 0);
    case kdl::SourceKind::kRawImage:
      return ImageRoot(kdl::VolumeSource{path, 0, true, path}, path, 0);
    case kdl::SourceKind::kArchive: {
      Node node;
      node.kind = NodeKind::kArchive;
      node.hostPath = path;
      return node;
    }
    default:
      return std::nullopt;
  }
}

int MountTree::Lookup(const std::string& path, Node& node) {
  Node at = root_;
  for (const std::string& part : SplitPath(path)) {
    Node next;
    if (const int r = Child(at, part, next); r != 0) return r;
    at = std::move(next);
  }
  node = std::move(at);
  return 0;
}

int MountTree::Child(const Node& parent, const std::string& name, Node& child) {
  switch (parent.kind) {
    case NodeKind::kFile:
      return -ENOTDIR;
    case NodeKind::kFolder: {
      const std::string path = Join(parent.hostPath, name);
      struct stat st {};
      if (::lstat(path.c_str(), &st) != 0) return -ENOENT;
      // A link to a folder is not followed, so no link makes the tree loop; a link to a file is.
      if (S_ISDIR(st.st_mode)) {
        child = Node{};
        child.kind = NodeKind::kFolder;
        child.hostPath = path;
        return 0;
      }
      std::optional<Node> node = HostFileNode(path);
      if (!node) return -ENOENT;
      child = std::move(*node);
      return 0;
    }
    default:
      break;
  }
  std::vector<std::pair<std::string, Node>> children;
  if (const int r = List(parent, children); r != 0) return r;
  for (auto& [childName, node] : children) {
    if (childName == name) {
      child = std::move(node);
      return 0;
    }
  }
  return -ENOENT;
}

int MountTree::List(const Node& node, std::vector<std::pair<std::string, Node>>& children) {
  children.clear();
  switch (node.kind) {
    case NodeKind::kFolder:
      return ListFolder(node, children);
    case NodeKind::kArchive:
      return ListArchive(node, children);
    case NodeKind::kDirectory:
      return ListDirectory(node, children);
    case NodeKind::kFile:
      break;
  }
  return -ENOTDIR;
}

int MountTree::ListFolder(const Node& node, std::vector<std::pair<std::string, Node>>& children) {
  std::error_code ec;
  std::vector<std::string> names;
  for (fs::directory_iterator it(node.hostPath, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  if (ec) return -EIO;
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = Join(node.hostPath, name);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      Node folder;
      folder.kind = NodeKind::kFolder;
      folder.hostPath = path;
      children.emplace_back(name, std::move(folder));
    } else if (std::optional<Node> file = HostFileNode(path)) {
      children.emplace_back(name, std::move(*file));
    }
  }
  return 0;
}

int MountTree::ListArchive(const Node& node, std::vector<std::pair<std::string, Node>>& children) {
  const auto images = Images(node.hostPath);
  std::vector<std::string> names;
  for (const kdl::ArchiveImage& image : *images)
    names.push_back(kdl::SafeHostName(kdl::ArchiveImageFolderName(image)));
  names = UniqueNames(names);
  for (size_t i = 0; i < images->size(); ++i) {
    const kdl::ArchiveImage& image = (*images)[i];
    children.emplace_back(
        names[i], ImageRoot(kdl::ArchiveImageSource(node.hostPath, image), node.hostPath, image.dosTime));
  }
  return 0;
}

int MountTree::ListDirectory(const Node& node, std::vector<std::pair<std::string, Node>>& children) {
  const uint16_t cluster = node.imageRoot ? 0 : node.entry.firstCluster;
  // A directory without a data cluster of its own holds nothing (cluster 0 would read back as the root).
  if (!node.imageRoot && cluster < 2) return 0;
  const std::shared_ptr<kdl::Volume> volume = pool_.Get(node.source);
  if (volume == nullptr) return -EIO;
  const std::shared_ptr<const kdl::VolumeDirectory> directory = volume->Directory(cluster);

  std::vector<uint16_t> path = node.ancestors;
  path.push_back(cluster);
  std::vector<const kdl::VolumeEntry*> shown;
  for (const kdl::VolumeEntry& e : directory->entries) {
    if (e.IsDirectory()) {
      // A directory without a cluster of its own is empty, not the root.
      const bool loops =
          e.firstCluster >= 2 && std::find(path.begin(), path.end(), e.firstCluster) != path.end();
      if (loops || path.size() >= kMaxDepth) continue;
    }
    shown.push_back(&e);
  }
  std::vector<std::string> names;
  names.reserve(shown.size());
  for (const kdl::VolumeEntry* e : shown) names.push_back(kdl::SafeHostName(e->name));
  names = UniqueNames(names);
  for (size_t i = 0; i < shown.size(); ++i) {
    Node child;
    child.kind = shown[i]->IsDirectory() ? NodeKind::kDirectory : NodeKind::kFile;
    child.hostPath = node.hostPath;
    child.source = node.source;
    child.entry = *shown[i];
    child.ancestors = path;
    children.emplace_back(std::move(names[i]), std::move(child));
  }
  return 0;
}

struct stat MountTree::Attributes(const Node& node) {
  struct stat st {};
  st.st_uid = ::getuid();
  st.st_gid = ::getgid();
  st.st_nlink = 1;  // directories too: their link count is not known without listing them
  st.st_blksize = 4096;
  struct stat host {};
  const bool hosted = node.kind == NodeKind::kFolder || node.kind == NodeKind::kArchive || node.imageRoot;
  if (hosted && ::stat(node.hostPath.c_str(), &host) == 0) {
    st.st_mode =
        node.kind == NodeKind::kFolder ? (S_IFDIR | (host.st_mode & 07777)) : FolderModeOf(host.st_mode);
    st.st_atim = st.st_mtim = st.st_ctim = HostTime(host);
    if (node.imageRoot && node.imageTime != 0) {
      st.st_atim = st.st_mtim = st.st_ctim =
          EntryTime(static_cast<uint16_t>(node.imageTime), static_cast<uint16_t>(node.imageTime >> 16));
    }
    return st;
  }
  if (hosted) {
    st.st_mode = S_IFDIR | 0555;
    return st;
  }
  const bool readOnly = (node.entry.attribute & kdl::kAttrReadOnly) != 0;
  if (node.kind == NodeKind::kDirectory) {
    st.st_mode = S_IFDIR | 0755;
  } else {
    st.st_mode = S_IFREG | (readOnly ? 0444 : 0644);
    st.st_size = node.entry.size;
    st.st_blocks = (st.st_size + 511) / 512;
  }
  st.st_atim = st.st_mtim = st.st_ctim = EntryTime(node.entry.time, node.entry.date);
  return st;
}

std::optional<uint8_t> MountTree::DosAttribute(const Node& node) const {
  const uint8_t a = node.entry.attribute;
  // Copy-out keeps the byte unless it is the plain archive bit of a file; a directory's plain bit is 0x10.
  if (node.kind == NodeKind::kFile && a != kdl::kAttrArchive) return a;
  if (node.kind == NodeKind::kDirectory && !node.imageRoot && a != kdl::kAttrDirectory) return a;
  return std::nullopt;
}

int MountTree::Open(const Node& node, OpenFile& file) {
  if (node.kind != NodeKind::kFile) return -EISDIR;
  file.volume = pool_.Get(node.source);
  if (file.volume == nullptr) return -EIO;
  file.map = file.volume->MapFile(node.entry);
  file.readable = file.volume->Readable(file.map);
  return 0;
}

}  // namespace kdlmount
