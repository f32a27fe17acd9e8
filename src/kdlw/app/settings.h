// The main window's settings in "KDLW.INI": the folder shown, the folder tree's width and the window's
// placement, in sections "Directory" and "MainForm". Other sections of the file are left as they are.
#pragma once

#include <QRect>
#include <QString>
#include <cstdint>

#include "common/ini.h"

class QWidget;

namespace kdlw {

// Show states as the file records them.
inline constexpr int32_t kShowNormal = 1;
inline constexpr int32_t kShowMinimized = 2;
inline constexpr int32_t kShowMaximized = 3;
// Flag: a minimised window goes back to maximised when restored.
inline constexpr int32_t kRestoreToMaximized = 2;

// The window placement record: flags, show state, minimised and maximised positions (kept as read; the
// desktop places those itself) and the normal rectangle (right and bottom exclusive).
struct WindowPlacement {
  int32_t flags = 0;
  int32_t showCmd = kShowNormal;
  int32_t minX = -1, minY = -1;
  int32_t maxX = -1, maxY = -1;
  int32_t left = 0, top = 0, right = 0, bottom = 0;

  QRect Normal() const { return QRect(left, top, right - left, bottom - top); }
  void SetNormal(const QRect& r);
  bool operator==(const WindowPlacement&) const = default;
};

struct MainSettings {
  QString current;        // folder shown
  int32_t fdWidth = 169;  // folder tree width in pixels
  WindowPlacement placement;
};

// Reads the keys; each missing or malformed key keeps its value from `defaults`.
MainSettings ReadMainSettings(const kdl::IniFile& ini, const MainSettings& defaults);
// Sets every key of both sections, integers in decimal.
void WriteMainSettings(kdl::IniFile& ini, const MainSettings& settings);

// The placement of a window as it stands; the minimised and maximised positions come from `previous`.
WindowPlacement PlacementOf(const QWidget& window, const WindowPlacement& previous);
// Gives a window that is not yet shown its normal rectangle and show state. A rectangle that is empty or
// lies on no screen is not applied, so that the window cannot open out of reach.
void ApplyPlacement(QWidget& window, const WindowPlacement& placement);

// The design placement: 609 x 430 pixels, centred on the primary screen.
QRect DesignGeometry();

}  // namespace kdlw
