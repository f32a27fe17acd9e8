// What the archive tests share: an image object and an archive state wired to a scripted prompter in a
// temporary folder, an adder that feeds files to an archive run, and the floppy fixtures built once by the
// fixture script (real FAT12 disks made by mkfs.fat and mtools).
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "archive/archive.h"
#include "archive/archive_add.h"
#include "support/image_builder.h"
#include "support/scripted_prompter.h"
#include "support/test_support.h"

namespace kdltest {

struct ArchiveRig : ImageBench {
  kdl::ArchiveState archive{work};
  std::string Path(const std::string& name) const { return (dir / name).string(); }

  // Adds every file to the archive `name` (created when `create`), raw images when their name does not end in
  // ".KDL". Returns AddFloppies' result.
  int32_t AddFiles(const std::string& name, const std::vector<std::string>& files, bool create,
                   const std::array<std::string, 2>& labels = {});
  // The list lines (Shift-JIS) of the archive `name`, or empty after a failure.
  std::vector<std::string> List(const std::string& name);
  // ArchiveReport's result for the archive `name`, with its lines in `lines`.
  int32_t Report(const std::string& name, std::vector<std::string>* lines = nullptr);
  // Image `index` cut out of the archive `name` into a file, and that file's bytes (empty on failure).
  std::vector<uint8_t> Extract(const std::string& name, int32_t index);
};

// Adds the given files, one per round; a ".KDL" name is copied as an image, anything else as a raw image.
class FileAdder : public kdl::ImageAdder {
 public:
  explicit FileAdder(std::vector<std::string> files) : files_(std::move(files)) {}
  bool WantsAnother() override { return next_ < files_.size(); }
  int64_t AddImage(kdl::ArchiveState& archive, kdl::ImageState& image) override;
  std::vector<std::string> namesSeen;  // the current image path of every round

 private:
  std::vector<std::string> files_;
  size_t next_ = 0;
};

// Sets a file's modification time to the given local date and time.
void SetLocalMtime(const std::string& path, int year, int month, int day, int hour, int minute, int second);

// Compares a copied tree with mcopy's copy of the same disk: files at the same relative path must be equal,
// and the contents of all files must be the same multiset (mtools names Shift-JIS short names its own way).
// Empty when they agree, else a description of the first difference.
std::string CompareWithMcopy(const std::filesystem::path& ours, const std::filesystem::path& theirs);

}  // namespace kdltest
