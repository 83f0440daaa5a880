#include "platform/ProcessEnd.h"

#include "platform/ThreadName.h"

#include <unistd.h>

#include <thread>

namespace vx {

void EndProcessAfter(std::chrono::milliseconds limit, int code) {
  // Detached on purpose: the process ends with it either way, and nothing may wait for
  // it. _exit, not exit: the teardown that holds the exit must not run again here.
  std::thread([limit, code] {
    NameThisThread("vx-exit");
    std::this_thread::sleep_for(limit);
    ::_exit(code);
  }).detach();
}

}  // namespace vx
