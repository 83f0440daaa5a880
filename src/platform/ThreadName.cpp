#include "platform/ThreadName.h"

#include <pthread.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace vx {

void NameThisThread(const char* name) {
  // The kernel keeps 16 bytes with the terminating zero; a longer name is refused whole.
  constexpr std::size_t kLongest = 15;
  const std::string kept(name, std::min(std::strlen(name), kLongest));
  ::pthread_setname_np(::pthread_self(), kept.c_str());
}

}  // namespace vx
