#include "kdlw/components/splitter.h"

#include <QChildEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace kdlw {

TSplitter::TSplitter(Qt::Orientation orientation, QWidget* parent) : QSplitter(orientation, parent) {
  setChildrenCollapsible(false);
  setOpaqueResize(false);
}

void TSplitter::SetBeveled(bool on) {
  beveled_ = on;
  for (int i = 0; i < count(); ++i) handle(i)->update();
}

QSplitterHandle* TSplitter::createHandle() { return new TSplitterHandle(orientation(), this); }

void TSplitter::childEvent(QChildEvent* event) {
  QSplitter::childEvent(event);
  if (event->type() != QEvent::ChildAdded) return;
  auto* pane = qobject_cast<QWidget*>(event->child());
  if (pane == nullptr || pane->isWindow() || qobject_cast<QSplitterHandle*>(pane) != nullptr) return;
  if (orientation() == Qt::Horizontal) {
    pane->setMinimumWidth(1);
  } else {
    pane->setMinimumHeight(1);
  }
}

TSplitterHandle::TSplitterHandle(Qt::Orientation orientation, TSplitter* parent)
    : QSplitterHandle(orientation, parent), owner_(parent) {}

int TSplitterHandle::Along(const QPointF& global) const {
  const QPoint p = owner_->mapFromGlobal(global.toPoint());
  return orientation() == Qt::Horizontal ? p.x() : p.y();
}

// The mouse's travel added to the pane's size, raised to MinSize, then lowered to the largest size.
int TSplitterHandle::NewSize(int mousePosition) const {
  return std::min(std::max(startSize_ + (mousePosition - startMouse_), owner_->MinSize()), largest_);
}

void TSplitterHandle::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  pane_ = owner_->indexOf(this) - 1;
  if (pane_ < 0 || pane_ + 1 >= owner_->count()) return;
  const QList<int> sizes = owner_->sizes();
  startSize_ = sizes[pane_];
  // The pane may take all of its neighbour's room but the one pixel that keeps the neighbour in the layout.
  largest_ = sizes[pane_] + sizes[pane_ + 1] - 1;
  startMouse_ = Along(event->globalPosition());
  newSize_ = NewSize(startMouse_);
  dragging_ = true;
  ShowLine();
  setFocus(Qt::MouseFocusReason);
  grabKeyboard();
  event->accept();
}

void TSplitterHandle::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) return;
  newSize_ = NewSize(Along(event->globalPosition()));
  ShowLine();
}

void TSplitterHandle::mouseReleaseEvent(QMouseEvent* event) {
  if (!dragging_ || event->button() != Qt::LeftButton) return;
  newSize_ = NewSize(Along(event->globalPosition()));
  QList<int> sizes = owner_->sizes();
  sizes[pane_] = newSize_;
  sizes[pane_ + 1] = largest_ + 1 - newSize_;
  owner_->setSizes(sizes);
  EndDrag();
}

void TSplitterHandle::keyPressEvent(QKeyEvent* event) {
  if (dragging_ && event->key() == Qt::Key_Escape) {
    EndDrag();
    event->accept();
    return;
  }
  QSplitterHandle::keyPressEvent(event);
}

void TSplitterHandle::ShowLine() {
  const QWidget* pane = owner_->widget(pane_);
  owner_->setRubberBand((orientation() == Qt::Horizontal ? pane->x() : pane->y()) + newSize_);
}

void TSplitterHandle::EndDrag() {
  owner_->setRubberBand(-1);
  releaseKeyboard();
  dragging_ = false;
  emit owner_->Moved();
}

void TSplitterHandle::paintEvent(QPaintEvent* /*event*/) {
  QPainter p(this);
  p.fillRect(rect(), palette().window());
  if (!owner_->Beveled()) return;
  // A raised edge: highlight on the leading side, shadow on the trailing side.
  if (orientation() == Qt::Horizontal) {
    p.setPen(palette().color(QPalette::Light));
    p.drawLine(0, 0, 0, height() - 1);
    p.setPen(palette().color(QPalette::Dark));
    p.drawLine(width() - 1, 0, width() - 1, height() - 1);
  } else {
    p.setPen(palette().color(QPalette::Light));
    p.drawLine(0, 0, width() - 1, 0);
    p.setPen(palette().color(QPalette::Dark));
    p.drawLine(0, height() - 1, width() - 1, height() - 1);
  }
}

}  // namespace kdlw
