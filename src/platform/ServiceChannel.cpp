#include "platform/ServiceChannel.h"

#include <QSocketNotifier>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <utility>

namespace vx {

namespace {

constexpr const char* kChannelName = "Vorlixa-service";
// Longer than any path, short enough that a talkative client is dropped.
constexpr std::size_t kLineLimit = 8192;
// Clients waiting for their request at once; the oldest goes first.
constexpr std::size_t kMaxClients = 8;

std::string ChannelName() {
  return LocalSocketName(kChannelName, ::geteuid());
}

// Writes all of line to the non-blocking connection fd, waiting while its buffer is full;
// a local peer that reads nothing for long is given up.
bool SendLine(int fd, const std::string& line) {
  std::size_t sent = 0;
  while (sent < line.size()) {
    const ssize_t n = ::send(fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd writable{fd, POLLOUT, 0};
      if (::poll(&writable, 1, 1000) <= 0) {
        return false;
      }
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

ServiceChannel::ServiceChannel(std::string settingsFile, std::function<void()> reload)
    : settingsFile_(std::move(settingsFile)), reload_(std::move(reload)) {}

ServiceChannel::~ServiceChannel() = default;

int ServiceChannel::Listen() {
  acceptor_.reset();
  if (const int error = listener_.Listen(ChannelName())) {
    return error;
  }
  acceptor_ = std::make_unique<QSocketNotifier>(listener_.Get(), QSocketNotifier::Read);
  connect(acceptor_.get(), &QSocketNotifier::activated, this, [this] { Accept(); });
  return 0;
}

void ServiceChannel::Accept() {
  UniqueFd connection(::accept4(listener_.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
  if (!connection.IsValid() || !PeerIsOurUser(connection.Get())) {
    return;
  }
  if (clients_.size() >= kMaxClients) {
    clients_.erase(clients_.begin());
  }
  auto client = std::make_unique<Client>();
  const int fd = connection.Get();
  client->Connection = std::move(connection);
  client->Notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  connect(client->Notifier.get(), &QSocketNotifier::activated, this, [this, fd] { Read(fd); });
  clients_.push_back(std::move(client));
}

void ServiceChannel::Read(int fd) {
  const auto found = std::find_if(clients_.begin(), clients_.end(), [fd](const auto& client) {
    return client->Connection.Get() == fd;
  });
  if (found == clients_.end()) {
    return;
  }
  Client& client = **found;
  std::array<char, 512> buffer{};
  const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
    return;
  }
  if (n > 0) {
    client.Request.append(buffer.data(), static_cast<std::size_t>(n));
  }
  const std::size_t end = client.Request.find('\n');
  if (end == std::string::npos && n > 0 && client.Request.size() < kLineLimit) {
    return;
  }
  // One request a connection: answered (a line ended) or dropped (closed, too long).
  if (end != std::string::npos) {
    SendLine(fd, Answer(client.Request.substr(0, end)) + "\n");
  }
  clients_.erase(found);
}

std::string ServiceChannel::Answer(const std::string& request) {
  if (request == "settings") {
    return settingsFile_;
  }
  if (request == "reload") {
    if (reload_) {
      reload_();
    }
    return "reloaded";
  }
  return "unknown request";
}

int AskService(const std::string& request, std::string& answer, int limitMs) {
  answer.clear();
  UniqueFd connection;
  if (const int error = ConnectToLocalName(ChannelName(), connection)) {
    return error;
  }
  if (!PeerIsOurUser(connection.Get())) {
    return ECONNREFUSED;
  }
  if (!SendLine(connection.Get(), request + "\n")) {
    return errno != 0 ? errno : EIO;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  std::string received;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      return ETIMEDOUT;
    }
    pollfd readable{connection.Get(), POLLIN, 0};
    const int ready = ::poll(&readable, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) {
      return errno;
    }
    if (ready <= 0) {
      continue;
    }
    std::array<char, 512> buffer{};
    const ssize_t n = ::recv(connection.Get(), buffer.data(), buffer.size(), 0);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        continue;
      }
      return errno;
    }
    if (n == 0) {
      return EPROTO;
    }
    received.append(buffer.data(), static_cast<std::size_t>(n));
    if (const std::size_t end = received.find('\n'); end != std::string::npos) {
      answer = received.substr(0, end);
      return 0;
    }
    if (received.size() > kLineLimit) {
      return EPROTO;
    }
  }
}

}  // namespace vx
