#include "inputs/unWaveIn.h"

#include "base/Format.h"
#include "inputs/BandMeter.h"
#include "inputs/CaptureExchange.h"
#include "inputs/WaveBands.h"
#include "support/Log.h"
#include "support/Reports.h"
#include "support/Worker.h"
#include "support/unLog.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace vx {

namespace {

using Clock = TClock;

// 8-bit stereo at 44100 blocks per second, in buffers of 512 blocks (about 11.6 ms),
// eight of them in flight.
constexpr SoundFormat kWaveFormat{
    .Channels = 2, .SamplesPerSec = 44100, .BufferFrames = 512, .BufferCount = 8};

// A call into the sound library that has lasted this long is stuck: no read waits longer
// than a tick and a poll.
constexpr auto kSurelyStuck = std::chrono::milliseconds(400);
constexpr auto kTickGapMin = std::chrono::milliseconds(5);  // closer polls: the same tick

// The level is the swing of this many of the most recent blocks.
constexpr std::size_t kMeasuredBytes = std::size_t{512} * 2;

// A buffer older than this no longer counts: the capture has stopped delivering.
constexpr auto kFreshness = std::chrono::milliseconds(250);

// Captures left behind in the sound library at one time. Each holds a thread (and the
// library's own); past this many no new capture starts until one of them comes back.
constexpr std::ptrdiff_t kMaxLeftBehind = 4;

constexpr const char* kThreadName = "vorlixa-sound";

constexpr int kLeftChannel = 1;
constexpr int kRightChannel = 2;

const char* FailureText(SoundCaptureStage stage) {
  switch (stage) {
    case SoundCaptureStage::Open:
      return "Could not open wave device: %d";
    case SoundCaptureStage::Prepare:
      return "Could not prepare wave device: %d";
    case SoundCaptureStage::AddBuffers:
      return "Could not add header to buffer: %d";
    case SoundCaptureStage::Start:
      break;
  }
  return "Could not start recording: %d";
}

bool Stalled(const TCaptureSnapshot& state, Clock::time_point now, Clock::duration limit) {
  return state.CallSince && now - *state.CallSince > limit;
}

bool Fresh(const TCaptureSnapshot& state, Clock::time_point now) {
  return state.LastBuffer && now - *state.LastBuffer <= kFreshness;
}

std::ptrdiff_t CapturesLeftBehind() {
  const std::vector<TLeftBehindThread> threads = LeftBehindThreads();
  return std::count_if(threads.begin(), threads.end(),
                       [](const TLeftBehindThread& thread) { return thread.Name == kThreadName; });
}

}  // namespace

// One source's capture: the steps of its worker open it, capture until it is lost and
// close it, one opening per RetryInterval at most, until stopped. A capture that never
// waits (the sound server's own) is lent to the GUI thread, whose level requests read it
// until it is lost: the worker sleeps meanwhile, and only the tick wakes.
class TWaveCapture {
 public:
  TWaveCapture(std::unique_ptr<SoundCapture> capture, Clock::duration silence,
               std::shared_ptr<TWaveBands> bands, std::shared_ptr<TClock> clock)
      : Exchange(std::move(clock)),
        capture_(std::move(capture)),
        silence_(silence),
        bands_(std::move(bands)) {}

  // A step of the worker: one opening, and the capture until it is lost.
  void Attempt();
  // A level request at now on the GUI thread: while a capture is lent to it, the request
  // reads what has come (once per tick).
  void Poll(Clock::time_point now);

  TCaptureExchange Exchange;

 private:
  void CaptureUntilLost(SoundCapture& capture);
  // A buffer that came: its extremes, and the bands that bars show.
  void Heard(std::span<const std::uint8_t> samples);

  // The worker's own, and the GUI thread's while it is lent; let go on the worker once
  // stopped.
  std::unique_ptr<SoundCapture> capture_;
  const Clock::duration silence_;
  const std::shared_ptr<TWaveBands> bands_;
  // The thread's own, and the GUI thread's while the capture is lent to it.
  std::unique_ptr<TBandMeter> meter_;
  std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(static_cast<std::size_t>(
      kWaveFormat.BufferFrames * kWaveFormat.Channels * kWaveFormat.BufferCount));
  // The GUI thread's own during its turn.
  Clock::time_point lastPoll_{};
  Clock::time_point polledSound_{};
};

void TWaveCapture::Attempt() {
  if (!Exchange.StepStarts()) {
    return;
  }
  SoundCapture& capture = *capture_;
  std::optional<SoundCaptureError> error =
      Exchange.Library([&] { return capture.Open(kWaveFormat); });
  if (error) {
    Exchange.Failed(std::move(*error));
  } else {
    Exchange.Opened();
    CaptureUntilLost(capture);
    Exchange.Library([&] {
      capture.Close();
      return true;
    });
    Exchange.Closed();
  }
  if (Exchange.Stopping()) {
    capture_.reset();
  }
  Exchange.StepEnds();
}

