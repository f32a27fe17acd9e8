#include "kdlw/common/placement.h"

#include <QApplication>
#include <QLayout>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace kdlw {
namespace {

QWidget* WidgetOf(const QWindow* handle) {
  if (handle == nullptr) return nullptr;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->windowHandle() == handle) return widget;
  }
  return nullptr;
}

// The room a window's frame takes around it: the window's own once it has been shown, else the anchor's.
QMargins FrameMargins(const QWidget* window, const QWidget* anchor) {
  for (const QWidget* w : {window, anchor}) {
    if (w == nullptr) continue;
    const QRect frame = w->frameGeometry();
    const QRect inner = w->geometry();
    if (frame != inner) {
      return {inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
              frame.bottom() - inner.bottom()};
    }
  }
  return {};
}

}  // namespace

QWidget* OwnerWindow(const QWidget* window) {
  const QWindow* handle = window != nullptr ? window->windowHandle() : nullptr;
  return handle != nullptr ? WidgetOf(handle->transientParent()) : nullptr;
}

void PlaceOver(QWidget* window, QWidget* owner) {
  if (window == nullptr || owner == nullptr) return;
  QWidget* anchor = owner->window();
  if (anchor == window) return;
  // The desktop keeps the window with the nearest opener that is on the screen.
  QWidget* parent = anchor;
  while (parent != nullptr && !parent->isVisible()) parent = OwnerWindow(parent);
  window->winId();
  if (QWindow* handle = window->windowHandle()) {
    handle->setTransientParent(parent != nullptr && parent != window ? parent->windowHandle() : nullptr);
  }

  // A dialog sized by its layout knows its size only once the layout has run.
  if (window->layout() != nullptr) window->layout()->activate();
  const QMargins margins = FrameMargins(window, anchor);
  QRect frame(QPoint(0, 0), window->size().grownBy(margins));
  // An anchor that has been on the screen keeps its place while hidden; one that never was has none.
  const bool placed = anchor->windowHandle() != nullptr;
  QScreen* screen = placed ? anchor->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  const QRect available = screen != nullptr ? screen->availableGeometry() : QRect();
  frame.moveCenter(placed ? anchor->frameGeometry().center() : available.center());
  if (available.isValid()) {
    // Never off the screen: the title bar stays where the mouse can reach it.
    frame.moveRight(std::min(frame.right(), available.right()));
    frame.moveBottom(std::min(frame.bottom(), available.bottom()));
    frame.moveLeft(std::max(frame.left(), available.left()));
    frame.moveTop(std::max(frame.top(), available.top()));
  }
  // Placed by its inside: a window that has never been shown has no frame yet that a move could include.
  window->setGeometry(QRect(frame.topLeft() + QPoint(margins.left(), margins.top()), window->size()));
}

}  // namespace kdlw
