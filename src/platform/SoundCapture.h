#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

namespace vx {

// How captured sound is laid out: interleaved unsigned 8-bit samples (128 is silence),
// delivered in buffers of BufferFrames blocks while BufferCount buffers are in flight.
struct SoundFormat {
  int Channels = 0;
  int SamplesPerSec = 0;
  int BufferFrames = 0;  // blocks (one sample per channel) per buffer
  int BufferCount = 0;
};

// The step of an opening that failed; each one is reported with its own text.
enum class SoundCaptureStage { Open, Prepare, AddBuffers, Start };

struct SoundCaptureError {
  SoundCaptureStage Stage;
  int Number;  // the system's error number, positive
};

// Records from the default recording device. Completed buffers are handed over on the
// GUI thread, one at a time, from the event loop.
class SoundCapture {
 public:
  // Receives one completed buffer; must not throw. The data is valid during the call only.
  using BufferHandler = std::function<void(std::span<const std::uint8_t> samples)>;

  virtual ~SoundCapture() = default;
  // Opens the device and starts capturing; on failure the device is left closed.
  virtual std::optional<SoundCaptureError> Open(const SoundFormat& format,
                                                BufferHandler handler) = 0;
  // Stops capturing and closes the device; pending buffers are dropped. Never fails.
  virtual void Close() = 0;
  // False while closed, and once the device has been lost while capturing.
  virtual bool IsOpen() const = 0;
};

// The platform's capture of the default recording device.
std::unique_ptr<SoundCapture> CreateSoundCapture();

}  // namespace vx
