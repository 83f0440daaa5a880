#include "platform/AlsaCapture.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <thread>
#include <utility>

namespace vx {

namespace {

using namespace std::chrono_literals;

// Fraction of a buffer's duration that the pacer waits between buffers: below 1, so a
// device whose clock runs a little fast is never held back.
constexpr int kPacePerMille = 900;

// What a sound server takes to pass frames on, beyond the time they take to come.
constexpr auto kPassOn = 2ms;

// The longest that one Read waits for a buffer, so its caller can look at its own state.
constexpr auto kReadWait = 250ms;

// ALSA reports failures as negative error numbers; users are shown the positive number.
SoundCaptureError AlsaError(SoundCaptureStage stage, int result) {
  return {stage, -result, snd_strerror(result)};
}

void IgnoreAlsaError(const char* /*file*/, int /*line*/, const char* /*function*/, int /*error*/,
                     const char* /*format*/, ...) {}

// A failed opening is retried every second; ALSA would print each failure to standard
// error.
void SilenceAlsaErrors() {
  [[maybe_unused]] static const bool silenced = [] {
    snd_lib_error_set_handler(IgnoreAlsaError);
    return true;
  }();
}

struct HwParamsFree {
  void operator()(snd_pcm_hw_params_t* params) const noexcept { snd_pcm_hw_params_free(params); }
};

struct SwParamsFree {
  void operator()(snd_pcm_sw_params_t* params) const noexcept { snd_pcm_sw_params_free(params); }
};

// Sample layout exactly as asked; the buffer geometry as near as the device allows.
// frames receives the buffer length that the device granted.
int SetHardwareParams(snd_pcm_t* pcm, const SoundFormat& format, snd_pcm_uframes_t& frames) {
  snd_pcm_hw_params_t* raw = nullptr;
  int result = snd_pcm_hw_params_malloc(&raw);
  if (result < 0) {
    return result;
  }
  const std::unique_ptr<snd_pcm_hw_params_t, HwParamsFree> params(raw);
  frames = static_cast<snd_pcm_uframes_t>(format.BufferFrames);
  auto periods = static_cast<unsigned>(format.BufferCount);
  result = snd_pcm_hw_params_any(pcm, raw);
  if (result >= 0) {
    result = snd_pcm_hw_params_set_access(pcm, raw, SND_PCM_ACCESS_RW_INTERLEAVED);
  }
  if (result >= 0) {
    result = snd_pcm_hw_params_set_format(pcm, raw, SND_PCM_FORMAT_U8);
  }
  if (result >= 0) {
    result = snd_pcm_hw_params_set_channels(pcm, raw, static_cast<unsigned>(format.Channels));
  }
  if (result >= 0) {
    result = snd_pcm_hw_params_set_rate(pcm, raw, static_cast<unsigned>(format.SamplesPerSec), 0);
  }
  if (result >= 0) {
    result = snd_pcm_hw_params_set_period_size_near(pcm, raw, &frames, nullptr);
  }
  if (result >= 0) {
    result = snd_pcm_hw_params_set_periods_near(pcm, raw, &periods, nullptr);
  }
  if (result >= 0) {
    result = snd_pcm_hw_params(pcm, raw);
  }
  if (result >= 0) {
    result = snd_pcm_hw_params_get_period_size(raw, &frames, nullptr);
  }
  return result;
}

// Wake-ups once per full buffer.
int SetSoftwareParams(snd_pcm_t* pcm, snd_pcm_uframes_t frames) {
  snd_pcm_sw_params_t* raw = nullptr;
  int result = snd_pcm_sw_params_malloc(&raw);
  if (result < 0) {
    return result;
  }
  const std::unique_ptr<snd_pcm_sw_params_t, SwParamsFree> params(raw);
  result = snd_pcm_sw_params_current(pcm, raw);
  if (result >= 0) {
    result = snd_pcm_sw_params_set_avail_min(pcm, raw, frames);
  }
  if (result >= 0) {
    result = snd_pcm_sw_params(pcm, raw);
  }
  return result;
}

int GetPollDescriptors(snd_pcm_t* pcm, std::vector<pollfd>& fds) {
  const int count = snd_pcm_poll_descriptors_count(pcm);
  if (count <= 0) {
    return count < 0 ? count : -EINVAL;
  }
  fds.resize(static_cast<std::size_t>(count));
  const int filled = snd_pcm_poll_descriptors(pcm, fds.data(), static_cast<unsigned>(count));
  if (filled < 0) {
    return filled;
  }
  fds.resize(static_cast<std::size_t>(filled));
  return 0;
}

}  // namespace

void CapturePacer::BufferHandled(Clock::time_point now) {
  next_ = std::max(next_, now - (burst_ - 1) * interval_) + interval_;
}

void AlsaCapture::PcmCloser::operator()(snd_pcm_t* pcm) const noexcept {
  snd_pcm_close(pcm);
}

AlsaCapture::AlsaCapture() : pacer_(CapturePacer::Clock::duration::zero(), 0) {
  SilenceAlsaErrors();
}

AlsaCapture::~AlsaCapture() {
  Close();
}

std::optional<SoundCaptureError> AlsaCapture::Open(const SoundFormat& format) {
  Close();
  snd_pcm_t* raw = nullptr;
  int result = snd_pcm_open(&raw, "default", SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
  if (result < 0) {
    return AlsaError(SoundCaptureStage::Open, result);
  }
  PcmHandle pcm(raw);

  snd_pcm_uframes_t frames = 0;
  result = SetHardwareParams(pcm.get(), format, frames);
  if (result < 0) {
    return AlsaError(SoundCaptureStage::Prepare, result);
  }

  // The ring of buffers goes to the device: wake-up threshold, ready state, descriptors.
  std::vector<pollfd> fds;
  result = SetSoftwareParams(pcm.get(), frames);
  if (result >= 0) {
    result = snd_pcm_prepare(pcm.get());
  }
  if (result >= 0) {
    result = GetPollDescriptors(pcm.get(), fds);
  }
  if (result < 0) {
    return AlsaError(SoundCaptureStage::AddBuffers, result);
  }

  result = snd_pcm_start(pcm.get());
  if (result < 0) {
    return AlsaError(SoundCaptureStage::Start, result);
  }

  pcm_ = std::move(pcm);
  pollFds_ = std::move(fds);
  bufferFrames_ = static_cast<long>(frames);
  frameBytes_ = format.Channels;
  sampleRate_ = format.SamplesPerSec;
  const auto interval = std::chrono::nanoseconds(1s) * bufferFrames_ * kPacePerMille / 1000 /
                        std::max(format.SamplesPerSec, 1);
  pacer_ = CapturePacer(interval, format.BufferCount);
  pacer_.Reset(CapturePacer::Clock::now());
  return std::nullopt;
}

void AlsaCapture::Close() {
  pollFds_.clear();
  pcm_.reset();
}

SoundRead AlsaCapture::Read(std::span<std::uint8_t> buffer,
                            CapturePacer::Clock::time_point readAt) {
  const auto bufferBytes = static_cast<std::size_t>(bufferFrames_ * frameBytes_);
  if (!pcm_ || buffer.size() < bufferBytes) {
    return {SoundReadStatus::Lost};
  }
  std::this_thread::sleep_until(readAt);
  const auto deadline = CapturePacer::Clock::now() + kReadWait;
  for (;;) {
    const auto now = CapturePacer::Clock::now();
    const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_.get());
    if (avail < 0) {
      if (!Recover(static_cast<int>(avail))) {
        return {SoundReadStatus::Lost};
      }
      // A device that overruns again at once is given up on at the deadline.
      if (now >= deadline) {
        return {SoundReadStatus::Empty};
      }
      continue;
    }
    if (avail >= bufferFrames_) {
      // As many whole buffers as are there and fit, but no more than real time brings.
      long buffers = 0;
      const long limit = std::min(static_cast<long>(avail / bufferFrames_),
                                  static_cast<long>(buffer.size() / bufferBytes));
      while (buffers < limit && pacer_.Ready(now)) {
        pacer_.BufferHandled(now);
        ++buffers;
      }
      if (buffers == 0) {
        if (pacer_.Next() >= deadline) {
          std::this_thread::sleep_until(deadline);
          return {SoundReadStatus::Empty};
        }
        std::this_thread::sleep_until(pacer_.Next());
        continue;
      }
      const snd_pcm_sframes_t frames = snd_pcm_readi(
          pcm_.get(), buffer.data(), static_cast<snd_pcm_uframes_t>(buffers * bufferFrames_));
      if (frames >= 0) {
        return {SoundReadStatus::Filled,
                static_cast<std::size_t>(frames) * static_cast<std::size_t>(frameBytes_)};
      }
      if (frames != -EAGAIN && !Recover(static_cast<int>(frames))) {
        return {SoundReadStatus::Lost};
      }
      if (now >= deadline) {
        return {SoundReadStatus::Empty};
      }
      continue;
    }
    if (now >= deadline) {
      return {SoundReadStatus::Empty};
    }
    WaitForFrames(bufferFrames_ - avail, deadline);
  }
}

void AlsaCapture::WaitForFrames(long frames, CapturePacer::Clock::time_point deadline) {
  // For as long as the frames take to come (and a little for passing them on), not for
  // the descriptors: the sound server's plugins make them ready for less than a buffer,
  // which would wake the thread many times per buffer.
  const auto wait = std::chrono::nanoseconds(1s) * frames / std::max(sampleRate_, 1);
  std::this_thread::sleep_until(std::min(CapturePacer::Clock::now() + wait + kPassOn, deadline));
  // Some plugins acknowledge their wake-ups only when asked what their descriptors say.
  for (pollfd& fd : pollFds_) {
    fd.revents = 0;
  }
  if (::poll(pollFds_.data(), pollFds_.size(), 0) > 0) {
    unsigned short revents = 0;
    snd_pcm_poll_descriptors_revents(pcm_.get(), pollFds_.data(),
                                     static_cast<unsigned>(pollFds_.size()), &revents);
  }
}

bool AlsaCapture::Recover(int error) {
  // An overrun (the thread was held up for a whole ring) or a suspend: restart capturing.
  int result = snd_pcm_recover(pcm_.get(), error, 1);
  if (result >= 0 && snd_pcm_state(pcm_.get()) == SND_PCM_STATE_PREPARED) {
    result = snd_pcm_start(pcm_.get());
  }
  // Otherwise gone for good (unplugged, a server that went away).
  return result >= 0;
}

std::unique_ptr<SoundCapture> CreateAlsaCapture() {
  return std::make_unique<AlsaCapture>();
}

std::optional<std::string> AlsaDefaultServerSource() {
  SilenceAlsaErrors();
  snd_config_t* top = nullptr;
  if (snd_config_update_ref(&top) < 0) {
    return std::nullopt;
  }
  std::optional<std::string> source;
  // The definition as ALSA would open it: aliases followed, functions evaluated.
  snd_config_t* pcm = nullptr;
  if (snd_config_search_definition(top, "pcm", "default", &pcm) >= 0) {
    const auto text = [pcm](const char* key) -> const char* {
      snd_config_t* node = nullptr;
      const char* value = nullptr;
      if (snd_config_search(pcm, key, &node) < 0 || snd_config_get_string(node, &value) < 0) {
        return nullptr;
      }
      return value;
    };
    const char* type = text("type");
    // A pulse plugin that names its own server is left to ALSA: the server asked directly
    // is the one that the client library finds.
    if (type != nullptr && std::string_view(type) == "pulse" && text("server") == nullptr) {
      // The pulse plugin's "device" is a source of the server.
      const char* device = text("device");
      source = device != nullptr ? device : "";
    } else if (type != nullptr && std::string_view(type) == "pipewire") {
      // Its nodes are PipeWire's own; its pulse server records from the default.
      source = "";
    }
    snd_config_delete(pcm);
  }
  snd_config_unref(top);
  return source;
}

}  // namespace vx
