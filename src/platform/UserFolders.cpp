#include "platform/UserFolders.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace vx {

std::string EnvironmentText(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string HomeFolder() {
  std::string home = EnvironmentText("HOME");
  if (!home.empty()) {
    return home;
  }
  const passwd* entry = getpwuid(geteuid());
  return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

bool CanCreateFilesIn(const std::string& folder) {
  // The effective ids decide, as they do when the file is created; a read-only mount
  // answers EROFS even to root.
  return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

bool IsClosedToOthers(const std::string& folder) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    return false;
  }
  return (info.st_uid == ::geteuid() || info.st_uid == 0) &&
         (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace vx
