#include "support/Clock.h"

#include <condition_variable>
#include <mutex>

namespace vx {

namespace {

class TSteadyClock final : public TClock {
 public:
  time_point Now() const override { return std::chrono::steady_clock::now(); }

  bool SleepUntil(time_point deadline, std::stop_token stop) override {
    // A wait of its own per sleeper: the stop request wakes exactly this one.
    std::mutex guard;
    std::condition_variable_any wake;
    std::unique_lock<std::mutex> lock(guard);
    wake.wait_until(lock, stop, deadline, [] { return false; });
    return stop.stop_requested();
  }
};

}  // namespace

std::shared_ptr<TClock> SteadyClock() {
  static const auto clock = std::make_shared<TSteadyClock>();
  return clock;
}

}  // namespace vx
