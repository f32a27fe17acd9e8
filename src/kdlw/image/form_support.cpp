#include "kdlw/image/form_support.h"

#include <qdrawutil.h>

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QStatusBar>
#include <QStatusTipEvent>

#include "common/sjis.h"

namespace kdlw {

KeyPreview::KeyPreview(QWidget* form, Handler handler)
    : QObject(form), form_(form), handler_(std::move(handler)) {
  qApp->installEventFilter(this);
}

KeyPreview::~KeyPreview() { qApp->removeEventFilter(this); }

bool KeyPreview::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (widget == nullptr || widget->window() != form_) return false;
  // A key goes to the focused control first and then, unhandled, to its parents: only the first counts.
  QWidget* focus = QApplication::focusWidget();
  if (widget != (focus != nullptr && focus->window() == form_ ? focus : form_)) return false;
  // A control that has grabbed the keyboard (the splitter during a drag) gets its keys first.
  if (QWidget::keyboardGrabber() != nullptr) return false;
  return handler_(static_cast<QKeyEvent*>(event), widget);
}

namespace {

// A status bar drawn as one sunken panel, so that it stands apart from the window's background even when it
// is empty.
class SimpleStatusBar : public QStatusBar {
 public:
  using QStatusBar::QStatusBar;

 protected:
  void paintEvent(QPaintEvent* event) override {
    QStatusBar::paintEvent(event);
    QPainter painter(this);
    qDrawShadePanel(&painter, rect().adjusted(1, 1, -1, -1), palette(), true, 1);
  }
};

}  // namespace

QStatusBar* MakeSimpleStatusBar(QWidget* form, const char* name) {
  auto* bar = new SimpleStatusBar(form);
  bar->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  bar->setObjectName(QString::fromLatin1(name));
  bar->setSizeGripEnabled(false);
  return bar;
}

bool ShowHint(QEvent* event, QStatusBar* bar) {
  if (event->type() != QEvent::StatusTip) return false;
  if (bar != nullptr) bar->showMessage(static_cast<QStatusTipEvent*>(event)->tip());
  return true;
}

QValidator::State SjisLengthValidator::validate(QString& input, int& position) const {
  (void)position;
  const std::optional<std::string> sjis = kdl::Utf8ToSjis(input.toStdString());
  return sjis && sjis->size() <= limit_ ? Acceptable : Invalid;
}

QString FromSjis(const std::string& sjis) { return QString::fromStdString(kdl::SjisToUtf8(sjis)); }

}  // namespace kdlw
