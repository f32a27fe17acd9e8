// The speed buttons of the windows' tool bars.
#pragma once

#include <QString>
#include <QToolButton>

namespace kdlw {

// A text-only tool bar button with its status-bar hint, at least the design size of 72 x 25; a font wider
// than the design's may widen it, never clip its caption. It never takes the keyboard focus.
QToolButton* MakeToolButton(QWidget* panel, const char* name, const QString& caption, const QString& hint);

}  // namespace kdlw
