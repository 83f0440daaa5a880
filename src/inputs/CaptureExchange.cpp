#include "inputs/CaptureExchange.h"

#include <utility>

namespace vx {

namespace {

// Without level requests (the loop stopped), reads keep this pace.
constexpr auto kIdlePace = std::chrono::milliseconds(25);
// The capture reads what has come once per tick of the update loop, this long before the
// tick: one wake-up per tick instead of one per buffer, and the tick finds the newest
// buffer there.
constexpr auto kReadLead = std::chrono::milliseconds(4);
constexpr auto kTickGapMin = std::chrono::milliseconds(5);  // closer requests: the same tick
constexpr auto kTickGapMax = std::chrono::milliseconds(200);

}  // namespace

TCaptureExchange::TCaptureExchange(std::shared_ptr<TClock> clock)
    : clock_(std::move(clock)), tickInterval_(kIdlePace) {}

bool TCaptureExchange::StepStarts() {
  const std::lock_guard lock(mutex_);
  inStep_ = !stop_.stop_requested();
  return inStep_;
}

void TCaptureExchange::StepEnds() {
  const std::lock_guard lock(mutex_);
  inStep_ = false;
  if (stop_.stop_requested()) {
    ended_.request_stop();
  }
}

void TCaptureExchange::CallStarts() {
  const TClock::time_point now = clock_->Now();
  const std::lock_guard lock(mutex_);
  state_.CallSince = now;
}

void TCaptureExchange::CallEnds() {
  const std::lock_guard lock(mutex_);
  state_.CallSince.reset();
}

void TCaptureExchange::Failed(SoundCaptureError error) {
  const std::lock_guard lock(mutex_);
  state_.Error = std::move(error);
  ++state_.Failures;
}

void TCaptureExchange::Opened() {
  const std::lock_guard lock(mutex_);
  ++state_.Openings;
  state_.Capturing = true;
}

void TCaptureExchange::Closed() {
  const std::lock_guard lock(mutex_);
  state_.Capturing = false;
  state_.LastBuffer.reset();
  if (!stop_.stop_requested()) {
    ++state_.Losses;
  }
}

void TCaptureExchange::Heard(const TWaveExtremes& extremes) {
  const TClock::time_point now = clock_->Now();
  const std::lock_guard lock(mutex_);
  state_.Extremes = extremes;
  state_.LastBuffer = now;
}

void TCaptureExchange::Lend(SoundCapture& capture) {
  std::unique_lock lock(mutex_);
  lent_ = &capture;
  handedBack_.wait(lock, stop_.get_token(), [this] { return lent_ == nullptr; });
  lent_ = nullptr;
}

TClock::time_point TCaptureExchange::NextReadAt(TClock::time_point now) const {
  const std::lock_guard lock(mutex_);
  if (!lastRequest_ || now - *lastRequest_ > kTickGapMax) {
    return now + kIdlePace;
  }
  TClock::time_point at = *lastRequest_ + tickInterval_ - kReadLead;
  while (at <= now) {
    at += tickInterval_;
  }
  return at;
}

void TCaptureExchange::RequestStop() {
  HandBack();
  stop_.request_stop();
  const std::lock_guard lock(mutex_);
  if (!inStep_) {
    ended_.request_stop();
  }
}

void TCaptureExchange::Requested(TClock::time_point now) {
  const std::lock_guard lock(mutex_);
  if (lastRequest_) {
    const TClock::duration gap = now - *lastRequest_;
    if (gap < kTickGapMin) {
      return;
    }
    if (gap < kTickGapMax) {
      tickInterval_ = gap;
    }
  }
  lastRequest_ = now;
}

SoundCapture* TCaptureExchange::Lent() const {
  const std::lock_guard lock(mutex_);
  return lent_;
}

void TCaptureExchange::HandBack() {
  {
    const std::lock_guard lock(mutex_);
    if (lent_ == nullptr) {
      return;
    }
    lent_ = nullptr;
  }
  handedBack_.notify_all();
}

TCaptureSnapshot TCaptureExchange::Snapshot() const {
  const std::lock_guard lock(mutex_);
  return state_;
}

bool TCaptureExchange::WaitForEnd(TClock::duration wait) {
  if (ended_.stop_requested()) {
    return true;
  }
  return clock_->SleepUntil(clock_->Now() + wait, ended_.get_token());
}

}  // namespace vx
