// The core's prompter for the window program: questions become message boxes, progress and status go to
// the progress bar and status line of the dialog that runs the operation, and the pump keeps the windows
// alive during long loops.
#pragma once

#include <QPointer>
#include <QProgressBar>
#include <QWidget>

#include "common/prompt.h"
#include "kdlw/common/user_dialogs.h"

namespace kdlw {

class QtPrompter : public kdl::Prompter {
 public:
  explicit QtPrompter(UserDialogs& dialogs) : dialogs_(dialogs) {}

  kdl::Answer Ask(std::string_view caption, std::string_view text, kdl::Buttons buttons,
                  kdl::Icon icon) override;
  void SetProgressMaximum(int maximum) override;
  void SetProgress(int position) override;
  // `line` goes to a QLabel's text or a QStatusBar's message, whichever the status line is.
  void SetStatus(std::string_view line) override;
  bool Pump() override;

  // Where progress and status go while a dialog runs an operation; null pointers send them nowhere.
  void SetProgressTarget(QProgressBar* bar, QWidget* statusLine);
  // The Cancel button or Esc of the running dialog: the next Pump reports it once.
  void RequestCancel() { cancelRequested_ = true; }

 private:
  UserDialogs& dialogs_;
  QPointer<QProgressBar> bar_;
  QPointer<QWidget> statusLine_;
  bool cancelRequested_ = false;
};

// Points the prompter at a dialog's progress bar and status line for as long as the guard lives.
class ProgressScope {
 public:
  ProgressScope(QtPrompter& prompter, QProgressBar* bar, QWidget* statusLine) : prompter_(prompter) {
    prompter_.SetProgressTarget(bar, statusLine);
  }
  ~ProgressScope() { prompter_.SetProgressTarget(nullptr, nullptr); }
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;

 private:
  QtPrompter& prompter_;
};

}  // namespace kdlw
