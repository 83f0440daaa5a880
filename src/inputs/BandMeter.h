#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace vx {

// The frequency bands of a stereo stream of unsigned 8-bit samples (left, then right; 128
// is silence): one transform per channel over the newest kFrames blocks, Hann-windowed.
// Belongs to the thread that uses it; only planning the transform is shared process-wide.
class TBandMeter {
 public:
  static constexpr int kFrames = 4096;

  TBandMeter();
  ~TBandMeter();
  TBandMeter(const TBandMeter&) = delete;
  TBandMeter& operator=(const TBandMeter&) = delete;

  // Appends blocks (a trailing odd byte is ignored); the window keeps the newest kFrames.
  void Add(std::span<const std::uint8_t> samples);
  // Transforms the window of the channels in channelMask (bit 0 left, bit 1 right).
  void Transform(int channelMask);
  // The first bin whose centre lies at hz or above, within 1 .. kFrames / 2.
  static int Bin(double hz, int samplesPerSec);
  // The level of bins first .. end - 1 of the latest Transform, the larger of the masked
  // channels: the band's RMS times the square root of 2, so a full-scale sine reads 1.
  double Level(int channelMask, int first, int end) const;

 private:
  struct Transformer;

  std::vector<double> window_;                  // the Hann weights
  std::array<std::vector<double>, 2> samples_;  // per channel, a ring of kFrames
  std::array<std::vector<double>, 2> power_;    // per channel, |X|^2 of each bin
  std::size_t next_ = 0;                        // the ring's oldest block
  double scale_ = 0.0;                          // turns a sum of |X|^2 into a level^2
  std::unique_ptr<Transformer> transformer_;
};

}  // namespace vx
