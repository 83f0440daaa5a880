#include "support/HttpClient.h"

#include "base/Format.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <array>
#include <utility>

namespace vx {

namespace {

constexpr const char* kReadTimedOut = "Read timed out.";
// [bytes] that Qt holds for a response before we read it.
constexpr qint64 kReadBufferSize = qint64{256} * 1024;
constexpr std::size_t kBlockSize = std::size_t{64} * 1024;

bool IsSuccess(int status) {
  return status >= 200 && status < 300;
}

int StatusCode(const QNetworkReply& reply) {
  return reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

std::string StatusLine(const QNetworkReply& reply) {
  return Format(
      "HTTP/1.1 %d %s", StatusCode(reply),
      reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray().toStdString());
}

std::exception_ptr HttpError(const std::string& message) {
  return std::make_exception_ptr(EHttpError(message));
}

}  // namespace

THttpClient::THttpClient(QObject* parent)
    : QObject(parent), manager_(new QNetworkAccessManager(this)) {
  // Waiting for the connection counts as waiting for data.
  readTimer_.setSingleShot(true);
  totalTimer_.setSingleShot(true);
  connect(&readTimer_, &QTimer::timeout, this, [this] { Fail(HttpError(kReadTimedOut)); });
  connect(&totalTimer_, &QTimer::timeout, this, [this] { Fail(HttpError(kReadTimedOut)); });
}

THttpClient::~THttpClient() {
  DropReply();
}

void THttpClient::Get(const std::string& url) {
  Get(url, nullptr);
}

void THttpClient::Get(const std::string& url, TSink sink) {
  DropReply();
  sink_ = std::move(sink);
  body_.clear();
  begun_ = false;
  received_ = 0;

  const QUrl address(QString::fromStdString(url), QUrl::StrictMode);
  const QString scheme = address.scheme().toLower();
  if (!address.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
    // Reported from the event loop, as every other end of a request.
    QTimer::singleShot(0, this, [this, url, request = request_] {
      if (request == request_) {
        End(HttpError(Format("Unsupported address: %s", url)));
      }
    });
    return;
  }
  QNetworkRequest request(address);
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       FollowRedirects ? QNetworkRequest::NoLessSafeRedirectPolicy
                                       : QNetworkRequest::ManualRedirectPolicy);
  request.setMaximumRedirectsAllowed(kMaxRedirects);
  request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
  // Our own time-outs tell the user what happened; Qt's default would end any request
  // after 30 s.
  request.setTransferTimeout(0);

  reply_ = manager_->get(request);
  reply_->setReadBufferSize(kReadBufferSize);
  connect(reply_, &QNetworkReply::readyRead, this, [this] { ReadBody(); });
  connect(reply_, &QNetworkReply::metaDataChanged, this, [this] {
    if (ReadTimeout > 0) {
      readTimer_.start(ReadTimeout);
    }
  });
  connect(reply_, &QNetworkReply::finished, this, [this] { Finished(); });
  if (ReadTimeout > 0) {
    readTimer_.start(ReadTimeout);
  }
  if (TotalTimeout > 0) {
    totalTimer_.start(TotalTimeout);
  }
}

void THttpClient::ReadBody() {
  if (reply_.isNull()) {
    return;
  }
  if (std::exception_ptr error = ReadAvailable()) {
    End(std::move(error));
  }
}

std::exception_ptr THttpClient::ReadAvailable() {
  if (ReadTimeout > 0) {
    readTimer_.start(ReadTimeout);
  }
  QNetworkReply& reply = *reply_;
  // The body of an error response is dropped: its status line tells what went wrong.
  if (!IsSuccess(StatusCode(reply))) {
    reply.readAll();
    return nullptr;
  }
  try {
    if (!begun_) {
      begun_ = true;
      const QVariant length = reply.header(QNetworkRequest::ContentLengthHeader);
      const qint64 announced = length.isValid() ? length.toLongLong() : -1;
      if (MaxBodySize > 0 && announced > 0 && static_cast<std::uint64_t>(announced) > MaxBodySize) {
        throw EHttpError(Format("The response is larger than %d bytes.", MaxBodySize));
      }
      if (OnWorkBegin) {
        OnWorkBegin(announced);
      }
    }
    std::array<char, kBlockSize> block{};
    while (reply.bytesAvailable() > 0) {
      const qint64 count = reply.read(block.data(), static_cast<qint64>(block.size()));
      if (count <= 0) {
        break;
      }
      const auto size = static_cast<std::size_t>(count);
      if (MaxBodySize > 0 && size > MaxBodySize - received_) {
        throw EHttpError(Format("The response is larger than %d bytes.", MaxBodySize));
      }
      if (sink_) {
        sink_(block.data(), size);
      } else {
        body_.append(block.data(), size);
      }
      received_ += size;
      if (OnWork) {
        OnWork(static_cast<std::int64_t>(received_));
      }
    }
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

void THttpClient::Finished() {
  if (reply_.isNull()) {
    return;
  }
  std::exception_ptr error = ReadAvailable();
  if (!error) {
    const QNetworkReply& reply = *reply_;
    const int status = StatusCode(reply);
    if (status != 0 && !IsSuccess(status)) {
      error = std::make_exception_ptr(EHttpProtocolError(StatusLine(reply), status));
    } else if (reply.error() != QNetworkReply::NoError) {
      error = HttpError(reply.errorString().toStdString());
    }
  }
  End(std::move(error));
}

void THttpClient::Fail(std::exception_ptr error) {
  if (!reply_.isNull()) {
    End(std::move(error));
  }
}

void THttpClient::End(std::exception_ptr error) {
  DropReply();
  sink_ = nullptr;
  // Called last: the owner may destroy this client from inside.
  if (OnDone) {
    const auto done = OnDone;
    done(std::move(error));
  }
}

void THttpClient::Abort() {
  DropReply();
  sink_ = nullptr;
}

void THttpClient::DropReply() {
  ++request_;
  readTimer_.stop();
  totalTimer_.stop();
  if (QNetworkReply* reply = reply_.data()) {
    reply_.clear();
    disconnect(reply, nullptr, this, nullptr);
    reply->abort();
    reply->deleteLater();
  }
}

}  // namespace vx
