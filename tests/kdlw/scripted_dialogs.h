// A stand-in for the user's dialogs: records every question and answers from queues.
#pragma once

#include <QString>
#include <deque>
#include <optional>
#include <vector>

#include "kdlw/common/user_dialogs.h"

namespace kdlwtest {

class ScriptedDialogs : public kdlw::UserDialogs {
 public:
  struct Record {
    QString kind;  // "message", "input", "open" or "save"
    QString caption;
    QString text;
    kdl::Buttons buttons = kdl::Buttons::kOk;
    kdl::Icon icon = kdl::Icon::kNone;
  };

  // Answers to the next message boxes; when empty, OK for an OK box and No for any other.
  std::deque<kdl::Answer> answers;
  // Answers to the next input boxes; std::nullopt is Cancel, and so is an empty queue.
  std::deque<std::optional<QString>> inputs;
  // Files chosen in the next file dialogs; an empty text or an empty queue is Cancel.
  std::deque<QString> files;
  std::vector<Record> records;

  kdl::Answer Message(QWidget*, const QString& caption, const QString& text, kdl::Buttons buttons,
                      kdl::Icon icon) override {
    records.push_back({QStringLiteral("message"), caption, text, buttons, icon});
    if (!answers.empty()) return Pop(answers);
    return buttons == kdl::Buttons::kOk ? kdl::Answer::kOk : kdl::Answer::kNo;
  }
  std::optional<QString> InputText(QWidget*, const QString& caption, const QString& prompt,
                                   const QString& initial) override {
    records.push_back({QStringLiteral("input"), caption, prompt + QLatin1Char('|') + initial});
    return inputs.empty() ? std::nullopt : Pop(inputs);
  }
  QString OpenFileName(QWidget*, const QString& title, const QString& folder, const QString&) override {
    records.push_back({QStringLiteral("open"), title, folder});
    return files.empty() ? QString() : Pop(files);
  }
  QString SaveFileName(QWidget*, const QString& title, const QString& folder, const QString&) override {
    records.push_back({QStringLiteral("save"), title, folder});
    return files.empty() ? QString() : Pop(files);
  }

 private:
  template <typename T>
  static T Pop(std::deque<T>& queue) {
    T value = queue.front();
    queue.pop_front();
    return value;
  }
};

}  // namespace kdlwtest
