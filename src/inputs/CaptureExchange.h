#pragma once

#include "inputs/unWaveIn.h"
#include "platform/SoundCapture.h"
#include "support/Clock.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>

namespace vx {

// What the GUI thread learns of one capture thread, copied out in one go.
struct TCaptureSnapshot {
  bool Capturing = false;
  unsigned Openings = 0;
  unsigned Failures = 0;
  unsigned Losses = 0;
  SoundCaptureError Error{SoundCaptureStage::Open, 0, {}};  // of the latest failure
  std::optional<TClock::time_point> CallSince;              // start of the library call under way
  std::optional<TClock::time_point> LastBuffer;             // when the latest buffer came
  TWaveExtremes Extremes;                                   // of the latest buffer
};

// The one place where a capture's worker and the GUI thread meet: one snapshot and one
// hand-over under one lock, which the worker never holds inside the sound library (where
// it may stay for good), so the GUI thread never waits on it for longer than a copy. Only
// WaitForEnd waits.
class TCaptureExchange {
 public:
  explicit TCaptureExchange(std::shared_ptr<TClock> clock);

  TClock& Clock() const { return *clock_; }

  // The worker's side.

  // Around each step: false when the capture is stopping, and the step does nothing.
  bool StepStarts();
  void StepEnds();

  // Runs call as a call into the sound library, so that one that never returns shows.
  template <typename Call>
  auto Library(Call call) {
    CallStarts();
    auto result = call();
    CallEnds();
    return result;
  }
  void Failed(SoundCaptureError error);
  void Opened();
  // The capture closed again: a loss, unless a stop closed it.
  void Closed();
  // The extremes of a buffer that has just come.
  void Heard(const TWaveExtremes& extremes);
  bool Stopping() const { return stop_.stop_requested(); }
  // Waits until time, or less when a stop comes.
  void SleepUntil(TClock::time_point time) { clock_->SleepUntil(time, stop_.get_token()); }
  // Lends capture, one that never waits, to the GUI thread, and waits for it to come back
  // (HandBack, or a stop).
  void Lend(SoundCapture& capture);
  // When the next read should hand over what has come: just ahead of the next tick.
  TClock::time_point NextReadAt(TClock::time_point now) const;

  // The GUI thread's side.

  void RequestStop();
  // A level request at now: the reads keep just ahead of these.
  void Requested(TClock::time_point now);
  // The capture lent to the GUI thread, which reads it on its own turn; null when none.
  SoundCapture* Lent() const;
  // Ends the GUI thread's turn with the lent capture; the capture thread takes it back.
  void HandBack();
  TCaptureSnapshot Snapshot() const;
  // After RequestStop: waits at most wait (by the clock) for the step under way to
  // return; true when none runs any more.
  bool WaitForEnd(TClock::duration wait);

 private:
  void CallStarts();
  void CallEnds();

  const std::shared_ptr<TClock> clock_;
  mutable std::mutex mutex_;
  std::condition_variable_any handedBack_;
  std::stop_source stop_;
  std::stop_source ended_;  // a stop with no step under way, which WaitForEnd waits on
  TCaptureSnapshot state_;
  bool inStep_ = false;
  SoundCapture* lent_ = nullptr;
  std::optional<TClock::time_point> lastRequest_;  // of the latest tick that asked
  TClock::duration tickInterval_;
};

}  // namespace vx
