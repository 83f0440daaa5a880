#pragma once

#include <chrono>
#include <memory>
#include <stop_token>

namespace vx {

// The time that workers wait on. The program runs on the steady clock; tests pass a clock
// that they advance by hand, so that they never sleep for the program's own time.
class TClock {
 public:
  using duration = std::chrono::steady_clock::duration;
  using time_point = std::chrono::steady_clock::time_point;

  TClock() = default;
  virtual ~TClock() = default;
  TClock(const TClock&) = delete;
  TClock& operator=(const TClock&) = delete;

  virtual time_point Now() const = 0;
  // Blocks the calling thread until Now() reaches deadline or stop is requested; true when
  // stop was requested.
  virtual bool SleepUntil(time_point deadline, std::stop_token stop) = 0;
};

// The steady clock, shared by every worker that is not given another.
std::shared_ptr<TClock> SteadyClock();

}  // namespace vx
