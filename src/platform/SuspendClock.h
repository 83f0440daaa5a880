#pragma once

#include <chrono>
#include <memory>

namespace vx {

// Two readings of the time since start-up: one that stands still while the machine
// sleeps and one that runs on. The gap between them grows by every sleep.
class SuspendClock {
 public:
  virtual ~SuspendClock() = default;
  // Time the machine was awake.
  virtual std::chrono::nanoseconds Awake() const = 0;
  // Time since start-up, sleep included.
  virtual std::chrono::nanoseconds SinceBoot() const = 0;
};

// CLOCK_MONOTONIC and CLOCK_BOOTTIME.
class BoottimeClock final : public SuspendClock {
 public:
  std::chrono::nanoseconds Awake() const override;
  std::chrono::nanoseconds SinceBoot() const override;
};

std::shared_ptr<SuspendClock> CreateSuspendClock();

}  // namespace vx
