#pragma once

#include "support/Clock.h"

#include <condition_variable>
#include <mutex>
#include <set>

namespace vx {

// A clock that moves only when the test advances it, and wakes the workers sleeping on it
// then: tests advance time instead of sleeping. Code that runs on the test's own thread and
// sleeps there (the link's retries) would wait for good: for it, a clock made with
// sleepingMovesOn moves to the deadline at once instead.
class TManualClock final : public TClock {
 public:
  explicit TManualClock(bool sleepingMovesOn = false) : sleepingMovesOn_(sleepingMovesOn) {}

  time_point Now() const override;
  bool SleepUntil(time_point deadline, std::stop_token stop) override;

  void Advance(duration by);
  // Moves the clock to time unless it is there already.
  void AdvanceTo(time_point time);
  // Waits until count threads sleep on this clock with their deadline still ahead (each has
  // ended its step and waits for time), for kWaitLimitMs at most; false when the limit passed.
  bool WaitForSleepers(int count);

 private:
  const bool sleepingMovesOn_;
  mutable std::mutex guard_;
  std::condition_variable_any wake_;       // the sleepers
  std::condition_variable sleepersMoved_;  // the test waiting for sleepers
  // From the machine's time: a deadline that the code under test hands to a real port (a
  // pseudo-terminal) then lies no earlier than the machine's clock.
  time_point now_{std::chrono::steady_clock::now()};
  std::multiset<time_point> deadlines_;  // of the threads asleep
};

}  // namespace vx
