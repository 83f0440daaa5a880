#pragma once

#include <string>

namespace vx {

// What the system tells about where this user's files may go.

// The value of the environment variable name; empty when it is not set.
std::string EnvironmentText(const char* name);

// The user's home folder: $HOME, else the password database's entry for the effective
// user; empty when neither tells.
std::string HomeFolder();

// Whether this process (its effective user) may create files in folder: it exists, and
// may be written and searched, on a file system mounted for writing.
bool CanCreateFilesIn(const std::string& folder);

// Whether only this user (or root) may change what folder holds: it belongs to the
// effective user or to root, and neither its group nor others may write it.
bool IsClosedToOthers(const std::string& folder);

}  // namespace vx
