// What the archive windows add to the archive code's messages: opening a file that does not start as an
// archive does fails without a word (there is nothing the code could name), so the window says it.
#pragma once

#include <string>

#include "kdlw/app/app_context.h"

class QWidget;

namespace kdlw {

// True when `path` (".KDZ" added to a name without extension, as the archive code does) can be read and
// starts with an archive header.
bool StartsAsArchive(const std::string& path);

// After an archive operation on `path` failed: when nothing has been shown since the prompter counted
// `messagesBefore` and the file is not an archive, says so over `parent`.
void SayIfNotAnArchive(AppContext& context, int messagesBefore, const std::string& path, QWidget* parent);

}  // namespace kdlw
