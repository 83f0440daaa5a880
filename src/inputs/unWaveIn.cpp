#include "inputs/unWaveIn.h"

#include "base/Format.h"
#include "inputs/BandMeter.h"
#include "platform/ThreadName.h"
#include "support/Log.h"
#include "support/Reports.h"
#include "support/unLog.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <mutex>
#include <semaphore>
#include <utility>
#include <vector>

namespace vx {

namespace {

using Clock = std::chrono::steady_clock;

// 8-bit stereo at 44100 blocks per second, in buffers of 512 blocks (about 11.6 ms),
// eight of them in flight.
constexpr SoundFormat kWaveFormat{
    .Channels = 2, .SamplesPerSec = 44100, .BufferFrames = 512, .BufferCount = 8};

// The capture reads what has come once per tick of the update loop, this long before the
// tick: one wake-up per tick instead of one per buffer, and the tick finds the newest
// buffer there.
constexpr auto kReadLead = std::chrono::milliseconds(4);
// Without level requests (the loop stopped), reads keep this pace.
constexpr auto kIdlePace = std::chrono::milliseconds(25);
// A call into the sound library that has lasted this long is stuck: no read waits longer
// than a tick and a poll.
constexpr auto kSurelyStuck = std::chrono::milliseconds(400);
constexpr auto kTickGapMin = std::chrono::milliseconds(5);  // closer requests: the same tick
constexpr auto kTickGapMax = std::chrono::milliseconds(200);

// The level is the swing of this many of the most recent blocks.
constexpr std::size_t kMeasuredBytes = std::size_t{512} * 2;

// A buffer older than this no longer counts: the capture has stopped delivering.
constexpr auto kFreshness = std::chrono::milliseconds(250);

// Captures left behind in the sound library at one time. Each holds a thread (and the
// library's own); past this many no new capture starts until one of them comes back.
constexpr int kMaxLeftBehind = 4;

constexpr int kLeftChannel = 1;
constexpr int kRightChannel = 2;

// Trivially destructible, so a capture thread that comes back during the process's exit
// still finds it.
std::atomic<int> leftBehind{0};  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

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

std::int64_t Ticks(Clock::time_point time) {
  return time.time_since_epoch().count();
}

Clock::time_point FromTicks(std::int64_t ticks) {
  return Clock::time_point(Clock::duration(ticks));
}

std::uint32_t PackExtremes(std::span<const std::uint8_t> samples) {
  const TWaveExtremes e = MeasureWaveBuffer(samples);
  const auto byte = [](double value) {
    return static_cast<std::uint32_t>(std::lround(value * 128.0));
  };
  return byte(e.LeftMax) | byte(e.LeftMin) << 8 | byte(e.RightMax) << 16 | byte(e.RightMin) << 24;
}

double UnpackExtreme(std::uint32_t packed, int index) {
  return ((packed >> (8 * index)) & 0xFF) / 128.0;
}

}  // namespace

// The bands that a recorder's bars show. The GUI thread sets the keys, the capture thread
// writes the levels, and neither waits for the other.
struct TBandTable {
  static constexpr std::size_t kSlots = 32;
  // The bins first .. end - 1 of the channels in mask, packed; 0: the slot is free.
  static std::uint32_t Key(int first, int end, int mask) {
    return static_cast<std::uint32_t>(first) | static_cast<std::uint32_t>(end) << 12 |
           static_cast<std::uint32_t>(mask) << 24;
  }
  struct Slot {
    std::atomic<std::uint32_t> Key{0};
    std::atomic<std::uint64_t> Level{0};  // the bits of a double
  };
  std::array<Slot, kSlots> Slots;
  std::array<int, kSlots> Users{};  // the GUI thread's own
};

// What one capture thread and the GUI thread share. The thread writes, the GUI thread
// reads, all without waiting: the thread takes no lock while it is inside the sound
// library, where it may stay for good. A capture that never waits (the sound server's
// own) is opened by the thread and then read by the GUI thread's level requests, until
// it is lost: the thread sleeps meanwhile, and only the tick wakes.
class TWaveCapture {
 public:
  struct Timing {
    Clock::duration Retry;
    Clock::duration Silence;
  };

