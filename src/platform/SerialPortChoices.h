#pragma once

#include <string>
#include <vector>

namespace vx {

// A serial port the machine offers: its device path and what the system says about it.
struct TSerialPortChoice {
  std::string Name;
  std::string Description;
};

// The stable names first (the links in byIdFolder, which survive an adapter getting
// another ttyUSB number; each described by the port it points to), then every serial
// port the system knows, each sorted by name.
std::vector<TSerialPortChoice> SerialPortChoices(
    const std::string& byIdFolder = "/dev/serial/by-id");

// The device file that a port name leads to (symlinks followed) and the group that owns
// it, whose members may open it; both empty when that cannot be told.
struct TSerialDeviceOwner {
  std::string Device;
  std::string Group;
};
TSerialDeviceOwner SerialDeviceOwner(const std::string& port);

}  // namespace vx
