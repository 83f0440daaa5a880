#pragma once

#include "platform/SocketAddress.h"
#include "platform/UniqueFd.h"

#include <cstdint>
#include <span>
#include <string>

namespace vx {

enum class TDatagramResult {
  Sent,    // handed to the system whole
  Full,    // no room now (EAGAIN, ENOBUFS): the datagram was dropped, try a later one
  Failed,  // refused: LastError tells why
};

// A UDP socket connected to one address, never blocking: every call returns at once.
// The owner of its descriptor. Errors that the network reports later (a refusal from an
// ICMP port unreachable, a host or network out of reach) come back from the next Send or
// from TakePendingError.
class DatagramSocket {
 public:
  DatagramSocket() = default;

  // Opens a socket of the address's family and connects it; 0, or the error number
  // (ENETUNREACH when no route leads there), the socket then staying closed.
  int Connect(const TSocketAddress& address);
  bool IsOpen() const { return fd_.IsValid(); }
  void Close();

  TDatagramResult Send(std::span<const std::uint8_t> datagram);
  // The error that the network reported since the last look, or 0; clears it.
  int TakePendingError();

  // The error number of the last failure (Connect, Send, TakePendingError), 0 before any.
  int LastError() const { return lastError_; }
  // Its English text ("Connection refused").
  std::string LastErrorText() const;

 private:
  UniqueFd fd_;
  int lastError_ = 0;
};

}  // namespace vx
