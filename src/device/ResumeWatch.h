#pragma once

#include "platform/SuspendClock.h"

#include <chrono>
#include <memory>

namespace vx {

// Notices that the machine has slept: the boards may have been without power meanwhile
// and lost what they showed.
class TResumeWatch {
 public:
  // A gap this much longer in the running clock than in the awake clock is a sleep.
  static constexpr std::chrono::seconds kSleepGap{2};

  explicit TResumeWatch(std::shared_ptr<SuspendClock> clock = CreateSuspendClock());

  // True when the machine slept since the previous call (or since creation).
  bool Resumed();

 private:
  std::shared_ptr<SuspendClock> clock_;
  std::chrono::nanoseconds slept_;  // SinceBoot - Awake at the previous look
};

}  // namespace vx
