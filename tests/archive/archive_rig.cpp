#include "archive/archive_rig.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <set>
#include <sstream>

#include "image/kdl_format.h"

namespace kdltest {

namespace fs = std::filesystem;

int32_t ArchiveRig::AddFiles(const std::string& name, const std::vector<std::string>& files, bool create,
                             const std::array<std::string, 2>& labels) {
  FileAdder adder(files);
  const int32_t flags = (create ? kdl::kCreateArchive : kdl::kOpenArchiveFirst) | kdl::kCloseArchiveAfter;
  return kdl::AddFloppies(archive, image, Path(name), flags, labels, adder);
}

std::vector<std::string> ArchiveRig::List(const std::string& name) {
  std::vector<std::string> lines;
  if (kdl::OpenArchive(archive, Path(name)) < 0) return lines;
  if (kdl::ListArchive(archive, [&](const std::string& l) { lines.push_back(l); }) < 0) lines.clear();
  kdl::CloseArchive(archive);
  return lines;
}

int32_t ArchiveRig::Report(const std::string& name, std::vector<std::string>* lines) {
  archive.path = Path(name);
  return kdl::ArchiveReport(archive, image, kdl::kOpenArchiveFirst | kdl::kCloseArchiveAfter,
                            [&](const std::string& l) {
                              if (lines != nullptr) lines->push_back(l);
                            });
}

std::vector<uint8_t> ArchiveRig::Extract(const std::string& name, int32_t index) {
  const std::string out = Path("extract-" + std::to_string(index) + ".KDL");
  if (kdl::OpenArchive(archive, Path(name)) < 0) return {};
  const int64_t written = kdl::ExtractEntry(archive, out, index);
  kdl::CloseArchive(archive);
  if (written < 0) return {};
  return ReadFile(out);
}

int64_t FileAdder::AddImage(kdl::ArchiveState& archive, kdl::ImageState&) {
  const std::string& file = files_[next_++];
  namesSeen.push_back(archive.work().currentImagePath);
  std::string ext = fs::path(file).extension().string();
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  archive.work().rawSource = ext != ".KDL";
  return kdl::AddImageFile(archive, file, {});
}

void SetLocalMtime(const std::string& path, int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  const struct timespec times[2] = {{std::mktime(&t), 0}, {std::mktime(&t), 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

std::string CompareWithMcopy(const fs::path& ours, const fs::path& theirs) {
  std::multiset<std::vector<uint8_t>> ourFiles, theirFiles;
  for (const auto& e : fs::recursive_directory_iterator(theirs)) {
    if (!e.is_regular_file()) continue;
    const std::vector<uint8_t> bytes = ReadFile(e.path());
    theirFiles.insert(bytes);
    const fs::path twin = ours / fs::relative(e.path(), theirs);
    if (fs::is_regular_file(twin) && ReadFile(twin) != bytes)
      return twin.string() + " differs from mcopy's copy";
  }
  for (const auto& e : fs::recursive_directory_iterator(ours)) {
    if (e.is_regular_file()) ourFiles.insert(ReadFile(e.path()));
  }
  if (theirFiles.empty()) return "mcopy's copy holds no file";
  if (ourFiles != theirFiles)
    return std::to_string(ourFiles.size()) + " files copied, mcopy wrote " +
           std::to_string(theirFiles.size()) + " (or their contents differ)";
  return {};
}

}  // namespace kdltest
