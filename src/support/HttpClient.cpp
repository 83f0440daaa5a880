#include "support/HttpClient.h"

#include "base/Format.h"

#include <QIODevice>

#include <curl/curl.h>

#include <array>
#include <chrono>
#include <exception>
#include <optional>
#include <string_view>

namespace vx {

namespace {

using TSinkFunction = std::function<bool(const char* data, std::size_t size, std::string& error)>;

// What the callbacks of one request share with it.
struct TTransfer {
  CURL* Curl = nullptr;
  THttpClient* Client = nullptr;
  const TSinkFunction* Sink = nullptr;
  const bool* Disconnect = nullptr;
  std::string StatusLine;  // of the last response
  bool Begun = false;
  std::int64_t Received = 0;
  std::string WriteError;
  std::exception_ptr Failure;  // raised by an event; must not cross libcurl's frames
  // The read time-out: when data came last, and whether the wait for more was too long.
  std::chrono::milliseconds ReadTimeout{0};
  std::chrono::steady_clock::time_point LastData;
  // The total time-out: when the request must have ended.
  std::optional<std::chrono::steady_clock::time_point> Deadline;
  bool TimedOut = false;

  void DataCame() { LastData = std::chrono::steady_clock::now(); }
};

// libcurl's error text for code, or the text that it wrote for this request.
[[noreturn]] void RaiseCurlError(CURLcode code, const char* errorText) {
  std::string message = errorText != nullptr && errorText[0] != '\0'
                            ? std::string(errorText)
                            : std::string(curl_easy_strerror(code));
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  throw EHttpError(message);
}

template <typename Value>
void SetOption(CURL* curl, CURLoption option, Value value) {
  const CURLcode code = curl_easy_setopt(curl, option, value);
  if (code != CURLE_OK) {
    RaiseCurlError(code, nullptr);
  }
}

long ResponseCode(CURL* curl) {
  long code = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
  return code;
}

bool IsSuccess(long code) {
  return code >= 200 && code < 300;
}

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<TTransfer*>(user);
  const std::size_t bytes = size * count;
  transfer.DataCame();
  if (*transfer.Disconnect) {
    return CURL_WRITEFUNC_ERROR;
  }
  // The body of an error response is dropped: its status line tells what went wrong.
  if (!IsSuccess(ResponseCode(transfer.Curl))) {
    return bytes;
  }
  try {
    THttpClient& client = *transfer.Client;
    if (!transfer.Begun) {
      transfer.Begun = true;
      curl_off_t length = -1;
      curl_easy_getinfo(transfer.Curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
      if (client.OnWorkBegin) {
        client.OnWorkBegin(length);
      }
    }
    if (!(*transfer.Sink)(data, bytes, transfer.WriteError)) {
      return CURL_WRITEFUNC_ERROR;
    }
    transfer.Received += static_cast<std::int64_t>(bytes);
    if (client.OnWork) {
      client.OnWork(transfer.Received);
    }
  } catch (...) {
    transfer.Failure = std::current_exception();
    return CURL_WRITEFUNC_ERROR;
  }
  return bytes;
}

std::size_t ReadHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<TTransfer*>(user);
  const std::size_t bytes = size * count;
  transfer.DataCame();
  std::string_view line(data, bytes);
  if (line.starts_with("HTTP/")) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
      line.remove_suffix(1);
    }
    transfer.StatusLine = line;
  }
  return bytes;
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto& transfer = *static_cast<TTransfer*>(user);
  const auto now = std::chrono::steady_clock::now();
  if ((transfer.ReadTimeout.count() > 0 && now - transfer.LastData > transfer.ReadTimeout) ||
      (transfer.Deadline && now > *transfer.Deadline)) {
    transfer.TimedOut = true;
    return 1;
  }
  if (!*transfer.Disconnect && transfer.Client->OnWait) {
    try {
      transfer.Client->OnWait();
    } catch (...) {
      transfer.Failure = std::current_exception();
      return 1;
    }
  }
  return *transfer.Disconnect ? 1 : 0;
}

}  // namespace

