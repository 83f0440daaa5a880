#include "common/SettingsXml.h"

namespace vx {

std::string SettingsXml(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Vorlixa>" + body + "</Vorlixa>\n";
}

std::string PortsSettingsXml(const std::string& ports) {
  return SettingsXml("<AutoUpdate>0</AutoUpdate><Ports>" + ports + "</Ports>");
}

std::string BarXml(int index, const std::string& input, const std::string& props) {
  return "<Bar Index=\"" + std::to_string(index) + "\"><Input>" + input + "</Input>" + props +
         "</Bar>";
}

std::string TwoBarsXml(const std::string& input0, const std::string& input1) {
  return BarXml(0, input0) + BarXml(1, input1);
}

std::string BoardXml(int index, const std::string& bars, int size) {
  return "<Controller Index=\"" + std::to_string(index) + "\"><BarSize>" + std::to_string(size) +
         "</BarSize><Bars>" + bars + "</Bars></Controller>";
}

std::string PortXml(const std::string& device, const std::string& boards, bool enabled,
                    std::optional<LEDRange> range) {
  std::string port = "<Port><Name>" + device + "</Name><Interval>25</Interval><Enabled>" +
                     (enabled ? "-1" : "0") + "</Enabled>";
  if (range) {
    port += "<LEDmin>" + std::to_string(range->Min) + "</LEDmin><LEDmax>" +
            std::to_string(range->Max) + "</LEDmax>";
  }
  return port + "<Controllers>" + boards + "</Controllers></Port>";
}

std::string OneBoardSettings(const std::string& device, const std::string& bars) {
  return PortsSettingsXml(PortXml(device, BoardXml(0, bars)));
}

std::string KnightRiderSettings(const std::string& device) {
  return OneBoardSettings(device, TwoBarsXml("KnightRider", "Nothing"));
}

}  // namespace vx
