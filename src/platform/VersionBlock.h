#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vx {

// The version block that the build linked into the ELF file fileName (the section that
// tools/versioninfo writes); nullopt when the file cannot be read, is no ELF file or has
// no such section. A section that reaches past the end of the file is cut off there.
std::optional<std::vector<std::uint8_t>> ReadVersionBlock(const std::string& fileName);

}  // namespace vx
