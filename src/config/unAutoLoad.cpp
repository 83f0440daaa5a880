#include "config/unAutoLoad.h"

#include "base/Exceptions.h"
#include "base/Format.h"
#include "platform/Autostart.h"
#include "support/unLog.h"

namespace vx {

std::string AutoLoadUserCaption() {
  return Format("Load at login (%s)", LoginUserName());
}

void LoadAutoLoad(const Autostart& autostart, bool& allUsers, bool& user) {
  try {
    allUsers = autostart.IsEnabled(TAutostartScope::AllUsers);
  } catch (const Exception& e) {
    LogExceptionWarning(e);
  }
  try {
    user = autostart.IsEnabled(TAutostartScope::CurrentUser);
  } catch (const Exception& e) {
    LogExceptionWarning(e);
  }
}

void SaveAutoLoad(Autostart& autostart, std::optional<bool> allUsers, std::optional<bool> user) {
  try {
    if (allUsers) {
      autostart.SetEnabled(TAutostartScope::AllUsers, *allUsers);
    }
  } catch (const Exception& e) {
    LogExceptionWarning(e);
  }
  try {
    if (user) {
      autostart.SetEnabled(TAutostartScope::CurrentUser, *user);
    }
  } catch (const Exception& e) {
    LogExceptionWarning(e);
  }
}

}  // namespace vx
