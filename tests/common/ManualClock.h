#pragma once

#include "support/Clock.h"

#include <condition_variable>
#include <mutex>
#include <set>

namespace vx {

// A clock that moves only when the test advances it, and wakes the workers sleeping on it
// then: tests advance time instead of sleeping.
class TManualClock final : public TClock {
 public:
  time_point Now() const override;
  bool SleepUntil(time_point deadline, std::stop_token stop) override;

  void Advance(duration by);
  // Waits until count threads sleep on this clock with their deadline still ahead (each has
  // ended its step and waits for time), for kWaitLimitMs at most; false when the limit passed.
  bool WaitForSleepers(int count);

 private:
  mutable std::mutex guard_;
  std::condition_variable_any wake_;       // the sleepers
  std::condition_variable sleepersMoved_;  // the test waiting for sleepers
  time_point now_{std::chrono::hours(1)};
  std::multiset<time_point> deadlines_;  // of the threads asleep
};

}  // namespace vx