void TWaveCapture::CaptureUntilLost(SoundCapture& capture) {
  Clock& clock = Exchange.Clock();
  Clock::time_point lastSound = clock.Now();
  if (capture.Pollable()) {
    // The tick reads it itself: one wake-up per tick for the loop and the capture.
    polledSound_ = lastSound;
    lastPoll_ = {};
    Exchange.Lend(capture);
    return;
  }
  while (!Exchange.Stopping()) {
    const Clock::time_point readAt = Exchange.NextReadAt(clock.Now());
    const SoundRead read = Exchange.Library([&] { return capture.Read(buffer_, readAt); });
    const Clock::time_point now = clock.Now();
    switch (read.Status) {
      case SoundReadStatus::Filled:
        Heard(std::span<const std::uint8_t>(buffer_).first(std::min(read.Bytes, buffer_.size())));
        lastSound = now;
        break;
      case SoundReadStatus::Empty:
        if (now - lastSound >= silence_) {
          return;
        }
        break;
      case SoundReadStatus::Lost:
        return;
    }
  }
}

void TWaveCapture::Poll(Clock::time_point now) {
  SoundCapture* capture = Exchange.Lent();
  if (capture == nullptr || now - lastPoll_ < kTickGapMin) {
    return;
  }
  lastPoll_ = now;
  const SoundRead read = capture->Poll(buffer_);
  switch (read.Status) {
    case SoundReadStatus::Filled:
      Heard(std::span<const std::uint8_t>(buffer_).first(std::min(read.Bytes, buffer_.size())));
      polledSound_ = now;
      break;
    case SoundReadStatus::Empty:
      if (now - polledSound_ >= silence_) {
        Exchange.HandBack();
      }
      break;
    case SoundReadStatus::Lost:
      Exchange.HandBack();
      break;
  }
}

void TWaveCapture::Heard(std::span<const std::uint8_t> samples) {
  // The most recent blocks of a larger read (reads hand over whole blocks).
  Exchange.Heard(
      MeasureWaveBuffer(samples.size() > kMeasuredBytes ? samples.last(kMeasuredBytes) : samples));
  bands_->Measure(meter_, samples);
}

namespace {

// One recorder per source for the whole program, shared by its bars while any uses it.
std::array<std::weak_ptr<TWaveIn>, 2>
    sharedRecorders;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

}  // namespace

TWaveExtremes MeasureWaveBuffer(std::span<const std::uint8_t> samples) {
  if (samples.empty()) {
    return {};
  }
  std::uint8_t leftMax = 0;
  std::uint8_t leftMin = 127;
  std::uint8_t rightMax = 0;
  std::uint8_t rightMin = 127;
  const std::size_t blocks = samples.size() / 2;
  for (std::size_t i = 0; i < blocks; ++i) {
    const std::uint8_t left = samples[2 * i];
    const std::uint8_t right = samples[2 * i + 1];
    leftMax = std::max(leftMax, left);
    leftMin = std::min(leftMin, left);
    rightMax = std::max(rightMax, right);
    rightMin = std::min(rightMin, right);
  }
  return {leftMax / 128.0, leftMin / 128.0, rightMax / 128.0, rightMin / 128.0};
}

const char* SoundSourceName(SoundSource source) {
  return source == SoundSource::SpeakerMonitor ? "What the speakers play" : "Recording device";
}

TWaveIn::TWaveIn(SoundSource source)
    : TWaveIn([source] { return CreateSoundCapture(source); }, SoundSourceName(source)) {}

TWaveIn::TWaveIn(CaptureFactory factory, std::string sourceName, const TWaveTiming& timing,
                 std::shared_ptr<TClock> clock)
    : RetryInterval(timing.RetryInterval),
      StopWait(timing.StopWait),
      StallLimit(timing.StallLimit),
      SilenceLimit(timing.SilenceLimit),
      factory_(std::move(factory)),
      sourceName_(std::move(sourceName)),
      clock_(std::move(clock)),
      bands_(std::make_shared<TWaveBands>()) {
  OpenDevice();
}

TWaveIn::~TWaveIn() {
  CloseDevice();
}

bool TWaveIn::OpenDevice() {
  if (capture_ && Stalled(capture_->Exchange.Snapshot(), clock_->Now(), StallLimit)) {
    Warn(Format("The sound source \"%s\" stopped answering; it is left behind and opened again",
                sourceName_));
    LeaveCapture();
  }
  if (!capture_) {
    StartCapture();
    if (!capture_) {
      return false;
    }
  }
  const TCaptureSnapshot state = capture_->Exchange.Snapshot();
  Report(state, !state.Capturing);
  return state.Capturing;
}

