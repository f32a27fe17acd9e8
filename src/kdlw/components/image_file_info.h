// The file list's type and comment for image and archive files, read from the file's own header.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace kdlw {

struct ImageFileInfo {
  QString type;     // the media name, or "KDZ File  " for an archive
  QString comment;  // the first label line, trailing blanks removed
};

// The file list's mask: ".KDL" and ".KDZ", and the names other tools give their disk images (".D88",
// ".D98", ".88D", ".HDM", ".FDI", ".IMD", ".IMG.GZ", ".IMA.GZ").
QStringList ImageListMask();
// True when `name` ends (in any letter case) in the name of an image: ".KDL" or another tool's disk image.
bool IsImageFileName(const QString& name);
// True for the names of other tools' disk images alone.
bool IsOtherToolsImageName(const QString& name);

// Reads the header of a ".KDL" or ".KDZ" file (extension in any letter case), or the whole of another tool's
// disk image (type: its media name; comment: its format, the text it carries and the count of its damaged
// sectors). Empty for other names, for anything that is not a readable regular file, and for a file that is
// not what its name says.
std::optional<ImageFileInfo> ReadImageFileInfo(const QString& path);

}  // namespace kdlw
