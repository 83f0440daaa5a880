#pragma once

#include "common/ManualClock.h"
#include "platform/SerialPort.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vx {

// A port that records what is written, answers reads from scripted bytes and can be told
// to fail opening or writing. Its journal outlives it, so a test can look at what a link
// did up to its own destruction. A read of a silent line moves the test's clock on by its
// read time-out.
class FakeSerialPort final : public SerialPort {
 public:
  using Journal = std::vector<std::string>;

  explicit FakeSerialPort(std::shared_ptr<TManualClock> clock = nullptr)
      : clock_(std::move(clock)) {}

  bool Open(const std::string& name) override {
    Calls->push_back("open " + name);
    open_ = !FailOpen;
    Gone = false;
    return open_;
  }
  bool IsOpen() const override { return open_; }
  void Close() override {
    Calls->push_back("close");
    open_ = false;
  }
  void Configure(const SerialTimeouts& timeouts) override {
    Calls->push_back("configure");
    Timeouts = timeouts;
  }
  std::size_t Read(std::uint8_t* buffer, std::size_t count) override {
    if (!open_ || Replies.empty()) {
      if (clock_) {
        clock_->Advance(std::chrono::milliseconds(1));
      }
      return 0;
    }
    const std::size_t n = std::min(count, Replies.size());
    std::copy_n(Replies.begin(), n, buffer);
    Replies.erase(Replies.begin(), Replies.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
  }
  std::size_t Write(const std::uint8_t* data, std::size_t count, SerialDeadline deadline) override {
    Deadlines.push_back(deadline);
    std::size_t accepted = open_ && !Gone ? count : 0;
    if (open_ && !WriteLimits.empty()) {
      accepted = std::min(count, WriteLimits.front());
      WriteLimits.pop_front();
    }
    Record(data, count, accepted);
    return accepted;
  }
  void GiveUp() override { Gone = true; }
  std::optional<std::size_t> QueuedBytes() const override { return Queued; }
  void Purge() override {
    Calls->push_back("purge");
    Replies.clear();
  }
  SerialFailure Failure() const override {
    if (Gone) {
      return SerialFailure::Lost;
    }
    if (!FailOpen) {
      return SerialFailure::None;
    }
    return Deny ? SerialFailure::Denied : SerialFailure::Missing;
  }
  std::uint32_t LineSpeed() const override { return Speed; }
  std::string ErrorString() const override {
    return Gone ? "Input/output error" : FailOpen ? "No such file or directory" : "";
  }

  bool FailOpen = false;
  bool Deny = false;                    // a failed Open was refused to the user
  bool Gone = false;                    // the device went away: Failure() says Lost until reopened
  std::uint32_t Speed = 0;              // LineSpeed
  std::optional<std::size_t> Queued;    // QueuedBytes: none, as on a pseudo-terminal
  std::deque<std::uint8_t> Replies;     // bytes the chain sends back
  std::deque<std::size_t> WriteLimits;  // bytes accepted by the next writes (all if empty)
  std::vector<std::vector<std::uint8_t>> Writes;  // accepted bytes of every write
  std::vector<SerialDeadline> Deadlines;          // of every write
  SerialTimeouts Timeouts;
  std::shared_ptr<Journal> Calls = std::make_shared<Journal>();

 private:
  // A write that starts with RESET carries the frame behind it: recorded as the two
  // messages that the chain sees, RESET and then the frame.
  void Record(const std::uint8_t* data, std::size_t count, std::size_t accepted) {
    if (count > 1 && data[0] == 0xFF) {
      const std::size_t reset = std::min<std::size_t>(accepted, 1);
      RecordOne(data, reset);
      RecordOne(data + 1, accepted - reset);
    } else {
      RecordOne(data, accepted);
    }
  }
  void RecordOne(const std::uint8_t* data, std::size_t accepted) {
    Calls->push_back("write " + std::to_string(accepted));
    Writes.emplace_back(data, data + accepted);
  }

  std::shared_ptr<TManualClock> clock_;
  bool open_ = false;
};

}  // namespace vx
