#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vx {

// An HTTP/1.1 server on 127.0.0.1 for one test. It answers GET requests from a table of
// routes on a thread of its own, one connection at a time, and closes every connection
// after its response; unknown paths get 404. It stops when destroyed, and by itself
// kLifetime after its start, so a test that goes wrong cannot leave it running.
class HttpTestServer {
 public:
  struct Response {
    int Status = 200;
    std::string Reason = "OK";
    std::vector<std::pair<std::string, std::string>> Headers;
    std::string Body;
    // The announced size; Body's size when unset.
    std::optional<std::size_t> ContentLength;
    // false: no size is announced, the body ends when the connection closes.
    bool AnnounceLength = true;
    // A slow server: the body goes out in pieces of ChunkSize bytes with ChunkPause
    // between them (0: all at once).
    std::size_t ChunkSize = 0;
    std::chrono::milliseconds ChunkPause{0};
    // A silent server: after StallAfter bytes of the body it sends nothing more until
    // the client gives up.
    std::optional<std::size_t> StallAfter;
  };

  static constexpr std::chrono::seconds kLifetime{60};

  HttpTestServer();
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  void Route(const std::string& path, Response response);
  // A 200 response with body.
  void Route(const std::string& path, const std::string& body);
  // A 302 response that sends the client to location.
  void Redirect(const std::string& path, const std::string& location);

  std::uint16_t Port() const { return port_; }
  // "http://127.0.0.1:<port>" followed by path.
  std::string Url(const std::string& path) const;
  // The request lines received so far ("GET /updates HTTP/1.1").
  std::vector<std::string> Requests() const;
  // For each request so far, how many bytes of its response's body went out: fewer than the
  // body's size when the client hung up before the end.
  std::vector<std::size_t> BodyBytesSent() const;

  // A port on 127.0.0.1 on which nothing listens (it was free a moment ago).
  static std::uint16_t UnusedPort();

 private:
  void Serve();
  void Answer(int client);
  bool Stopping() const;

  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::chrono::steady_clock::time_point deadline_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::map<std::string, Response> routes_;
  std::vector<std::string> requests_;
  std::vector<std::size_t> bodyBytesSent_;
  std::thread thread_;
};

}  // namespace vx
