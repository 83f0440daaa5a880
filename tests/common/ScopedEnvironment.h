#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace vx {

// Sets (or, with nullopt, removes) an environment variable for one test, and gives it its
// previous value back at the end.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      previous_ = old;
    }
    Set(name_, value);
  }
  ~ScopedEnvironment() { Set(name_, previous_); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  static void Set(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }

  std::string name_;
  std::optional<std::string> previous_;
};

}  // namespace vx
