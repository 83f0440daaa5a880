#include "device/StripColours.h"

#include "device/LEDController.h"

#include <algorithm>
#include <cctype>

namespace vx {

namespace {

constexpr TLEDShade kGreen{0, 255, 0};
constexpr TLEDShade kYellow{255, 255, 0};
constexpr TLEDShade kRed{255, 0, 0};
constexpr int kYellowFromPercent = 60;
constexpr int kRedFromPercent = 85;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  const int lower = std::tolower(static_cast<unsigned char>(c));
  return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

std::uint8_t Scale(std::uint8_t full, std::uint8_t brightness) {
  const unsigned level = std::min<unsigned>(brightness, kFullBrightness);
  // Rounded, so that full brightness gives the colour itself.
  return static_cast<std::uint8_t>((full * level + kFullBrightness / 2) / kFullBrightness);
}

}  // namespace

std::optional<TStripColour> ParseStripColour(std::string_view text) {
  if (text.size() == 5 && std::equal(text.begin(), text.end(), "meter", [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
      })) {
    return TStripColour{};
  }
  if (text.size() != 7 || text[0] != '#') {
    return std::nullopt;
  }
  std::array<std::uint8_t, 3> parts{};
  for (std::size_t i = 0; i < 3; ++i) {
    const int high = HexDigit(text[1 + 2 * i]);
    const int low = HexDigit(text[2 + 2 * i]);
    if (high < 0 || low < 0) {
      return std::nullopt;
    }
    parts[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return TStripColour{false, {parts[0], parts[1], parts[2]}};
}

std::string StripColourText(const TStripColour& colour) {
  if (colour.Meter) {
    return "Meter";
  }
  static const char* const kDigits = "0123456789ABCDEF";
  std::string text = "#";
  for (const std::uint8_t part : {colour.Fixed.Red, colour.Fixed.Green, colour.Fixed.Blue}) {
    text += kDigits[part >> 4];
    text += kDigits[part & 0x0F];
  }
  return text;
}

TLEDShade StripLEDColour(const TStripColour& colour, int place, int barSize) {
  if (!colour.Meter) {
    return colour.Fixed;
  }
  if (place * 100 >= kRedFromPercent * barSize) {
    return kRed;
  }
  return place * 100 >= kYellowFromPercent * barSize ? kYellow : kGreen;
}

TLEDShade StripSlotColour(const TStripColour& colour, std::uint8_t barSize, int slot,
                          const std::array<bool, 2>& reversed, std::uint8_t brightness) {
  const int bar = LEDSlotBar(barSize, slot);
  if (bar < 0) {
    return {0, 0, 0};
  }
  // The frame holds a reversed bar mirrored: its first LED sits at the bar's far end.
  const int offset = slot - bar * barSize;
  const int place = reversed[static_cast<std::size_t>(bar)] ? barSize - 1 - offset : offset;
  const TLEDShade full = StripLEDColour(colour, place, barSize);
  return {Scale(full.Red, brightness), Scale(full.Green, brightness), Scale(full.Blue, brightness)};
}

std::size_t BoardPixels(std::span<const std::uint8_t> block, std::uint8_t barSize,
                        const std::array<bool, 2>& reversed, const TStripColour& colour,
                        std::span<std::uint8_t> pixels) {
  // The same colours as StripSlotColour, a bar at a time: this runs for every pixel of
  // every frame.
  const int size = std::min<int>(barSize, static_cast<int>(block.size()) / 2);
  std::uint8_t* out = pixels.data();
  for (std::size_t bar = 0; bar < 2; ++bar) {
    const std::uint8_t* values = block.data() + bar * static_cast<std::size_t>(size);
    for (int offset = 0; offset < size; ++offset) {
      const std::uint8_t value = values[offset];
      if (value == 0) {
        out[0] = out[1] = out[2] = 0;
      } else {
        const int place = reversed[bar] ? size - 1 - offset : offset;
        const TLEDShade full = StripLEDColour(colour, place, size);
        out[0] = Scale(full.Red, value);
        out[1] = Scale(full.Green, value);
        out[2] = Scale(full.Blue, value);
      }
      out += 3;
    }
  }
  return static_cast<std::size_t>(out - pixels.data());
}

}  // namespace vx
