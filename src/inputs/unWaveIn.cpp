#include "inputs/unWaveIn.h"

#include "base/Format.h"
#include "platform/Prompter.h"

#include <algorithm>
#include <utility>

namespace vx {

namespace {

// 8-bit stereo at 44100 blocks per second, in buffers of 512 blocks (about 11.6 ms),
// eight of them queued on the device.
constexpr SoundFormat kWaveFormat{
    .Channels = 2, .SamplesPerSec = 44100, .BufferFrames = 512, .BufferCount = 8};

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

std::unique_ptr<TWaveIn> sharedRecorder;

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

TWaveIn::TWaveIn() : TWaveIn(CreateSoundCapture()) {}

TWaveIn::TWaveIn(std::unique_ptr<SoundCapture> capture) : capture_(std::move(capture)) {
  OpenDevice();
}

TWaveIn::~TWaveIn() {
  CloseDevice();
}

bool TWaveIn::OpenDevice() {
  if (capture_->IsOpen()) {
    return true;
  }
  if (failureShown_ && std::chrono::steady_clock::now() - lastFailure_ < RetryInterval) {
    return false;
  }
  recording_ = true;
  const std::optional<SoundCaptureError> error = capture_->Open(
      kWaveFormat, [this](std::span<const std::uint8_t> samples) { BufferDone(samples); });
  if (!error) {
    failureShown_ = false;
    return true;
  }
  CloseDevice();
  lastFailure_ = std::chrono::steady_clock::now();
  // Retried at level requests: one message until an opening succeeds, not one per tick.
  if (failureShown_) {
    return false;
  }
  failureShown_ = true;
  // Last: the message box runs the event loop, which may ask for the level (or release
  // this recorder) meanwhile.
  ShowMessage(Format(FailureText(error->Stage), error->Number));
  return false;
}

double TWaveIn::GetLevel(int channelMask) {
  if (!OpenDevice()) {
    return 0.0;
  }
  double level = 0.0;
  if ((channelMask & kLeftChannel) != 0) {
    level = std::max(level, LeftMax - LeftMin);
  }
  if ((channelMask & kRightChannel) != 0) {
    level = std::max(level, RightMax - RightMin);
  }
  return level;
}

void TWaveIn::CloseDevice() {
  capture_->Close();
  recording_ = false;
}

void TWaveIn::BufferDone(std::span<const std::uint8_t> samples) {
  const TWaveExtremes extremes = MeasureWaveBuffer(samples);
  LeftMax = extremes.LeftMax;
  LeftMin = extremes.LeftMin;
  RightMax = extremes.RightMax;
  RightMin = extremes.RightMin;
}

TWaveIn* AcquireRecorder() {
  if (sharedRecorder) {
    ++sharedRecorder->UseCount;
  } else {
    auto recorder = std::make_unique<TWaveIn>();
    recorder->UseCount = 1;
    sharedRecorder = std::move(recorder);
  }
  return sharedRecorder.get();
}

void ReleaseRecorder(TWaveIn*& recorder) {
  TWaveIn* const released = std::exchange(recorder, nullptr);
  if (released == nullptr) {
    return;
  }
  if (released != sharedRecorder.get()) {
    // A recorder of its own belongs to whoever created it.
    delete released;
    return;
  }
  if (--released->UseCount <= 0) {
    sharedRecorder.reset();
  }
}

}  // namespace vx
