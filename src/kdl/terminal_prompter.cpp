#include "kdl/terminal_prompter.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <iostream>

#include "kdl/session.h"

namespace kdlcli {
namespace {

std::atomic<int> gInterrupts{0};

void OnInterrupt(int) {
  // The second Ctrl-C while the first is still unanswered ends the program at once.
  if (gInterrupts.fetch_add(1) >= 1) _exit(130);
}

const char* ButtonHint(kdl::Buttons b) {
  switch (b) {
    case kdl::Buttons::kYesNo:
      return " [y/N] ";
    case kdl::Buttons::kRetryCancel:
      return " [r]etry/[C]ancel ";
    case kdl::Buttons::kAbortRetryIgnore:
      return " [A]bort/[r]etry/[i]gnore ";
    case kdl::Buttons::kYesNoCancel:
      return " [y/n/C] ";
    case kdl::Buttons::kOk:
      return "";
  }
  return "";
}

// The answer a question gets when nobody can be asked: the safe one.
kdl::Answer SafeAnswer(kdl::Buttons b) {
  switch (b) {
    case kdl::Buttons::kRetryCancel:
      return kdl::Answer::kCancel;
    case kdl::Buttons::kAbortRetryIgnore:
      return kdl::Answer::kAbort;
    case kdl::Buttons::kYesNoCancel:
      return kdl::Answer::kCancel;
    default:
      return kdl::Answer::kNo;
  }
}

kdl::Answer PresetAnswer(kdl::Buttons b, bool yes) {
  if (!yes) return SafeAnswer(b);
  switch (b) {
    case kdl::Buttons::kRetryCancel:
      return kdl::Answer::kRetry;
    case kdl::Buttons::kAbortRetryIgnore:
      return kdl::Answer::kIgnore;
    default:
      return kdl::Answer::kYes;
  }
}

std::optional<kdl::Answer> ParseAnswer(kdl::Buttons b, const std::string& line) {
  const char c = line.empty() ? '\0' : static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
  switch (b) {
    case kdl::Buttons::kYesNo:
      if (c == 'y') return kdl::Answer::kYes;
      if (c == 'n' || c == '\0') return kdl::Answer::kNo;
      break;
    case kdl::Buttons::kYesNoCancel:
      if (c == 'y') return kdl::Answer::kYes;
      if (c == 'n') return kdl::Answer::kNo;
      if (c == 'c' || c == '\0') return kdl::Answer::kCancel;
      break;
    case kdl::Buttons::kRetryCancel:
      if (c == 'r') return kdl::Answer::kRetry;
      if (c == 'c' || c == '\0') return kdl::Answer::kCancel;
      break;
    case kdl::Buttons::kAbortRetryIgnore:
      if (c == 'a' || c == '\0') return kdl::Answer::kAbort;
      if (c == 'r') return kdl::Answer::kRetry;
      if (c == 'i') return kdl::Answer::kIgnore;
      break;
    case kdl::Buttons::kOk:
      return kdl::Answer::kOk;
  }
  return std::nullopt;
}

}  // namespace

TerminalPrompter::TerminalPrompter(std::optional<bool> preset)
    : preset_(preset), interactive_(isatty(STDIN_FILENO) != 0), showProgress_(isatty(STDERR_FILENO) != 0) {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
}

TerminalPrompter::~TerminalPrompter() {
  ClearProgress();
  signal(SIGINT, SIG_DFL);
}

kdl::Answer TerminalPrompter::Ask(std::string_view caption, std::string_view text, kdl::Buttons buttons,
                                  kdl::Icon icon) {
  ClearProgress();
  std::cerr << caption << ": " << PrintableText(text, true);
  if (buttons == kdl::Buttons::kOk) {
    std::cerr << std::endl;
    // A notice tells what is done and why; only a failure counts against the exit status.
    if (icon != kdl::Icon::kInformation) ++errorsShown_;
    return kdl::Answer::kOk;
  }
  kdl::Answer answer;
  // An answer given in advance must not repeat a retry question forever (a wrong disk stays wrong):
  // the same question a third time in a row gets the safe answer.
  repeats_ = text == lastQuestion_ ? repeats_ + 1 : 0;
  lastQuestion_ = std::string(text);
  if (preset_) {
    answer = PresetAnswer(buttons, *preset_ && repeats_ < 2);
    std::cerr << ButtonHint(buttons)
              << (answer == kdl::Answer::kYes || answer == kdl::Answer::kRetry ||
                          answer == kdl::Answer::kIgnore
                      ? "(answered yes)"
                      : "(answered no)")
              << std::endl;
  } else if (!interactive_) {
    answer = SafeAnswer(buttons);
    std::cerr << ButtonHint(buttons) << "(no terminal: answered no)" << std::endl;
  } else {
    for (;;) {
      std::cerr << ButtonHint(buttons) << std::flush;
      std::string line;
      if (!std::getline(std::cin, line)) {
        answer = SafeAnswer(buttons);
        std::cerr << std::endl;
        break;
      }
      if (auto a = ParseAnswer(buttons, line)) {
        answer = *a;
        break;
      }
    }
  }
  // A question answers any Ctrl-C that led to it.
  gInterrupts = 0;
  return answer;
}

void TerminalPrompter::SetProgressMaximum(int maximum) {
  maximum_ = maximum;
  position_ = 0;
}

void TerminalPrompter::SetProgress(int position) {
  position_ = position;
  if (position == 0 && status_.empty()) ClearProgress();
}

void TerminalPrompter::SetStatus(std::string_view line) {
  status_ = PrintableText(line);
  if (status_.empty()) {
    ClearProgress();
    return;
  }
  DrawProgress();
}

bool TerminalPrompter::Pump() { return gInterrupts.exchange(0) > 0; }

void TerminalPrompter::DrawProgress() {
  if (!showProgress_) return;
  std::fprintf(stderr, "\r\033[K%s", status_.c_str());
  if (maximum_ > 0) std::fprintf(stderr, " [%d/%d]", position_, maximum_);
  std::fflush(stderr);
  progressDrawn_ = true;
}

void TerminalPrompter::ClearProgress() {
  if (!progressDrawn_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  progressDrawn_ = false;
}

}  // namespace kdlcli
