#include "platform/PulseCapture.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/sample.h>
#include <pulse/stream.h>
#include <pulse/subscribe.h>

#include <algorithm>
#include <cstdint>
#include <utility>

namespace vx {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kMonitor = "@DEFAULT_MONITOR@";

// Connecting and starting the stream; a server that takes longer counts as not there.
constexpr auto kOpenWait = 1500ms;
// The longest that one Read waits for a buffer, so its caller can look at its own state.
constexpr auto kReadWait = 250ms;
// The server sends what it has captured in pieces of this many buffers.
constexpr std::uint32_t kBuffersPerPiece = 2;
// The most rounds of the library's loop that one Poll runs.
constexpr int kRoundsPerPoll = 8;
// How often a followed default is asked for besides the server's change events.
constexpr auto kAskAgain = 1s;
// What the server and this side keep of a stream that is not read in time.
constexpr std::uint32_t kKeptPerSecond = 2;

long MicrosecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
  return std::max<long>(static_cast<long>(left.count()), 0);
}

}  // namespace

void PulseCapture::LoopFree::operator()(pa_mainloop* loop) const noexcept {
  pa_mainloop_free(loop);
}

void PulseCapture::ContextEnd::operator()(pa_context* context) const noexcept {
  pa_context_disconnect(context);
  pa_context_unref(context);
}

void PulseCapture::StreamEnd::operator()(pa_stream* stream) const noexcept {
  pa_stream_disconnect(stream);
  pa_stream_unref(stream);
}

PulseCapture::PulseCapture(std::string device) : device_(std::move(device)) {}

PulseCapture::~PulseCapture() {
  Close();
}

