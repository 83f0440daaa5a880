#include "sim/LineSettings.h"

#include "base/Format.h"

#include <array>
#include <utility>

namespace vxsim {

using vx::Format;

namespace {

unsigned BaudOf(speed_t code) {
  static constexpr std::array<std::pair<speed_t, unsigned>, 25> kSpeeds{{
      {B0, 0},
      {B50, 50},
      {B75, 75},
      {B110, 110},
      {B134, 134},
      {B150, 150},
      {B200, 200},
      {B300, 300},
      {B600, 600},
      {B1200, 1200},
      {B1800, 1800},
      {B2400, 2400},
      {B4800, 4800},
      {B9600, 9600},
      {B19200, 19200},
      {B38400, 38400},
      {B57600, 57600},
      {B115200, 115200},
      {B230400, 230400},
      {B460800, 460800},
      {B500000, 500000},
      {B576000, 576000},
      {B921600, 921600},
      {B1000000, 1000000},
      {B2000000, 2000000},
  }};
  for (const auto& [speedCode, baud] : kSpeeds) {
    if (speedCode == code) {
      return baud;
    }
  }
  return 0;
}

}  // namespace

LineSettings LineSettingsOf(const termios& tio) {
  LineSettings settings;
  settings.Baud = BaudOf(cfgetospeed(&tio));
  switch (tio.c_cflag & CSIZE) {
    case CS5:
      settings.DataBits = 5;
      break;
    case CS6:
      settings.DataBits = 6;
      break;
    case CS7:
      settings.DataBits = 7;
      break;
    default:
      settings.DataBits = 8;
      break;
  }
  if ((tio.c_cflag & PARENB) == 0) {
    settings.Parity = 'N';
  } else if ((tio.c_cflag & CMSPAR) != 0) {
    settings.Parity = (tio.c_cflag & PARODD) != 0 ? 'M' : 'S';
  } else {
    settings.Parity = (tio.c_cflag & PARODD) != 0 ? 'O' : 'E';
  }
  settings.StopBits = (tio.c_cflag & CSTOPB) != 0 ? 2 : 1;
  settings.HardwareFlow = (tio.c_cflag & CRTSCTS) != 0;
  settings.SoftwareFlow = (tio.c_iflag & (IXON | IXOFF)) != 0;
  return settings;
}

std::string DescribeLineSettings(const LineSettings& settings) {
  std::string flow = "none";
  if (settings.HardwareFlow && settings.SoftwareFlow) {
    flow = "rtscts+xonxoff";
  } else if (settings.HardwareFlow) {
    flow = "rtscts";
  } else if (settings.SoftwareFlow) {
    flow = "xonxoff";
  }
  return Format("%u %d%c%d flow=%s", settings.Baud, settings.DataBits, settings.Parity,
                settings.StopBits, flow);
}

}  // namespace vxsim
