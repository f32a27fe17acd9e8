// Takes arbitrary bytes as an archive: opens it, lists it, reports on every image (which opens and reads each
// one through the image object), cuts the first and the last image out, and relabels it; then takes the same
// bytes as an image file and as a raw image to be added to an archive. Nothing may crash, hang or touch
// memory outside its buffers, and a refused addition must leave the archive it was refused for unchanged.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/archive_add.h"

namespace {

using namespace kdl;

// A scratch file in memory (tmpfs) with a name the archive operations can open.
struct MemFile {
  explicit MemFile(const char* suffix) {
    std::string pattern =
        std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/kdl-fuzz-XXXXXX" + suffix;
    fd = mkstemps(pattern.data(), static_cast<int>(std::string(suffix).size()));
    if (fd < 0) std::abort();
    path = pattern;
  }
  ~MemFile() { unlink(path.c_str()); }
  const std::string& Path() const { return path; }
  void Set(const uint8_t* data, size_t size) const {
    if (ftruncate(fd, 0) != 0 || (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)))
      std::abort();
  }
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> bytes(static_cast<size_t>(lseek(fd, 0, SEEK_END)));
    if (!bytes.empty() && pread(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
      std::abort();
    return bytes;
  }
  int fd = -1;
  std::string path;
};

class Nothing : public ImageAdder {
 public:
  bool WantsAnother() override { return false; }
  int64_t AddImage(ArchiveState&, ImageState&) override { return 0; }
};

class OneFile : public ImageAdder {
 public:
  explicit OneFile(std::string path) : path_(std::move(path)) {}
  bool WantsAnother() override { return !done_; }
  int64_t AddImage(ArchiveState& archive, ImageState&) override {
    done_ = true;
    return AddImageFile(archive, path_, {"label one", "", "", ""});
  }

 private:
  std::string path_;
  bool done_ = false;
};

void WalkArchive(const MemFile& input, const MemFile& output, ImageWork& work) {
  ImageState image(work);
  ArchiveState archive(work);
  if (OpenArchive(archive, input.Path()) < 0) return;
  const int32_t count = ListArchive(archive, [](const std::string& line) {
    if (line.size() > 80) std::abort();
  });
  ArchiveReport(archive, image, 0, [](const std::string&) {});
  ExtractEntry(archive, output.Path(), 0);
  if (count > 1) ExtractEntry(archive, output.Path(), count - 1);
  std::string status;
  ShowArchiveSummary(archive, archive.path, 0, status);
  WriteArchiveLabels(archive, archive.path, 0, {"new label", std::string(50, 'x')});
  CloseArchive(archive);
}

// Adds the input as a file to a fresh archive; a refused addition leaves the empty archive as it was.
void AddAsFile(const MemFile& input, const MemFile& target, ImageWork& work, bool raw) {
  ImageState image(work);
  ArchiveState archive(work);
  Nothing nothing;
  if (AddFloppies(archive, image, target.Path(), kCreateArchive | kCloseArchiveAfter, {"", ""}, nothing) != 0)
    std::abort();
  const std::vector<uint8_t> empty = target.Bytes();
  work.rawSource = raw;
  OneFile adder(input.Path());
  const int32_t added =
      AddFloppies(archive, image, target.Path(), kOpenArchiveFirst | kCloseArchiveAfter, {}, adder);
  if (added == 0 && target.Bytes() != empty) std::abort();
  if (added == 1)
    ArchiveReport(archive, image, kOpenArchiveFirst | kCloseArchiveAfter, [](const std::string&) {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const MemFile input(".KDZ"), output(".KDL"), target(".KDZ");
  input.Set(data, size);
  SilentPrompter quiet;
  ImageWork work;
  work.prompter = &quiet;
  WalkArchive(input, output, work);
  input.Set(data, size);
  AddAsFile(input, target, work, false);
  AddAsFile(input, target, work, true);
  return 0;
}
