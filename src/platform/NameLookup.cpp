#include "platform/NameLookup.h"

#include <netdb.h>
#include <netinet/in.h>

#include <cstring>
#include <memory>

namespace vx {

namespace {

using TAddressList = std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)>;

// Runs getaddrinfo for UDP; flags adds to the hints (AI_NUMERICHOST: no look-up at all).
TFoundAddress LookUp(const std::string& host, std::uint16_t port, int flags, int& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_protocol = IPPROTO_UDP;
  hints.ai_flags = AI_NUMERICSERV | flags;
  addrinfo* found = nullptr;
  error = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  const TAddressList list(found, &::freeaddrinfo);
  TFoundAddress result;
  if (error != 0) {
    result.ErrorText = ::gai_strerror(error);
    return result;
  }
  TSocketAddress address;
  if (list == nullptr || list->ai_addrlen > sizeof address.Storage) {
    result.ErrorText = ::gai_strerror(list == nullptr ? EAI_NODATA : EAI_FAMILY);
    return result;
  }
  std::memcpy(&address.Storage, list->ai_addr, list->ai_addrlen);
  address.Length = list->ai_addrlen;
  result.Address = address;
  return result;
}

}  // namespace

std::optional<TFoundAddress> LiteralUdpAddress(const std::string& host, std::uint16_t port) {
  int error = 0;
  TFoundAddress found = LookUp(host, port, AI_NUMERICHOST, error);
  if (error != 0) {
    return std::nullopt;  // not an address: a name to look up
  }
  return found;
}

TFoundAddress LookUpUdpAddress(const std::string& host, std::uint16_t port) {
  int error = 0;
  return LookUp(host, port, 0, error);
}

}  // namespace vx
