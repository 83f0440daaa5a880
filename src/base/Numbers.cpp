#include "base/Numbers.h"

#include "base/Exceptions.h"
#include "base/Format.h"
#include "base/Text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <clocale>
#include <cmath>

namespace vx {

std::int64_t RoundHalfEven(double value) {
  const double below = std::floor(value);
  const double rest = value - below;
  double result = below;
  if (rest > 0.5) {
    result = below + 1.0;
  } else if (rest == 0.5) {
    result = std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
  }
  return static_cast<std::int64_t>(result);
}

std::int32_t StrToInt(std::string_view text) {
  const auto fail = [&]() -> std::int32_t {
    throw EConvertError(Format("'%s' is not a valid integer value", std::string(text)));
  };
  std::string_view s = Trim(text);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && s.front() == '$') {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() > 1 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) {
    return fail();
  }
  std::uint64_t magnitude = 0;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
  if (error != std::errc() || end != s.data() + s.size()) {
    return fail();
  }
  const std::int64_t value =
      negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  if (magnitude > 0x80000000ULL || value < INT32_MIN || value > INT32_MAX) {
    return fail();
  }
  return static_cast<std::int32_t>(value);
}

std::int32_t DecimalToInt(std::string_view text) {
  const bool digitsOnly =
      !text.empty() && std::all_of(text.begin() + (text[0] == '-' || text[0] == '+' ? 1 : 0),
                                   text.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!digitsOnly) {
    throw EConvertError(Format("'%s' is not a valid integer value", std::string(text)));
  }
  return StrToInt(text);
}

std::uint8_t DecimalToByte(std::string_view text) {
  const std::int32_t value = DecimalToInt(text);
  if (value < 0 || value > 255) {
    throw ERangeError(kRangeCheckError);
  }
  return static_cast<std::uint8_t>(value);
}

std::string IntToStr(std::int64_t value) {
  return std::to_string(value);
}

std::string FloatToText(double value) {
  if (value == 0.0 || !std::isfinite(value)) {
    return value == 0.0 ? "0" : (std::isnan(value) ? "NAN" : (value > 0 ? "INF" : "-INF"));
  }
  // Round to 15 significant digits first; the exponent of the rounded value decides
  // between fixed and scientific notation.
  std::array<char, 64> buffer{};
  auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::scientific, 14);
  const std::string scientific(buffer.data(), end);
  const auto e = scientific.find('e');
  int exponent = 0;
  std::from_chars(scientific.data() + e + 1 + (scientific[e + 1] == '+' ? 1 : 0),
                  scientific.data() + scientific.size(), exponent);
  std::string mantissa = scientific.substr(0, e);
  const auto trimZeros = [](std::string& text) {
    if (text.find('.') == std::string::npos) {
      return;
    }
    while (text.back() == '0') {
      text.pop_back();
    }
    if (text.back() == '.') {
      text.pop_back();
    }
  };
  // from_chars, not stod: the rounding must not depend on the user's locale.
  double rounded = value;
  std::from_chars(scientific.data(), scientific.data() + scientific.size(), rounded);
  if (std::fabs(rounded) >= 0.00001 && exponent < 15) {
    const int decimals = std::max(0, 14 - exponent);
    auto [fixedEnd, fixedError] = std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                                rounded, std::chars_format::fixed, decimals);
    std::string fixed(buffer.data(), fixedEnd);
    trimZeros(fixed);
    return fixed;
  }
  trimZeros(mantissa);
  return mantissa + "E" + std::to_string(exponent);
}

bool TryTextToInt(std::string_view text, std::int32_t& value) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') {
    ++first;
  }
  const auto result = std::from_chars(first, last, value);
  return result.ec == std::errc() && result.ptr == last && first != last;
}

bool TryTextToFloat(std::string_view text, double& value, char decimalSeparator) {
  std::string_view s = Trim(text);
  std::string normal;
  normal.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '+' && i == 0) {
      continue;
    }
    if (c == decimalSeparator) {
      normal.push_back('.');
    } else if (c == '.' || !((std::isdigit(static_cast<unsigned char>(c)) != 0) || c == '-' ||
                             c == 'e' || c == 'E')) {
      return false;  // also rules out "inf" and "nan", which are no numbers here
    } else {
      normal.push_back(c);
    }
  }
  if (normal.empty()) {
    return false;
  }
  double parsed = 0.0;
  const auto [end, error] = std::from_chars(normal.data(), normal.data() + normal.size(), parsed);
  if (error != std::errc() || end != normal.data() + normal.size()) {
    return false;
  }
  value = parsed;
  return true;
}

char LocaleDecimalSeparator() {
  const std::lconv* conventions = std::localeconv();
  if (conventions == nullptr || conventions->decimal_point == nullptr ||
      conventions->decimal_point[0] == '\0') {
    return '.';
  }
  return conventions->decimal_point[0];
}

double StrToFloat(std::string_view text) {
  double value = 0.0;
  if (TryTextToFloat(text, value, '.') || TryTextToFloat(text, value, LocaleDecimalSeparator())) {
    return value;
  }
  throw EConvertError(Format("'%s' is not a valid floating point value", std::string(text)));
}

}  // namespace vx
