// Fonts that can show the Japanese texts of the windows, chosen from what the machine has installed.
#pragma once

#include <QFont>
#include <QStringList>

namespace kdlw {

// The first of `candidates` that the font database knows, or an empty text when none is installed.
QString FirstInstalledFamily(const QStringList& candidates);
// A proportional Japanese font of `pixelSize` pixels for the windows' texts.
QFont JapaneseUiFont(int pixelSize = 12);
// A fixed-pitch Japanese font of `pixelSize` pixels for listings and dumps.
QFont JapaneseFixedFont(int pixelSize = 12);

}  // namespace kdlw
