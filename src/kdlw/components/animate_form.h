// The main window's minimise and restore: the desktop animates the window itself. The desktops have no
// minimise or restore sound of their own (the bell is the error sound), so nothing is played unless a
// player is set.
#pragma once

#include <QObject>
#include <functional>
#include <stdexcept>

class QWidget;

namespace kdlw {

class TAnimateForm : public QObject {
  Q_OBJECT

 public:
  enum class Sound { kMinimize, kRestoreUp };

  // `form` must be a window; throws std::invalid_argument("Owner must be a form") otherwise.
  explicit TAnimateForm(QWidget* form);

  // Plays a sound; empty (silent) unless set.
  std::function<void(Sound)> play;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* form_;
};

}  // namespace kdlw
