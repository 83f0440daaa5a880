#pragma once

#include <string>

namespace vx {

// Message boxes, reached from code that has no widgets. The application installs
// one that shows QMessageBox; tests install one that records and answers.
class Prompter {
 public:
  virtual ~Prompter() = default;
  virtual void ShowMessage(const std::string& text) = 0;
  // True for "Yes".
  virtual bool AskYesNo(const std::string& text) = 0;
};

// The installed prompter; until one is installed, messages go to standard error and
// every question is answered "No".
Prompter& CurrentPrompter();

// Installs prompter (not owned) and returns the previous one; nullptr restores the default.
Prompter* SetPrompter(Prompter* prompter);

inline void ShowMessage(const std::string& text) {
  CurrentPrompter().ShowMessage(text);
}

}  // namespace vx
