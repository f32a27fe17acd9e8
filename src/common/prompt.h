// How the core talks to the person at the other end: message boxes, questions, progress and the
// message pump. The window program answers with dialogs, `kdl` on the terminal, tests from a script.
// The core never prints and never shows a window itself.
#pragma once

#include <string>
#include <string_view>

namespace kdl {

enum class Buttons { kOk, kYesNo, kRetryCancel, kAbortRetryIgnore, kYesNoCancel };
enum class Icon { kNone, kStop, kQuestion, kExclamation, kInformation };
enum class Answer { kOk, kYes, kNo, kRetry, kCancel, kAbort, kIgnore };

// Message box captions used throughout the core.
inline constexpr std::string_view kCaptionImage = "KDL Form";
inline constexpr std::string_view kCaptionArchive = "KDZ Form";
inline constexpr std::string_view kCaptionInterrupt = "ユーザー割り込み";

class Prompter {
 public:
  virtual ~Prompter() = default;

  // A modal message box or question; texts are UTF-8. Returns the button the user chose.
  virtual Answer Ask(std::string_view caption, std::string_view text, Buttons buttons, Icon icon) = 0;
  // A question that overrides a protection the user set himself (a write-protected file to be replaced):
  // only a person may answer Yes to it, never an answer given in advance. The window program asks it as any
  // other question.
  virtual Answer AskInPerson(std::string_view caption, std::string_view text, Buttons buttons, Icon icon) {
    return Ask(caption, text, buttons, icon);
  }

  // Progress of a long operation: a bar from 0 to `maximum`, and a one-line status text.
  virtual void SetProgressMaximum(int maximum) { (void)maximum; }
  virtual void SetProgress(int position) { (void)position; }
  virtual void SetStatus(std::string_view line) { (void)line; }
  // The type line of a disk being read ("タイプ：..."), shown as soon as its media type and volume label are
  // known.
  virtual void ShowTypeLine(std::string_view line) { (void)line; }

  // Lets the user interface handle pending events once. Returns true when the user asked to cancel
  // since the last call (the Cancel button, Esc, Ctrl-C); the caller then asks ConfirmCancel.
  virtual bool Pump() { return false; }
};

// A prompter that shows nothing and answers every question with `answer` (No unless told otherwise).
class SilentPrompter : public Prompter {
 public:
  explicit SilentPrompter(Answer answer = Answer::kNo) : answer_(answer) {}
  Answer Ask(std::string_view, std::string_view, Buttons buttons, Icon) override {
    return buttons == Buttons::kOk ? Answer::kOk : answer_;
  }

 private:
  Answer answer_;
};

}  // namespace kdl
