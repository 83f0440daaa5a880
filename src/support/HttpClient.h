#pragma once

#include "base/Exceptions.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

class QNetworkAccessManager;
class QNetworkReply;

namespace vx {

// A request that failed: the connection could not be made or broke, the server went
// quiet for longer than the read time-out, the request took longer than its total
// time-out, or the body was larger than allowed. The message is the client's text.
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

// HTTP/1.1 GET requests, one at a time, over Qt Network's asynchronous requests: Get
// returns at once and the events below come from the event loop of the calling thread,
// which no request ever blocks. Only http and https are spoken (https through Qt's TLS
// plug-in, certificates verified); no header of our own is sent.
class THttpClient : public QObject {
  Q_OBJECT

 public:
  explicit THttpClient(QObject* parent = nullptr);
  ~THttpClient() override;
  Q_DISABLE_COPY_MOVE(THttpClient)

  bool FollowRedirects = false;  // at most kMaxRedirects in a row, never from https to http
  // [ms] without data before a request fails with "Read timed out."; 0 waits for ever.
  int ReadTimeout = 10000;
  // [ms] that a request may take in all before it fails with "Read timed out.", however
  // the data trickles in; 0: no limit.
  int TotalTimeout = 0;
  // [bytes] of body at most, whatever the server announces; more fails the request with
  // "The response is larger than N bytes.". 0: no limit.
  std::uint64_t MaxBodySize = 0;

  // Before the first block of a successful response's body: the size that the server
  // announced, -1 when it announced none.
  std::function<void(std::int64_t size)> OnWorkBegin;
  // After each block of the body: the bytes received so far.
  std::function<void(std::int64_t received)> OnWork;
  // The request has ended: no error, or EHttpError, EHttpProtocolError, or what the sink
  // raised. Called last; the client may be destroyed from inside.
  std::function<void(std::exception_ptr error)> OnDone;

  // Takes each block of the body; what it raises fails the request.
  using TSink = std::function<void(const char* data, std::size_t size)>;

  // Starts a GET of url whose body goes to sink. A request still running is dropped.
  void Get(const std::string& url, TSink sink);
  // Starts a GET of url whose body is kept: Body() once OnDone has said no error.
  void Get(const std::string& url);
  const std::string& Body() const { return body_; }

  bool Running() const { return !reply_.isNull(); }
  // Breaks the running request off without calling OnDone.
  void Abort();

  static constexpr int kMaxRedirects = 15;

 private:
  void ReadBody();
  std::exception_ptr ReadAvailable();
  void Finished();
  void Fail(std::exception_ptr error);
  void End(std::exception_ptr error);
  void DropReply();

  QNetworkAccessManager* manager_ = nullptr;
  QPointer<QNetworkReply> reply_;
  TSink sink_;
  std::string body_;
  bool begun_ = false;
  std::uint64_t received_ = 0;
  unsigned request_ = 0;  // counts requests, so that a report of a dropped one is dropped too
  QTimer readTimer_;
  QTimer totalTimer_;
};

}  // namespace vx
