#include "platform/XdgAutostart.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace vx {

TEST(XdgAutostartFolders, TheUserFolderFollowsXdgConfigHome) {
  EXPECT_EQ(XdgAllUsersAutostartFolder(), "/etc/xdg/autostart");
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::string previous = saved != nullptr ? saved : "";
  ::setenv("XDG_CONFIG_HOME", "/tmp/cfg", 1);
  EXPECT_EQ(XdgUserAutostartFolder(), "/tmp/cfg/autostart");
  ::setenv("XDG_CONFIG_HOME", "relative", 1);
  const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  if (!home.empty()) {
    EXPECT_EQ(XdgUserAutostartFolder(), home + "/.config/autostart");
  }
  if (saved != nullptr) {
    ::setenv("XDG_CONFIG_HOME", previous.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
}

}  // namespace vx
