#pragma once

#include <chrono>
#include <memory>
#include <stop_token>

namespace vx {

// The time that a capture goes by and waits on: the steady clock, or one that a test moves.
class TClock {
 public:
  using duration = std::chrono::steady_clock::duration;
  using time_point = std::chrono::steady_clock::time_point;

  TClock() = default;
  virtual ~TClock() = default;
  TClock(const TClock&) = delete;
  TClock& operator=(const TClock&) = delete;

  virtual time_point Now() const = 0;
  // Blocks until Now() reaches deadline or stop is requested; true when stop was requested.
  virtual bool SleepUntil(time_point deadline, std::stop_token stop) = 0;
};

std::shared_ptr<TClock> SteadyClock();

}  // namespace vx
