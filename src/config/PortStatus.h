#pragma once

#include "device/LEDController.h"

#include <cstddef>
#include <string>
#include <vector>

namespace vx {

class TPortCfg;
class TPortCfgList;

// What the settings window and the tray icon tell about one port.
struct TPortStatus {
  TLinkState State = TLinkState::Closed;
  std::string LastError;    // the link's
  std::string PortError;    // the system's reason for the last failure of the port
  std::string Device;       // the device the port name stands for
  std::string DeviceGroup;  // its group, for a refused device (empty when unknown)
  bool Strip = false;       // a network strip: the link's text says why it does not send
};

// The port's present status; the device's group is looked up only when it is refused.
TPortStatus PortStatusOf(const TPortCfg& port);

// The "Status" column: the state in plain words, with the link's warning or the
// system's reason; a refused device names the group whose members may open it.
std::string PortStatusText(const TPortStatus& status);

// One line of the tray icon's tooltip: "<last part of the port name>: <state>".
std::string PortStatusLine(const std::string& portName, const TPortStatus& status);

// The tray icon's tooltip: one line per port that is enabled or asked to be open,
// within maxLength characters (the names are shortened first, then the lines).
std::string PortsTrayHint(const TPortCfgList& ports, std::size_t maxLength);

// lines joined by line breaks, each cut to its share of maxLength characters; a line
// "name: state" loses the end of its name before the state is cut.
std::string FitLines(const std::vector<std::string>& lines, std::size_t maxLength);

}  // namespace vx
