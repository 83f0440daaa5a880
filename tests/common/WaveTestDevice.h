#pragma once

#include "common/ScopedEnvironment.h"

#include <QTemporaryDir>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vx {

// A private ALSA configuration for this process, in force while the object lives (through
// ALSA_CONFIG_PATH, which replaces the system's configuration). Its "default" capture
// device is one of:
enum class WaveTestSetup {
  Samples,    // reads the given samples: `file` plugin over `null`; always ready, no pacing
  NoDefault,  // none at all: opening fails with "Unknown PCM default" (-ENOENT)
  MonoOnly,   // one channel only: refuses the stereo format (-EINVAL)
};

class WaveTestDevice {
 public:
  explicit WaveTestDevice(WaveTestSetup setup, const std::vector<std::uint8_t>& samples = {});
  ~WaveTestDevice();
  WaveTestDevice(const WaveTestDevice&) = delete;
  WaveTestDevice& operator=(const WaveTestDevice&) = delete;

  // Whether this process holds the sample file open, i.e. the device is open.
  bool IsOpenByProcess() const;

 private:
  QTemporaryDir dir_;
  std::string samplesPath_;
  std::optional<ScopedEnvironment> config_;
};

inline constexpr int kWaveBufferFrames = 512;

using WaveSignal = std::function<std::uint8_t(int frame)>;

// Interleaved left/right samples of the two signals, for the given number of buffers.
std::vector<std::uint8_t> StereoSamples(int buffers, const WaveSignal& left,
                                        const WaveSignal& right);

// A sine between low and high, reaching both in every buffer.
WaveSignal SineBetween(int low, int high);

}  // namespace vx
