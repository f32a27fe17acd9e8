// Opens arbitrary bytes as an image file (and as a raw sector image when its boot sector names a media type),
// walks the whole directory tree, reads every file through the file stream, lists the image and rewrites its
// labels. Nothing may crash, hang or touch memory outside its buffers, whatever the bytes say.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "browse/fat.h"
#include "common/sjis.h"
#include "image/image.h"
#include "image/listing.h"

namespace {

using namespace kdl;

// Bounds on the work one input may cause: directory trees can loop back into themselves.
constexpr int kMaxDepth = 8;
constexpr int kMaxDirectories = 32;
constexpr uint64_t kMaxFileBytes = 1u << 20;
// Name lookups walk the whole table, so only the first entries of a huge table are looked up.
constexpr size_t kMaxLookups = 256;

struct Budget {
  int directories = 0;
  uint64_t fileBytes = 0;
};

void WalkTable(ImageState& image, const DirectoryTable& table, int depth, Budget& budget) {
  std::string name;
  for (size_t i = 0; i < table.size(); ++i) {
    const DirectoryEntry& e = table[i];
    if (e.IsLongNamePiece()) continue;
    EntryDisplayName(table, i, name);
    if (i < kMaxLookups) {
      // The browse list shows a plain short name at fixed width and finds the entry again by it.
      std::string caption = SjisToUtf8(std::string(e.Name()) + "." + std::string(e.Extension()));
      NormalizeListName(caption);
      FindEntryByName(table, caption);
      // Every entry that is not a volume label can be found by its own display name.
      if ((e.Attribute() & kAttrVolumeLabel) == 0 && FindEntryByName(table, name) == nullptr) std::abort();
    }
    FatDateText(e.Time(), e.Date());
    if (e.IsDirectory()) {
      if ((!name.empty() && name[0] == '.') || depth >= kMaxDepth || ++budget.directories > kMaxDirectories)
        continue;
      WalkTable(image, LoadSubdirectory(image, e), depth + 1, budget);
      continue;
    }
    OpenFileStream(image, e);
    while (budget.fileBytes < kMaxFileBytes && NextFileByte(image) >= 0) ++budget.fileBytes;
  }
}

void Walk(ImageState& image, const std::string& path) {
  if (image.OpenImage(path) < 0) return;
  Budget budget;
  WalkTable(image, image.root, 0, budget);
  std::vector<std::string> lines;
  ListImageInfo(image, lines, 0);
  std::string type;
  LabelTexts texts;
  ReadLabels(image, path, 0, type, texts);
  WriteLabels(image, path, 0, texts);
  image.CloseImage();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int fd = memfd_create("image_walk", 0);
  static SilentPrompter prompter;
  static ImageWork work;
  static ImageState image(work);
  if (fd < 0 || ftruncate(fd, 0) != 0) return 0;
  if (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  work.prompter = &prompter;
  work.currentImagePath = path;

  work.dialogMode = kModeCreate;
  Walk(image, path);
  if (MediaTypeFromBootSector(ByteView(data, size)) >= 0) {
    work.dialogMode = kModeOpenRaw;
    work.rawImagePath = path;
    Walk(image, path);
  }
  return 0;
}
