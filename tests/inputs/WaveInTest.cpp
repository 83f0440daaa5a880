#include "common/LogText.h"
#include "common/ManualClock.h"
#include "common/PostedReports.h"
#include "common/Wait.h"
#include "common/WaveTestDevice.h"
#include "inputs/BandMeter.h"
#include "inputs/unWaveIn.h"
#include "support/Worker.h"
#include "support/unLog.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <deque>
#include <functional>
#include <numbers>
#include <semaphore>
#include <thread>

namespace vx {

namespace {

constexpr int kBuffers = 64;

// Runs work on a thread of its own and waits for it at most limitMs; false when it took
// longer. The wait for the thread's end comes after, however long it takes.
bool EndsWithin(const std::function<void()>& work, int limitMs) {
  std::atomic<bool> ended = false;
  std::thread worker([&] {
    work();
    ended = true;
  });
  const bool inTime = WaitFor([&ended] { return ended.load(); }, limitMs);
  worker.join();
  return inTime;
}

std::uint8_t Silence(int /*frame*/) {
  return 128;
}

// The threads of sound captures that are left behind and still run.
std::ptrdiff_t CapturesLeftBehind() {
  const std::vector<TLeftBehindThread> threads = LeftBehindThreads();
  return std::count_if(threads.begin(), threads.end(), [](const TLeftBehindThread& thread) {
    return thread.Name == "vorlixa-sound";
  });
}

struct MeasureCase {
  const char* Name;
  std::vector<std::uint8_t> Samples;
  int LeftMax, LeftMin, RightMax, RightMin;  // in 1/128
};
void PrintTo(const MeasureCase& c, std::ostream* os) {
  *os << c.Name;
}

class MeasureWaveBufferTest : public ::testing::TestWithParam<MeasureCase> {};

TEST_P(MeasureWaveBufferTest, KeepsEachChannelsExtremes) {
  const MeasureCase& c = GetParam();
  const TWaveExtremes extremes = MeasureWaveBuffer(c.Samples);
  EXPECT_DOUBLE_EQ(extremes.LeftMax, c.LeftMax / 128.0);
  EXPECT_DOUBLE_EQ(extremes.LeftMin, c.LeftMin / 128.0);
  EXPECT_DOUBLE_EQ(extremes.RightMax, c.RightMax / 128.0);
  EXPECT_DOUBLE_EQ(extremes.RightMin, c.RightMin / 128.0);
}

INSTANTIATE_TEST_SUITE_P(
    Buffers, MeasureWaveBufferTest,
    ::testing::Values(MeasureCase{"Empty", {}, 0, 0, 0, 0},
                      MeasureCase{"AboveMiddleOnly", {130, 200, 200, 130}, 200, 127, 200, 127},
                      MeasureCase{"OddByteIgnored", {100, 140, 0}, 100, 100, 140, 127},
                      MeasureCase{"NoWholeBlock", {0}, 0, 127, 0, 127}),
    [](const auto& param) { return std::string(param.param.Name); });

struct LevelCase {
  const char* Name;
  WaveSignal Left, Right;
  int Mask1, Mask2, Mask3;  // expected levels in 1/128
};
void PrintTo(const LevelCase& c, std::ostream* os) {
  *os << c.Name;
}

class WaveInLevelTest : public ::testing::TestWithParam<LevelCase> {};

// Through real ALSA: the recorder reads prepared samples from the default device.
TEST_P(WaveInLevelTest, GivesTheWidestSwingOfTheMaskedChannels) {
  const LevelCase& c = GetParam();
  const WaveTestDevice device(WaveTestSetup::Samples, StereoSamples(kBuffers, c.Left, c.Right));
  PostedReports reports;
  TWaveIn recorder;
  ASSERT_TRUE(recorder.Recording());
  ASSERT_TRUE(WaitFor([&] { return recorder.GetLevel(3) != 0.0; }));
  EXPECT_DOUBLE_EQ(recorder.GetLevel(1), c.Mask1 / 128.0);
  EXPECT_DOUBLE_EQ(recorder.GetLevel(2), c.Mask2 / 128.0);
  EXPECT_DOUBLE_EQ(recorder.GetLevel(3), c.Mask3 / 128.0);
  EXPECT_EQ(recorder.GetLevel(0), 0.0);
  EXPECT_TRUE(reports.Texts().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Signals, WaveInLevelTest,
    ::testing::Values(
        LevelCase{"Silence", Silence, Silence, 1, 1, 1},
        LevelCase{"FullScale", SineBetween(0, 255), SineBetween(0, 255), 255, 255, 255},
        LevelCase{"HalfScale", SineBetween(64, 192), SineBetween(64, 192), 128, 128, 128},
        LevelCase{"LeftOnly", SineBetween(0, 255), Silence, 255, 1, 255},
        LevelCase{"RightOnly", Silence, SineBetween(0, 255), 1, 255, 255}),
    [](const auto& param) { return std::string(param.param.Name); });

// The platform's capture of the recording device on a test's clock: a read is due when the
// clock's readAt is, however far the test has moved the clock.
class ClockedDeviceCapture final : public SoundCapture {
 public:
  explicit ClockedDeviceCapture(std::shared_ptr<const TManualClock> clock)
      : clock_(std::move(clock)), capture_(CreateSoundCapture(SoundSource::RecordingDevice)) {}

  std::optional<SoundCaptureError> Open(const SoundFormat& format) override {
    return capture_->Open(format);
  }
  SoundRead Read(std::span<std::uint8_t> buffer,
                 std::chrono::steady_clock::time_point readAt) override {
    return capture_->Read(buffer, std::chrono::steady_clock::now() + (readAt - clock_->Now()));
  }
  void Close() override { capture_->Close(); }
  bool Pollable() const override { return capture_->Pollable(); }
  SoundRead Poll(std::span<std::uint8_t> buffer) override { return capture_->Poll(buffer); }

 private:
  std::shared_ptr<const TManualClock> clock_;
  std::unique_ptr<SoundCapture> capture_;
};

TEST(WaveInFailure, OpenFailureIsShownOnceUntilAnOpeningSucceeds) {
  PostedReports reports;
  std::optional<WaveTestDevice> device(std::in_place, WaveTestSetup::NoDefault);
  const auto clock = std::make_shared<TManualClock>();
  const TWaveTiming timing{.RetryInterval = std::chrono::milliseconds(20)};
  TWaveIn recorder([clock] { return std::make_unique<ClockedDeviceCapture>(clock); },
                   "Recording device", timing, clock);
  // Several failed openings, one message.
  ASSERT_TRUE(WaitFor([&] {
    recorder.GetLevel(3);
    return reports.Texts().size() == 1 && !recorder.OpenDevice();
  }));
  for (int tick = 0; tick < 20; ++tick) {
    ASSERT_TRUE(clock->WaitForSleepers(1)) << "the opening before failed and waits";
    clock->Advance(timing.RetryInterval);
    EXPECT_EQ(recorder.GetLevel(3), 0.0);
  }
  EXPECT_EQ(reports.Texts(), std::vector<std::string>{"Could not open wave device: 2"});

  // The device appears: the level follows without another word. (The configuration is
  // swapped only while no capture reads it.)
  recorder.CloseDevice();
  device.emplace(WaveTestSetup::Samples, StereoSamples(kBuffers, Silence, Silence));
  ASSERT_TRUE(WaitFor([&] { return recorder.GetLevel(3) != 0.0; }));
  EXPECT_EQ(reports.Texts().size(), 1U);

  // It goes again: after the success, a new failure is worth a message again.
  recorder.CloseDevice();
  EXPECT_EQ(recorder.GetLevel(3), 0.0);
  recorder.CloseDevice();
  device.emplace(WaveTestSetup::NoDefault);
  ASSERT_TRUE(WaitFor([&] {
    recorder.GetLevel(3);
    return reports.Texts().size() == 2;
  }));
}

TEST(WaveInSharing, EachSourceHasOneSharedRecorderUntilTheLastHolderLetsGo) {
  const WaveTestDevice device(WaveTestSetup::Samples, StereoSamples(kBuffers, Silence, Silence));
  std::shared_ptr<TWaveIn> first = AcquireRecorder();
  std::shared_ptr<TWaveIn> second = AcquireRecorder(SoundSource::RecordingDevice);
  ASSERT_EQ(first, second);
  EXPECT_EQ(second.use_count(), 2);
  ASSERT_TRUE(WaitFor([&] { return device.IsOpenByProcess(); }));

  ReleaseRecorder(first);
  EXPECT_EQ(first, nullptr);
  EXPECT_TRUE(device.IsOpenByProcess());
  EXPECT_TRUE(WaitFor([&] { return second->GetLevel(3) != 0.0; }));

  ReleaseRecorder(second);
  EXPECT_FALSE(device.IsOpenByProcess());
  std::shared_ptr<TWaveIn> again = AcquireRecorder();
  EXPECT_EQ(again.use_count(), 1);
  ReleaseRecorder(again);
}

// Stands in for a sound library: each opening gets the next capture of the script, which
// fails to open, or hands over its buffers and then is lost, or hangs in a read until the
// test lets it go (as a library whose server died may never do).
struct CaptureScript {
  std::optional<SoundCaptureError> Failure;
  std::vector<std::vector<std::uint8_t>> Buffers;
  bool HangAfterBuffers = false;
  bool RepeatUntilLetGo = false;  // a live source: the last buffer again every 10 ms
};

class FakeSoundCapture final : public SoundCapture {
 public:
  struct Shared {
    std::vector<CaptureScript> Scripts;  // one per opening; the last one repeats
    std::atomic<int> Opens{0};
    std::atomic<int> Hanging{0};
    std::counting_semaphore<16> LetGo{0};
  };

  explicit FakeSoundCapture(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

  std::optional<SoundCaptureError> Open(const SoundFormat& /*format*/) override {
    const auto opening = static_cast<std::size_t>(shared_->Opens++);
    script_ = &shared_->Scripts[std::min(opening, shared_->Scripts.size() - 1)];
    next_ = 0;
    return script_->Failure;
  }
  SoundRead Read(std::span<std::uint8_t> buffer,
                 std::chrono::steady_clock::time_point /*readAt*/) override {
    if (next_ < script_->Buffers.size()) {
      const std::vector<std::uint8_t>& samples = script_->Buffers[next_++];
      const std::size_t bytes = std::min(samples.size(), buffer.size());
      std::copy_n(samples.begin(), bytes, buffer.begin());
      return {SoundReadStatus::Filled, bytes};
    }
    if (script_->RepeatUntilLetGo && !script_->Buffers.empty()) {
      if (!shared_->LetGo.try_acquire_for(std::chrono::milliseconds(10))) {
        --next_;
        return Read(buffer, {});
      }
      return {SoundReadStatus::Lost};
    }
    if (script_->HangAfterBuffers) {
      ++shared_->Hanging;
      shared_->LetGo.acquire();
      --shared_->Hanging;
    }
    return {SoundReadStatus::Lost};
  }
  void Close() override {}

 private:
  std::shared_ptr<Shared> shared_;
  const CaptureScript* script_ = nullptr;
  std::size_t next_ = 0;
};

// A recorder over the scripted captures, on a clock that the test moves.
struct ScriptedRecorder {
  explicit ScriptedRecorder(std::vector<CaptureScript> scripts, const TWaveTiming& timing = {})
      : Fake(Share(std::move(scripts))),
        Clock(std::make_shared<TManualClock>()),
        Recorder([this] { return std::make_unique<FakeSoundCapture>(Fake); }, "Test source", timing,
                 Clock) {}
  // Captures that still hang are let go, so that they end.
  ~ScriptedRecorder() {
    Fake->LetGo.release(8);
    Recorder.CloseDevice();
  }
  ScriptedRecorder(const ScriptedRecorder&) = delete;
  ScriptedRecorder& operator=(const ScriptedRecorder&) = delete;

  static std::shared_ptr<FakeSoundCapture::Shared> Share(std::vector<CaptureScript> scripts) {
    auto shared = std::make_shared<FakeSoundCapture::Shared>();
    shared->Scripts = std::move(scripts);
    return shared;
  }

  std::shared_ptr<FakeSoundCapture::Shared> Fake;
  std::shared_ptr<TManualClock> Clock;
  TWaveIn Recorder;
};

struct StageCase {
  const char* Name;
  SoundCaptureStage Stage;
  const char* Text;
};
void PrintTo(const StageCase& c, std::ostream* os) {
  *os << c.Name;
}

class WaveInStageTest : public ::testing::TestWithParam<StageCase> {};

TEST_P(WaveInStageTest, FailureShowsItsTextWithTheErrorNumber) {
  PostedReports reports;
  ScriptedRecorder scripted({{SoundCaptureError{GetParam().Stage, 16, "Busy"}, {}}});
  ASSERT_TRUE(WaitFor([&] {
    EXPECT_EQ(scripted.Recorder.GetLevel(3), 0.0);
    return !reports.Texts().empty();
  }));
  EXPECT_EQ(reports.Texts(), std::vector<std::string>{GetParam().Text});
}

INSTANTIATE_TEST_SUITE_P(Stages, WaveInStageTest,
                         ::testing::Values(StageCase{"Open", SoundCaptureStage::Open,
                                                     "Could not open wave device: 16"},
                                           StageCase{"Prepare", SoundCaptureStage::Prepare,
                                                     "Could not prepare wave device: 16"},
                                           StageCase{"AddBuffers", SoundCaptureStage::AddBuffers,
                                                     "Could not add header to buffer: 16"},
                                           StageCase{"Start", SoundCaptureStage::Start,
                                                     "Could not start recording: 16"}),
                         [](const auto& param) { return std::string(param.param.Name); });

class WaveInLog : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(StartAppLog(dir_.filePath("test.log").toStdString())); }
  void TearDown() override { StopAppLog(); }
  // Closes the log, which writes its lines out.
  std::vector<std::string> Lines() const {
    StopAppLog();
    return LogLineTexts(dir_.filePath("test.log").toStdString());
  }

  QTemporaryDir dir_;
  PostedReports reports_;
};

TEST_F(WaveInLog, AFailedOpeningIsRetriedOnlyAfterTheRetryIntervalAndAStopCutsTheWaitShort) {
  ScriptedRecorder scripted({{SoundCaptureError{SoundCaptureStage::Open, 111, "Refused"}, {}}},
                            {.RetryInterval = std::chrono::hours(1)});
  TWaveIn& recorder = scripted.Recorder;
  ASSERT_TRUE(WaitFor([&] {
    recorder.GetLevel(3);
    return !reports_.Texts().empty();
  }));
  ASSERT_TRUE(scripted.Clock->WaitForSleepers(1));
  for (int tick = 0; tick < 10; ++tick) {
    scripted.Clock->Advance(std::chrono::hours(1) / 10 - std::chrono::milliseconds(1));
    recorder.GetLevel(3);
  }
  EXPECT_TRUE(scripted.Clock->WaitForSleepers(1)) << "still waits for the next opening";
  EXPECT_EQ(scripted.Fake->Opens, 1);
  EXPECT_TRUE(EndsWithin([&recorder] { recorder.CloseDevice(); }, 1000))
      << "the stop wakes the wait for the next opening";

  recorder.RetryInterval = std::chrono::milliseconds(0);
  ASSERT_TRUE(WaitFor([&] {
    recorder.GetLevel(3);
    return scripted.Fake->Opens >= 5;
  }));
  recorder.CloseDevice();
  EXPECT_EQ(reports_.Texts().size(), 1U);
  EXPECT_EQ(Lines(), std::vector<std::string>{
                         "[-WARNING-] The sound source \"Test source\" cannot be opened: Refused"});
}

// A band's level is its share of a sine of amplitude 1/2: 1 kHz on the left, 100 Hz on the
// right, each measured in its band and next to it, through 8-bit samples as they come.
TEST(BandMeter, ASineShowsItsAmplitudeInItsOwnBandAndOnItsOwnChannel) {
  constexpr int kRate = 44100;
  TBandMeter meter;
  std::vector<std::uint8_t> samples;
  // More than the window: only the newest frames count, and the older ones were silence.
  for (int i = 0; i < TBandMeter::kFrames + 1000; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const auto sample = [&](double hz) {
      return static_cast<std::uint8_t>(
          std::lround(128.0 + 64.0 * std::sin(2.0 * std::numbers::pi * hz * t)));
    };
    samples.push_back(i < 1000 ? 128 : sample(1000.0));
    samples.push_back(i < 1000 ? 128 : sample(100.0));
  }
  meter.Add(std::span<const std::uint8_t>(samples).first(2000));
  meter.Add(std::span<const std::uint8_t>(samples).subspan(2000));
  meter.Transform(3);
  const auto level = [&](int mask, double low, double high) {
    return meter.Level(mask, TBandMeter::Bin(low, kRate), TBandMeter::Bin(high, kRate));
  };
  EXPECT_NEAR(level(1, 250, 4000), 0.5, 0.01);
  EXPECT_NEAR(level(2, 20, 250), 0.5, 0.01);
  EXPECT_LT(level(1, 20, 250), 0.01);
  EXPECT_LT(level(2, 4000, 16000), 0.01);
  EXPECT_LT(level(1, 1500, 16000), 0.01);  // the window's leakage stays next to the tone
  // Both channels: the larger.
  EXPECT_NEAR(level(3, 20, 250), 0.5, 0.01);
  // Every bin: the whole sine.
  EXPECT_NEAR(level(1, 1, 22050), 0.5, 0.01);
}

std::vector<std::uint8_t> Block(std::uint8_t left, std::uint8_t right) {
  return {left, right};
}

TEST_F(WaveInLog, OnlyTheLatestBufferCountsAndALostSourceIsOpenedAgainWithOneWarning) {
  // A full-scale buffer, then a quiet one.
  std::vector<std::uint8_t> loud;
  std::vector<std::uint8_t> wide;
  for (int i = 0; i < 512; ++i) {
    loud.insert(loud.end(), {static_cast<std::uint8_t>(i % 2 * 255), 0});
    wide.insert(wide.end(), {100, 140});
  }
  const TWaveTiming timing{.RetryInterval = std::chrono::milliseconds(50)};
  ScriptedRecorder scripted(
      {{std::nullopt, {loud, wide}, false, true}, {std::nullopt, {loud}, false, true}}, timing);
  TWaveIn& recorder = scripted.Recorder;
  ASSERT_TRUE(WaitFor([&] { return recorder.GetLevel(2) == 13 / 128.0; }));  // 140 .. 127
  EXPECT_EQ(recorder.GetLevel(1), 0.0);  // all 100: the full swing before it is forgotten
  // The source is lost; it is opened again once RetryInterval has passed since the last
  // opening, and hands over full scale.
  scripted.Fake->LetGo.release();
  ASSERT_TRUE(scripted.Clock->WaitForSleepers(1));
  EXPECT_EQ(scripted.Fake->Opens, 1);
  scripted.Clock->Advance(timing.RetryInterval);
  ASSERT_TRUE(WaitFor([&] { return recorder.GetLevel(3) == 255 / 128.0; }));
  EXPECT_EQ(scripted.Fake->Opens, 2);
  scripted.Fake->LetGo.release();
  recorder.CloseDevice();
  EXPECT_TRUE(reports_.Texts().empty());
  EXPECT_EQ(Lines(), std::vector<std::string>{"[-WARNING-] The sound source \"Test source\" was "
                                              "lost; it is opened again every second"});
}

// The library never returns from a read: the ticks go on, the latest buffer counts for a
// moment and then the level falls to 0; past StallLimit the capture is left behind and a
// new one opens; closing does not wait for either, and both stay known until they end.
TEST_F(WaveInLog, ACaptureStuckInTheLibraryNeitherHoldsTheTicksNorTheExit) {
  ScriptedRecorder scripted({{std::nullopt, {Block(0, 255)}, true}},
                            {.StallLimit = std::chrono::seconds(1)});
  TWaveIn& recorder = scripted.Recorder;
  TManualClock& clock = *scripted.Clock;
  ASSERT_TRUE(WaitFor([&] {
    recorder.GetLevel(3);
    return scripted.Fake->Hanging == 1;
  }));
  for (int tick = 0; tick < 5; ++tick) {
    EXPECT_EQ(recorder.GetLevel(3), 128 / 128.0);  // right: 255 .. 127
  }
  clock.Advance(std::chrono::milliseconds(300));
  EXPECT_EQ(recorder.GetLevel(3), 0.0);
  EXPECT_EQ(scripted.Fake->Opens, 1);
  clock.Advance(std::chrono::milliseconds(750));
  ASSERT_TRUE(WaitFor([&] {
    recorder.GetLevel(3);
    return scripted.Fake->Opens == 2 && scripted.Fake->Hanging == 2;
  }));
  // The second one has hung for a while too: the exit does not wait for it.
  clock.Advance(std::chrono::milliseconds(500));
  EXPECT_TRUE(EndsWithin([&recorder] { recorder.CloseDevice(); }, 2000));
  EXPECT_FALSE(recorder.Recording());
  EXPECT_TRUE(WaitFor([] { return CapturesLeftBehind() == 2; }));
  EXPECT_EQ(Lines(), std::vector<std::string>{"[-WARNING-] The sound source \"Test source\" "
                                              "stopped answering; it is left behind and opened "
                                              "again"});
  // The library lets go at last: the captures left behind end by themselves.
  scripted.Fake->LetGo.release(2);
  EXPECT_TRUE(WaitFor([&] { return scripted.Fake->Hanging == 0; }));
  EXPECT_TRUE(WaitFor([] { return CapturesLeftBehind() == 0; }));
}

// A capture that never waits, as the sound server's own: the tick reads it through Poll,
// which hands over what the test queued (nothing queued: Empty). Open and Close run on the
// capture's thread, Poll on the test's.
class FakePollableCapture final : public SoundCapture {
 public:
  struct Shared {
    std::atomic<int> Opens{0};
    std::atomic<int> Closes{0};
    std::atomic<int> Reads{0};
    int Polls = 0;                      // the test thread's own
    std::deque<SoundRead> Queued;       // the test thread's own
    std::vector<std::uint8_t> Samples;  // what a Filled read hands over
  };

