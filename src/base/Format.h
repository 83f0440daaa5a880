#pragma once

#include <fmt/printf.h>

#include <string>
#include <string_view>

namespace vx {

// printf-style formatting of the system's message texts ("LEDBar index out of range (%d)").
template <typename... Args>
std::string Format(std::string_view pattern, const Args&... args) {
  return fmt::sprintf(pattern, args...);
}

}  // namespace vx
