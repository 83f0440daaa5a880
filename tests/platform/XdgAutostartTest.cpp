#include "common/ScopedEnvironment.h"
#include "platform/XdgAutostart.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace vx {

TEST(XdgAutostartFolders, TheUserFolderFollowsXdgConfigHome) {
  EXPECT_EQ(XdgAllUsersAutostartFolder(), "/etc/xdg/autostart");
  {
    const ScopedEnvironment configHome("XDG_CONFIG_HOME", "/tmp/cfg");
    EXPECT_EQ(XdgUserAutostartFolder(), "/tmp/cfg/autostart");
  }
  const ScopedEnvironment configHome("XDG_CONFIG_HOME", "relative");
  const char* homeVariable = std::getenv("HOME");
  const std::string home = homeVariable != nullptr ? homeVariable : "";
  if (!home.empty()) {
    EXPECT_EQ(XdgUserAutostartFolder(), home + "/.config/autostart");
  }
}

}  // namespace vx
