#include "device/LEDShades.h"

#include "device/LEDController.h"

#include <algorithm>

namespace vx {

namespace {

// A red LED: the colour of an unlit segment and of a fully lit one.
constexpr TLEDShade kUnlit{64, 16, 16};
constexpr TLEDShade kLit{255, 56, 32};

std::uint8_t Mix(std::uint8_t from, std::uint8_t to, int brightness) {
  return static_cast<std::uint8_t>(from + (to - from) * brightness / kFullBrightness);
}

}  // namespace

int LEDSlotBar(std::uint8_t barSize, int slot) {
  if (slot < 0 || slot >= kLEDsPerBoard) {
    return -1;
  }
  if (slot < barSize) {
    return 0;
  }
  return slot < 2 * barSize ? 1 : -1;
}

TLEDShade LEDShade(std::uint8_t brightness) {
  const int level = std::min<int>(brightness, kFullBrightness);
  return {Mix(kUnlit.Red, kLit.Red, level), Mix(kUnlit.Green, kLit.Green, level),
          Mix(kUnlit.Blue, kLit.Blue, level)};
}

}  // namespace vx
