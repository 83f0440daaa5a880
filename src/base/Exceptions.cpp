#include "base/Exceptions.h"

namespace vx {

const char* ExceptionClassName(const std::exception& e) noexcept {
  if (const auto* own = dynamic_cast<const Exception*>(&e)) {
    return own->ClassName();
  }
  return "Exception";
}

}  // namespace vx
