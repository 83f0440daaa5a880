#include "platform/SuspendClock.h"

#include <ctime>

namespace vx {

namespace {

std::chrono::nanoseconds Read(clockid_t clock) {
  timespec now{};
  ::clock_gettime(clock, &now);
  return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

}  // namespace

std::chrono::nanoseconds BoottimeClock::Awake() const {
  return Read(CLOCK_MONOTONIC);
}

std::chrono::nanoseconds BoottimeClock::SinceBoot() const {
  return Read(CLOCK_BOOTTIME);
}

std::shared_ptr<SuspendClock> CreateSuspendClock() {
  return std::make_shared<BoottimeClock>();
}

}  // namespace vx
