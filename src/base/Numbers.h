#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vx {

// Nearest integer, halves to the even neighbour (0.5 -> 0, 1.5 -> 2, 2.5 -> 2).
std::int64_t RoundHalfEven(double value);

// Decimal text of a 32-bit integer, with an optional sign and surrounding blanks, or
// hexadecimal after "$" or "0x". Raises EConvertError "'%s' is not a valid integer value".
std::int32_t StrToInt(std::string_view text);

// The settings' own integers: an optional sign and decimal digits, nothing else (no
// blanks, no "$" or "0x"). Raises EConvertError "'%s' is not a valid integer value".
std::int32_t DecimalToInt(std::string_view text);

// DecimalToInt of an LED value; raises ERangeError "Range check error" outside 0..255.
std::uint8_t DecimalToByte(std::string_view text);

std::string IntToStr(std::int64_t value);

// General format with "." as decimal separator, 15 significant digits, no thousands
// separators: fixed notation for magnitudes from 0.00001 with at most 15 integer
// digits, else scientific ("1E-6"). 1.0 -> "1", 0.1 + 0.2 -> "0.3".
std::string FloatToText(double value);

// Parses the decimal text of a 32-bit integer: an optional "+", an optional "-", then
// digits, nothing around them. False when it is no such number.
bool TryTextToInt(std::string_view text, std::int32_t& value);

// Parses a floating-point text whose decimal separator is decimalSeparator; blanks
// around it and a sign are accepted. False (value unchanged) when it is no number.
bool TryTextToFloat(std::string_view text, double& value, char decimalSeparator = '.');

// The decimal separator of the user's locale (LC_NUMERIC).
char LocaleDecimalSeparator();

// The fixed format first, then the user's locale; raises EConvertError
// "'%s' is not a valid floating point value" when both fail.
double StrToFloat(std::string_view text);

}  // namespace vx
