// Where a window opened from another one appears: centred on the window it comes from, and kept with it by
// the desktop (transient for it), so that it neither opens in a far corner nor hides behind its opener.
#pragma once

class QWidget;

namespace kdlw {

// Makes `window` transient for the window of `owner` and centres it there, inside the owner's screen. An
// owner that has stepped aside (hidden while the new window is up) still gives the place; the window then
// belongs to the window the owner belongs to. An owner that never was on the screen gives the screen's
// centre. Without an owner nothing changes.
void PlaceOver(QWidget* window, QWidget* owner);

// The window that `window` is transient for, or null.
QWidget* OwnerWindow(const QWidget* window);

}  // namespace kdlw
