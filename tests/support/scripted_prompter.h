// A Prompter for tests: records every question, progress call and status line, answers from a queue, and can
// report a cancel request from its message pump at chosen calls.
#pragma once

#include <algorithm>
#include <deque>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/prompt.h"

namespace kdltest {

struct AskRecord {
  std::string caption;
  std::string text;
  kdl::Buttons buttons;
  kdl::Icon icon;
};

class ScriptedPrompter : public kdl::Prompter {
 public:
  // Answers given to the next questions, in order. When the queue is empty a question with only an OK button
  // gets OK and every other question gets No.
  std::deque<kdl::Answer> answers;
  // Pump calls (counted from 1) that report a cancel request.
  std::set<int> cancelAtPump;

  std::vector<AskRecord> asks;
  std::vector<int> progressMaximums;
  std::vector<int> progress;
  std::vector<std::string> statuses;
  // Type lines shown, each with the number of status lines shown before it.
  std::vector<std::pair<std::string, size_t>> typeLines;
  int pumpCalls = 0;

  kdl::Answer Ask(std::string_view caption, std::string_view text, kdl::Buttons buttons,
                  kdl::Icon icon) override {
    asks.push_back({std::string(caption), std::string(text), buttons, icon});
    if (!answers.empty()) {
      const kdl::Answer a = answers.front();
      answers.pop_front();
      return a;
    }
    return buttons == kdl::Buttons::kOk ? kdl::Answer::kOk : kdl::Answer::kNo;
  }
  void SetProgressMaximum(int maximum) override { progressMaximums.push_back(maximum); }
  void SetProgress(int position) override { progress.push_back(position); }
  void SetStatus(std::string_view line) override { statuses.emplace_back(line); }
  void ShowTypeLine(std::string_view line) override { typeLines.emplace_back(line, statuses.size()); }
  bool Pump() override { return cancelAtPump.count(++pumpCalls) != 0; }

  // The texts of every question asked so far.
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const AskRecord& a : asks) texts.push_back(a.text);
    return texts;
  }
  // True when some question's text equals `text`.
  bool Asked(std::string_view text) const {
    return std::any_of(asks.begin(), asks.end(), [&](const AskRecord& a) { return a.text == text; });
  }
  void Clear() {
    asks.clear();
    progressMaximums.clear();
    progress.clear();
    statuses.clear();
    typeLines.clear();
  }
};

}  // namespace kdltest
