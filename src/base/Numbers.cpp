#include "base/Numbers.h"

#include <charconv>
#include <cmath>

#include "base/Exceptions.h"
#include "base/Format.h"

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

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::int32_t StrToInt(std::string_view text) {
  const auto fail = [&]() -> std::int32_t {
    throw EConvertError(Format("'%s' is not a valid integer value", std::string(text)));
  };
  std::string_view s = text;
  while (!s.empty() && IsBlank(s.front())) {
    s.remove_prefix(1);
  }
  while (!s.empty() && IsBlank(s.back())) {
    s.remove_suffix(1);
  }
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

std::string IntToStr(std::int64_t value) { return std::to_string(value); }
