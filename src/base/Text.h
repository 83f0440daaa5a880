#pragma once

#include <string_view>

namespace vx {

// Equal texts, ASCII letter case ignored (names of inputs, properties and elements).
bool SameText(std::string_view a, std::string_view b) noexcept;

// Space, tab, carriage return and line feed: what may surround a number, a value of the
// settings file or a line of a desktop entry.
bool IsBlank(char c) noexcept;

// text without the characters at either end for which isBlank holds.
std::string_view Trim(std::string_view text, bool (*isBlank)(char) = IsBlank);

}  // namespace vx