  TWaveCapture(Timing timing, std::shared_ptr<TBandTable> bands)
      : timing_(timing), bands_(std::move(bands)) {}

  // The thread's whole life: open, capture until lost, close, wait, again; until stopped.
  void Run(SoundCapture& capture);
  // The thread's last act.
  void Finish();

  void RequestStop() {
    if (!stop_.exchange(true)) {
      wake_.release();
      HandBack();
    }
  }
  // A level request at now on the GUI thread: while the capture is one that never waits,
  // the request reads what has come (once per tick).
  void Poll(Clock::time_point now);
  bool WaitForEnd(Clock::duration wait) { return ended_.try_acquire_for(wait); }
  // True when the thread is still running: it is then on its own. False when it has
  // just ended.
  bool LeaveBehind() { return fate_.exchange(kLeftBehind) != kEnded; }

  bool Stalled(Clock::time_point now, Clock::duration limit) const {
    const std::int64_t since = callSince_.load();
    return since != 0 && now - FromTicks(since) > limit;
  }
  bool Capturing() const { return capturing_.load(); }
  // A level request at now: the capture keeps its reads just ahead of these.
  void Requested(Clock::time_point now);
  // The extremes of the latest buffer, packed one byte each; 0 when none came lately.
  std::uint32_t LatestExtremes(Clock::time_point now) const {
    return Fresh(now) ? extremes_.load() : 0;
  }
  // True when a buffer came lately.
  bool Fresh(Clock::time_point now) const {
    const std::int64_t at = lastBuffer_.load();
    return at != 0 && now - FromTicks(at) <= kFreshness;
  }
  unsigned Openings() const { return openings_.load(); }
  unsigned Failures() const { return failures_.load(); }
  unsigned Losses() const { return losses_.load(); }
  SoundCaptureError LastError() const {
    const std::lock_guard lock(errorMutex_);
    return error_;
  }

 private:
  enum Fate : int { kRunning, kEnded, kLeftBehind };

  // Around every call into the sound library, so that a stuck call shows.
  template <typename Call>
  auto Library(Call call) {
    callSince_.store(Ticks(Clock::now()));
    auto result = call();
    callSince_.store(0);
    return result;
  }
  void CaptureUntilLost(SoundCapture& capture);
  // Ends the GUI thread's turn with the capture, once; the capture thread takes it back.
  void HandBack() {
    if (polled_.exchange(nullptr) != nullptr) {
      handBack_.release();
    }
  }
  Clock::time_point NextReadAt(Clock::time_point now) const;
  // A buffer that came: its extremes, and the bands that bars show.
  void Heard(std::span<const std::uint8_t> samples);
  void Published(std::span<const std::uint8_t> samples);
  // Measures the bands that bars show, when any does.
  void MeasureBands(std::span<const std::uint8_t> samples);
  void SleepUntil(Clock::time_point time) {
    if (!stop_.load()) {
      // A stop request wakes it early.
      static_cast<void>(wake_.try_acquire_until(time));
    }
  }

