#include "kdl/terminal_prompter.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <iostream>

#include "kdl/session.h"
#include "kdl/stop_signals.h"

namespace kdlcli {
namespace {

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

// What --yes answers: Yes, Retry, and Ignore for a sector that cannot be read (each one is another sector,
// so going on is how an unattended rescue reads a damaged disk).
kdl::Answer YesAnswer(kdl::Buttons b) {
  switch (b) {
    case kdl::Buttons::kRetryCancel:
      return kdl::Answer::kRetry;
    case kdl::Buttons::kAbortRetryIgnore:
      return kdl::Answer::kIgnore;
    default:
      return kdl::Answer::kYes;
  }
}

const char* AnswerName(kdl::Answer a) {
  switch (a) {
    case kdl::Answer::kYes:
      return "yes";
    case kdl::Answer::kRetry:
      return "retry";
    case kdl::Answer::kIgnore:
      return "ignore";
    case kdl::Answer::kAbort:
      return "abort";
    case kdl::Answer::kCancel:
      return "cancel";
    default:
      return "no";
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

enum class LineRead { kLine, kEnd, kStopped };

// One line from standard input, read byte by byte so that nothing past it is taken from the terminal. A wait
// cut short by a stop request gives kStopped; any other signal lets it go on.
LineRead ReadLine(std::string& line) {
  line.clear();
  for (;;) {
    if (!AwaitInput(STDIN_FILENO)) return LineRead::kStopped;
    char c = 0;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return line.empty() ? LineRead::kEnd : LineRead::kLine;
    if (c == '\n') return LineRead::kLine;
    line.push_back(c);
  }
}

}  // namespace

TerminalPrompter::TerminalPrompter(std::optional<bool> preset)
    : preset_(preset), interactive_(isatty(STDIN_FILENO) != 0), showProgress_(isatty(STDERR_FILENO) != 0) {
  InstallStopHandlers(interactive_);
}

TerminalPrompter::~TerminalPrompter() { ClearProgress(); }

kdl::Answer TerminalPrompter::AskOnTerminal(kdl::Buttons buttons) {
  BeginAnswer();
  kdl::Answer answer = SafeAnswer(buttons);
  for (;;) {
    std::cerr << ButtonHint(buttons) << std::flush;
    std::string line;
    const LineRead r = ReadLine(line);
    if (r == LineRead::kStopped) {
      std::cerr << "(stopped)" << std::endl;
      break;
    }
    if (r == LineRead::kEnd) {
      // End of input answers this question the safe way; the next question reads the terminal again.
      std::cerr << "(end of input: answered no)" << std::endl;
      break;
    }
    if (auto a = ParseAnswer(buttons, line)) {
      answer = *a;
      break;
    }
  }
  EndAnswer();
  return answer;
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
  // The interruption question answers a stop request: a person decides; with nobody to ask, or after a
  // signal that means "stop", the run stops.
  const bool interruption = caption == kdl::kCaptionInterrupt;
  kdl::Answer answer;
  if (MustStop() || (interruption && !interactive_)) {
    answer = interruption ? kdl::Answer::kYes : SafeAnswer(buttons);
    stopped_ = true;
    std::cerr << ButtonHint(buttons) << "(stopped)" << std::endl;
  } else if (interruption) {
    answer = AskOnTerminal(buttons);
    if (MustStop()) answer = kdl::Answer::kYes;
    stopped_ = answer == kdl::Answer::kYes;
  } else if (preset_) {
    answer = *preset_ ? YesAnswer(buttons) : SafeAnswer(buttons);
    // Ignore moves on to the next sector; Yes and Retry may try the same thing again, which is bounded.
    const bool mayRepeat = answer == kdl::Answer::kYes || answer == kdl::Answer::kRetry;
    if (mayRepeat && ++advanceRetries_ > kMaxAdvanceRetries) {
      answer = SafeAnswer(buttons);
      std::cerr << ButtonHint(buttons) << "(answered no: " << kMaxAdvanceRetries
                << " answers in advance got nowhere)" << std::endl;
    } else {
      std::cerr << ButtonHint(buttons) << "(answered " << AnswerName(answer) << ")" << std::endl;
    }
  } else if (!interactive_) {
    answer = SafeAnswer(buttons);
    std::cerr << ButtonHint(buttons) << "(no terminal: answered no)" << std::endl;
  } else {
    answer = AskOnTerminal(buttons);
    if (MustStop()) {
      answer = SafeAnswer(buttons);
      stopped_ = true;
    }
  }
  return answer;
}

kdl::Answer TerminalPrompter::AskInPerson(std::string_view caption, std::string_view text,
                                          kdl::Buttons buttons, kdl::Icon icon) {
  if (!interactive_ || MustStop()) {
    ClearProgress();
    std::cerr << caption << ": " << PrintableText(text, true) << ButtonHint(buttons)
              << "(answered no: only a person at the terminal can say yes)" << std::endl;
    return SafeAnswer(buttons);
  }
  // A preset answer does not reach this question: it is asked on the terminal.
  const std::optional<bool> preset = preset_;
  preset_.reset();
  const kdl::Answer answer = Ask(caption, text, buttons, icon);
  preset_ = preset;
  return answer;
}

void TerminalPrompter::SetProgressMaximum(int maximum) {
  maximum_ = maximum;
  position_ = 0;
  Progressed();
}

void TerminalPrompter::SetProgress(int position) {
  position_ = position;
  Progressed();
  if (position == 0 && status_.empty()) ClearProgress();
}

void TerminalPrompter::SetStatus(std::string_view line) {
  Progressed();
  status_ = PrintableText(line);
  if (status_.empty()) {
    ClearProgress();
    return;
  }
  DrawProgress();
}

void TerminalPrompter::ShowTypeLine(std::string_view line) {
  ClearProgress();
  std::ostream& out = outputIsData_ ? std::cerr : std::cout;
  out << PrintableText(line) << std::endl;
}

bool TerminalPrompter::Pump() { return TakeStopRequest(); }

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
