#pragma once

#include "platform/SocketAddress.h"

#include <cstdint>
#include <optional>
#include <string>

namespace vx {

// What a look-up of a host's UDP address found.
struct TFoundAddress {
  std::optional<TSocketAddress> Address;  // the first one (IPv4 or IPv6), the port included
  std::string ErrorText;                  // gai_strerror's text, when nothing was found
};

// A host written as an address (192.0.2.1, ::1) needs no look-up: its address, found at
// once without blocking. Nothing for a host name.
std::optional<TFoundAddress> LiteralUdpAddress(const std::string& host, std::uint16_t port);

// Looks a host name up. Blocks while the resolver asks the network (for seconds when the
// network does not answer): it runs on a worker, never on the GUI thread.
TFoundAddress LookUpUdpAddress(const std::string& host, std::uint16_t port);

}  // namespace vx
