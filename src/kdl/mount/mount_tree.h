// The tree a mounted collection shows, by path, with nothing of FUSE in it:
//
//   an image          its root directory is the mount's root
//   an archive        one folder per image: "DISKn", or "DISKn label" when the image has a first label line
//   a folder          mirrored: its folders as folders, each image and archive as a folder named
//                     after its file, other files left out
//
// Inside an image, names are made safe for the host exactly as copy-out makes them, and a name that two
// entries of one directory would share gets "~2", "~3"... after it. A directory that leads back to one of the
// directories above it is left out, so that no walk of the tree can loop. Safe to use from several threads.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "collection/sources.h"
#include "collection/unit_cache.h"
#include "collection/volume.h"
#include "collection/volume_pool.h"
#include "common/prompt.h"

namespace kdlmount {

// The extended attribute that carries the DOS attribute byte, as copy-out writes it.
inline constexpr const char* kDosAttributeName = "user.dos.attrib";

enum class NodeKind {
  kFolder,     // a host folder
  kArchive,    // an archive file, shown as a folder of its images
  kDirectory,  // a directory of an image (its root too)
  kFile,       // a file of an image
};

struct Node {
  NodeKind kind = NodeKind::kFolder;
  std::string hostPath;      // the host folder, the archive file, or the file holding the image
  kdl::VolumeSource source;  // the image, for kDirectory and kFile
  kdl::VolumeEntry entry;    // the entry, for kDirectory below the root and kFile
  bool imageRoot = false;
  uint32_t imageTime = 0;           // an archive image's DOS date-time, for its root
  std::vector<uint16_t> ancestors;  // first clusters of the directories above, the root's 0 first
};

struct TreeOptions {
  size_t cacheBytes = 16u << 20;  // expanded units kept for all images together
  size_t maxOpenImages = 32;      // images kept open at once
};

class MountTree {
 public:
  // `prompter` hears the messages of the images read (CRC errors and the like); it must be safe to call from
  // several threads.
  MountTree(std::string source, kdl::Prompter& prompter, TreeOptions options = {});

  // Checks that the source can be shown: a folder, an archive, or an image (also "ARCHIVE.KDZ:N" or
  // ":DISKn") that opens. False with a reason in `error` otherwise.
  bool Open(std::string& error);

  // The node at `path` ("/" the root, "/a/b"): 0, or a negative errno (-ENOENT, -ENOTDIR, -EIO).
  int Lookup(const std::string& path, Node& node);
  // The children of a folder-like node, by name, in order: 0 or a negative errno.
  int List(const Node& node, std::vector<std::pair<std::string, Node>>& children);
  // What stat shows for the node.
  struct stat Attributes(const Node& node);
  // The DOS attribute byte the node carries as user.dos.attrib, if it carries one.
  std::optional<uint8_t> DosAttribute(const Node& node) const;

  // A file opened for reading: the volume it lies in and where its bytes are.
  struct OpenFile {
    std::shared_ptr<kdl::Volume> volume;
    kdl::FileMap map;
    bool readable = true;  // every byte reads: the kernel may cache it
  };
  // Opens a kFile node: 0 or -EIO.
  int Open(const Node& node, OpenFile& file);
  // Keeps an open file until it is released. What the kernel never releases (files still open when a mount
  // ends) goes with the tree.
  OpenFile* Hold(std::unique_ptr<OpenFile> file);
  void Release(const OpenFile* file);

  kdl::UnitCache& cache() { return cache_; }
  kdl::VolumePool& volumes() { return pool_; }

 private:
  // The names a listing shows, each safe and unique, found again by name without walking the listing.
  struct Names {
    explicit Names(const std::vector<std::string>& raw);
    std::vector<std::string> names;
    std::unordered_map<std::string, size_t> index;
  };
  struct ArchiveListing {
    std::vector<kdl::ArchiveImage> images;
    Names names;
  };
  struct DirectoryListing {
    std::shared_ptr<const kdl::VolumeDirectory> directory;
    Names names;
  };

  int Child(const Node& parent, const std::string& name, Node& child);
  // The kind of a host file, remembered while the file stays the same.
  kdl::SourceKind Classify(const std::string& path);
  // The images of an archive and their names, remembered while the file stays the same.
  std::shared_ptr<const ArchiveListing> Archive(const std::string& archive);
  // A directory of an image and its names, remembered while the image's file stays the same. Null when the
  // image cannot be opened; an empty listing for a directory without a cluster of its own.
  std::shared_ptr<const DirectoryListing> Directory(const Node& node);
  // The node of `entry`, a child of the directory `parent`; empty when it is a directory that leads back to
  // one above it, or the tree is too deep for another directory.
  std::optional<Node> EntryNode(const Node& parent, const kdl::VolumeEntry& entry);
  int ListFolder(const Node& node, std::vector<std::pair<std::string, Node>>& children);
  // A host file as a node: an image's root or an archive; empty for anything else.
  std::optional<Node> HostFileNode(const std::string& path);
  Node ImageRoot(const kdl::VolumeSource& source, const std::string& hostPath, uint32_t imageTime);

  std::string source_;
  kdl::Prompter& prompter_;
  kdl::UnitCache cache_;
  kdl::VolumePool pool_;
  Node root_;

  std::mutex cacheMutex_;
  std::unordered_map<std::string, std::pair<kdl::FileIdentity, kdl::SourceKind>> kinds_;
  std::unordered_map<std::string, std::pair<kdl::FileIdentity, std::shared_ptr<const ArchiveListing>>>
      archives_;
  std::unordered_map<std::string, std::shared_ptr<const DirectoryListing>> directories_;
  size_t rememberedEntries_ = 0;

  std::mutex openMutex_;
  std::unordered_map<const OpenFile*, std::unique_ptr<OpenFile>> open_;
};

// Unique names for a listing: the second and later uses of a name get "~2", "~3"..., kept within 255 bytes.
std::vector<std::string> UniqueNames(const std::vector<std::string>& names);

}  // namespace kdlmount
