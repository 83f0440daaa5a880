#pragma once

#include <termios.h>

#include <string>

namespace vxsim {

// The serial settings that a program put on the line, as far as a pseudo-terminal
// keeps them (it stores them but does not act on them).
struct LineSettings {
  unsigned Baud = 0;  // output speed in bits per second; 0 if the code is unknown
  int DataBits = 8;
  char Parity = 'N';  // 'N', 'E', 'O', 'M' (mark) or 'S' (space)
  int StopBits = 1;
  bool HardwareFlow = false;  // RTS/CTS
  bool SoftwareFlow = false;  // XON/XOFF on output or input

  bool operator==(const LineSettings&) const = default;
};

LineSettings LineSettingsOf(const termios& tio);

// "115200 8N1 flow=none"; flow is none, rtscts, xonxoff or rtscts+xonxoff.
std::string DescribeLineSettings(const LineSettings& settings);

}  // namespace vxsim
