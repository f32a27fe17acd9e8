#include "kdlw/app/settings.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace kdlw {
namespace {

constexpr std::string_view kDirectory = "Directory";
constexpr std::string_view kMainForm = "MainForm";

// A rectangle larger than this on either side is taken as a damaged file, not as a window.
constexpr int kLargestSide = 100000;

}  // namespace

void WindowPlacement::SetNormal(const QRect& r) {
  left = r.x();
  top = r.y();
  right = r.x() + r.width();
  bottom = r.y() + r.height();
}

MainSettings ReadMainSettings(const kdl::IniFile& ini, const MainSettings& defaults) {
  MainSettings s = defaults;
  s.current = QString::fromStdString(ini.GetString(kDirectory, "Current", defaults.current.toStdString()));
  s.fdWidth = ini.GetInt(kMainForm, "FdWidth", defaults.fdWidth);
  WindowPlacement& p = s.placement;
  p.flags = ini.GetInt(kMainForm, "PlaceFlags", p.flags);
  p.showCmd = ini.GetInt(kMainForm, "PlaceShowCmd", p.showCmd);
  p.minX = ini.GetInt(kMainForm, "PlaceMinPos.X", p.minX);
  p.minY = ini.GetInt(kMainForm, "PlaceMinPos.Y", p.minY);
  p.maxX = ini.GetInt(kMainForm, "PlaceMaxPos.X", p.maxX);
  p.maxY = ini.GetInt(kMainForm, "PlaceMaxPos.Y", p.maxY);
  p.left = ini.GetInt(kMainForm, "PlaceNormalPos.Left", p.left);
  p.top = ini.GetInt(kMainForm, "PlaceNormalPos.Top", p.top);
  p.right = ini.GetInt(kMainForm, "PlaceNormalPos.Right", p.right);
  p.bottom = ini.GetInt(kMainForm, "PlaceNormalPos.Bottom", p.bottom);
  return s;
}

void WriteMainSettings(kdl::IniFile& ini, const MainSettings& s) {
  ini.SetString(kDirectory, "Current", s.current.toStdString());
  ini.SetInt(kMainForm, "FdWidth", s.fdWidth);
  const WindowPlacement& p = s.placement;
  ini.SetInt(kMainForm, "PlaceFlags", p.flags);
  ini.SetInt(kMainForm, "PlaceShowCmd", p.showCmd);
  ini.SetInt(kMainForm, "PlaceMinPos.X", p.minX);
  ini.SetInt(kMainForm, "PlaceMinPos.Y", p.minY);
  ini.SetInt(kMainForm, "PlaceMaxPos.X", p.maxX);
  ini.SetInt(kMainForm, "PlaceMaxPos.Y", p.maxY);
  ini.SetInt(kMainForm, "PlaceNormalPos.Left", p.left);
  ini.SetInt(kMainForm, "PlaceNormalPos.Top", p.top);
  ini.SetInt(kMainForm, "PlaceNormalPos.Right", p.right);
  ini.SetInt(kMainForm, "PlaceNormalPos.Bottom", p.bottom);
}

WindowPlacement PlacementOf(const QWidget& window, const WindowPlacement& previous) {
  WindowPlacement p = previous;
  const Qt::WindowStates state = window.windowState();
  p.SetNormal(window.normalGeometry());
  p.flags = 0;
  if (state & Qt::WindowMinimized) {
    p.showCmd = kShowMinimized;
    if (state & (Qt::WindowMaximized | Qt::WindowFullScreen)) p.flags |= kRestoreToMaximized;
  } else if (state & (Qt::WindowMaximized | Qt::WindowFullScreen)) {
    p.showCmd = kShowMaximized;
  } else {
    p.showCmd = kShowNormal;
  }
  return p;
}

void ApplyPlacement(QWidget& window, const WindowPlacement& p) {
  const QRect normal = p.Normal();
  const bool sane = normal.width() > 0 && normal.height() > 0 && normal.width() < kLargestSide &&
                    normal.height() < kLargestSide;
  bool onScreen = false;
  for (const QScreen* screen : QGuiApplication::screens()) {
    if (screen->availableGeometry().intersects(normal)) onScreen = true;
  }
  if (sane && onScreen) window.setGeometry(normal);

  Qt::WindowStates state = Qt::WindowNoState;
  // Show commands of the placement record: 2 shown minimised, 6 minimise, 7 minimised inactive,
  // 11 force minimise; 3 maximised.
  switch (p.showCmd) {
    case kShowMinimized:
    case 6:
    case 7:
    case 11:
      state = Qt::WindowMinimized;
      if (p.flags & kRestoreToMaximized) state |= Qt::WindowMaximized;
      break;
    case kShowMaximized:
      state = Qt::WindowMaximized;
      break;
    default:
      break;
  }
  window.setWindowState(state);
}

QRect DesignGeometry() {
  QRect r(0, 0, 609, 430);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    r.moveCenter(screen->availableGeometry().center());
  return r;
}

}  // namespace kdlw
