#include "common/WaveTestDevice.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>

namespace vx {

namespace {

constexpr const char* kConfigVariable = "ALSA_CONFIG_PATH";

std::string PcmDefinition(WaveTestSetup setup, const std::string& samplesPath) {
  switch (setup) {
    case WaveTestSetup::Samples:
      return "pcm.!default {\n  type file\n  slave.pcm { type null }\n  file \"/dev/null\"\n"
             "  infile \"" +
             samplesPath + "\"\n  format \"raw\"\n}\n";
    case WaveTestSetup::NoDefault:
      return "pcm.silent { type null }\n";
    case WaveTestSetup::MonoOnly:
      break;
  }
  return "pcm.!default {\n  type multi\n  slaves.a { pcm { type null } channels 1 }\n"
         "  bindings.0 { slave a channel 0 }\n}\n";
}

}  // namespace

WaveTestDevice::WaveTestDevice(WaveTestSetup setup, const std::vector<std::uint8_t>& samples)
    : samplesPath_(dir_.filePath("samples.raw").toStdString()) {
  std::ofstream(samplesPath_, std::ios::binary)
      .write(reinterpret_cast<const char*>(samples.data()),
             static_cast<std::streamsize>(samples.size()));
  const std::string configPath = dir_.filePath("asound.conf").toStdString();
  std::ofstream(configPath) << PcmDefinition(setup, samplesPath_);
  config_.emplace(kConfigVariable, configPath);
}

WaveTestDevice::~WaveTestDevice() = default;

bool WaveTestDevice::IsOpenByProcess() const {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    if (std::filesystem::read_symlink(entry.path(), error) == samplesPath_) {
      return true;
    }
  }
  return false;
}

std::vector<std::uint8_t> StereoSamples(int buffers, const WaveSignal& left,
                                        const WaveSignal& right) {
  std::vector<std::uint8_t> samples;
  for (int frame = 0; frame < buffers * kWaveBufferFrames; ++frame) {
    samples.push_back(left(frame));
    samples.push_back(right(frame));
  }
  return samples;
}

WaveSignal SineBetween(int low, int high) {
  return [low, high](int frame) {
    constexpr int kFramesPerCycle = 64;  // a whole number of cycles per buffer
    const double phase = 2.0 * std::numbers::pi * frame / kFramesPerCycle;
    return static_cast<std::uint8_t>(
        std::lround((low + high) / 2.0 + (high - low) / 2.0 * std::sin(phase)));
  };
}

}  // namespace vx
