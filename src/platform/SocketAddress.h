#pragma once

#include <sys/socket.h>

namespace vx {

// An IPv4 or IPv6 socket address as the system passes it: what a name look-up found and
// what a datagram socket connects to.
struct TSocketAddress {
  sockaddr_storage Storage{};
  socklen_t Length = 0;  // 0: no address
};

}  // namespace vx
