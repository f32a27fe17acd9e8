// The core's prompter for the window program: questions become message boxes, progress and status go to
// the progress bar and status line of the dialog that runs the operation, and the pump keeps the windows
// alive during long loops.
#pragma once

#include <QLabel>
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
  // `line` goes to a QLabel's text or a QStatusBar's message, whichever the status line is. A message too
  // long for its status bar loses the middle (where the paths are), so that its end (a size, a count) stays.
  void SetStatus(std::string_view line) override;
  void ShowTypeLine(std::string_view line) override;
  bool Pump() override;

  // Where progress and status go while a dialog runs an operation; null pointers send them nowhere.
  void SetProgressTarget(QProgressBar* bar, QWidget* statusLine, QLabel* typeLine = nullptr);
  // The Cancel button or Esc of the running dialog: the next Pump reports it once.
  void RequestCancel() { cancelRequested_ = true; }
  // How many messages and questions have been put to the user so far: an operation that failed without
  // adding to it has not said why.
  int MessagesShown() const { return messagesShown_; }

 private:
  UserDialogs& dialogs_;
  QPointer<QProgressBar> bar_;
  QPointer<QWidget> statusLine_;
  QPointer<QLabel> typeLine_;
  bool cancelRequested_ = false;
  int messagesShown_ = 0;
};

// Points the prompter at a dialog's progress bar, status line and type line for as long as the guard lives.
class ProgressScope {
 public:
  ProgressScope(QtPrompter& prompter, QProgressBar* bar, QWidget* statusLine, QLabel* typeLine = nullptr)
      : prompter_(prompter) {
    prompter_.SetProgressTarget(bar, statusLine, typeLine);
  }
  ~ProgressScope() { prompter_.SetProgressTarget(nullptr, nullptr); }
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;

 private:
  QtPrompter& prompter_;
};

}  // namespace kdlw
