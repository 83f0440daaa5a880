#pragma once

#include <string_view>

namespace vx {

// Equal texts, ASCII letter case ignored (names of inputs, properties and elements).
bool SameText(std::string_view a, std::string_view b) noexcept;

}  // namespace vx
