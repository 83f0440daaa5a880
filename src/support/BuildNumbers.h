#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vx {

// Build numbers: a dotted version a.b.c.d as one 32-bit number that orders as the
// versions do, as long as every part lies in 0..255 and the first is below 128.

// The items of version (split at full stops; a blank separates items too), each read as
// a decimal integer and written as upper-case hexadecimal of at least two digits:
// "1.0.7.29" -> "0100071D". Raises EConvertError for an item that is no integer.
std::string VersionToBuildText(std::string_view version);

// text read as a hexadecimal number: EConvertError "'$%s' is not a valid integer value"
// when it is none or does not fit into 32 bits, ERangeError "Range check error" from
// 80000000 up.
std::uint32_t HexToBuild(std::string_view text);

// HexToBuild(VersionToBuildText(version)): "1.0.7.29" -> 16,779,037.
std::uint32_t VersionToBuild(std::string_view version);

}  // namespace vx
