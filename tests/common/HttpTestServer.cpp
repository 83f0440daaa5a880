#include "HttpTestServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace vx {

namespace {

constexpr std::size_t kMaxRequestHead = 64 * 1024;
constexpr int kPollMs = 20;

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

std::uint16_t BoundPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error(std::string("getsockname: ") + std::strerror(errno));
  }
  return ntohs(address.sin_port);
}

int BindLoopback() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  }
  const sockaddr_in address = Loopback(0);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    close(fd);
    throw std::runtime_error(std::string("bind: ") + std::strerror(error));
  }
  return fd;
}

}  // namespace

HttpTestServer::HttpTestServer() : deadline_(std::chrono::steady_clock::now() + kLifetime) {
  listener_ = BindLoopback();
  port_ = BoundPort(listener_);
  if (listen(listener_, 8) != 0) {
    const int error = errno;
    close(listener_);
    throw std::runtime_error(std::string("listen: ") + std::strerror(error));
  }
  thread_ = std::thread([this] { Serve(); });
}

HttpTestServer::~HttpTestServer() {
  stop_ = true;
  thread_.join();
  close(listener_);
}

void HttpTestServer::Route(const std::string& path, Response response) {
  const std::lock_guard lock(mutex_);
  routes_[path] = std::move(response);
}

void HttpTestServer::Route(const std::string& path, const std::string& body) {
  Response response;
  response.Body = body;
  Route(path, std::move(response));
}

void HttpTestServer::Redirect(const std::string& path, const std::string& location) {
  Response response;
  response.Status = 302;
  response.Reason = "Found";
  response.Headers.emplace_back("Location", location);
  Route(path, std::move(response));
}

std::string HttpTestServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> HttpTestServer::Requests() const {
  const std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<std::size_t> HttpTestServer::BodyBytesSent() const {
  const std::lock_guard lock(mutex_);
  return bodyBytesSent_;
}

std::uint16_t HttpTestServer::UnusedPort() {
  const int fd = BindLoopback();
  const std::uint16_t port = BoundPort(fd);
  close(fd);
  return port;
}

bool HttpTestServer::Stopping() const {
  return stop_ || std::chrono::steady_clock::now() > deadline_;
}

void HttpTestServer::Serve() {
  while (!Stopping()) {
    pollfd waiting{listener_, POLLIN, 0};
    if (poll(&waiting, 1, kPollMs) <= 0) {
      continue;
    }
    const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      continue;
    }
    Answer(client);
    shutdown(client, SHUT_RDWR);
    close(client);
  }
}

void HttpTestServer::Answer(int client) {
  // The request head, read until its blank line.
  std::string head;
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxRequestHead) {
    if (Stopping()) {
      return;
    }
    pollfd waiting{client, POLLIN, 0};
    if (poll(&waiting, 1, kPollMs) <= 0) {
      continue;
    }
    std::array<char, 4096> buffer{};
    const ssize_t count = recv(client, buffer.data(), buffer.size(), 0);
    if (count <= 0) {
      return;
    }
    head.append(buffer.data(), static_cast<std::size_t>(count));
  }
  const std::string requestLine = head.substr(0, head.find("\r\n"));
  const std::size_t pathStart = requestLine.find(' ') + 1;
  const std::string path =
      requestLine.substr(pathStart, requestLine.find(' ', pathStart) - pathStart);

  Response response;
  {
    const std::lock_guard lock(mutex_);
    requests_.push_back(requestLine);
    bodyBytesSent_.push_back(0);
    const auto route = routes_.find(path);
    if (route != routes_.end()) {
      response = route->second;
    } else {
      response.Status = 404;
      response.Reason = "Not Found";
      response.Body = "not found";
    }
  }

  std::string header =
      "HTTP/1.1 " + std::to_string(response.Status) + " " + response.Reason + "\r\n";
  if (response.AnnounceLength) {
    header +=
        "Content-Length: " + std::to_string(response.ContentLength.value_or(response.Body.size())) +
        "\r\n";
  }
  header += "Connection: close\r\n";
  for (const auto& [name, value] : response.Headers) {
    header.append(name).append(": ").append(value).append("\r\n");
  }
  header += "\r\n";

  const auto sendAll = [&](std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t sent = send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent <= 0) {
        return false;
      }
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
  };
  // Waits for pause, or until the client has closed its end or the server stops.
  const auto clientGone = [&](std::chrono::milliseconds pause) {
    const auto until = std::chrono::steady_clock::now() + pause;
    do {
      if (Stopping()) {
        return true;
      }
      pollfd waiting{client, POLLIN, 0};
      if (poll(&waiting, 1, kPollMs) > 0) {
        std::array<char, 256> buffer{};
        if (recv(client, buffer.data(), buffer.size(), MSG_DONTWAIT) <= 0) {
          return true;
        }
      }
    } while (std::chrono::steady_clock::now() < until);
    return false;
  };

  if (!sendAll(header)) {
    return;
  }
  const std::string_view body(response.Body);
  const std::size_t sendable = std::min(body.size(), response.StallAfter.value_or(body.size()));
  const std::size_t chunk =
      response.ChunkSize > 0 ? response.ChunkSize : std::max<std::size_t>(sendable, 1);
  for (std::size_t offset = 0; offset < sendable; offset += chunk) {
    if (offset > 0 && clientGone(response.ChunkPause)) {
      return;
    }
    const std::string_view piece = body.substr(offset, std::min(chunk, sendable - offset));
    if (!sendAll(piece)) {
      return;
    }
    const std::lock_guard lock(mutex_);
    bodyBytesSent_.back() += piece.size();
  }
  if (response.StallAfter) {
    while (!clientGone(std::chrono::milliseconds(kPollMs))) {
    }
  }
}

}  // namespace vx
