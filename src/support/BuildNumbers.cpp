#include "support/BuildNumbers.h"

#include "base/Exceptions.h"
#include "base/Format.h"
#include "base/Numbers.h"
#include "base/Text.h"

#include <cstddef>
#include <vector>

namespace vx {

namespace {

// The items of a delimited text: an item ends at a full stop or a blank, blanks around
// the delimiters are skipped, a full stop at the very end adds an empty item.
std::vector<std::string_view> VersionItems(std::string_view text) {
  std::vector<std::string_view> items;
  std::size_t i = 0;
  const auto skipBlanks = [&] {
    while (i < text.size() && IsControlOrSpace(text[i])) {
      ++i;
    }
  };
  skipBlanks();
  while (i < text.size()) {
    const std::size_t start = i;
    while (i < text.size() && !IsControlOrSpace(text[i]) && text[i] != '.') {
      ++i;
    }
    items.push_back(text.substr(start, i - start));
    skipBlanks();
    if (i < text.size() && text[i] == '.') {
      if (i + 1 == text.size()) {
        items.emplace_back();
      }
      ++i;
      skipBlanks();
    }
  }
  return items;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;
}

}  // namespace

std::string VersionToBuildText(std::string_view version) {
  std::string text;
  for (const std::string_view item : VersionItems(version)) {
    text += Format("%02X", static_cast<std::uint32_t>(StrToInt(item)));
  }
  return text;
}

std::uint32_t HexToBuild(std::string_view text) {
  const auto fail = [text]() -> std::uint32_t {
    throw EConvertError(Format("'$%s' is not a valid integer value", std::string(text)));
  };
  if (text.empty()) {
    return fail();
  }
  std::uint64_t value = 0;
  for (const char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) {
      return fail();
    }
    value = value * 16 + static_cast<std::uint64_t>(digit);
    if (value > 0xFFFFFFFFU) {
      return fail();
    }
  }
  // The build is kept as a signed 32-bit number on the way: from 80000000 up it turns
  // negative, which no build number may be.
  if (value >= 0x80000000U) {
    throw ERangeError(kRangeCheckError);
  }
  return static_cast<std::uint32_t>(value);
}

std::uint32_t VersionToBuild(std::string_view version) {
  return HexToBuild(VersionToBuildText(version));
}

}  // namespace vx
