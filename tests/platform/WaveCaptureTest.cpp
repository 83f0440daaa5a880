#include "common/WaveTestDevice.h"
#include "platform/AlsaCapture.h"

#include <gtest/gtest.h>

namespace vx {

namespace {

using namespace std::chrono_literals;

constexpr SoundFormat kFormat{
    .Channels = 2, .SamplesPerSec = 44100, .BufferFrames = kWaveBufferFrames, .BufferCount = 8};

// More buffers than the ring holds, so reading goes on past the first catching up.
TEST(AlsaCaptureTest, HandsOverWholeBuffersInOrderAndLetsGoOnClose) {
  constexpr int kCounted = 20;
  // Buffer k holds the byte k, so a skipped, repeated or split buffer shows.
  const auto bufferNumber = [](int frame) {
    return static_cast<std::uint8_t>(frame / kWaveBufferFrames);
  };
  const WaveTestDevice device(WaveTestSetup::Samples,
                              StereoSamples(kCounted + 4, bufferNumber, bufferNumber));
  AlsaCapture capture;
  ASSERT_EQ(capture.Open(kFormat), std::nullopt);
  EXPECT_TRUE(device.IsOpenByProcess());
  std::vector<std::uint8_t> buffer(2 * kWaveBufferFrames);
  for (int k = 0; k < kCounted; ++k) {
    const SoundRead read = capture.Read(buffer, std::chrono::steady_clock::now());
    ASSERT_EQ(read.Status, SoundReadStatus::Filled) << "buffer " << k;
    ASSERT_EQ(read.Bytes, buffer.size());
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(buffer.size(), static_cast<std::uint8_t>(k)))
        << "buffer " << k;
  }

  capture.Close();
  EXPECT_FALSE(device.IsOpenByProcess());
  EXPECT_EQ(capture.Read(buffer, std::chrono::steady_clock::now()).Status, SoundReadStatus::Lost);
}

// "Unknown PCM default" is met through the recorder; here a device that cannot take stereo.
TEST(AlsaCaptureTest, ReportsTheFailingStepWithThePositiveErrorNumber) {
  const WaveTestDevice mono(WaveTestSetup::MonoOnly);
  AlsaCapture capture;
  const auto error = capture.Open(kFormat);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->Stage, SoundCaptureStage::Prepare);
  EXPECT_EQ(error->Number, EINVAL);
  EXPECT_EQ(error->Reason, "Invalid argument");
}

// Time is simulated here: the pacer is given the instants.
TEST(CapturePacerTest, KeepsAnAlwaysReadyDeviceToOneBufferPerInterval) {
  CapturePacer pacer(10ms, 8);
  const CapturePacer::Clock::time_point start{};
  pacer.Reset(start);
  int handled = 0;
  for (auto now = start; now <= start + 1s; now += 1ms) {
    if (pacer.Ready(now)) {
      pacer.BufferHandled(now);
      ++handled;
    }
  }
  EXPECT_EQ(handled, 101);  // at 0, 10, ..., 1000 ms
}

TEST(CapturePacerTest, CatchesUpARingfulAfterAStall) {
  CapturePacer pacer(10ms, 8);
  const CapturePacer::Clock::time_point start{};
  pacer.Reset(start);
  const auto late = start + 500ms;
  int burst = 0;
  while (pacer.Ready(late)) {
    pacer.BufferHandled(late);
    ++burst;
  }
  EXPECT_EQ(burst, 8);
  EXPECT_EQ(pacer.Next(), late + 10ms);
}

}  // namespace

}  // namespace vx