void THttpClient::TCurlDeleter::operator()(void* handle) const noexcept {
  curl_easy_cleanup(static_cast<CURL*>(handle));
}

THttpClient::THttpClient() {
  static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (initialised != CURLE_OK) {
    RaiseCurlError(initialised, nullptr);
  }
  curl_.reset(curl_easy_init());
  if (!curl_) {
    throw EHttpError("Cannot create the HTTP client.");
  }
}

THttpClient::~THttpClient() = default;

std::string THttpClient::Get(const std::string& url) {
  std::string body;
  const std::size_t limit = MaxBodySize;
  Perform(url, [&body, limit](const char* data, std::size_t size, std::string& error) {
    if (limit > 0 && size > limit - body.size()) {
      error = Format("The response is larger than %d bytes.", limit);
      return false;
    }
    body.append(data, size);
    return true;
  });
  return body;
}

void THttpClient::Get(const std::string& url, QIODevice& stream) {
  Perform(url, [&stream](const char* data, std::size_t size, std::string& error) {
    if (stream.write(data, static_cast<qint64>(size)) != static_cast<qint64>(size)) {
      error = stream.errorString().toStdString();
      return false;
    }
    return true;
  });
}

void THttpClient::Perform(const std::string& url, const TSink& sink) {
  CURL* curl = static_cast<CURL*>(curl_.get());
  curl_easy_reset(curl);
  disconnect_ = false;
  TTransfer transfer;
  transfer.Curl = curl;
  transfer.Client = this;
  transfer.Sink = &sink;
  transfer.Disconnect = &disconnect_;
  transfer.DataCame();
  std::array<char, CURL_ERROR_SIZE> errorText{};

  SetOption(curl, CURLOPT_URL, url.c_str());
  SetOption(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  SetOption(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  SetOption(curl, CURLOPT_FOLLOWLOCATION, FollowRedirects ? 1L : 0L);
  SetOption(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
  SetOption(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  SetOption(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  SetOption(curl, CURLOPT_COOKIEFILE, "");  // cookies live as long as the request
  SetOption(curl, CURLOPT_NOSIGNAL, 1L);
  SetOption(curl, CURLOPT_ERRORBUFFER, errorText.data());
  if (ReadTimeout > 0) {
    // Waiting for the connection counts as waiting for data; Progress watches the rest.
    SetOption(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(ReadTimeout));
    transfer.ReadTimeout = std::chrono::milliseconds(ReadTimeout);
  }
  if (TotalTimeout > 0) {
    transfer.Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TotalTimeout);
  }
  SetOption(curl, CURLOPT_WRITEFUNCTION, WriteBody);
  SetOption(curl, CURLOPT_WRITEDATA, static_cast<void*>(&transfer));
  SetOption(curl, CURLOPT_HEADERFUNCTION, ReadHeader);
  SetOption(curl, CURLOPT_HEADERDATA, static_cast<void*>(&transfer));
  SetOption(curl, CURLOPT_XFERINFOFUNCTION, Progress);
  SetOption(curl, CURLOPT_XFERINFODATA, static_cast<void*>(&transfer));
  SetOption(curl, CURLOPT_NOPROGRESS, 0L);

  const CURLcode code = curl_easy_perform(curl);
  // The handle keeps no pointer into this frame beyond the request.
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
  if (transfer.Failure) {
    std::rethrow_exception(transfer.Failure);
  }
  if (code != CURLE_OK) {
    if (code == CURLE_WRITE_ERROR && !transfer.WriteError.empty()) {
      throw EHttpError(transfer.WriteError);
    }
    if (transfer.TimedOut) {
      throw EHttpError("Read timed out.");
    }
    if (disconnect_) {
      throw EHttpError("Disconnected.");
    }
    RaiseCurlError(code, errorText.data());
  }
  const long status = ResponseCode(curl);
  if (!IsSuccess(status)) {
    throw EHttpProtocolError(
        transfer.StatusLine.empty() ? Format("HTTP status %d", status) : transfer.StatusLine,
        static_cast<int>(status));
  }
}

}  // namespace vx