  const Timing timing_;
  const std::shared_ptr<TBandTable> bands_;
  std::unique_ptr<TBandMeter> meter_;  // the thread's own, made when a band is first shown
  std::atomic<bool> stop_{false};
  std::binary_semaphore wake_{0};
  std::binary_semaphore ended_{0};
  std::atomic<int> fate_{kRunning};
  std::atomic<std::int64_t> callSince_{0};  // start of the library call under way; 0: none
  std::atomic<std::uint32_t> extremes_{0};
  std::atomic<std::int64_t> lastBuffer_{0};  // when the latest buffer came; 0: none yet
  std::atomic<bool> capturing_{false};
  std::atomic<std::int64_t> lastRequest_{0};  // of the latest tick that asked; 0: none yet
  std::atomic<std::int64_t> tickInterval_{Clock::duration(kIdlePace).count()};
  // While the GUI thread reads the capture: the capture; the thread waits for handBack_.
  std::atomic<SoundCapture*> polled_{nullptr};
  std::binary_semaphore handBack_{0};
  // The GUI thread's own during its turn.
  Clock::time_point lastPoll_{};
  Clock::time_point polledSound_{};
  std::vector<std::uint8_t> pollBuffer_;
  std::atomic<unsigned> openings_{0};
  std::atomic<unsigned> failures_{0};
  std::atomic<unsigned> losses_{0};
  mutable std::mutex errorMutex_;  // held only to copy error_, never in the library
  SoundCaptureError error_{SoundCaptureStage::Open, 0, {}};
};

void TWaveCapture::Run(SoundCapture& capture) {
  while (!stop_.load()) {
    const Clock::time_point attempt = Clock::now();
    std::optional<SoundCaptureError> error = Library([&] { return capture.Open(kWaveFormat); });
    if (error) {
      {
        const std::lock_guard lock(errorMutex_);
        error_ = std::move(*error);
      }
      ++failures_;
    } else {
      ++openings_;
      capturing_.store(true);
      CaptureUntilLost(capture);
      capturing_.store(false);
      lastBuffer_.store(0);
      Library([&] {
        capture.Close();
        return true;
      });
      if (!stop_.load()) {
        ++losses_;
      }
    }
    SleepUntil(attempt + timing_.Retry);
  }
}

void TWaveCapture::Requested(Clock::time_point now) {
  const std::int64_t last = lastRequest_.load();
  const Clock::duration gap = now - FromTicks(last);
  if (last != 0 && gap < kTickGapMin) {
    return;
  }
  if (last != 0 && gap < kTickGapMax) {
    tickInterval_.store(gap.count());
  }
  lastRequest_.store(Ticks(now));
}

Clock::time_point TWaveCapture::NextReadAt(Clock::time_point now) const {
  const std::int64_t last = lastRequest_.load();
  if (last == 0 || now - FromTicks(last) > kTickGapMax) {
    return now + kIdlePace;
  }
  const Clock::duration interval(tickInterval_.load());
  Clock::time_point at = FromTicks(last) + interval - kReadLead;
  while (at <= now) {
    at += interval;
  }
  return at;
}

void TWaveCapture::CaptureUntilLost(SoundCapture& capture) {
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(
      kWaveFormat.BufferFrames * kWaveFormat.Channels * kWaveFormat.BufferCount));
  Clock::time_point lastSound = Clock::now();
  if (capture.Pollable()) {
    // The tick reads it itself: one wake-up per tick for the loop and the capture.
    pollBuffer_ = std::move(buffer);
    polledSound_ = lastSound;
    polled_.store(&capture);
    if (stop_.load()) {
      HandBack();  // the stop came before the capture was handed over
    }
    handBack_.acquire();
    return;
  }
  while (!stop_.load()) {
    const Clock::time_point readAt = NextReadAt(Clock::now());
    const SoundRead read = Library([&] { return capture.Read(buffer, readAt); });
    const Clock::time_point now = Clock::now();
    switch (read.Status) {
      case SoundReadStatus::Filled:
        Heard(std::span<const std::uint8_t>(buffer).first(std::min(read.Bytes, buffer.size())));
        lastSound = now;
        break;
      case SoundReadStatus::Empty:
        if (now - lastSound >= timing_.Silence) {
          return;
        }
        break;
      case SoundReadStatus::Lost:
        return;
    }
  }
}

