#include "inputs/WaveBands.h"

#include "inputs/BandMeter.h"

#include <exception>

namespace vx {

int TWaveBands::Add(int first, int end, int channelMask) {
  const int mask = channelMask & 3;
  if (mask == 0) {
    return -1;
  }
  const std::lock_guard lock(mutex_);
  std::size_t free = kSlots;
  for (std::size_t i = 0; i < kSlots; ++i) {
    TSlot& slot = slots_[i];
    if (slot.Users > 0 && slot.First == first && slot.End == end && slot.Mask == mask) {
      ++slot.Users;
      return static_cast<int>(i);
    }
    if (slot.Users == 0 && free == kSlots) {
      free = i;
    }
  }
  if (free == kSlots) {
    return -1;
  }
  slots_[free] = TSlot{first, end, mask, 1, 0.0};
  return static_cast<int>(free);
}

void TWaveBands::Remove(int band) {
  if (band < 0 || band >= static_cast<int>(kSlots)) {
    return;
  }
  const std::lock_guard lock(mutex_);
  TSlot& slot = slots_[static_cast<std::size_t>(band)];
  if (slot.Users > 0 && --slot.Users == 0) {
    slot = TSlot{};
  }
}

double TWaveBands::Level(int band) const {
  if (band < 0 || band >= static_cast<int>(kSlots)) {
    return 0.0;
  }
  const std::lock_guard lock(mutex_);
  return slots_[static_cast<std::size_t>(band)].Level;
}

void TWaveBands::Measure(std::unique_ptr<TBandMeter>& meter,
                         std::span<const std::uint8_t> samples) {
  std::array<TSlot, kSlots> shown;
  {
    const std::lock_guard lock(mutex_);
    shown = slots_;
  }
  int channels = 0;
  for (const TSlot& slot : shown) {
    channels |= slot.Mask;
  }
  if (channels == 0) {
    return;
  }
  if (!meter) {
    try {
      meter = std::make_unique<TBandMeter>();
    } catch (const std::exception&) {
      return;  // no memory for the transform: the bands stay dark
    }
  }
  meter->Add(samples);
  meter->Transform(channels);
  for (TSlot& slot : shown) {
    if (slot.Mask != 0) {
      slot.Level = meter->Level(slot.Mask, slot.First, slot.End);
    }
  }
  const std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < kSlots; ++i) {
    TSlot& slot = slots_[i];
    // A band let go and taken again while measuring starts from 0, not from the old band.
    if (slot.Mask != 0 && slot.Mask == shown[i].Mask && slot.First == shown[i].First &&
        slot.End == shown[i].End) {
      slot.Level = shown[i].Level;
    }
  }
}

}  // namespace vx
