#include "kdlw/common/qt_prompter.h"

#include <QApplication>
#include <QLabel>
#include <QStatusBar>

namespace kdlw {
namespace {

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Room a status bar keeps free around its message (its text margins and a little air).
constexpr int kStatusMargins = 24;

}  // namespace

kdl::Answer QtPrompter::Ask(std::string_view caption, std::string_view text, kdl::Buttons buttons,
                            kdl::Icon icon) {
  // The box belongs to whatever the user is looking at: the running modal dialog if there is one.
  QWidget* parent = QApplication::activeModalWidget();
  if (parent == nullptr) parent = QApplication::activeWindow();
  ++messagesShown_;
  return dialogs_.Message(parent, FromUtf8(caption), FromUtf8(text), buttons, icon);
}

void QtPrompter::SetProgressMaximum(int maximum) {
  if (bar_) bar_->setRange(0, maximum);
}

void QtPrompter::SetProgress(int position) {
  if (bar_) bar_->setValue(position);
}

void QtPrompter::SetStatus(std::string_view line) {
  if (!statusLine_) return;
  const QString text = FromUtf8(line);
  if (auto* label = qobject_cast<QLabel*>(statusLine_.data())) {
    label->setText(text);
  } else if (auto* bar = qobject_cast<QStatusBar*>(statusLine_.data())) {
    // The status bar draws its message inside a margin on each side.
    const int room = bar->width() - kStatusMargins;
    bar->showMessage(room > 0 ? bar->fontMetrics().elidedText(text, Qt::ElideMiddle, room) : text);
  }
}

void QtPrompter::ShowTypeLine(std::string_view line) {
  if (typeLine_) typeLine_->setText(FromUtf8(line));
}

bool QtPrompter::Pump() {
  QCoreApplication::processEvents();
  const bool cancel = cancelRequested_;
  cancelRequested_ = false;
  return cancel;
}

void QtPrompter::SetProgressTarget(QProgressBar* bar, QWidget* statusLine, QLabel* typeLine) {
  bar_ = bar;
  statusLine_ = statusLine;
  typeLine_ = typeLine;
}

}  // namespace kdlw
