#pragma once

#include <string_view>

// Equal texts, ASCII letter case ignored (names of inputs, properties and elements).
bool SameText(std::string_view a, std::string_view b) noexcept;
