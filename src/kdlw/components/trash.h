// Deleting to the desktop's trash (the freedesktop.org trash). Qt's move to the trash falls back to the
// working directory when the user's own trash cannot be made (an account without ~/.local/share, for one), so
// the user's trash is made here first, with the folders the specification asks for, and nothing is moved when
// that fails: a file goes to a trash or stays where it is.
#pragma once

#include <QString>

namespace kdlw {

// The user's own trash, $XDG_DATA_HOME/Trash; empty when there is no data folder to put it in.
QString HomeTrashFolder();
// Makes the user's trash with its "files" and "info" folders where they are missing (new folders owner-only);
// false when it cannot be made.
bool EnsureHomeTrash();
// Moves `path` (a file or a folder) to the trash; false, with `path` untouched, when it cannot.
bool MoveToTrash(const QString& path);

}  // namespace kdlw
