// The file list's type and comment for image and archive files, read from the file's own header.
#pragma once

#include <QString>
#include <optional>

namespace kdlw {

struct ImageFileInfo {
  QString type;     // the media name, or "KDZ File  " for an archive
  QString comment;  // the first label line, trailing blanks removed
};

// Reads the header of a ".KDL" or ".KDZ" file (extension in any letter case). Empty for other names, for
// anything that is not a readable regular file, and for a header without its magic.
std::optional<ImageFileInfo> ReadImageFileInfo(const QString& path);

}  // namespace kdlw
