#include "inputs/BandMeter.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numbers>
#include <stdexcept>

namespace vx {

namespace {

// FFTW's planner is not thread-safe; the recorders plan on their own capture threads.
std::mutex& PlannerMutex() {
  static std::mutex mutex;
  return mutex;
}

constexpr std::size_t kFrames = TBandMeter::kFrames;
constexpr std::size_t kBins = kFrames / 2 + 1;

}  // namespace

// FFTW's buffers and plan, owned together: the plan refers to both buffers.
struct TBandMeter::Transformer {
  Transformer() : in(fftw_alloc_real(kFrames)), out(fftw_alloc_complex(kBins)) {
    if (in == nullptr || out == nullptr) {
      Free();
      throw std::bad_alloc();
    }
    const std::lock_guard lock(PlannerMutex());
    plan = fftw_plan_dft_r2c_1d(static_cast<int>(kFrames), in, out, FFTW_ESTIMATE);
    if (plan == nullptr) {
      Free();
      throw std::runtime_error("The frequency bands cannot be measured");
    }
  }
  ~Transformer() {
    if (plan != nullptr) {
      const std::lock_guard lock(PlannerMutex());
      fftw_destroy_plan(plan);
    }
    Free();
  }
  Transformer(const Transformer&) = delete;
  Transformer& operator=(const Transformer&) = delete;

  void Free() noexcept {
    fftw_free(in);
    fftw_free(out);
    in = nullptr;
    out = nullptr;
  }

  double* in;
  fftw_complex* out;
  fftw_plan plan = nullptr;
};

TBandMeter::TBandMeter()
    : window_(kFrames),
      samples_{std::vector<double>(kFrames), std::vector<double>(kFrames)},
      power_{std::vector<double>(kBins), std::vector<double>(kBins)},
      transformer_(std::make_unique<Transformer>()) {
  double squares = 0.0;
  for (std::size_t i = 0; i < kFrames; ++i) {
    window_[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                      static_cast<double>(kFrames));
    squares += window_[i] * window_[i];
  }
  // A sine of amplitude A puts N * A^2 * sum(w^2) / 4 into the bins of its side of the
  // spectrum: this turns the sum back into A^2.
  scale_ = 4.0 / (static_cast<double>(kFrames) * squares);
}

TBandMeter::~TBandMeter() = default;

void TBandMeter::Add(std::span<const std::uint8_t> samples) {
  std::size_t blocks = samples.size() / 2;
  if (blocks > kFrames) {
    samples = samples.subspan(2 * (blocks - kFrames));
    blocks = kFrames;
  }
  for (std::size_t i = 0; i < blocks; ++i) {
    samples_[0][next_] = (samples[2 * i] - 128) / 128.0;
    samples_[1][next_] = (samples[2 * i + 1] - 128) / 128.0;
    next_ = (next_ + 1) % kFrames;
  }
}

void TBandMeter::Transform(int channelMask) {
  for (std::size_t channel = 0; channel < 2; ++channel) {
    if ((channelMask & (1 << channel)) == 0) {
      continue;
    }
    const std::vector<double>& ring = samples_[channel];
    for (std::size_t i = 0; i < kFrames; ++i) {
      transformer_->in[i] = ring[(next_ + i) % kFrames] * window_[i];
    }
    fftw_execute(transformer_->plan);
    std::vector<double>& power = power_[channel];
    for (std::size_t k = 0; k < kBins; ++k) {
      const double re = transformer_->out[k][0];
      const double im = transformer_->out[k][1];
      power[k] = re * re + im * im;
    }
  }
}

int TBandMeter::Bin(double hz, int samplesPerSec) {
  const double bin = std::ceil(hz * static_cast<double>(kFrames) / samplesPerSec);
  return static_cast<int>(std::clamp(bin, 1.0, static_cast<double>(kBins - 1)));
}

double TBandMeter::Level(int channelMask, int first, int end) const {
  first = std::max(first, 0);
  end = std::min(end, static_cast<int>(kBins));
  double level = 0.0;
  for (std::size_t channel = 0; channel < 2; ++channel) {
    if ((channelMask & (1 << channel)) == 0) {
      continue;
    }
    double sum = 0.0;
    for (int k = first; k < end; ++k) {
      sum += power_[channel][static_cast<std::size_t>(k)];
    }
    level = std::max(level, std::sqrt(sum * scale_));
  }
  return level;
}

}  // namespace vx
