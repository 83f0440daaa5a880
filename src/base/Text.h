#pragma once

#include <string>
#include <string_view>

namespace vx {

// Equal texts, ASCII letter case ignored (names of inputs, properties and elements).
bool SameText(std::string_view a, std::string_view b) noexcept;

// Space, tab, carriage return and line feed: what may surround a number, a value of the
// settings file or a line of a desktop entry.
bool IsBlank(char c) noexcept;

// Every control character (1 to 31) and the space: the blanks of INI files as the
// platform's profile functions read them, and of the items of a version.
bool IsControlOrSpace(char c) noexcept;

// text without the characters at either end for which isBlank holds.
std::string_view Trim(std::string_view text, bool (*isBlank)(char) = IsBlank);

// text with every control character (C0, DEL and C1) and every byte that is not part of
// well-formed UTF-8 replaced by "?": what a line of the log may hold of text from outside
// (server replies, device names), so that no escape sequence reaches a terminal that
// shows the log and no carriage return forges a line. Format characters (bidi overrides,
// zero-width marks) and the line and paragraph separators become "?" as well: a viewer
// would show the line reordered or split.
std::string PrintableText(std::string_view text);

}  // namespace vx
