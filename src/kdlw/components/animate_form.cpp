#include "kdlw/components/animate_form.h"

#include <QWidget>
#include <QWindowStateChangeEvent>

namespace kdlw {

TAnimateForm::TAnimateForm(QWidget* form) : QObject(form), form_(form) {
  if (form == nullptr || !form->isWindow()) throw std::invalid_argument("Owner must be a form");
  form_->installEventFilter(this);
}

bool TAnimateForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == form_ && event->type() == QEvent::WindowStateChange && play) {
    const Qt::WindowStates before = static_cast<QWindowStateChangeEvent*>(event)->oldState();
    const Qt::WindowStates now = form_->windowState();
    if ((now & Qt::WindowMinimized) && !(before & Qt::WindowMinimized)) {
      play(Sound::kMinimize);
    } else if ((before & Qt::WindowMinimized) && !(now & Qt::WindowMinimized)) {
      play(Sound::kRestoreUp);
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace kdlw