double TWaveIn::GetLevel(int channelMask) {
  if (!OpenDevice()) {
    return 0.0;
  }
  const Clock::time_point now = clock_->Now();
  capture_->Exchange.Requested(now);
  capture_->Poll(now);
  const TCaptureSnapshot state = capture_->Exchange.Snapshot();
  const TWaveExtremes extremes = Fresh(state, now) ? state.Extremes : TWaveExtremes{};
  LeftMax = extremes.LeftMax;
  LeftMin = extremes.LeftMin;
  RightMax = extremes.RightMax;
  RightMin = extremes.RightMin;
  double level = 0.0;
  if ((channelMask & kLeftChannel) != 0) {
    level = std::max(level, LeftMax - LeftMin);
  }
  if ((channelMask & kRightChannel) != 0) {
    level = std::max(level, RightMax - RightMin);
  }
  return level;
}

int TWaveIn::AddBand(double lowHz, double highHz, int channelMask) {
  const int first = TBandMeter::Bin(lowHz, kWaveFormat.SamplesPerSec);
  const int end = std::max(TBandMeter::Bin(highHz, kWaveFormat.SamplesPerSec), first + 1);
  return bands_->Add(first, end, channelMask);
}

void TWaveIn::RemoveBand(int band) {
  bands_->Remove(band);
}

double TWaveIn::GetBandLevel(int band) {
  if (band < 0 || band >= static_cast<int>(TWaveBands::kSlots) || !OpenDevice()) {
    return 0.0;
  }
  const Clock::time_point now = clock_->Now();
  capture_->Exchange.Requested(now);
  capture_->Poll(now);
  if (!Fresh(capture_->Exchange.Snapshot(), now)) {
    return 0.0;
  }
  return bands_->Level(band);
}

void TWaveIn::CloseDevice() {
  if (!capture_) {
    return;
  }
  capture_->Exchange.RequestStop();
  // One already stuck is not waited for: an exit after a server died waits for none of
  // the recorders, however many there are.
  const bool stuck = Stalled(capture_->Exchange.Snapshot(), clock_->Now(), kSurelyStuck);
  if (capture_->Exchange.WaitForEnd(stuck ? Clock::duration::zero() : Clock::duration(StopWait))) {
    worker_.reset();
    capture_.reset();
  } else {
    LeaveCapture();
  }
  LeftMax = LeftMin = RightMax = RightMin = 0.0;
}

void TWaveIn::StartCapture() {
  if (CapturesLeftBehind() >= kMaxLeftBehind) {
    return;
  }
  try {
    auto capture = std::make_shared<TWaveCapture>(factory_(), SilenceLimit, bands_, clock_);
    worker_ = std::make_unique<TWorker>(
        kThreadName, [capture] { capture->Attempt(); }, RetryInterval, clock_);
    capture_ = std::move(capture);
  } catch (const std::exception& e) {
    Warn(e.what());
    return;
  }
  openingsSeen_ = failuresSeen_ = lossesSeen_ = 0;
}

void TWaveIn::LeaveCapture() {
  capture_->Exchange.RequestStop();
  // A worker still in its step goes to the keeper of left-behind threads, which lets it
  // end if the library ever lets it go; its step holds all it touches.
  worker_.reset();
  capture_.reset();
}

void TWaveIn::Report(const TCaptureSnapshot& state, bool failing) {
  if (state.Openings != openingsSeen_) {
    openingsSeen_ = state.Openings;
    failureShown_ = false;
    warned_ = false;
  }
  if (state.Losses != lossesSeen_) {
    lossesSeen_ = state.Losses;
    // Each loss ends an opening that succeeded, so it is never a repeat, even when this
    // request sees that opening only now.
    warned_ = false;
    Warn(Format("The sound source \"%s\" was lost; it is opened again every second", sourceName_));
    // Opened again since: the next loss or failure is worth its own line.
    warned_ = state.Openings == state.Losses;
  }
  if (state.Failures == failuresSeen_ || !failing) {
    // A failure that an opening has since mended is not worth a word.
    failuresSeen_ = state.Failures;
    return;
  }
  failuresSeen_ = state.Failures;
  Warn(Format("The sound source \"%s\" cannot be opened: %s", sourceName_, state.Error.Reason));
  if (!failureShown_) {
    failureShown_ = true;
    PostReport(Format(FailureText(state.Error.Stage), state.Error.Number));
  }
}

void TWaveIn::Warn(const std::string& text) {
  if (warned_) {
    return;
  }
  warned_ = true;
  if (TLog* log = AppLog()) {
    log->Warning(text);
  }
}

std::shared_ptr<TWaveIn> AcquireRecorder(SoundSource source) {
  std::weak_ptr<TWaveIn>& shared = sharedRecorders[static_cast<std::size_t>(source)];
  std::shared_ptr<TWaveIn> recorder = shared.lock();
  if (!recorder) {
    recorder = std::make_shared<TWaveIn>(source);
    shared = recorder;
  }
  return recorder;
}

}  // namespace vx
