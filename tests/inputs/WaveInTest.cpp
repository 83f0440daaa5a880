#include <gtest/gtest.h>

#include "inputs/WaveTestDevice.h"
#include "inputs/unWaveIn.h"
#include "support/FakePrompter.h"

namespace vx {

namespace {

constexpr int kBuffers = 64;

std::uint8_t Silence(int) {
  return 128;
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
  FakePrompter prompter;
  TWaveIn recorder;
  ASSERT_TRUE(recorder.Recording());
  EXPECT_EQ(recorder.GetLevel(3), 0.0) << "no buffer completed yet";
  ASSERT_TRUE(RunEventsUntil([&] { return recorder.GetLevel(3) != 0.0; }));
  EXPECT_DOUBLE_EQ(recorder.GetLevel(1), c.Mask1 / 128.0);
  EXPECT_DOUBLE_EQ(recorder.GetLevel(2), c.Mask2 / 128.0);
  EXPECT_DOUBLE_EQ(recorder.GetLevel(3), c.Mask3 / 128.0);
  EXPECT_EQ(recorder.GetLevel(0), 0.0);
  EXPECT_TRUE(prompter.Messages.empty());
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

TEST(WaveInFailure, OpenFailureIsShownOnceUntilAnOpeningSucceeds) {
  FakePrompter prompter;
  const WaveTestDevice missing(WaveTestSetup::NoDefault);
  TWaveIn recorder;
  EXPECT_EQ(prompter.Messages, std::vector<std::string>{"Could not open wave device: 2"});
  EXPECT_FALSE(recorder.Recording());
  for (int tick = 0; tick < 3; ++tick) {
    EXPECT_EQ(recorder.GetLevel(3), 0.0);
  }
  EXPECT_EQ(prompter.Messages.size(), 1u);
  recorder.RetryInterval = std::chrono::milliseconds(0);
  {
    const WaveTestDevice present(WaveTestSetup::Samples, StereoSamples(kBuffers, Silence, Silence));
    ASSERT_TRUE(RunEventsUntil([&] { return recorder.GetLevel(3) != 0.0; }));
    recorder.CloseDevice();
  }
  EXPECT_EQ(recorder.GetLevel(3), 0.0);
  EXPECT_EQ(prompter.Messages.size(), 2u);
}

TEST(WaveInSharing, LastReleaseClosesTheSharedRecorder) {
  const WaveTestDevice device(WaveTestSetup::Samples, StereoSamples(kBuffers, Silence, Silence));
  TWaveIn* first = AcquireRecorder();
  TWaveIn* second = AcquireRecorder();
  ASSERT_EQ(first, second);
  EXPECT_EQ(second->UseCount, 2);

  ReleaseRecorder(first);
  EXPECT_EQ(first, nullptr);
  EXPECT_EQ(second->UseCount, 1);
  EXPECT_TRUE(device.IsOpenByProcess());
  EXPECT_TRUE(RunEventsUntil([&] { return second->GetLevel(3) != 0.0; }));

  // A recorder of its own is destroyed by its release and leaves the shared one alone.
  auto* own = new TWaveIn;
  ReleaseRecorder(own);
  EXPECT_EQ(own, nullptr);
  EXPECT_EQ(second->UseCount, 1);

  ReleaseRecorder(second);
  EXPECT_EQ(second, nullptr);
  EXPECT_FALSE(device.IsOpenByProcess());
  TWaveIn* again = AcquireRecorder();
  EXPECT_EQ(again->UseCount, 1);
  ReleaseRecorder(again);
}

// Stands in for the device where ALSA cannot be made to fail (or be lost) on this machine.
class FakeSoundCapture final : public SoundCapture {
 public:
  explicit FakeSoundCapture(std::optional<SoundCaptureError> failure = std::nullopt)
      : failure_(failure) {}
  std::optional<SoundCaptureError> Open(const SoundFormat&, BufferHandler handler) override {
    ++Opens;
    Opened = !failure_;
    Handler = Opened ? std::move(handler) : nullptr;
    return failure_;
  }
  void Close() override { Opened = false; }
  bool IsOpen() const override { return Opened; }

  BufferHandler Handler;
  bool Opened = false;
  int Opens = 0;

 private:
  std::optional<SoundCaptureError> failure_;
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
  FakePrompter prompter;
  TWaveIn recorder(std::make_unique<FakeSoundCapture>(SoundCaptureError{GetParam().Stage, 16}));
  EXPECT_EQ(prompter.Messages, std::vector<std::string>{GetParam().Text});
  EXPECT_FALSE(recorder.Recording());
  EXPECT_EQ(recorder.GetLevel(3), 0.0);
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

TEST(WaveInFailure, AFailedOpeningIsRetriedOnlyAfterTheRetryInterval) {
  FakePrompter prompter;
  auto owned = std::make_unique<FakeSoundCapture>(SoundCaptureError{SoundCaptureStage::Open, 2});
  FakeSoundCapture& capture = *owned;
  TWaveIn recorder(std::move(owned));
  recorder.RetryInterval = std::chrono::hours(1);
  for (int tick = 0; tick < 3; ++tick) {
    EXPECT_EQ(recorder.GetLevel(3), 0.0);
  }
  EXPECT_EQ(capture.Opens, 1);
  recorder.RetryInterval = std::chrono::milliseconds(0);
  recorder.GetLevel(3);
  recorder.GetLevel(3);
  EXPECT_EQ(capture.Opens, 3);
  EXPECT_EQ(prompter.Messages.size(), 1u);
}

TEST(WaveInBuffers, OnlyTheLastBufferCountsAndALostDeviceIsOpenedAgain) {
  auto owned = std::make_unique<FakeSoundCapture>();
  FakeSoundCapture& capture = *owned;
  TWaveIn recorder(std::move(owned));
  capture.Handler(std::vector<std::uint8_t>{0, 255, 255, 0});
  capture.Handler(std::vector<std::uint8_t>{128, 128});
  EXPECT_DOUBLE_EQ(recorder.GetLevel(3), 1 / 128.0);

  capture.Opened = false;
  recorder.GetLevel(3);
  EXPECT_EQ(capture.Opens, 2);
  EXPECT_TRUE(capture.IsOpen());
}

}  // namespace

}  // namespace vx
