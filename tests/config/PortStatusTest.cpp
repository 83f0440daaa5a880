#include "config/PortStatus.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

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

}  // namespace

}  // namespace vx
