// The command line's side of the core's questions and progress: messages on standard error, questions
// answered on the terminal (or in advance by --yes/--no; No when there is no terminal to ask), a progress
// line on standard error when it is a terminal, and Ctrl-C as the cancel request.
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
  void SetProgressMaximum(int maximum) override;
  void SetProgress(int position) override;
  void SetStatus(std::string_view line) override;
  bool Pump() override;

  // Number of messages shown with an OK button that were not notices (errors), for the exit status.
  int errorsShown() const { return errorsShown_; }

 private:
  void DrawProgress();
  void ClearProgress();

  std::optional<bool> preset_;
  bool interactive_;  // a person can answer on the terminal
  bool showProgress_;
  int maximum_ = 0;
  int position_ = 0;
  std::string status_;
  bool progressDrawn_ = false;
  int errorsShown_ = 0;
  std::string lastQuestion_;
  int repeats_ = 0;
};

}  // namespace kdlcli