std::optional<SoundCaptureError> PulseCapture::Open(const SoundFormat& format) {
  Close();
  const auto deadline = Clock::now() + kOpenWait;
  // Runs the loop until ready() holds; false when the connection or the stream failed
  // or the deadline passed.
  const auto waitFor = [&](auto ready) {
    while (!ready()) {
      if (!Healthy() || Clock::now() >= deadline || Iterate(MicrosecondsUntil(deadline)) < 0) {
        return false;
      }
    }
    return true;
  };
  const auto fail = [&](SoundCaptureStage stage) {
    SoundCaptureError error = ServerError(stage);
    Close();
    return error;
  };

  loop_.reset(pa_mainloop_new());
  if (loop_) {
    context_.reset(pa_context_new(pa_mainloop_get_api(loop_.get()), "Vorlixa"));
  }
  if (context_) {
    pa_context_set_state_callback(context_.get(), &PulseCapture::ContextStateChanged, this);
  }
  if (!context_ || pa_context_connect(context_.get(), nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0 ||
      !waitFor([&] { return pa_context_get_state(context_.get()) == PA_CONTEXT_READY; })) {
    return fail(SoundCaptureStage::Open);
  }

  // The server's default device is asked for by name and followed: a stream connected to
  // a special name (or to none) stays where the server put it first, and a server may
  // make its own choice of default source (PipeWire's session manager takes a sink's
  // monitor for it).
  std::string source = device_;
  if (device_.empty() || device_ == kMonitor) {
    if (!AskDefaults(waitFor)) {
      return fail(SoundCaptureStage::Open);
    }
    followed_ = device_.empty() ? defaultSource_ : defaultSink_;
    source = device_.empty()          ? defaultSource_
             : monitorSource_.empty() ? std::string(kMonitor)
                                      : monitorSource_;
    pa_context_set_subscribe_callback(context_.get(), &PulseCapture::ServerEvent, this);
    pa_operation* subscription =
        pa_context_subscribe(context_.get(), PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr);
    if (subscription == nullptr) {
      return fail(SoundCaptureStage::Open);
    }
    pa_operation_unref(subscription);
  }

  sampleFormat_ = {.format = PA_SAMPLE_U8,
                   .rate = static_cast<std::uint32_t>(format.SamplesPerSec),
                   .channels = static_cast<std::uint8_t>(format.Channels)};
  frameBytes_ = static_cast<std::size_t>(std::max(format.Channels, 1));
  bufferBytes_ = static_cast<std::size_t>(format.BufferFrames) * frameBytes_;
  if (!Connect(source)) {
    return fail(stream_ ? SoundCaptureStage::Start : SoundCaptureStage::Prepare);
  }
  if (!waitFor([&] { return pa_stream_get_state(stream_.get()) == PA_STREAM_READY; })) {
    return fail(SoundCaptureStage::Start);
  }
  pending_.reserve(bufferBytes_ * static_cast<std::size_t>(std::max(format.BufferCount, 1)));
  return std::nullopt;
}

SoundRead PulseCapture::Read(std::span<std::uint8_t> buffer, Clock::time_point /*readAt*/) {
  if (!stream_ || buffer.size() < bufferBytes_) {
    return {SoundReadStatus::Lost};
  }
  const auto deadline = Clock::now() + kReadWait;
  for (;;) {
    if (!Healthy()) {
      return {SoundReadStatus::Lost};
    }
    if (const std::optional<SoundRead> read = HandOver(buffer)) {
      return *read;
    }
    if (Clock::now() >= deadline) {
      return {SoundReadStatus::Empty};
    }
    // Sleeps until the server sends (no timer of its own). What a round leaves to do
    // makes the library's next round return at once, so one round per wake-up is enough:
    // each further empty round is a handful of system calls.
    const int dispatched = Iterate(MicrosecondsUntil(deadline));
    if (dispatched < 0) {
      return {SoundReadStatus::Lost};
    }
    AskAgain();
    drained_ = drained_ && dispatched == 0;
  }
}

SoundRead PulseCapture::Poll(std::span<std::uint8_t> buffer) {
  if (!stream_ || buffer.size() < bufferBytes_ || !Healthy()) {
    return {SoundReadStatus::Lost};
  }
  // Rounds until nothing more is waiting (a few at most): one round handles one piece of
  // what came, and a server that sends smaller pieces than a tick's worth would otherwise
  // leave the answers to questions queued behind ever more sound.
  int dispatched = 0;
  for (int round = 0; round < kRoundsPerPoll; ++round) {
    const int handled = Iterate(0);
    if (handled < 0 || !Healthy()) {
      return {SoundReadStatus::Lost};
    }
    dispatched += handled;
    if (handled == 0) {
      break;
    }
  }
  AskAgain();
  drained_ = drained_ && dispatched == 0;
  return HandOver(buffer).value_or(SoundRead{SoundReadStatus::Empty});
}

std::optional<SoundRead> PulseCapture::HandOver(std::span<std::uint8_t> buffer) {
  if (!drained_) {
    Take(buffer.size() / frameBytes_ * frameBytes_);
  }
  if (fresh_ == 0 || pending_.size() < bufferBytes_) {
    return std::nullopt;
  }
  // What came since the last read, and what came before it up to a whole buffer.
  const std::size_t bytes = std::max(fresh_, bufferBytes_);
  std::copy(pending_.end() - static_cast<std::ptrdiff_t>(bytes), pending_.end(), buffer.begin());
  pending_.erase(pending_.begin(), pending_.end() - static_cast<std::ptrdiff_t>(bufferBytes_));
  fresh_ = 0;
  return SoundRead{SoundReadStatus::Filled, bytes};
}

template <typename Wait>
bool PulseCapture::AskDefaults(Wait& waitFor) {
  asked_ = false;
  pa_operation* info = pa_context_get_server_info(context_.get(), &PulseCapture::ServerInfo, this);
  if (info == nullptr) {
    return false;
  }
  pa_operation_unref(info);
  if (!waitFor([&] { return asked_; })) {
    return false;
  }
  if (!device_.empty()) {
    asked_ = false;
    monitorSource_.clear();
    pa_operation* sink = pa_context_get_sink_info_by_name(context_.get(), defaultSink_.c_str(),
                                                          &PulseCapture::SinkInfo, this);
    if (sink == nullptr) {
      return false;
    }
    pa_operation_unref(sink);
    if (!waitFor([&] { return asked_; })) {
      return false;
    }
  }
  // Without a default device there is nothing to follow: the server's own choice.
  return true;
}

void PulseCapture::ServerInfo(pa_context* /*context*/, const pa_server_info* info, void* self) {
  auto& capture = *static_cast<PulseCapture*>(self);
  capture.asking_ = false;
  const std::string sink = info != nullptr && info->default_sink_name != nullptr
                               ? info->default_sink_name
                               : std::string();
  const std::string source = info != nullptr && info->default_source_name != nullptr
                                 ? info->default_source_name
                                 : std::string();
  if (!capture.stream_) {
    capture.defaultSink_ = sink;
    capture.defaultSource_ = source;
    capture.asked_ = true;
    return;
  }
  // A new default device: the stream moves there (for the monitor, once the new sink
  // has named it).
  const std::string& followed = capture.device_.empty() ? source : sink;
  if (followed == capture.followed_ || followed.empty()) {
    return;
  }
  capture.followed_ = followed;
  if (capture.device_.empty()) {
    capture.MoveTo(followed);
    return;
  }
  pa_operation* sinkInfo = pa_context_get_sink_info_by_name(
      capture.context_.get(), followed.c_str(), &PulseCapture::SinkInfo, self);
  if (sinkInfo == nullptr) {
    capture.failed_ = true;  // opened anew, on the new default
    return;
  }
  pa_operation_unref(sinkInfo);
}

bool PulseCapture::Connect(const std::string& source) {
  if (stream_) {
    // The stream that goes ends by itself, which is no failure of the capture.
    pa_stream_set_state_callback(stream_.get(), nullptr, nullptr);
  }
  stream_.reset(pa_stream_new(context_.get(), "Sound level", &sampleFormat_, nullptr));
  if (!stream_) {
    return false;
  }
  pa_stream_set_state_callback(stream_.get(), &PulseCapture::StreamStateChanged, this);
  // Pieces of about a tick of the update loop: the thread wakes once per piece, and
  // hands over the newest buffer of it. The server's own latency is left as it is.
  const auto bytesPerSecond = static_cast<std::uint32_t>(pa_bytes_per_second(&sampleFormat_));
  const pa_buffer_attr attributes{
      .maxlength = bytesPerSecond / kKeptPerSecond,
      .tlength = UINT32_MAX,
      .prebuf = UINT32_MAX,
      .minreq = UINT32_MAX,
      .fragsize = static_cast<std::uint32_t>(bufferBytes_) * kBuffersPerPiece};
  // A followed default is followed here alone: the server may not move the stream (a
  // session manager was seen to move it to the new output's monitor).
  const bool following = device_.empty() || device_ == kMonitor;
  const auto flags = static_cast<pa_stream_flags_t>(
      PA_STREAM_ADJUST_LATENCY | (following ? PA_STREAM_DONT_MOVE : PA_STREAM_NOFLAGS));
  return pa_stream_connect_record(stream_.get(), source.empty() ? nullptr : source.c_str(),
                                  &attributes, flags) >= 0;
}

void PulseCapture::MoveTo(const std::string& source) {
  // A stream of its own on the new source, as a new Open would make it; the sound
  // measured so far stays until the new one comes.
  drained_ = false;
  if (!Connect(source)) {
    failed_ = true;
  }
}

void PulseCapture::SinkInfo(pa_context* /*context*/, const pa_sink_info* info, int eol,
                            void* self) {
  auto& capture = *static_cast<PulseCapture*>(self);
  if (info == nullptr || info->monitor_source_name == nullptr) {
    capture.asked_ = capture.asked_ || eol != 0;
    return;
  }
  if (capture.stream_) {
    capture.MoveTo(info->monitor_source_name);
  } else {
    capture.monitorSource_ = info->monitor_source_name;
  }
}

void PulseCapture::ServerEvent(pa_context* /*context*/, pa_subscription_event_type_t /*type*/,
                               std::uint32_t /*index*/, void* self) {
  // Only server events are subscribed: one of them is a change of the default devices.
  static_cast<PulseCapture*>(self)->askAt_ = Clock::time_point{};
}

void PulseCapture::AskAgain() {
  // After an event, and once a second besides: PipeWire's pulse server was seen to leave
  // questions about its defaults unanswered for a while after it announced a change.
  const Clock::time_point now = Clock::now();
  if (!device_.empty() && device_ != kMonitor) {
    return;  // a source named in the settings is not followed
  }
  if (now < askAt_ || (asking_ && now < askedAt_ + kAskAgain)) {
    return;
  }
  pa_operation* info = pa_context_get_server_info(context_.get(), &PulseCapture::ServerInfo, this);
  if (info != nullptr) {
    pa_operation_unref(info);
    asking_ = true;
    askedAt_ = now;
  }
  askAt_ = now + kAskAgain;
}

void PulseCapture::Close() {
  stream_.reset();
  context_.reset();
  loop_.reset();
  pending_.clear();
  followed_.clear();
  asking_ = false;
  askAt_ = {};
  fresh_ = 0;
  failed_ = false;
  drained_ = false;
}

int PulseCapture::Iterate(long timeoutUs) {
  if (pa_mainloop_prepare(loop_.get(), static_cast<int>(timeoutUs)) < 0 ||
      pa_mainloop_poll(loop_.get()) < 0) {
    return -1;
  }
  return pa_mainloop_dispatch(loop_.get());
}

void PulseCapture::ContextStateChanged(pa_context* context, void* self) {
  if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
    static_cast<PulseCapture*>(self)->failed_ = true;
  }
}

