#include "platform/PulseMonitorCapture.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <cstdint>

namespace vx {

namespace {

constexpr const char* kMonitor = "@DEFAULT_MONITOR@";

}  // namespace

void PulseMonitorCapture::StreamFree::operator()(pa_simple* stream) const noexcept {
  pa_simple_free(stream);
}

PulseMonitorCapture::~PulseMonitorCapture() {
  Close();
}

std::optional<SoundCaptureError> PulseMonitorCapture::Open(const SoundFormat& format) {
  Close();
  const pa_sample_spec sampleFormat{.format = PA_SAMPLE_U8,
                                    .rate = static_cast<std::uint32_t>(format.SamplesPerSec),
                                    .channels = static_cast<std::uint8_t>(format.Channels)};
  const auto bufferBytes = static_cast<std::uint32_t>(format.BufferFrames * format.Channels);
  // The server hands over one buffer at a time, so the level is as fresh as a buffer.
  const pa_buffer_attr attributes{
      .maxlength = bufferBytes * static_cast<std::uint32_t>(format.BufferCount),
      .tlength = UINT32_MAX,
      .prebuf = UINT32_MAX,
      .minreq = UINT32_MAX,
      .fragsize = bufferBytes};
  int error = 0;
  pa_simple* stream = pa_simple_new(nullptr, "Vorlixa", PA_STREAM_RECORD, kMonitor, "Sound level",
                                    &sampleFormat, nullptr, &attributes, &error);
  if (stream == nullptr) {
    return SoundCaptureError{SoundCaptureStage::Open, error, pa_strerror(error)};
  }
  stream_.reset(stream);
  bufferBytes_ = bufferBytes;
  return std::nullopt;
}

SoundRead PulseMonitorCapture::Read(std::span<std::uint8_t> buffer,
                                    std::chrono::steady_clock::time_point /*readAt*/) {
  if (!stream_ || buffer.size() < bufferBytes_) {
    return {SoundReadStatus::Lost};
  }
  // The server sends in real time and paces the reads; what is waiting cannot be told
  // from here, so each buffer is taken as it comes.
  int error = 0;
  if (pa_simple_read(stream_.get(), buffer.data(), bufferBytes_, &error) < 0) {
    return {SoundReadStatus::Lost};
  }
  return {SoundReadStatus::Filled, bufferBytes_};
}

void PulseMonitorCapture::Close() {
  stream_.reset();
}

std::unique_ptr<SoundCapture> CreatePulseMonitorCapture() {
  return std::make_unique<PulseMonitorCapture>();
}

}  // namespace vx
