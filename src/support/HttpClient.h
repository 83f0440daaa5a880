#pragma once

#include "base/Exceptions.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QIODevice;

namespace vx {

// A request that failed: the connection could not be made or broke, the server went
// quiet for longer than the read time-out, or the body could not be stored. The message
// is the HTTP client's text.
VORLIXA_DECLARE_EXCEPTION(EHttpError, Exception);

// A response other than success (2xx); the message is its status line
// ("HTTP/1.1 404 Not Found"), ErrorCode its status code.
class EHttpProtocolError : public EHttpError {
 public:
  EHttpProtocolError(const std::string& message, int errorCode)
      : EHttpError(message), ErrorCode(errorCode) {}
  const char* ClassName() const noexcept override { return "EHttpProtocolError"; }
  int ErrorCode;
};

// HTTP/1.1 GET requests over libcurl, one at a time; a request blocks the calling
// thread until it ends, calling the events below from inside. Only http and https are
// spoken; https certificates are verified. No header of our own is sent.
class THttpClient {
 public:
  THttpClient();
  ~THttpClient();
  THttpClient(const THttpClient&) = delete;
  THttpClient& operator=(const THttpClient&) = delete;

  bool FollowRedirects = false;  // at most kMaxRedirects in a row
  // [ms] without data before a request fails with "Read timed out."; 0 waits for ever.
  // Checked about once a second.
  int ReadTimeout = 10000;
  // [ms] that a request may take in all before it fails with "Read timed out.", however
  // the data trickles in; 0: no limit.
  int TotalTimeout = 0;
  // [bytes] of body that Get into memory takes at most; a longer body fails the request.
  // 0: no limit.
  std::size_t MaxBodySize = 0;

  // Before the first block of a successful response's body: the size that the server
  // announced, -1 when it announced none.
  std::function<void(std::int64_t size)> OnWorkBegin;
  // After each block of the body: the bytes received so far.
  std::function<void(std::int64_t received)> OnWork;
  // While the request waits for the server, at least about once a second.
  std::function<void()> OnWait;

  // The body of url's response; raises EHttpError or EHttpProtocolError.
  std::string Get(const std::string& url);
  // Writes the body of url's response to stream as it arrives; raises as above, and
  // EHttpError with the stream's message when a write fails.
  void Get(const std::string& url, QIODevice& stream);

  // Called from an event: breaks the running request off, which then raises EHttpError.
  void Disconnect() { disconnect_ = true; }

  static constexpr long kMaxRedirects = 15;

 private:
  using TSink = std::function<bool(const char* data, std::size_t size, std::string& error)>;
  void Perform(const std::string& url, const TSink& sink);

  struct TCurlDeleter {
    void operator()(void* handle) const noexcept;
  };
  std::unique_ptr<void, TCurlDeleter> curl_;
  bool disconnect_ = false;
};

}  // namespace vx
