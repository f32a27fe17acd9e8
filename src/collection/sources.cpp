#include "collection/sources.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <optional>

#include "archive/archive.h"
#include "archive/messages.h"
#include "common/sjis.h"
#include "drive/formats/container.h"

namespace kdl {

using namespace archive_text;

namespace {

namespace fs = std::filesystem;

// Counts the messages passed on, so that a silent refusal can be told from one already explained.
class CountingPrompter : public Prompter {
 public:
  explicit CountingPrompter(Prompter& target) : target_(target) {}
  Answer Ask(std::string_view caption, std::string_view text, Buttons buttons, Icon icon) override {
    ++count_;
    return target_.Ask(caption, text, buttons, icon);
  }
  int count() const { return count_; }

 private:
  Prompter& target_;
  int count_ = 0;
};

// "DISK.IMG.GZ", "disk.ima.gz": a raw disk compressed with gzip, by the names such files go by.
bool IsGzippedDiskName(const std::string& path) {
  std::string name = fs::path(path).filename().string();
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  return name.ends_with(".img.gz") || name.ends_with(".ima.gz");
}

std::string UpperExtension(const std::string& path) {
  std::string ext = fs::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::toupper(c); });
  return ext;
}

void Tell(Prompter& prompter, const std::string& text) {
  prompter.Ask(kCaptionImage, text, Buttons::kOk, Icon::kStop);
}

// "ARCHIVE.KDZ:N" (N from 1) or "ARCHIVE.KDZ:DISKn" where the part before the last ":" is an existing file.
struct ArchiveOperand {
  std::string archive;
  int32_t index = -1;  // from 0; -1 when named
  std::string name;    // upper case
};

std::optional<ArchiveOperand> ParseArchiveOperand(const std::string& operand) {
  const size_t colon = operand.rfind(':');
  if (colon == std::string::npos || colon == 0) return std::nullopt;
  ArchiveOperand r;
  r.archive = operand.substr(0, colon);
  std::string ref = operand.substr(colon + 1);
  std::error_code ec;
  if (!fs::is_regular_file(r.archive, ec) || ref.empty()) return std::nullopt;
  std::transform(ref.begin(), ref.end(), ref.begin(), [](unsigned char c) { return std::toupper(c); });
  const auto digits = [](std::string_view s) {
    return !s.empty() && s.size() <= 4 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (digits(ref)) {
    r.index = std::stoi(ref) - 1;
  } else if (ref.size() > 4 && ref.compare(0, 4, "DISK") == 0 && digits(std::string_view(ref).substr(4))) {
    r.name = ref;
  } else {
    return std::nullopt;
  }
  return r;
}

bool WalkArchive(const std::string& path, Prompter& prompter, const std::optional<ArchiveOperand>& only,
                 const std::function<void(const CollectionImage&)>& image) {
  std::vector<ArchiveImage> images;
  bool ok = ListArchiveImages(path, prompter, images);
  bool found = false;
  for (const ArchiveImage& a : images) {
    if (only && (only->name.empty() ? a.index != only->index : a.name != only->name)) continue;
    found = true;
    image(CollectionImage{path, a.name, ArchiveImageSource(path, a)});
  }
  if (only && !found && ok) {
    Tell(prompter, only->name.empty() ? Format(kNoSuchEntry, path.c_str(), only->index + 1)
                                      : Format(kNoSuchName, path.c_str(), only->name.c_str()));
    ok = false;
  }
  return ok;
}

bool WalkFile(const std::string& path, bool strict, Prompter& prompter,
              const std::function<void(const CollectionImage&)>& image) {
  const SourceKind kind = ClassifySource(path, strict);
  switch (kind) {
    case SourceKind::kImage:
    case SourceKind::kContainer:
    case SourceKind::kRawImage:
      image(CollectionImage{path, {}, VolumeSource{path, 0, kind == SourceKind::kRawImage, path}});
      return true;
    case SourceKind::kArchive:
      return WalkArchive(path, prompter, std::nullopt, image);
    case SourceKind::kOther:
      // Other files in a folder are simply not part of the collection.
      if (strict) return true;
      [[fallthrough]];
    case SourceKind::kUnreadable:
      break;
  }
  std::error_code ec;
  Tell(prompter, fs::exists(path, ec) && access(path.c_str(), R_OK) == 0 ? Format(kNotAnImage, path.c_str())
                                                                         : Format(kCannotOpen, path.c_str()));
  return false;
}

bool WalkFolder(const std::string& folder, Prompter& prompter, int depth,
                const std::function<void(const CollectionImage&)>& image) {
  // Deeper than any real tree; a bind mount of a folder into itself must still end.
  constexpr int kMaxDepth = 64;
  std::error_code ec;
  std::vector<std::string> names;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  if (ec || depth > kMaxDepth) {
    Tell(prompter, Format(kCannotOpen, folder.c_str()));
    return false;
  }
  std::sort(names.begin(), names.end());
  const std::string prefix = !folder.empty() && folder.back() == '/' ? folder : folder + "/";
  bool ok = true;
  for (const std::string& name : names) {
    const std::string path = prefix + name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      ok &= WalkFolder(path, prompter, depth + 1, image);
      continue;
    }
    // A link to a file is followed; a link to a folder is not, so no link makes the walk loop.
    if (S_ISLNK(st.st_mode) && (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))) continue;
    if (S_ISREG(st.st_mode)) ok &= WalkFile(path, true, prompter, image);
  }
  return ok;
}

}  // namespace

