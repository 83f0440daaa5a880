#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Nearest integer, halves to the even neighbour (0.5 -> 0, 1.5 -> 2, 2.5 -> 2).
std::int64_t RoundHalfEven(double value);

// Decimal text of a 32-bit integer, with an optional sign and surrounding blanks, or
// hexadecimal after "$" or "0x". Raises EConvertError "'%s' is not a valid integer value".
std::int32_t StrToInt(std::string_view text);

std::string IntToStr(std::int64_t value);
