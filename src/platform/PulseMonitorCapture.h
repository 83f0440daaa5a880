#pragma once

#include "platform/SoundCapture.h"

#include <memory>

typedef struct pa_simple pa_simple;

namespace vx {

// Captures what the default output plays: the monitor of the sound server's default sink
// ("@DEFAULT_MONITOR@"), through PulseAudio's client library. PulseAudio serves it, and
// so does PipeWire's pulse server.
class PulseMonitorCapture final : public SoundCapture {
 public:
  PulseMonitorCapture() = default;
  ~PulseMonitorCapture() override;
  PulseMonitorCapture(const PulseMonitorCapture&) = delete;
  PulseMonitorCapture& operator=(const PulseMonitorCapture&) = delete;

  std::optional<SoundCaptureError> Open(const SoundFormat& format) override;
  SoundRead Read(std::span<std::uint8_t> buffer,
                 std::chrono::steady_clock::time_point readAt) override;
  void Close() override;

 private:
  struct StreamFree {
    void operator()(pa_simple* stream) const noexcept;
  };

  std::unique_ptr<pa_simple, StreamFree> stream_;
  std::size_t bufferBytes_ = 0;
};

std::unique_ptr<SoundCapture> CreatePulseMonitorCapture();

}  // namespace vx
