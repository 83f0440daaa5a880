#include "common/ManualClock.h"

#include "common/Wait.h"

#include <algorithm>

namespace vx {

TClock::time_point TManualClock::Now() const {
  const std::lock_guard<std::mutex> lock(guard_);
  return now_;
}

bool TManualClock::SleepUntil(time_point deadline, std::stop_token stop) {
  std::unique_lock<std::mutex> lock(guard_);
  const auto asleep = deadlines_.insert(deadline);
  sleepersMoved_.notify_all();
  wake_.wait(lock, stop, [&] { return now_ >= deadline; });
  deadlines_.erase(asleep);
  return stop.stop_requested();
}

void TManualClock::Advance(duration by) {
  {
    const std::lock_guard<std::mutex> lock(guard_);
    now_ += by;
  }
  wake_.notify_all();
}

bool TManualClock::WaitForSleepers(int count) {
  std::unique_lock<std::mutex> lock(guard_);
  return sleepersMoved_.wait_for(lock, std::chrono::milliseconds(kWaitLimitMs), [&] {
    return std::count_if(deadlines_.begin(), deadlines_.end(),
                         [&](time_point deadline) { return deadline > now_; }) >= count;
  });
}

}  // namespace vx
