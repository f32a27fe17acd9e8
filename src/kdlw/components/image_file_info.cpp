#include "kdlw/components/image_file_info.h"

#include <QFile>
#include <QFileInfo>
#include <array>
#include <string>

#include "archive/archive_format.h"
#include "common/file.h"
#include "common/sjis.h"
#include "drive/media.h"
#include "image/kdl_format.h"

namespace kdlw {
namespace {

// A label field is text up to its first NUL; whatever follows a NUL is not part of it.
QString LabelToText(std::string label) {
  const size_t nul = label.find('\0');
  if (nul != std::string::npos) label.resize(nul);
  const size_t end = label.find_last_not_of(' ');
  label.resize(end == std::string::npos ? 0 : end + 1);
  return QString::fromStdString(kdl::SjisToUtf8(label));
}

QString MediaNameText(int32_t type) {
  const std::string_view name = kdl::MediaName(type);
  return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

// The first `N` bytes of the file, or empty when it holds fewer.
template <size_t N>
std::optional<std::array<uint8_t, N>> ReadStart(const QString& path) {
  kdl::File file;
  if (!file.Open(QFile::encodeName(path).toStdString(), kdl::File::Mode::kRead)) return std::nullopt;
  std::array<uint8_t, N> bytes{};
  if (file.ReadAt(0, bytes.data(), bytes.size()) != static_cast<int64_t>(N)) return std::nullopt;
  return bytes;
}

}  // namespace

std::optional<ImageFileInfo> ReadImageFileInfo(const QString& path) {
  const QFileInfo info(path);
  // Only regular files: opening a pipe or a device named like an image would block or read a drive.
  if (!info.isFile()) return std::nullopt;
  const QString suffix = info.suffix().toUpper();
  if (suffix == QLatin1String("KDL")) {
    const auto bytes = ReadStart<kdl::kKdlHeaderSize>(path);
    if (!bytes) return std::nullopt;
    const std::optional<kdl::KdlHeader> header =
        kdl::ParseKdlHeader(kdl::ByteView(bytes->data(), bytes->size()));
    if (!header) return std::nullopt;
    return ImageFileInfo{MediaNameText(header->mediaType), LabelToText(header->labels[0])};
  }
  if (suffix == QLatin1String("KDZ")) {
    const auto bytes = ReadStart<kdl::kArchiveHeaderSize>(path);
    if (!bytes) return std::nullopt;
    const std::optional<kdl::ArchiveHeader> header =
        kdl::ParseArchiveHeader(kdl::ByteView(bytes->data(), bytes->size()));
    if (!header) return std::nullopt;
    return ImageFileInfo{MediaNameText(kdl::kArchiveNameIndex), LabelToText(header->labels[0])};
  }
  return std::nullopt;
}

}  // namespace kdlw
