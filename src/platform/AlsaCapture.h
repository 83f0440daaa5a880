#pragma once

#include "platform/SoundCapture.h"

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// ALSA's own name for its handle.
using snd_pcm_t = struct _snd_pcm;  // NOLINT(bugprone-reserved-identifier)

namespace vx {

// Keeps buffer handling to the pace of real time. A real device becomes ready once per
// buffer; a device that is always ready (a file, the null device) would otherwise be
// drained as fast as the thread can read. Up to Burst buffers may follow one another at
// once, so a backlog after a busy moment is caught up without losing sound.
class CapturePacer {
 public:
  using Clock = std::chrono::steady_clock;

  CapturePacer(Clock::duration interval, int burst) : interval_(interval), burst_(burst) {}
  void Reset(Clock::time_point now) { next_ = now; }                // capture starts
  bool Ready(Clock::time_point now) const { return now >= next_; }  // may handle a buffer
  void BufferHandled(Clock::time_point now);
  Clock::time_point Next() const { return next_; }

 private:
  Clock::duration interval_;
  int burst_;
  Clock::time_point next_{};
};

// Captures from the ALSA PCM "default": unsigned 8-bit, interleaved, non-blocking, waited
// for by the time the missing frames take.
class AlsaCapture final : public SoundCapture {
 public:
  AlsaCapture();
  ~AlsaCapture() override;
  AlsaCapture(const AlsaCapture&) = delete;
  AlsaCapture& operator=(const AlsaCapture&) = delete;

  std::optional<SoundCaptureError> Open(const SoundFormat& format) override;
  SoundRead Read(std::span<std::uint8_t> buffer,
                 std::chrono::steady_clock::time_point readAt) override;
  void Close() override;

 private:
  struct PcmCloser {
    void operator()(snd_pcm_t* pcm) const noexcept;
  };
  using PcmHandle = std::unique_ptr<snd_pcm_t, PcmCloser>;

  void WaitForFrames(long frames, CapturePacer::Clock::time_point deadline);
  bool Recover(int error);

  PcmHandle pcm_;
  std::vector<pollfd> pollFds_;
  CapturePacer pacer_;
  long bufferFrames_ = 0;  // frames per buffer as the device granted them
  int frameBytes_ = 0;
  int sampleRate_ = 0;
};

// The default recording device.
std::unique_ptr<SoundCapture> CreateAlsaCapture();

// When ALSA's "default" is only a plugin in front of the sound server (type "pulse" or
// "pipewire", on the server that the client library finds): the server's name of the
// source that it records from, empty for the server's default source. Otherwise (a sound
// card, a file, a pulse plugin with a server of its own, ...) none.
std::optional<std::string> AlsaDefaultServerSource();

}  // namespace vx
