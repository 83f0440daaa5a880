#include "platform/Clock.h"

#include <thread>

namespace vx {

namespace {

class MachineClock final : public Clock {
 public:
  TimePoint Now() const override { return std::chrono::steady_clock::now(); }
  void SleepFor(std::chrono::nanoseconds duration) override {
    std::this_thread::sleep_for(duration);
  }
};

}  // namespace

std::shared_ptr<Clock> SteadyClock() {
  static const std::shared_ptr<Clock> clock = std::make_shared<MachineClock>();
  return clock;
}

}  // namespace vx
