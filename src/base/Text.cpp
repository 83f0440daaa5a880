#include "base/Text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <iterator>
#include <utility>

namespace vx {

bool SameText(std::string_view a, std::string_view b) noexcept {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

bool IsBlank(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsControlOrSpace(char c) noexcept {
  return static_cast<unsigned char>(c) >= 1 && static_cast<unsigned char>(c) <= ' ';
}

std::string_view Trim(std::string_view text, bool (*isBlank)(char)) {
  while (!text.empty() && isBlank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && isBlank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

namespace {

// The length of the well-formed UTF-8 sequence at the start of text, and its code point;
// 0 when it is not one.
std::size_t Utf8Sequence(std::string_view text, char32_t& codePoint) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  }
  std::size_t length = 0;
  unsigned low = 0x80;   // the allowed range of the second byte: no overlong forms,
  unsigned high = 0xBF;  // no surrogates, nothing beyond U+10FFFF
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1FU;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0FU;
    low = lead == 0xE0 ? 0xA0U : 0x80U;
    high = lead == 0xED ? 0x9FU : 0xBFU;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    codePoint = lead & 0x07U;
    low = lead == 0xF0 ? 0x90U : 0x80U;
    high = lead == 0xF4 ? 0x8FU : 0xBFU;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0U) != 0x80) {
      return 0;
    }
    codePoint = (codePoint << 6U) | (byte(i) & 0x3FU);
  }
  return length;
}

// The format characters (general category Cf, Unicode 15) and the line and paragraph
// separators: they reorder, hide or break what a viewer shows of a line.
constexpr std::array<std::pair<char32_t, char32_t>, 21> kFormatRanges{{
    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},
    {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},
    {0x200B, 0x200F},   {0x2028, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},
    {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD},
    {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
    {0xE0020, 0xE007F},
}};

bool IsFormatCharacter(char32_t codePoint) {
  return std::any_of(kFormatRanges.begin(), kFormatRanges.end(), [codePoint](const auto& range) {
    return codePoint >= range.first && codePoint <= range.second;
  });
}

}  // namespace

std::string PrintableText(std::string_view text) {
  std::string printable;
  printable.reserve(text.size());
  while (!text.empty()) {
    char32_t codePoint = 0;
    const std::size_t length = Utf8Sequence(text, codePoint);
    const bool control = codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F) ||
                         (codePoint >= 0xAD && IsFormatCharacter(codePoint));
    if (length == 0 || control) {
      printable += '?';
      text.remove_prefix(length == 0 ? 1 : length);
    } else {
      printable.append(text.substr(0, length));
      text.remove_prefix(length);
    }
  }
  return printable;
}

}  // namespace vx
