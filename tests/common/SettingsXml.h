#pragma once

#include <optional>
#include <string>

namespace vx {

// Settings files and their parts, as the program writes them, for the tests to load.

// The XML declaration and <Vorlixa>body</Vorlixa>.
std::string SettingsXml(const std::string& body);

// A settings file with automatic updates off and these <Port> elements.
std::string PortsSettingsXml(const std::string& ports);

// <Bar Index="index"><Input>input</Input>props</Bar>; props are <Prop.Name> elements and
// the like.
std::string BarXml(int index, const std::string& input, const std::string& props = "");

// Bar 0 runs input0 and bar 1 input1.
std::string TwoBarsXml(const std::string& input0, const std::string& input1);

// <Controller Index="index"> of size LEDs a bar whose <Bars> element holds bars.
std::string BoardXml(int index, const std::string& bars, int size = 40);

struct LEDRange {
  int Min = 0;
  int Max = 254;
};

// A port on device at 25 ms a frame with these <Controller> elements; its <LEDmin> and
// <LEDmax> are left out without a range.
std::string PortXml(const std::string& device, const std::string& boards, bool enabled = true,
                    std::optional<LEDRange> range = LEDRange{});

// A settings file with one enabled port on device and one 2 x 40 board, whose <Bars>
// element holds bars.
std::string OneBoardSettings(const std::string& device, const std::string& bars);

// OneBoardSettings whose first bar runs "KnightRider".
std::string KnightRiderSettings(const std::string& device);

}  // namespace vx
