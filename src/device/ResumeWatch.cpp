#include "device/ResumeWatch.h"

#include <utility>

namespace vx {

TResumeWatch::TResumeWatch(std::shared_ptr<SuspendClock> clock)
    : clock_(clock ? std::move(clock) : CreateSuspendClock()),
      slept_(clock_->SinceBoot() - clock_->Awake()) {}

bool TResumeWatch::Resumed() {
  const std::chrono::nanoseconds slept = clock_->SinceBoot() - clock_->Awake();
  const bool resumed = slept - slept_ > kSleepGap;
  slept_ = slept;
  return resumed;
}

}  // namespace vx