  explicit FakePollableCapture(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

  std::optional<SoundCaptureError> Open(const SoundFormat& /*format*/) override {
    ++shared_->Opens;
    return std::nullopt;
  }
  SoundRead Read(std::span<std::uint8_t> /*buffer*/,
                 std::chrono::steady_clock::time_point /*readAt*/) override {
    ++shared_->Reads;
    return {SoundReadStatus::Lost};
  }
  void Close() override { ++shared_->Closes; }
  bool Pollable() const override { return true; }
  SoundRead Poll(std::span<std::uint8_t> buffer) override {
    ++shared_->Polls;
    if (shared_->Queued.empty()) {
      return {SoundReadStatus::Empty};
    }
    const SoundRead read = shared_->Queued.front();
    shared_->Queued.pop_front();
    if (read.Status == SoundReadStatus::Filled) {
      std::copy_n(shared_->Samples.begin(), read.Bytes, buffer.begin());
    }
    return read;
  }

 private:
  std::shared_ptr<Shared> shared_;
};

// The tick reads a capture that never waits itself. Silence past SilenceLimit or a lost read
// hands it back to its thread, which closes it and opens it again once RetryInterval has
// passed since the last opening; a stop while the tick holds it ends at once.
TEST_F(WaveInLog, TheTickReadsACaptureThatNeverWaitsUntilItGoesQuietOrIsLost) {
  const auto fake = std::make_shared<FakePollableCapture::Shared>();
  fake->Samples = {0, 255, 255, 0};  // full scale on both channels
  const auto clock = std::make_shared<TManualClock>();
  const TWaveTiming timing{.RetryInterval = std::chrono::seconds(1),
                           .SilenceLimit = std::chrono::seconds(2)};
  TWaveIn recorder([fake] { return std::make_unique<FakePollableCapture>(fake); }, "Test source",
                   timing, clock);
  const auto tick = [&](std::chrono::milliseconds after) {
    clock->Advance(after);
    return recorder.GetLevel(3);
  };
  // Opened on its thread, then lent to the ticks, which read it.
  const auto lentToTheTick = [&] {
    const int polls = fake->Polls;
    return WaitFor([&] {
      recorder.GetLevel(3);
      return fake->Polls > polls;
    });
  };
  const auto hear = [&] { fake->Queued.push_back({SoundReadStatus::Filled, 4}); };
  ASSERT_TRUE(lentToTheTick());
  hear();
  EXPECT_EQ(tick(std::chrono::milliseconds(25)), 255 / 128.0);
  const int polls = fake->Polls;
  EXPECT_EQ(tick(std::chrono::milliseconds(25)), 255 / 128.0);  // the latest sound still counts
  EXPECT_EQ(fake->Polls, polls + 1);

  // Quiet for just under SilenceLimit: still capturing. Then it is handed back, and opened
  // again at once: the last opening lies further back than RetryInterval.
  EXPECT_EQ(tick(std::chrono::milliseconds(1974)), 0.0);
  EXPECT_EQ(fake->Closes, 0);
  tick(std::chrono::milliseconds(25));
  ASSERT_TRUE(WaitFor([&] { return fake->Closes == 1 && fake->Opens == 2; }));
  ASSERT_TRUE(lentToTheTick());
  hear();
  EXPECT_EQ(tick(std::chrono::milliseconds(25)), 255 / 128.0);

  // A lost read hands it back at once; the next opening waits for RetryInterval.
  fake->Queued.push_back({SoundReadStatus::Lost});
  tick(std::chrono::milliseconds(25));
  ASSERT_TRUE(WaitFor([&] { return fake->Closes == 2; }));
  EXPECT_EQ(recorder.GetLevel(3), 0.0);
  ASSERT_TRUE(clock->WaitForSleepers(1));
  EXPECT_EQ(fake->Opens, 2);
  clock->Advance(timing.RetryInterval);
  ASSERT_TRUE(lentToTheTick());
  EXPECT_EQ(fake->Opens, 3);

  // Stopped while the tick holds it: closed on its thread, and no loss.
  EXPECT_TRUE(EndsWithin([&recorder] { recorder.CloseDevice(); }, 1000));
  EXPECT_EQ(fake->Closes, 3);
  EXPECT_EQ(fake->Reads, 0);
  EXPECT_TRUE(reports_.Texts().empty());
  const std::string lost =
      "[-WARNING-] The sound source \"Test source\" was lost; it is opened again every second";
  EXPECT_EQ(Lines(), (std::vector<std::string>{lost, lost}));
}

}  // namespace

}  // namespace vx
