#include "platform/AbstractNamespaceSocket.h"

#include "base/Format.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace vx {

namespace {

// Backlog of the listener: later copies that start together queue up to this many.
constexpr int kBacklog = 16;

// The address of an abstract name: a leading zero byte, then the name without a
// terminator; the length given to the kernel ends the name.
socklen_t AbstractAddress(const std::string& socketName, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  const std::size_t length = std::min(socketName.size(), sizeof address.sun_path - 1);
  std::memcpy(address.sun_path + 1, socketName.data(), length);
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

int NewSocket(UniqueFd& fd) {
  fd.Reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  return fd.IsValid() ? 0 : errno;
}

}  // namespace

std::string AbstractNamespaceSocketName(const std::string& name, unsigned user) {
  return Format("%s/%u", name, user);
}

int ListenOnAbstractName(const std::string& socketName, UniqueFd& listener) {
  UniqueFd fd;
  if (const int error = NewSocket(fd)) {
    return error;
  }
  sockaddr_un address{};
  const socklen_t length = AbstractAddress(socketName, address);
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
      ::listen(fd.Get(), kBacklog) != 0) {
    return errno;
  }
  listener = std::move(fd);
  return 0;
}

int ConnectToAbstractName(const std::string& socketName, UniqueFd& connection) {
  UniqueFd fd;
  if (const int error = NewSocket(fd)) {
    return error;
  }
  sockaddr_un address{};
  const socklen_t length = AbstractAddress(socketName, address);
  // A local connect does not wait: it succeeds at once or fails (EAGAIN when the
  // holder's backlog is full because it no longer accepts).
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    return errno;
  }
  connection = std::move(fd);
  return 0;
}

}  // namespace vx