void TWaveCapture::Poll(Clock::time_point now) {
  SoundCapture* capture = polled_.load();
  if (capture == nullptr || now - lastPoll_ < kTickGapMin) {
    return;
  }
  lastPoll_ = now;
  const SoundRead read = capture->Poll(pollBuffer_);
  switch (read.Status) {
    case SoundReadStatus::Filled:
      Heard(std::span<const std::uint8_t>(pollBuffer_)
                .first(std::min(read.Bytes, pollBuffer_.size())));
      polledSound_ = now;
      break;
    case SoundReadStatus::Empty:
      if (now - polledSound_ >= timing_.Silence) {
        HandBack();
      }
      break;
    case SoundReadStatus::Lost:
      HandBack();
      break;
  }
}

void TWaveCapture::Heard(std::span<const std::uint8_t> samples) {
  Published(samples);
  MeasureBands(samples);
}

void TWaveCapture::Published(std::span<const std::uint8_t> samples) {
  // The most recent blocks of a larger read (reads hand over whole blocks).
  if (samples.size() > kMeasuredBytes) {
    samples = samples.last(kMeasuredBytes);
  }
  extremes_.store(PackExtremes(samples));
  lastBuffer_.store(std::max<std::int64_t>(Ticks(Clock::now()), 1));
}

void TWaveCapture::MeasureBands(std::span<const std::uint8_t> samples) {
  int channels = 0;
  for (const TBandTable::Slot& slot : bands_->Slots) {
    channels |= static_cast<int>(slot.Key.load(std::memory_order_relaxed) >> 24);
  }
  if (channels == 0) {
    return;
  }
  if (!meter_) {
    try {
      meter_ = std::make_unique<TBandMeter>();
    } catch (const std::exception&) {
      return;  // no memory for the transform: the bands stay dark
    }
  }
  meter_->Add(samples);
  meter_->Transform(channels);
  for (TBandTable::Slot& slot : bands_->Slots) {
    const std::uint32_t key = slot.Key.load(std::memory_order_relaxed);
    if (key != 0) {
      const double level = meter_->Level(static_cast<int>(key >> 24), static_cast<int>(key & 0xFFF),
                                         static_cast<int>((key >> 12) & 0xFFF));
      slot.Level.store(std::bit_cast<std::uint64_t>(level), std::memory_order_relaxed);
    }
  }
}

void TWaveCapture::Finish() {
  if (fate_.exchange(kEnded) == kLeftBehind) {
    --leftBehind;
  }
  ended_.release();
}

