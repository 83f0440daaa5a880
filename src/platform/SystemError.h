#pragma once

#include <string>

namespace vx {

// The English text of a system error number, or "I/O error %d" for a number that has
// no text of its own. Not translated: messages and logs are in English.
std::string InOutErrorMessage(int errorCode);

// Raises EInOutError for a failed file operation, carrying the system error number.
[[noreturn]] void RaiseInOutError(int errorCode);

}  // namespace vx
