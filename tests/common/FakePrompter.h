#pragma once

#include "platform/Prompter.h"

#include <deque>
#include <string>
#include <vector>

namespace vx {

// Records every message and question and answers questions from a script; installs
// itself for its lifetime.
class FakePrompter final : public Prompter {
 public:
  FakePrompter() : previous_(SetPrompter(this)) {}
  ~FakePrompter() override { SetPrompter(previous_); }
  FakePrompter(const FakePrompter&) = delete;
  FakePrompter& operator=(const FakePrompter&) = delete;

  void ShowMessage(const std::string& text) override { Messages.push_back(text); }
  bool AskYesNo(const std::string& text) override {
    Questions.push_back(text);
    if (Answers.empty()) {
      return false;
    }
    const bool answer = Answers.front();
    Answers.pop_front();
    return answer;
  }

  std::vector<std::string> Messages;
  std::vector<std::string> Questions;
  std::deque<bool> Answers;  // answers to the next questions; "No" when empty

 private:
  Prompter* previous_;
};

}  // namespace vx
