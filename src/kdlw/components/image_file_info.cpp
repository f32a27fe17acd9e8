#include "kdlw/components/image_file_info.h"

#include <QFile>
#include <QFileInfo>
#include <array>
#include <cstring>
#include <string>

#include "archive/archive_format.h"
#include "common/file.h"
#include "common/sjis.h"
#include "drive/formats/container.h"
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

const char* const kOtherToolsExtensions[] = {".D88", ".D98", ".88D",    ".HDM",
                                             ".FDI", ".IMD", ".IMG.GZ", ".IMA.GZ"};

// "D88 名前  損傷 3 セクタ": what a container is and holds, for the comment column.
QString ContainerComment(const kdl::ContainerDisk& disk) {
  QString text = QString::fromUtf8(kdl::ContainerFormatName(disk.format).data());
  if (disk.format == kdl::ContainerFormat::kGzip && disk.inner != kdl::ContainerFormat::kRaw)
    text += QLatin1Char('/') + QString::fromUtf8(kdl::ContainerFormatName(disk.inner).data());
  if (!disk.comment.empty()) text += QStringLiteral("  ") + LabelToText(disk.comment.front());
  if (!disk.damage.empty()) text += QStringLiteral("  損傷 %1 セクタ").arg(disk.damage.size());
  return text;
}

}  // namespace

QStringList ImageListMask() {
  QStringList mask{QStringLiteral(".KDL"), QStringLiteral(".KDZ")};
  for (const char* e : kOtherToolsExtensions) mask << QString::fromLatin1(e);
  return mask;
}

bool IsOtherToolsImageName(const QString& name) {
  const QString upper = name.toUpper();
  for (const char* e : kOtherToolsExtensions) {
    if (upper.endsWith(QLatin1String(e)) && upper.size() > static_cast<qsizetype>(std::strlen(e)))
      return true;
  }
  return false;
}

bool IsImageFileName(const QString& name) {
  return QFileInfo(name).suffix().toUpper() == QLatin1String("KDL") || IsOtherToolsImageName(name);
}

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
  if (IsOtherToolsImageName(info.fileName())) {
    const kdl::ContainerRead read = kdl::ReadContainerFile(QFile::encodeName(path).toStdString());
    if (!read.disk) return std::nullopt;
    return ImageFileInfo{MediaNameText(read.disk->mediaType), ContainerComment(*read.disk)};
  }
  return std::nullopt;
}

}  // namespace kdlw
