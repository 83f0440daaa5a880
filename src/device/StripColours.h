#pragma once

#include "device/LEDShades.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vx {

// The colour of a network strip's pixels: "Meter" (green, yellow from 60 % of a bar's
// length, red from 85 %, by the LED's place in its bar) or one fixed colour.
struct TStripColour {
  bool Meter = true;
  TLEDShade Fixed{0, 0, 0};  // the colour when not Meter
  bool operator==(const TStripColour&) const = default;
};

// "Meter" (any case) or "#RRGGBB"; nothing for any other text.
std::optional<TStripColour> ParseStripColour(std::string_view text);
// "Meter" or "#RRGGBB" in upper case, as the settings file keeps it.
std::string StripColourText(const TStripColour& colour);

// The full colour of the LED at place (0 = the bar's first LED) of a bar of barSize LEDs.
TLEDShade StripLEDColour(const TStripColour& colour, int place, int barSize);

// The colour of frame position slot (0..79) of a board with bars of barSize LEDs, sent at
// brightness (0..254; more counts as full), with the bars' Reversed flags: the colour of
// the LED's place in its bar, scaled by the brightness. Black for a slot of no bar.
TLEDShade StripSlotColour(const TStripColour& colour, std::uint8_t barSize, int slot,
                          const std::array<bool, 2>& reversed, std::uint8_t brightness);

// The pixels (3 bytes each) of one board: its first 2 x barSize slots of block, bar 1
// then bar 2. pixels holds at least 6 x barSize bytes; returns how many bytes it wrote.
std::size_t BoardPixels(std::span<const std::uint8_t> block, std::uint8_t barSize,
                        const std::array<bool, 2>& reversed, const TStripColour& colour,
                        std::span<std::uint8_t> pixels);

}  // namespace vx