void PulseCapture::StreamStateChanged(pa_stream* stream, void* self) {
  if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
    static_cast<PulseCapture*>(self)->failed_ = true;
  }
}

bool PulseCapture::Healthy() const {
  return !failed_;
}

void PulseCapture::Take(std::size_t capacity) {
  const void* data = nullptr;
  std::size_t bytes = 0;
  while (pa_stream_peek(stream_.get(), &data, &bytes) >= 0 && bytes > 0) {
    // No data with a length is a hole in the stream: nothing to measure there.
    if (data != nullptr) {
      std::span<const std::uint8_t> piece(static_cast<const std::uint8_t*>(data), bytes);
      if (piece.size() > capacity) {
        piece = piece.last(capacity);
      }
      const std::size_t excess =
          pending_.size() + piece.size() > capacity ? pending_.size() + piece.size() - capacity : 0;
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(excess));
      pending_.insert(pending_.end(), piece.begin(), piece.end());
      fresh_ = std::min(fresh_ + piece.size(), capacity);
    }
    pa_stream_drop(stream_.get());
  }
  drained_ = true;
}

SoundCaptureError PulseCapture::ServerError(SoundCaptureStage stage) const {
  int error = context_ ? pa_context_errno(context_.get()) : PA_ERR_INTERNAL;
  if (error == PA_OK) {
    error = PA_ERR_TIMEOUT;  // neither ready nor failed by the deadline
  }
  return {stage, error, pa_strerror(error)};
}

std::unique_ptr<SoundCapture> CreatePulseMonitorCapture() {
  return std::make_unique<PulseCapture>(kMonitor);
}

}  // namespace vx
