#pragma once

#include "platform/Clock.h"

#include <algorithm>

namespace vx {

// A clock that stands still until the test moves it; sleeping moves it on at once.
class ManualClock final : public Clock {
 public:
  TimePoint Now() const override { return now_; }
  void SleepFor(std::chrono::nanoseconds duration) override { Advance(duration); }
  void Advance(std::chrono::nanoseconds duration) { now_ += duration; }
  // Moves the clock to time unless it is there already.
  void AdvanceTo(TimePoint time) { now_ = std::max(now_, time); }

 private:
  TimePoint now_ = std::chrono::steady_clock::now();  // any origin serves
};

}  // namespace vx
