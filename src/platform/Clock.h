#pragma once

#include <chrono>
#include <memory>

namespace vx {

// The time that code paces itself by and waits for. Behind an interface so that a test can
// set the time instead of waiting for it.
class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  virtual ~Clock() = default;
  virtual TimePoint Now() const = 0;
  // Blocks the calling thread for duration (a clock that a test sets moves on instead).
  virtual void SleepFor(std::chrono::nanoseconds duration) = 0;
};

// The machine's steady clock; one object, shared by all who ask.
std::shared_ptr<Clock> SteadyClock();

}  // namespace vx
