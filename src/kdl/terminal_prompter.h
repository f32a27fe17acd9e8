// The command line's side of the core's questions and progress: messages on standard error, questions
// answered on the terminal (or in advance by --yes/--no; No when there is no terminal to ask), a progress
// line on standard error when it is a terminal, the type line of a disk as soon as it is known, and Ctrl-C as
// the cancel request (see stop_signals.h).
#pragma once

#include <optional>
#include <string>

#include "common/prompt.h"

namespace kdlcli {

class TerminalPrompter : public kdl::Prompter {
 public:
  // `preset`: the answer every question gets without asking (--yes / --no).
  explicit TerminalPrompter(std::optional<bool> preset);
  ~TerminalPrompter() override;

  kdl::Answer Ask(std::string_view caption, std::string_view text, kdl::Buttons buttons,
                  kdl::Icon icon) override;
  kdl::Answer AskInPerson(std::string_view caption, std::string_view text, kdl::Buttons buttons,
                          kdl::Icon icon) override;
  void SetProgressMaximum(int maximum) override;
  void SetProgress(int position) override;
  void SetStatus(std::string_view line) override;
  void ShowTypeLine(std::string_view line) override;
  bool Pump() override;

  // Standard output carries data (an image written to "-"): lines meant for it go to standard error.
  void SetOutputIsData(bool data) { outputIsData_ = data; }
  // Number of messages shown with an OK button that were not notices (errors), for the exit status.
  int errorsShown() const { return errorsShown_; }
  // True when a question ended the run because of a stop request (Ctrl-C, SIGTERM).
  bool stopped() const { return stopped_; }
  bool interactive() const { return interactive_; }

  // Answers given in advance that may retry something (Yes, Retry) in a row without any progress in between:
  // one more is answered the safe way, so a retry question can never loop.
  static constexpr int kMaxAdvanceRetries = 3;

 private:
  kdl::Answer AskOnTerminal(kdl::Buttons buttons);
  void DrawProgress();
  void ClearProgress();
  void Progressed() { advanceRetries_ = 0; }

  std::optional<bool> preset_;
  bool interactive_;  // a person can answer on the terminal
  bool showProgress_;
  bool outputIsData_ = false;
  int maximum_ = 0;
  int position_ = 0;
  std::string status_;
  bool progressDrawn_ = false;
  int errorsShown_ = 0;
  int advanceRetries_ = 0;
  bool stopped_ = false;
};

}  // namespace kdlcli
