#pragma once

#include "platform/SoundCapture.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>

namespace vx {

// The extreme samples of one capture buffer per channel, each divided by 128.
struct TWaveExtremes {
  double LeftMax = 0.0;
  double LeftMin = 0.0;
  double RightMax = 0.0;
  double RightMin = 0.0;
};

// Measures a buffer of stereo blocks (left byte, then right byte; a trailing odd byte is
// ignored). Minima start at 127, so silence (128) has a swing of 1/128. Empty: all 0.
TWaveExtremes MeasureWaveBuffer(std::span<const std::uint8_t> samples);

// Records from the default recording device without pause and keeps the extremes of the
// most recently completed buffer. GUI thread only. All sound inputs share one recorder
// through AcquireRecorder and ReleaseRecorder.
class TWaveIn {
 public:
  // Over the platform's capture of the default recording device; opens it at once.
  TWaveIn();
  // Over the given capture; opens it at once.
  explicit TWaveIn(std::unique_ptr<SoundCapture> capture);
  // Closes the device.
  ~TWaveIn();
  TWaveIn(const TWaveIn&) = delete;
  TWaveIn& operator=(const TWaveIn&) = delete;

  // True when recording; otherwise tries to open, showing a failure once until one succeeds.
  bool OpenDevice();
  // Widest swing of the masked channels (bit 0 left, bit 1 right), 0..255/128; 0 if it cannot open.
  double GetLevel(int channelMask);
  // Stops recording and closes the device; failures are ignored.
  void CloseDevice();
  // True from an opening attempt until the device is closed.
  bool Recording() const { return recording_; }

  double LeftMax = 0.0;   // highest left sample of the last buffer / 128; 0 until one completes
  double LeftMin = 0.0;   // lowest left sample of the last buffer / 128 (127 at most)
  double RightMax = 0.0;  // highest right sample of the last buffer / 128
  double RightMin = 0.0;  // lowest right sample of the last buffer / 128 (127 at most)
  int UseCount = 0;       // users of the shared recorder
  // After a failed opening, level requests within this time do not try again: a machine
  // without a recording device would otherwise open and parse the sound configuration on
  // every 25 ms tick.
  std::chrono::milliseconds RetryInterval{1000};

 private:
  void BufferDone(std::span<const std::uint8_t> samples);

  std::unique_ptr<SoundCapture> capture_;
  bool recording_ = false;
  bool failureShown_ = false;  // a failed opening was shown; cleared when an opening succeeds
  std::chrono::steady_clock::time_point lastFailure_;  // of the latest failed opening
};

// The shared recorder: created (and opened) by the first call with UseCount 1, counted up
// by every later call. Never fails; a recorder that cannot open exists closed.
TWaveIn* AcquireRecorder();

// Clears recorder; counts the shared recorder down and destroys it at 0, destroys any
// other recorder at once.
void ReleaseRecorder(TWaveIn*& recorder);

}  // namespace vx
