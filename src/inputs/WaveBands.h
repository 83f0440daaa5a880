#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>

namespace vx {

class TBandMeter;

// The frequency bands that a recorder's bars show, shared by the GUI thread (which adds,
// removes and reads them) and the captures (which measure them). The lock is held only to
// copy a few numbers, never while measuring nor inside the sound library.
class TWaveBands {
 public:
  static constexpr std::size_t kSlots = 32;

  // Starts showing bins first .. end - 1 of the channels in channelMask (bit 0 left, bit 1
  // right); bars of the same band share it. A handle, -1 when no more bands fit.
  int Add(int first, int end, int channelMask);
  // Lets go of a handle of Add (-1: nothing); the last one stops the band's measuring.
  void Remove(int band);
  // The band's latest level; 0 for -1 or a handle out of range.
  double Level(int band) const;
  // Measures the bands shown from samples that came (stereo blocks), through meter, which
  // belongs to the caller and is made here when a band is first shown.
  void Measure(std::unique_ptr<TBandMeter>& meter, std::span<const std::uint8_t> samples);

 private:
  struct TSlot {
    int First = 0;
    int End = 0;
    int Mask = 0;   // 0: the slot is free
    int Users = 0;  // bars that show it
    double Level = 0.0;
  };

  mutable std::mutex mutex_;
  std::array<TSlot, kSlots> slots_{};
};

}  // namespace vx
