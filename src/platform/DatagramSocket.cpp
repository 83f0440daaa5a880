#include "platform/DatagramSocket.h"

#include "platform/SystemError.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>

namespace vx {

namespace {

// Empties the socket's queue of network errors (kept there since IP_RECVERR), so that
// they neither pile up nor come back once reported. Bounded: the queue is bounded too.
void DrainErrorQueue(int fd) {
  std::array<std::uint8_t, 64> data{};
  std::array<std::uint8_t, 256> control{};
  for (int i = 0; i < 64; ++i) {
    iovec part{data.data(), data.size()};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    if (::recvmsg(fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) {
      return;
    }
  }
}

}  // namespace

int DatagramSocket::Connect(const TSocketAddress& address) {
  fd_.Reset();
  const int family = address.Storage.ss_family;
  UniqueFd fd(::socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP));
  if (!fd.IsValid()) {
    return lastError_ = errno;
  }
  // A connected socket hears of an ICMP port unreachable anyway; RECVERR adds the hosts
  // and networks out of reach, e.g. a strip that no longer answers ARP.
  const int on = 1;
  if (family == AF_INET6) {
    ::setsockopt(fd.Get(), IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on);
  } else {
    ::setsockopt(fd.Get(), IPPROTO_IP, IP_RECVERR, &on, sizeof on);
  }
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address.Storage), address.Length) !=
      0) {
    return lastError_ = errno;
  }
  fd_ = std::move(fd);
  return 0;
}

void DatagramSocket::Close() {
  fd_.Reset();
}

TDatagramResult DatagramSocket::Send(std::span<const std::uint8_t> datagram) {
  if (!fd_.IsValid()) {
    lastError_ = ENOTCONN;
    return TDatagramResult::Failed;
  }
  for (;;) {
    if (::send(fd_.Get(), datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) {
      return TDatagramResult::Sent;
    }
    const int error = errno;
    if (error == EINTR) {
      continue;
    }
    if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS) {
      return TDatagramResult::Full;
    }
    lastError_ = error;
    DrainErrorQueue(fd_.Get());
    return TDatagramResult::Failed;
  }
}

int DatagramSocket::TakePendingError() {
  if (!fd_.IsValid()) {
    return 0;
  }
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd_.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
    error = errno;
  }
  if (error != 0) {
    lastError_ = error;
    DrainErrorQueue(fd_.Get());
  }
  return error;
}

std::string DatagramSocket::LastErrorText() const {
  return lastError_ == 0 ? std::string() : InOutErrorMessage(lastError_);
}

}  // namespace vx
