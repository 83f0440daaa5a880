#pragma once

#include <string>

namespace vx {

// The whole content of a file, byte for byte; empty when it cannot be read.
std::string ReadText(const std::string& fileName);

}  // namespace vx
