#pragma once

#include "platform/UniqueFd.h"

#include <string>

namespace vx {

// Named kernel objects of one user: stream sockets that exist while their holder keeps
// listening. Where the user has a runtime folder ($XDG_RUNTIME_DIR: a folder of this
// user's own that it may write), the socket is a file of mode 0600 there, so that no
// other user can take its name or reach it. Without one, it is an abstract name (see
// AbstractNamespaceSocket.h), which any local user could bind first.

// The socket name of the object name of user: "<runtime folder>/<name>-<user>", or,
// without a usable runtime folder or when that path does not fit a socket address, the
// abstract name (AbstractNamespaceSocketName). A name that starts with "/" is a file.
std::string LocalSocketName(const std::string& name, unsigned user);

// The listening end of a named local socket. A socket file comes with a lock file beside
// it ("<socket>.lock"), locked while the name is held: a socket file whose holder ended
// without removing it (killed) is taken over, and two holders that start together never
// both get the name.
class LocalListener {
 public:
  LocalListener() = default;
  // Removes the socket file, then lets go of the name.
  ~LocalListener();
  LocalListener(const LocalListener&) = delete;
  LocalListener& operator=(const LocalListener&) = delete;
  LocalListener(LocalListener&& other) noexcept;
  LocalListener& operator=(LocalListener&& other) noexcept;

  // Binds a new listening socket (non-blocking, close-on-exec) to socketName. Returns 0
  // or the error number (EADDRINUSE when another holder has the name).
  int Listen(const std::string& socketName);
  bool IsValid() const { return socket_.IsValid(); }
  int Get() const { return socket_.Get(); }

 private:
  void Reset();

  std::string path_;  // the socket file to remove at the end; empty for an abstract name
  UniqueFd socket_;
  UniqueFd lock_;
};

// Connects a new non-blocking, close-on-exec socket to the holder of socketName. Returns
// 0 or the error number (ECONNREFUSED or ENOENT when nobody holds the name).
int ConnectToLocalName(const std::string& socketName, UniqueFd& connection);

// Whether the program at the other end of the connected local socket fd runs as our
// effective user: any local user can bind an abstract name first.
bool PeerIsOurUser(int fd);

}  // namespace vx
