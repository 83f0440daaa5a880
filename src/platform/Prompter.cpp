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

StandardErrorPrompter defaultPrompter;
Prompter* installed = nullptr;

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
