#pragma once

#include "platform/UniqueFd.h"

#include <string>

namespace vx {

// Named kernel objects where the user has no runtime folder (LocalSocket.h) are stream
// sockets in the abstract namespace: the name exists exactly as long as its holder keeps
// the listening socket open, whatever way the holder ends, and leaves no file behind. The socket
// name carries the object's name and the user id, so that the programs of different users never
// meet.
std::string AbstractNamespaceSocketName(const std::string& name, unsigned user);

// Binds a new listening socket (non-blocking, close-on-exec) to the abstract name.
// Returns 0 or the error number (EADDRINUSE when another socket holds the name).
int ListenOnAbstractName(const std::string& socketName, UniqueFd& listener);

// Connects a new non-blocking, close-on-exec socket to the holder of the abstract name.
// Returns 0 or the error number (ECONNREFUSED when nobody holds the name).
int ConnectToAbstractName(const std::string& socketName, UniqueFd& connection);

}  // namespace vx
