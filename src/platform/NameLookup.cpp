#include "platform/NameLookup.h"

#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstring>
#include <limits>
#include <mutex>
#include <utility>
#include <vector>

namespace vx {

// glibc reads the name, the service and the hints, and writes the result and the status,
// until the request ends: none of them may move or go before.
struct NameLookup::Request {
  Request(std::string host, std::uint16_t port)
      : Name(std::move(host)), Service(std::to_string(port)) {
    Hints.ai_family = AF_UNSPEC;
    Hints.ai_socktype = SOCK_DGRAM;
    Hints.ai_protocol = IPPROTO_UDP;
    Hints.ai_flags = AI_NUMERICSERV;
    Control.ar_name = Name.c_str();
    Control.ar_service = Service.c_str();
    Control.ar_request = &Hints;
  }
  ~Request() {
    if (Control.ar_result != nullptr) {
      ::freeaddrinfo(Control.ar_result);
    }
  }
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  std::string Name;
  std::string Service;
  addrinfo Hints{};
  gaicb Control{};
  int Id = 0;  // tells the keeper which request ended
};

namespace {

// The requests whose owners went while glibc was running them. Never destroyed: a request
// may end while the process exits, after static objects are gone.
struct TKeeper {
  std::mutex Mutex;
  std::vector<std::unique_ptr<NameLookup::Request>> Requests;
  int NextId = 1;
};

TKeeper& Keeper() {
  // See TKeeper: never destroyed.
  // NOLINTNEXTLINE(cppcoreguidelines-owning-memory,cppcoreguidelines-avoid-non-const-global-variables)
  static auto* keeper = new TKeeper;
  return *keeper;
}

// Runs on a thread of glibc's once a request has ended: frees it if its owner has gone.
// glibc no longer touches a request once its status is set, which is before this runs.
void RequestEnded(sigval value) {
  TKeeper& keeper = Keeper();
  const std::lock_guard lock(keeper.Mutex);
  std::erase_if(keeper.Requests,
                // NOLINTNEXTLINE(cppcoreguidelines-pro-type-union-access): glibc's sigval
                [&](const auto& request) { return request->Id == value.sival_int; });
}

bool TakeFirstAddress(const addrinfo* list, TSocketAddress& address) {
  if (list == nullptr || list->ai_addrlen > sizeof address.Storage) {
    return false;
  }
  std::memcpy(&address.Storage, list->ai_addr, list->ai_addrlen);
  address.Length = list->ai_addrlen;
  return true;
}

}  // namespace

NameLookup::NameLookup(const std::string& host, std::uint16_t port)
    : request_(std::make_unique<Request>(host, port)) {
  // A literal address: no look-up, no thread.
  addrinfo numeric = request_->Hints;
  numeric.ai_flags |= AI_NUMERICHOST;
  addrinfo* found = nullptr;
  if (::getaddrinfo(request_->Name.c_str(), request_->Service.c_str(), &numeric, &found) == 0) {
    const bool taken = TakeFirstAddress(found, address_);
    ::freeaddrinfo(found);
    request_.reset();
    status_ = taken ? Status::Found : Status::Failed;
    errorText_ = taken ? "" : ::gai_strerror(EAI_FAMILY);
    return;
  }

  {
    TKeeper& keeper = Keeper();
    const std::lock_guard lock(keeper.Mutex);
    request_->Id = keeper.NextId;
    keeper.NextId = keeper.NextId == std::numeric_limits<int>::max() ? 1 : keeper.NextId + 1;
  }
  sigevent notify{};
  notify.sigev_notify = SIGEV_THREAD;
  notify.sigev_value.sival_int = request_->Id;
  notify.sigev_notify_function = RequestEnded;
  std::array<gaicb*, 1> list{&request_->Control};
  if (const int error = ::getaddrinfo_a(GAI_NOWAIT, list.data(), 1, &notify); error != 0) {
    request_.reset();
    status_ = Status::Failed;
    errorText_ = ::gai_strerror(error);
  }
}

NameLookup::~NameLookup() {
  if (!request_) {
    return;
  }
  // Cancelled (never started) or ended: glibc is done with it.
  if (::gai_cancel(&request_->Control) != EAI_NOTCANCELED) {
    return;
  }
  TKeeper& keeper = Keeper();
  const std::lock_guard lock(keeper.Mutex);
  // Still running: the keeper holds it until RequestEnded. Ended meanwhile: RequestEnded
  // may still come, but finds nothing to free.
  if (::gai_error(&request_->Control) == EAI_INPROGRESS) {
    keeper.Requests.push_back(std::move(request_));
  }
}

NameLookup::Status NameLookup::Poll() {
  if (status_ != Status::Pending) {
    return status_;
  }
  const int error = ::gai_error(&request_->Control);
  if (error == EAI_INPROGRESS) {
    return status_;
  }
  if (error == 0 && TakeFirstAddress(request_->Control.ar_result, address_)) {
    status_ = Status::Found;
  } else {
    status_ = Status::Failed;
    errorText_ = ::gai_strerror(error == 0 ? EAI_NODATA : error);
  }
  request_.reset();
  return status_;
}

}  // namespace vx
