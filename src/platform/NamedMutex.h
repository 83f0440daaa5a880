#pragma once

#include "platform/LocalSocket.h"

#include <string>

namespace vx {

// A named mutex that exists while a program of the current user holds it (a named local
// socket, LocalSocketName): the first holder takes the name, and the name is released when that
// holder ends, however it ends. Creating one whose name is already held is no error: it just does
// not hold it. Nothing waits on it; it only shows, to whoever looks, that such a program runs.
class NamedMutex {
 public:
  explicit NamedMutex(const std::string& name);
  NamedMutex(const std::string& name, unsigned user);
  ~NamedMutex() = default;
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // True when this object took the name; false when another holder had it already or
  // the system refused (Error() then tells why).
  bool Held() const { return holder_.IsValid(); }
  // 0, EADDRINUSE when another holder has the name, or the system's error number.
  int Error() const { return error_; }

 private:
  LocalListener holder_;
  int error_ = 0;
};

}  // namespace vx
