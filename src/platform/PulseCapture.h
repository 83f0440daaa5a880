#pragma once

#include "platform/SoundCapture.h"

#include <pulse/def.h>
#include <pulse/sample.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

struct pa_context;
struct pa_mainloop;
struct pa_server_info;
struct pa_sink_info;
struct pa_stream;

namespace vx {

// Captures from a source of the sound server through PulseAudio's client library
// (PulseAudio serves it, and so does PipeWire's pulse server). The library's main loop
// runs on the calling thread, only inside Open and Read: no thread of the library's own.
// The server paces the reads: it sends pieces of about two buffers, and the thread sleeps
// in the connection until one comes, without a timer of its own.
class PulseCapture final : public SoundCapture {
 public:
  // device: the server's name of the source; empty for the server's default source, or
  // "@DEFAULT_MONITOR@" for the monitor of its default sink. A default is asked of the
  // server by name and followed: when the server's default changes, the capture goes on
  // from the new one.
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
  // Asks the server for its default devices (and the default sink's monitor), running the
  // loop through waitFor; false when the connection failed or the server did not answer.
  template <typename Wait>
  bool AskDefaults(Wait& waitFor);
  // A new stream from source (empty: the server's default) in place of the one there is,
  // without waiting for it; false when it could not be asked for.
  bool Connect(const std::string& source);
  // Captures from source from now on.
  void MoveTo(const std::string& source);
  static void ServerInfo(pa_context* context, const pa_server_info* info, void* self);
  static void SinkInfo(pa_context* context, const pa_sink_info* info, int eol, void* self);
  static void ServerEvent(pa_context* context, pa_subscription_event_type_t type,
                          std::uint32_t index, void* self);
  // Asks for the default devices again after a server event, and once a second.
  void AskAgain();

  std::string device_;
  std::unique_ptr<pa_mainloop, LoopFree> loop_;
  std::unique_ptr<pa_context, ContextEnd> context_;
  std::unique_ptr<pa_stream, StreamEnd> stream_;
  std::vector<std::uint8_t> pending_;              // the newest sound taken from the stream
  std::size_t fresh_ = 0;                          // of it, the bytes not yet handed over
  bool failed_ = false;                            // the connection or the stream has failed
  bool asked_ = false;                             // the server has answered the last question
  bool asking_ = false;                            // a question about the defaults is unanswered
  std::chrono::steady_clock::time_point askedAt_;  // when it was asked
  std::chrono::steady_clock::time_point askAt_;    // when to ask next
  std::string defaultSink_;                        // as the server last named them
  std::string defaultSource_;
  std::string monitorSource_;  // of the default sink
  std::string followed_;       // the default device that the stream follows
  bool drained_ = false;       // the stream is empty until the loop next dispatches
  pa_sample_spec sampleFormat_{};
  std::size_t bufferBytes_ = 0;
  std::size_t frameBytes_ = 0;
};

// What the default output plays: the monitor of the server's default sink.
std::unique_ptr<SoundCapture> CreatePulseMonitorCapture();

}  // namespace vx
