#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace vx {

// How captured sound is laid out: interleaved unsigned 8-bit samples (128 is silence),
// read in buffers of BufferFrames blocks while about BufferCount buffers are in flight.
struct SoundFormat {
  int Channels = 0;
  int SamplesPerSec = 0;
  int BufferFrames = 0;  // blocks (one sample per channel) per buffer
  int BufferCount = 0;
};

// Where sound is captured from.
enum class SoundSource : std::uint8_t {
  RecordingDevice,  // the default recording device (ALSA "default")
  SpeakerMonitor,   // what the default output plays (its monitor, through the sound server)
};

// The step of an opening that failed; each one is reported with its own text.
enum class SoundCaptureStage { Open, Prepare, AddBuffers, Start };

struct SoundCaptureError {
  SoundCaptureStage Stage;
  int Number;          // the system's error number, positive
  std::string Reason;  // the library's own words, for the log
};

enum class SoundReadStatus {
  Filled,  // the buffer holds Bytes of sound
  Empty,   // nothing came within the read's own wait (a fraction of a second): read again
  Lost,    // the device or the server is gone: close, and open again later
};

struct SoundRead {
  SoundReadStatus Status = SoundReadStatus::Empty;
  std::size_t Bytes = 0;
};

// Blocking capture, driven from a thread of its own: any call may take as long as the
// sound library does, and a library whose server died may never return. So no call but
// Poll is ever made from the GUI thread, and the object belongs to one thread at a time.
class SoundCapture {
 public:
  virtual ~SoundCapture() = default;
  // Opens the source and starts capturing; on failure the source is left closed.
  virtual std::optional<SoundCaptureError> Open(const SoundFormat& format) = 0;
  // Waits until readAt, then for a whole buffer (the format's BufferFrames blocks), and
  // copies every whole buffer that is there, as many as fit, into buffer (which holds at
  // least one). Keeps to real time even when the source is always ready. A source that
  // sends at its own pace (a sound server) is not waited for until readAt: it hands over
  // what is new as soon as it comes instead.
  virtual SoundRead Read(std::span<std::uint8_t> buffer,
                         std::chrono::steady_clock::time_point readAt) = 0;
  // Stops capturing and closes the source. Never fails.
  virtual void Close() = 0;
  // True for a capture whose Poll never waits, once it is open: the one who asks for the
  // level can then read it on the spot, and no thread has to wake for every piece.
  virtual bool Pollable() const { return false; }
  // What Read hands over, from what has already come, without waiting: Empty when
  // nothing new is there. Only for a Pollable capture.
  virtual SoundRead Poll(std::span<std::uint8_t> /*buffer*/) { return {SoundReadStatus::Lost}; }
};

// The platform's capture of the source.
std::unique_ptr<SoundCapture> CreateSoundCapture(SoundSource source);

}  // namespace vx
