#pragma once

#include "platform/SocketAddress.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vx {

// Finds the first UDP address (IPv4 or IPv6) of a host name without ever blocking its
// caller: glibc's asynchronous look-up runs on glibc's own detached threads, and the
// owner polls it (one Poll a tick). A literal address needs no look-up and is found at
// once. Destroying a look-up cancels it; one that glibc is already running goes on, kept
// alive by a process-wide keeper that frees it when it ends, so neither waiting for it
// nor the exit is held.
class NameLookup {
 public:
  enum class Status { Pending, Found, Failed };

  NameLookup(const std::string& host, std::uint16_t port);
  ~NameLookup();
  NameLookup(const NameLookup&) = delete;
  NameLookup& operator=(const NameLookup&) = delete;

  // Where the look-up stands; takes the result once it is there. Never blocks.
  Status Poll();
  // What was found (the port included), once Found.
  const TSocketAddress& Address() const { return address_; }
  // Why nothing was found (gai_strerror's text), once Failed.
  const std::string& ErrorText() const { return errorText_; }

  struct Request;  // glibc's request and what it points to, in one place that stays put

 private:
  std::unique_ptr<Request> request_;  // while glibc may still run it
  Status status_ = Status::Pending;
  TSocketAddress address_;
  std::string errorText_;
};

}  // namespace vx
