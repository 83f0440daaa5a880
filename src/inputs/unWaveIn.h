#pragma once

#include "platform/SoundCapture.h"
#include "support/Clock.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

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

// The captions of the sound sources, as the "Source" choice of a sound input lists them.
const char* SoundSourceName(SoundSource source);

class TWaveCapture;
class TWaveBands;
class TWorker;
struct TCaptureSnapshot;

// Timing of a recorder's captures.
struct TWaveTiming {
  std::chrono::milliseconds RetryInterval{1000};  // between the starts of two openings
  std::chrono::milliseconds StopWait{1000};       // for CloseDevice
  // A capture that has spent this long in one call of the sound library is taken as
  // stuck there: it is left behind and a new one starts.
  std::chrono::milliseconds StallLimit{2000};
  // A capturing source that delivers nothing for this long counts as lost.
  std::chrono::milliseconds SilenceLimit{2000};
};

// Records from a sound source without pause and keeps the extremes of the most recent
// 512 blocks. The capture runs on a worker of its own, which may get stuck in the sound
// library for good when a server dies; the GUI thread only picks up what the capture
// last finished and never waits for it, except when the recorder closes (StopWait at
// most). A capture that never waits once open is read by the level requests themselves.
// A lost source is opened again by itself, at most once per RetryInterval. Every wait and
// every age goes by the clock given.
class TWaveIn {
 public:
  using CaptureFactory = std::function<std::unique_ptr<SoundCapture>()>;

  // Over the platform's capture of the source; opens it at once.
  explicit TWaveIn(SoundSource source = SoundSource::RecordingDevice);
  // Over captures made by factory (one per worker), with this timing, by clock; opens at
  // once.
  TWaveIn(CaptureFactory factory, std::string sourceName, const TWaveTiming& timing = {},
          std::shared_ptr<TClock> clock = SteadyClock());
  // Closes the device.
  ~TWaveIn();
  TWaveIn(const TWaveIn&) = delete;
  TWaveIn& operator=(const TWaveIn&) = delete;

  // True while capturing. Otherwise starts the capture when none runs, and reports what
  // went wrong since the last call: one log line and one message (PostReport) per failure
  // or loss, until an opening succeeds.
  bool OpenDevice();
  // Widest swing of the masked channels (bit 0 left, bit 1 right), 0..255/128, from the
  // latest buffer; 0 when not capturing or when no buffer came lately.
  double GetLevel(int channelMask);
  // Starts measuring the band lowHz..highHz of the masked channels (bars of the same band
  // share it); a handle for GetBandLevel and RemoveBand, -1 when no more bands fit.
  int AddBand(double lowHz, double highHz, int channelMask);
  // Lets go of a handle of AddBand (-1: nothing); the last one stops the band's measuring.
  void RemoveBand(int band);
  // The band's level from the latest piece of sound, the larger of its channels (a
  // full-scale sine reads 1); 0 when not capturing, when no sound came lately, or for -1.
  double GetBandLevel(int band);
  // Stops the capture; waits StopWait at most for it, then leaves it behind.
  void CloseDevice();
  // True from an opening attempt until the device is closed.
  bool Recording() const { return capture_ != nullptr; }

  double LeftMax = 0.0;   // highest left sample of the last buffer / 128; 0 until one completes
  double LeftMin = 0.0;   // lowest left sample of the last buffer / 128 (127 at most)
  double RightMax = 0.0;  // highest right sample of the last buffer / 128
  double RightMin = 0.0;  // lowest right sample of the last buffer / 128

  // Timing of the capture (see TWaveTiming); a capture already running keeps the values
  // it started with.
  std::chrono::milliseconds RetryInterval;
  std::chrono::milliseconds StopWait;
  std::chrono::milliseconds StallLimit;
  std::chrono::milliseconds SilenceLimit;

 private:
  void StartCapture();
  void LeaveCapture();
  void Report(const TCaptureSnapshot& state, bool failing);
  void Warn(const std::string& text);

  CaptureFactory factory_;
  std::string sourceName_;
  std::shared_ptr<TClock> clock_;
  std::shared_ptr<TWaveCapture> capture_;  // shared with its worker's step
  std::shared_ptr<TWaveBands> bands_;      // shared with every capture it starts
  std::unique_ptr<TWorker> worker_;
  // What the GUI thread has taken notice of.
  unsigned openingsSeen_ = 0;
  unsigned failuresSeen_ = 0;
  unsigned lossesSeen_ = 0;
  bool failureShown_ = false;  // a failed opening was shown; cleared when an opening succeeds
  bool warned_ = false;        // a warning was logged; cleared when an opening succeeds
};

// The shared recorder of the source: created (and opened) by the first call, the same
// recorder for every later call while any holder keeps it. Never fails; a recorder that
// cannot open exists closed. The last holder to let go destroys it.
std::shared_ptr<TWaveIn> AcquireRecorder(SoundSource source = SoundSource::RecordingDevice);

// Lets go of recorder (and clears it).
inline void ReleaseRecorder(std::shared_ptr<TWaveIn>& recorder) {
  recorder.reset();
}

}  // namespace vx
