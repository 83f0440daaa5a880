#include "platform/SoundCapture.h"

#include "platform/AlsaCapture.h"
#include "platform/PulseCapture.h"

namespace vx {

namespace {

// ALSA's "default". When that is only the sound server's plugin, the server is asked
// directly: the plugin adds a thread of its own, a copy and a wake-up per period. When
// the server cannot be reached that way (PipeWire without its pulse server), ALSA serves.
class DefaultDeviceCapture final : public SoundCapture {
 public:
  std::optional<SoundCaptureError> Open(const SoundFormat& format) override {
    Close();
    if (const std::optional<std::string> source = AlsaDefaultServerSource()) {
      server_ = std::make_unique<PulseCapture>(*source);
      if (!server_->Open(format)) {
        active_ = server_.get();
        return std::nullopt;
      }
      server_.reset();
    }
    std::optional<SoundCaptureError> error = alsa_->Open(format);
    if (!error) {
      active_ = alsa_.get();
    }
    return error;
  }
  SoundRead Read(std::span<std::uint8_t> buffer,
                 std::chrono::steady_clock::time_point readAt) override {
    return active_ != nullptr ? active_->Read(buffer, readAt) : SoundRead{SoundReadStatus::Lost};
  }
  bool Pollable() const override { return active_ != nullptr && active_->Pollable(); }
  SoundRead Poll(std::span<std::uint8_t> buffer) override {
    return active_ != nullptr ? active_->Poll(buffer) : SoundRead{SoundReadStatus::Lost};
  }
  void Close() override {
    if (active_ != nullptr) {
      active_->Close();
      active_ = nullptr;
    }
    server_.reset();
  }

 private:
  std::unique_ptr<SoundCapture> alsa_ = CreateAlsaCapture();
  std::unique_ptr<SoundCapture> server_;
  SoundCapture* active_ = nullptr;  // the one that opened; null while closed
};

}  // namespace

std::unique_ptr<SoundCapture> CreateSoundCapture(SoundSource source) {
  if (source == SoundSource::SpeakerMonitor) {
    return CreatePulseMonitorCapture();
  }
  return std::make_unique<DefaultDeviceCapture>();
}

}  // namespace vx
