#include "device/NetworkStrip.h"

#include "base/Format.h"
#include "platform/SystemError.h"

#include <algorithm>
#include <utility>

namespace vx {

TNetworkStrip::TNetworkStrip(std::string portName, std::shared_ptr<TClock> clock)
    : portName_(std::move(portName)),
      address_(ParseStripAddress(portName_)),
      clock_(std::move(clock)),
      encoder_(address_.Protocol, address_.Universe, StripCid(portName_)) {}

TNetworkStrip::~TNetworkStrip() = default;

void TNetworkStrip::Open() {
  if (state_ != TStripState::Closed) {
    return;
  }
  errorReported_ = false;
  everSent_ = false;
  state_ = TStripState::LookingUp;
  StartLookup(clock_->Now());
}

void TNetworkStrip::StartLookup(TClock::time_point now) {
  if (auto literal = LiteralUdpAddress(address_.Host, address_.Port)) {
    TakeLookup(*literal, now);
    return;
  }
  found_ = std::make_shared<TSnapshot<std::optional<TFoundAddress>>>();
  lookup_ = TWorker::Once(
      "vorlixa-lookup",
      [found = found_, host = address_.Host, port = address_.Port] {
        found->Set(LookUpUdpAddress(host, port));
      },
      clock_);
}

void TNetworkStrip::FollowLookup(TClock::time_point now) {
  std::optional<TFoundAddress> found = found_->Get();
  if (!found) {
    return;
  }
  lookup_.reset();
  found_.reset();
  TakeLookup(*found, now);
}

void TNetworkStrip::TakeLookup(const TFoundAddress& found, TClock::time_point now) {
  if (!found.Address) {
    lookupFailed_ = now;
    state_ = TStripState::NotFound;
    ReportError(Format("%s: %s", StatusText(), found.ErrorText));
    return;
  }
  target_ = *found.Address;
  state_ = TStripState::Sending;
  cleanSince_.reset();
  if (const int error = socket_.Connect(target_); error != 0) {
    Fail(error);
  }
}

void TNetworkStrip::Poll() {
  if (lookup_) {
    FollowLookup(clock_->Now());
  } else if (state_ == TStripState::NotFound) {
    const auto now = clock_->Now();
    if (now - lookupFailed_ >= kLookupRetry) {
      StartLookup(now);
    }
  }
}

void TNetworkStrip::Send(std::span<const std::uint8_t> rgb) {
  if (state_ != TStripState::Sending && state_ != TStripState::SendFailed) {
    return;
  }
  const auto now = clock_->Now();
  if (!socket_.IsOpen()) {
    // The route was missing when it last connected.
    if (const int error = socket_.Connect(target_); error != 0) {
      Fail(error);
      return;
    }
  }
  if (const int error = socket_.TakePendingError(); error != 0) {
    Fail(error);
  } else if (state_ == TStripState::SendFailed && cleanSince_ &&
             now - *cleanSince_ >= kRecoveryTime) {
    state_ = TStripState::Sending;
    cleanSince_.reset();
    errorReported_ = false;
  }

  const bool due = state_ == TStripState::SendFailed || !everSent_ ||
                   now - lastSent_ >= kKeepAlive || !std::ranges::equal(rgb, lastFrame_);
  if (!due) {
    return;
  }
  for (const auto packet : encoder_.Encode(rgb)) {
    switch (socket_.Send(packet)) {
      case TDatagramResult::Sent:
        break;
      case TDatagramResult::Full:
        return;  // the rest of the frame is dropped; the next tick sends it again
      case TDatagramResult::Failed:
        Fail(socket_.LastError());
        return;
    }
  }
  lastFrame_.assign(rgb.begin(), rgb.end());  // no allocation once the buffer has the size
  lastSent_ = now;
  everSent_ = true;
  if (state_ == TStripState::Sending) {
    errorReported_ = false;
  } else if (!cleanSince_) {
    cleanSince_ = now;
  }
}

void TNetworkStrip::Fail(int error) {
  cleanSince_.reset();
  if (state_ == TStripState::SendFailed && error == error_) {
    return;
  }
  state_ = TStripState::SendFailed;
  error_ = error;
  ReportError(StatusText());
}

void TNetworkStrip::ReportError(const std::string& text) {
  if (errorReported_) {
    return;
  }
  errorReported_ = true;
  if (OnError) {
    OnError(text);
  }
}

void TNetworkStrip::Close() {
  if (state_ == TStripState::Closed) {
    return;
  }
  if (everSent_ && socket_.IsOpen()) {
    // Whatever the receiver shows when a stream ends is its own choice: dark first.
    std::fill(lastFrame_.begin(), lastFrame_.end(), std::uint8_t{0});
    for (const auto packet : encoder_.Encode(lastFrame_)) {
      socket_.Send(packet);
    }
    for (const auto packet : encoder_.Terminate(lastFrame_.size() / 3)) {
      socket_.Send(packet);
    }
  }
  socket_.Close();
  lookup_.reset();
  found_.reset();
  state_ = TStripState::Closed;
  error_ = 0;
  cleanSince_.reset();
  everSent_ = false;
  lastFrame_.clear();
}

std::string TNetworkStrip::StatusText() const {
  switch (state_) {
    case TStripState::Closed:
      return "";
    case TStripState::LookingUp:
      return "Looking up " + address_.Host;
    case TStripState::NotFound:
      return "Cannot find " + address_.Host;
    case TStripState::Sending:
      return "Sending";
    case TStripState::SendFailed:
      return InOutErrorMessage(error_);
  }
  return "";
}

}  // namespace vx
