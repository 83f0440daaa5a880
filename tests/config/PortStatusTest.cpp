#include "config/PortStatus.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace vx {

namespace {

TPortStatus Status(TLinkState state, std::string lastError = "", std::string portError = "",
                   std::string group = "") {
  TPortStatus status;
  status.State = state;
  status.LastError = std::move(lastError);
  status.PortError = std::move(portError);
  status.Device = "/dev/ttyUSB0";
  status.DeviceGroup = std::move(group);
  return status;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

std::size_t Characters(const std::string& text) {
  std::size_t count = 0;
  for (const char byte : text) {
    count += (static_cast<unsigned char>(byte) & 0xC0) != 0x80 ? 1U : 0U;
  }
  return count;
}

TEST(PortStatus, ARefusedDeviceNamesTheGroupThatMayOpenIt) {
  EXPECT_EQ(PortStatusText(Status(TLinkState::Denied, "", "Permission denied", "dialout")),
            "Permission denied - the user must be in the group \"dialout\" that owns "
            "/dev/ttyUSB0");
  EXPECT_EQ(PortStatusText(Status(TLinkState::Denied, "", "Permission denied")),
            "Permission denied - the user must be in the group that owns /dev/ttyUSB0");
  EXPECT_EQ(PortStatusLine("/dev/ttyUSB0", Status(TLinkState::Denied, "", "", "dialout")),
            "ttyUSB0: permission denied, join group dialout");
  EXPECT_EQ(PortStatusText(Status(TLinkState::Closed, "", "No such file or directory")),
            "Not open");
  EXPECT_EQ(PortStatusText(Status(TLinkState::Connected, "Could not send frame.")),
            "Connected - Could not send frame.");
}

TEST(PortStatus, TheTooltipKeepsEveryPortsStateWithinItsLength) {
  const std::vector<std::string> fits{"ttyUSB0: connected", "ttyUSB1: reconnecting"};
  EXPECT_EQ(FitLines(fits, 63), "ttyUSB0: connected\nttyUSB1: reconnecting");
  EXPECT_EQ(FitLines({}, 63), "");

  // Stable names are long: they give way before the states do.
  const std::vector<std::string> lines{
      "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0: connected",
      "usb-Prolific_Technology_Inc._USB-Serial_Controller-if00: waiting for the device",
      "ttyS0: the chain does not answer"};
  const std::string hint = FitLines(lines, 63);
  EXPECT_LE(Characters(hint), 63U) << hint;
  const std::vector<std::string> shown = Lines(hint);
  ASSERT_EQ(shown.size(), 3U) << hint;
  EXPECT_EQ(shown[0], "usb-FTDI\u2026: connected");
  EXPECT_EQ(shown[1], "waiting for the dev\u2026");  // no room for a name at all
  EXPECT_EQ(shown[2], "the chain does not \u2026");
}

}  // namespace

}  // namespace vx
