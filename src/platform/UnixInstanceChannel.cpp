#include "platform/UnixInstanceChannel.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace vx {

namespace {

// Connections that never send their byte are dropped oldest first beyond this many, so
// a misbehaving client cannot make the waiter collect descriptors without end.
constexpr std::size_t kMaxPending = 32;

bool IsTransientAcceptError(int error) {
  return error == EAGAIN || error == EWOULDBLOCK || error == EINTR || error == ECONNABORTED ||
         error == EPROTO;
}

}  // namespace

UnixInstanceChannel::UnixInstanceChannel(const std::string& name, unsigned user)
    : socketName_(LocalSocketName(name, user)) {}

int UnixInstanceChannel::Open() {
  UniqueFd connection;
  if (const int error = ConnectToLocalName(socketName_, connection)) {
    return error;
  }
  // Any local user can bind an abstract name first; only a holder of our own user is a
  // copy.
  if (!PeerIsOurUser(connection.Get())) {
    return kHeldByAnotherUser;
  }
  connection_ = std::move(connection);
  return 0;
}

int UnixInstanceChannel::Create() {
  return listener_.Listen(socketName_);
}

int UnixInstanceChannel::Signal() {
  if (!connection_.IsValid()) {
    return EBADF;
  }
  const char byte = 1;
  return ::send(connection_.Get(), &byte, 1, MSG_NOSIGNAL) == 1 ? 0 : errno;
}

int UnixInstanceChannel::CreateStopEvent() {
  stopEvent_.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  return stopEvent_.IsValid() ? 0 : errno;
}

int UnixInstanceChannel::SetStopEvent() {
  if (!stopEvent_.IsValid()) {
    return EBADF;
  }
  const std::uint64_t one = 1;
  return ::write(stopEvent_.Get(), &one, sizeof one) == sizeof one ? 0 : errno;
}

bool UnixInstanceChannel::AcceptOne(int& error) {
  UniqueFd connection(::accept4(listener_.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
  if (!connection.IsValid()) {
    if (IsTransientAcceptError(errno)) {
      return true;
    }
    error = errno;
    return false;
  }
  // An abstract name is reachable by every local user; only our own user's programs
  // count.
  if (!PeerIsOurUser(connection.Get())) {
    return true;
  }
  if (pending_.size() >= kMaxPending) {
    pending_.erase(pending_.begin());
  }
  pending_.push_back(std::move(connection));
  return true;
}

InstanceChannel::WaitResult UnixInstanceChannel::Wait(int& error) {
  error = 0;
  if (!listener_.IsValid() || !stopEvent_.IsValid()) {
    error = EBADF;
    return WaitResult::Failed;
  }
  std::vector<pollfd> fds;
  for (;;) {
    fds.clear();
    fds.push_back({stopEvent_.Get(), POLLIN, 0});
    fds.push_back({listener_.Get(), POLLIN, 0});
    for (const UniqueFd& connection : pending_) {
      fds.push_back({connection.Get(), POLLIN, 0});
    }
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      error = errno;
      return WaitResult::Failed;
    }
    if (fds[0].revents != 0) {
      return WaitResult::Stopped;
    }
    for (std::size_t i = 0; i < pending_.size(); ++i) {
      if (fds[i + 2].revents == 0) {
        continue;
      }
      std::array<char, 64> bytes{};
      const ssize_t received = ::recv(pending_[i].Get(), bytes.data(), bytes.size(), 0);
      if (received < 0 && (errno == EAGAIN || errno == EINTR)) {
        continue;
      }
      // A connection counts once, however many bytes it sent; one that closed or failed
      // without a byte was only a look.
      pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(i));
      if (received > 0) {
        return WaitResult::Signalled;
      }
      break;
    }
    if ((fds[1].revents & POLLIN) != 0) {
      if (!AcceptOne(error)) {
        return WaitResult::Failed;
      }
    } else if (fds[1].revents != 0) {
      error = EIO;
      return WaitResult::Failed;
    }
  }
}

std::unique_ptr<InstanceChannel> CreateInstanceChannel(const std::string& name) {
  return CreateInstanceChannel(name, ::geteuid());
}

std::unique_ptr<InstanceChannel> CreateInstanceChannel(const std::string& name, unsigned user) {
  return std::make_unique<UnixInstanceChannel>(name, user);
}

}  // namespace vx
