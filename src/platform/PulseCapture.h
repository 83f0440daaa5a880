#pragma once

#include "platform/SoundCapture.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

struct pa_context;
struct pa_mainloop;
struct pa_stream;

namespace vx {

// Captures from a source of the sound server through PulseAudio's client library
// (PulseAudio serves it, and so does PipeWire's pulse server). The library's main loop
// runs on the calling thread, only inside Open and Read: no thread of the library's own.
// The server paces the reads: it sends pieces of about two buffers, and the thread sleeps
// in the connection until one comes, without a timer of its own.
class PulseCapture final : public SoundCapture {
 public:
  // device: the server's name of the source; empty for the server's default source.
  explicit PulseCapture(std::string device);
  ~PulseCapture() override;
  PulseCapture(const PulseCapture&) = delete;
  PulseCapture& operator=(const PulseCapture&) = delete;

  std::optional<SoundCaptureError> Open(const SoundFormat& format) override;
  // Does not wait for readAt: waits for the server's next piece, then hands over what came
  // since the last Read, filled up with what came before it to a whole buffer. When more
  // came than buffer holds, the oldest is dropped (a level wants the newest sound).
  SoundRead Read(std::span<std::uint8_t> buffer,
                 std::chrono::steady_clock::time_point readAt) override;
  void Close() override;
  // Its library calls only look at the connection and never wait when told not to.
  bool Pollable() const override { return true; }
  // One round of the library's loop without waiting, then as Read.
  SoundRead Poll(std::span<std::uint8_t> buffer) override;

 private:
  struct LoopFree {
    void operator()(pa_mainloop* loop) const noexcept;
  };
  struct ContextEnd {
    void operator()(pa_context* context) const noexcept;
  };
  struct StreamEnd {
    void operator()(pa_stream* stream) const noexcept;
  };

  // One round of the main loop, waiting timeoutUs at most (0: not at all); the number of
  // events handled, negative when the loop failed.
  int Iterate(long timeoutUs);
  // Keep the failure in failed_: a state query costs the library a system call, and
  // the states change only while the loop dispatches.
  static void ContextStateChanged(pa_context* context, void* self);
  static void StreamStateChanged(pa_stream* stream, void* self);
  // False once the connection or the stream has failed.
  bool Healthy() const;
  // Takes what the stream holds into pending_, keeping the newest capacity bytes.
  void Take(std::size_t capacity);
  // What is new, filled up to a whole buffer, into buffer; nothing when nothing is new.
  std::optional<SoundRead> HandOver(std::span<std::uint8_t> buffer);
  SoundCaptureError ServerError(SoundCaptureStage stage) const;

  std::string device_;
  std::unique_ptr<pa_mainloop, LoopFree> loop_;
  std::unique_ptr<pa_context, ContextEnd> context_;
  std::unique_ptr<pa_stream, StreamEnd> stream_;
  std::vector<std::uint8_t> pending_;  // the newest sound taken from the stream
  std::size_t fresh_ = 0;              // of it, the bytes not yet handed over
  bool failed_ = false;                // the connection or the stream has failed
  bool drained_ = false;               // the stream is empty until the loop next dispatches
  std::size_t bufferBytes_ = 0;
  std::size_t frameBytes_ = 0;
};

// What the default output plays: the monitor of the server's default sink.
std::unique_ptr<SoundCapture> CreatePulseMonitorCapture();

}  // namespace vx
