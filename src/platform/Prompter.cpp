#include "platform/Prompter.h"

#include <cstdio>

namespace vx {

namespace {

class StandardErrorPrompter final : public Prompter {
 public:
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  bool AskYesNo(const std::string& text) override {
    std::fprintf(stderr, "%s (answered No)\n", text.c_str());
    return false;
  }
};

// The program has one place where its messages go: a window installs itself over the
// standard-error default.
StandardErrorPrompter
    defaultPrompter;            // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
Prompter* installed = nullptr;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

}  // namespace

Prompter& CurrentPrompter() {
  return installed != nullptr ? *installed : defaultPrompter;
}

Prompter* SetPrompter(Prompter* prompter) {
  Prompter* previous = installed;
  installed = prompter;
  return previous;
}

}  // namespace vx