namespace {

// The thread holds its share of the state for its whole life, however long the library keeps it.
void CaptureThread(
    std::shared_ptr<TWaveCapture> state,  // NOLINT(performance-unnecessary-value-param)
    std::unique_ptr<SoundCapture> capture) {
  NameThisThread("vorlixa-sound");
  state->Run(*capture);
  capture.reset();
  state->Finish();
}

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

TWaveIn::TWaveIn(CaptureFactory factory, std::string sourceName)
    : factory_(std::move(factory)),
      sourceName_(std::move(sourceName)),
      bands_(std::make_shared<TBandTable>()) {
  OpenDevice();
}

TWaveIn::~TWaveIn() {
  CloseDevice();
}

bool TWaveIn::OpenDevice() {
  if (capture_ && capture_->Stalled(Clock::now(), StallLimit)) {
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
  if (capture_->Capturing()) {
    Report(false);
    return true;
  }
  Report(true);
  return false;
}

double TWaveIn::GetLevel(int channelMask) {
  if (!OpenDevice()) {
    return 0.0;
  }
  const Clock::time_point now = Clock::now();
  capture_->Requested(now);
  capture_->Poll(now);
  const std::uint32_t extremes = capture_->LatestExtremes(now);
  LeftMax = UnpackExtreme(extremes, 0);
  LeftMin = UnpackExtreme(extremes, 1);
  RightMax = UnpackExtreme(extremes, 2);
  RightMin = UnpackExtreme(extremes, 3);
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
  const std::uint32_t key = TBandTable::Key(first, end, channelMask & 3);
  if ((channelMask & 3) == 0) {
    return -1;
  }
  std::size_t free = TBandTable::kSlots;
  for (std::size_t i = 0; i < TBandTable::kSlots; ++i) {
    if (bands_->Users[i] > 0 && bands_->Slots[i].Key.load() == key) {
      ++bands_->Users[i];
      return static_cast<int>(i);
    }
    if (bands_->Users[i] == 0 && free == TBandTable::kSlots) {
      free = i;
    }
  }
  if (free == TBandTable::kSlots) {
    return -1;
  }
  bands_->Users[free] = 1;
  bands_->Slots[free].Level.store(0);
  bands_->Slots[free].Key.store(key);
  return static_cast<int>(free);
}

void TWaveIn::RemoveBand(int band) {
  if (band < 0 || band >= static_cast<int>(TBandTable::kSlots)) {
    return;
  }
  const auto slot = static_cast<std::size_t>(band);
  if (bands_->Users[slot] > 0 && --bands_->Users[slot] == 0) {
    bands_->Slots[slot].Key.store(0);
  }
}

double TWaveIn::GetBandLevel(int band) {
  if (band < 0 || band >= static_cast<int>(TBandTable::kSlots) || !OpenDevice()) {
    return 0.0;
  }
  const Clock::time_point now = Clock::now();
  capture_->Requested(now);
  capture_->Poll(now);
  if (!capture_->Fresh(now)) {
    return 0.0;
  }
  return std::bit_cast<double>(bands_->Slots[static_cast<std::size_t>(band)].Level.load());
}

void TWaveIn::CloseDevice() {
  if (!capture_) {
    return;
  }
  capture_->RequestStop();
  // One already stuck is not waited for: an exit after a server died waits for none of
  // the recorders, however many there are.
  const bool stuck = capture_->Stalled(Clock::now(), kSurelyStuck);
  if (capture_->WaitForEnd(stuck ? Clock::duration::zero() : Clock::duration(StopWait))) {
    thread_.join();
    capture_.reset();
  } else {
    LeaveCapture();
  }
  LeftMax = LeftMin = RightMax = RightMin = 0.0;
}

void TWaveIn::StartCapture() {
  if (leftBehind.load() >= kMaxLeftBehind) {
    return;
  }
  auto capture =
      std::make_shared<TWaveCapture>(TWaveCapture::Timing{RetryInterval, SilenceLimit}, bands_);
  try {
    thread_ = std::thread(CaptureThread, capture, factory_());
  } catch (const std::exception& e) {
    Warn(e.what());
    return;
  }
  capture_ = std::move(capture);
  openingsSeen_ = failuresSeen_ = lossesSeen_ = 0;
}

void TWaveIn::LeaveCapture() {
  capture_->RequestStop();
  ++leftBehind;
  if (capture_->LeaveBehind()) {
    // It owns all it touches; if the library ever lets it go, it ends by itself.
    thread_.detach();
  } else {
    --leftBehind;
    thread_.join();
  }
  capture_.reset();
}

void TWaveIn::Report(bool failing) {
  const unsigned openings = capture_->Openings();
  if (openings != openingsSeen_) {
    openingsSeen_ = openings;
    failureShown_ = false;
    warned_ = false;
  }
  const unsigned losses = capture_->Losses();
  if (losses != lossesSeen_) {
    lossesSeen_ = losses;
    Warn(Format("The sound source \"%s\" was lost; it is opened again every second", sourceName_));
  }
  const unsigned failures = capture_->Failures();
  if (failures == failuresSeen_ || !failing) {
    // A failure that an opening has since mended is not worth a word.
    failuresSeen_ = failures;
    return;
  }
  failuresSeen_ = failures;
  const SoundCaptureError error = capture_->LastError();
  Warn(Format("The sound source \"%s\" cannot be opened: %s", sourceName_, error.Reason));
  if (!failureShown_) {
    failureShown_ = true;
    PostReport(Format(FailureText(error.Stage), error.Number));
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