SourceKind ClassifySource(const std::string& path, bool strict) {
  const std::string ext = UpperExtension(path);
  const bool named = ext == ".KDL" || ext == ".KDZ";
  struct stat st {};
  File file;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !file.Open(path, File::Mode::kRead))
    return named ? SourceKind::kUnreadable : SourceKind::kOther;
  // Enough for the signature of every other tool's container as well.
  std::array<uint8_t, 4096> head{};
  const size_t got = static_cast<size_t>(std::max<int64_t>(file.ReadAt(0, head.data(), head.size()), 0));
  const std::string_view magic(reinterpret_cast<const char*>(head.data()), 8);
  if (got >= kArchiveHeaderSize && magic == kArchiveMagic) return SourceKind::kArchive;
  if (got >= kKdlMagic.size() && magic == kKdlMagic) return SourceKind::kImage;
  if (named) return SourceKind::kUnreadable;
  const ByteView view(head.data(), got);
  const ContainerFormat format = DetectContainer(view, static_cast<uint64_t>(st.st_size));
  if (IsForeignContainer(format)) {
    // In a folder a gzip file is a disk only by its name: files of every other kind are gzip'd too.
    if (strict && format == ContainerFormat::kGzip && !IsGzippedDiskName(path)) return SourceKind::kOther;
    return SourceKind::kContainer;
  }
  const int32_t type = MediaTypeFromBootSector(view);
  if (type < 0) return SourceKind::kOther;
  const MediaGeometry g = MediaGeometryOf(type);
  if (strict && st.st_size != static_cast<off_t>(g.cylinders) * g.trackSize) return SourceKind::kOther;
  return SourceKind::kRawImage;
}

bool ListArchiveImages(const std::string& path, Prompter& prompter, std::vector<ArchiveImage>& images) {
  images.clear();
  CountingPrompter counting(prompter);
  ImageWork work;
  work.prompter = &counting;
  ArchiveState archive(work);
  // Opened for reading only, by the exact name: nothing here changes an archive.
  std::array<uint8_t, kArchiveHeaderSize> bytes{};
  std::optional<ArchiveHeader> header;
  if (!archive.file().Open(path, File::Mode::kRead)) {
    Tell(prompter, Format(kCannotOpen, path.c_str()));
    return false;
  }
  if (archive.file().ReadAt(0, bytes.data(), bytes.size()) == static_cast<int64_t>(bytes.size()))
    header = ParseArchiveHeader(ByteView(bytes.data(), bytes.size()));
  if (!header) {
    Tell(prompter, Format(kNotAnImage, path.c_str()));
    return false;
  }
  archive.path = path;
  archive.header = *header;
  RewindArchive(archive);
  bool ok = true;
  for (int32_t i = 0; i < archive.header.count; ++i) {
    const int32_t r = ReadEntry(archive);
    if (r < 0) ok = false;
    if (r <= 0) break;
    std::array<uint8_t, kKdlHeaderSize> head{};
    const size_t want = static_cast<size_t>(std::min<int64_t>(archive.entry.length, kKdlHeaderSize));
    const int64_t got = archive.file().ReadAt(static_cast<uint64_t>(archive.baseOffset()), head.data(), want);
    ArchiveImage a;
    a.index = i;
    a.name = SjisToUtf8(archive.entry.NameText());
    a.baseOffset = archive.baseOffset();
    a.length = archive.entry.length;
    a.dosTime = archive.entry.DosDateTime();
    if (got == static_cast<int64_t>(kKdlHeaderSize)) {
      if (const auto h = ParseKdlHeader(ByteView(head.data(), head.size()))) {
        a.mediaType = h->mediaType;
        a.label = SjisToUtf8(h->LabelText(0));
      }
    }
    images.push_back(std::move(a));
    SkipImage(archive);
  }
  archive.file().Close();
  return ok;
}

std::string ArchiveImageFolderName(const ArchiveImage& image) {
  // A label line may hold NULs where a writer left them; the name ends there as the list line does.
  const std::string label = image.label.substr(0, image.label.find('\0'));
  return label.empty() ? image.name : image.name + " " + label;
}

VolumeSource ArchiveImageSource(const std::string& archivePath, const ArchiveImage& image) {
  return VolumeSource{archivePath, image.baseOffset, false, archivePath + ":" + image.name};
}

bool WalkCollection(const std::string& path, Prompter& prompter,
                    const std::function<void(const CollectionImage&)>& image) {
  if (const auto operand = ParseArchiveOperand(path)) {
    if (ClassifySource(operand->archive, false) != SourceKind::kArchive) {
      Tell(prompter, Format(kNotAnImage, operand->archive.c_str()));
      return false;
    }
    return WalkArchive(operand->archive, prompter, operand, image);
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    Tell(prompter, Format(kCannotOpen, path.c_str()));
    return false;
  }
  if (S_ISDIR(st.st_mode)) return WalkFolder(path, prompter, 0, image);
  return WalkFile(path, false, prompter, image);
}

}  // namespace kdl
