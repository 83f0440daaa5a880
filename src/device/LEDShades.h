#pragma once

#include <cstdint>

namespace vx {

// What a picture of a chain needs to know about a board's slots, as plain code: which bar
// a frame position belongs to, and how bright an LED looks.

// The bar whose slots hold frame position slot (0..79) on a board of barSize LEDs per
// bar: 0 or 1, or -1 for a position that belongs to no bar (64..79 with BarSize 32,
// every position with BarSize 0). The link sends those as 0 whatever its settings.
int LEDSlotBar(std::uint8_t barSize, int slot);

// One colour for a lit LED, darker shades for dimmer ones.
struct TLEDShade {
  std::uint8_t Red;
  std::uint8_t Green;
  std::uint8_t Blue;
  bool operator==(const TLEDShade&) const = default;
};

// The shade of an LED sent at brightness (0 off .. 254 full; 255, which the link sends
// only with MinValue 255, looks full): an unlit LED stays visible as a dark one, and
// every brighter byte gives a shade at least as bright.
TLEDShade LEDShade(std::uint8_t brightness);

}  // namespace vx
