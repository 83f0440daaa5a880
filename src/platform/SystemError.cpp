#include "platform/SystemError.h"

#include "base/Exceptions.h"
#include "base/Format.h"

#include <cstring>

namespace vx {

std::string InOutErrorMessage(int errorCode) {
  // strerrordesc_np rather than strerror: it ignores LC_MESSAGES and tells unknown
  // numbers apart instead of inventing "Unknown error N".
  if (const char* text = strerrordesc_np(errorCode)) {
    return text;
  }
  return Format("I/O error %d", errorCode);
}

void RaiseInOutError(int errorCode) {
  throw EInOutError(InOutErrorMessage(errorCode), errorCode);
}

}  // namespace vx
