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
constexpr size_t kMaxRememberedKinds = 16384;
constexpr size_t kMaxRememberedArchives = 64;
// Directory entries remembered with their names, all listings together (a few megabytes).
constexpr size_t kMaxRememberedEntries = 32768;

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
    const std::lock_guard lock(cacheMutex_);
    const auto it = kinds_.find(path);
    if (it != kinds_.end() && it->second.first == identity) return it->second.second;
  }
  const kdl::SourceKind kind = kdl::ClassifySource(path, true);
  const std::lock_guard lock(cacheMutex_);
  if (kinds_.size() >= kMaxRememberedKinds) kinds_.clear();
  kinds_[path] = {identity, kind};
  return kind;
}

MountTree::Names::Names(const std::vector<std::string>& raw) {
  std::vector<std::string> safe;
  safe.reserve(raw.size());
  for (const std::string& name : raw) safe.push_back(kdl::SafeHostName(name));
  names = UniqueNames(safe);
  for (size_t i = 0; i < names.size(); ++i) index.emplace(names[i], i);
}

std::shared_ptr<const MountTree::ArchiveListing> MountTree::Archive(const std::string& archive) {
  const kdl::FileIdentity identity = kdl::IdentityOf(archive);
  {
    const std::lock_guard lock(cacheMutex_);
    const auto it = archives_.find(archive);
    if (it != archives_.end() && it->second.first == identity) return it->second.second;
  }
  std::vector<kdl::ArchiveImage> images;
  // A broken chain still shows the images before it; the message has been given.
  kdl::ListArchiveImages(archive, prompter_, images);
  std::vector<std::string> names;
  for (const kdl::ArchiveImage& image : images) names.push_back(kdl::ArchiveImageFolderName(image));
  auto listing = std::make_shared<const ArchiveListing>(ArchiveListing{std::move(images), Names(names)});
  const std::lock_guard lock(cacheMutex_);
  if (archives_.size() >= kMaxRememberedArchives) archives_.clear();
  archives_[archive] = {identity, listing};
  return listing;
}

std::shared_ptr<const MountTree::DirectoryListing> MountTree::Directory(const Node& node) {
  const uint16_t cluster = node.imageRoot ? 0 : node.entry.firstCluster;
  // A directory without a data cluster of its own holds nothing (cluster 0 would read back as the root).
  if (!node.imageRoot && cluster < 2) {
    return std::make_shared<const DirectoryListing>(
        DirectoryListing{std::make_shared<const kdl::VolumeDirectory>(), Names({})});
  }
  const std::shared_ptr<kdl::Volume> volume = pool_.Get(node.source);
  if (volume == nullptr) return nullptr;
  const kdl::FileIdentity& id = volume->identity();
  const std::string key = node.source.path + '\0' + std::to_string(node.source.baseOffset) + ':' +
                          std::to_string(cluster) + ':' + std::to_string(id.inode) + ':' +
                          std::to_string(id.size) + ':' + std::to_string(id.modifiedNs);
  {
    const std::lock_guard lock(cacheMutex_);
    if (const auto it = directories_.find(key); it != directories_.end()) return it->second;
  }
  std::shared_ptr<const kdl::VolumeDirectory> directory = volume->Directory(cluster);
  std::vector<std::string> names;
  names.reserve(directory->entries.size());
  for (const kdl::VolumeEntry& e : directory->entries) names.push_back(e.name);
  auto listing =
      std::make_shared<const DirectoryListing>(DirectoryListing{std::move(directory), Names(names)});
  const std::lock_guard lock(cacheMutex_);
  if (rememberedEntries_ + listing->names.names.size() > kMaxRememberedEntries) {
    directories_.clear();
    rememberedEntries_ = 0;
  }
  if (directories_.emplace(key, listing).second) rememberedEntries_ += listing->names.names.size();
  return listing;
}

std::optional<Node> MountTree::EntryNode(const Node& parent, const kdl::VolumeEntry& entry) {
  const uint16_t cluster = parent.imageRoot ? 0 : parent.entry.firstCluster;
  if (entry.IsDirectory()) {
    // A directory without a cluster of its own is empty, not the root.
    const bool loops = entry.firstCluster >= 2 && (entry.firstCluster == cluster ||
                                                   std::find(parent.ancestors.begin(), parent.ancestors.end(),
                                                             entry.firstCluster) != parent.ancestors.end());
    if (loops || parent.ancestors.size() + 1 >= kMaxDepth) return std::nullopt;
  }
  Node child;
  child.kind = entry.IsDirectory() ? NodeKind::kDirectory : NodeKind::kFile;
  child.hostPath = parent.hostPath;
  child.source = parent.source;
  child.entry = entry;
  child.ancestors = parent.ancestors;
  child.ancestors.push_back(cluster);
  return child;
}

std::optional<Node> MountTree::HostFileNode(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  switch (Classify(path)) {
    case kdl::SourceKind::kImage:
    case kdl::SourceKind::kContainer:
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
    case NodeKind::kArchive: {
      const auto listing = Archive(parent.hostPath);
      const auto it = listing->names.index.find(name);
      if (it == listing->names.index.end()) return -ENOENT;
      const kdl::ArchiveImage& image = listing->images[it->second];
      child = ImageRoot(kdl::ArchiveImageSource(parent.hostPath, image), parent.hostPath, image.dosTime);
      return 0;
    }
    case NodeKind::kDirectory:
      break;
  }
  const auto listing = Directory(parent);
  if (listing == nullptr) return -EIO;
  const auto it = listing->names.index.find(name);
  if (it == listing->names.index.end()) return -ENOENT;
  std::optional<Node> node = EntryNode(parent, listing->directory->entries[it->second]);
  if (!node) return -ENOENT;
  child = std::move(*node);
  return 0;
}

int MountTree::List(const Node& node, std::vector<std::pair<std::string, Node>>& children) {
  children.clear();
  switch (node.kind) {
    case NodeKind::kFolder:
      return ListFolder(node, children);
    case NodeKind::kArchive: {
      const auto listing = Archive(node.hostPath);
      for (size_t i = 0; i < listing->images.size(); ++i) {
        const kdl::ArchiveImage& image = listing->images[i];
        children.emplace_back(
            listing->names.names[i],
            ImageRoot(kdl::ArchiveImageSource(node.hostPath, image), node.hostPath, image.dosTime));
      }
      return 0;
    }
    case NodeKind::kDirectory: {
      const auto listing = Directory(node);
      if (listing == nullptr) return -EIO;
      for (size_t i = 0; i < listing->names.names.size(); ++i) {
        if (std::optional<Node> child = EntryNode(node, listing->directory->entries[i]))
          children.emplace_back(listing->names.names[i], std::move(*child));
      }
      return 0;
    }
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

MountTree::OpenFile* MountTree::Hold(std::unique_ptr<OpenFile> file) {
  OpenFile* held = file.get();
  const std::lock_guard lock(openMutex_);
  open_.emplace(held, std::move(file));
  return held;
}

void MountTree::Release(const OpenFile* file) {
  const std::lock_guard lock(openMutex_);
  open_.erase(file);
}

}  // namespace kdlmount
