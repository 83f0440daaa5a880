#pragma once

#include "platform/InstanceChannel.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace vx {

// What a FakeInstanceChannel answers and what it was asked. Shared between the test and
// the channels that a component makes, so the test sees them after handing them over.
struct FakeChannelScript {
  using WaitResult = InstanceChannel::WaitResult;

  std::deque<int> openResults;    // one per Open; none left: nobody holds the event
  std::deque<int> createResults;  // one per Create; none left: success
  int signalResult = 0;
  int createStopEventResult = 0;

  std::vector<std::string> names;  // every channel name asked for
  int opens = 0;
  int creates = 0;
  int signalCount = 0;
  std::atomic<int> waits = 0;

  // Handed out by Wait in order (from the waiter thread); after them Wait blocks until
  // the stop event is set.
  void AddWait(WaitResult result, int error = 0) {
    std::lock_guard lock(mutex);
    waitResults.emplace_back(result, error);
  }

  std::mutex mutex;
  std::condition_variable stopChanged;
  std::deque<std::pair<WaitResult, int>> waitResults;
  bool stopSet = false;
};

class FakeInstanceChannel final : public InstanceChannel {
 public:
  explicit FakeInstanceChannel(std::shared_ptr<FakeChannelScript> script)
      : script_(std::move(script)) {}

  int Open() override {
    ++script_->opens;
    return Next(script_->openResults, ECONNREFUSED);
  }
  int Create() override {
    ++script_->creates;
    return Next(script_->createResults, 0);
  }
  int Signal() override {
    ++script_->signalCount;
    return script_->signalResult;
  }
  int CreateStopEvent() override { return script_->createStopEventResult; }
  int SetStopEvent() override {
    {
      std::lock_guard lock(script_->mutex);
      script_->stopSet = true;
    }
    script_->stopChanged.notify_all();
    return 0;
  }
  WaitResult Wait(int& error) override {
    ++script_->waits;
    std::unique_lock lock(script_->mutex);
    if (!script_->waitResults.empty()) {
      const auto [result, code] = script_->waitResults.front();
      script_->waitResults.pop_front();
      error = code;
      return result;
    }
    script_->stopChanged.wait(lock, [this] { return script_->stopSet; });
    error = 0;
    return WaitResult::Stopped;
  }

  // The factory that a component under test is given.
  static auto Factory(std::shared_ptr<FakeChannelScript> script) {
    return
        [script = std::move(script)](const std::string& name) -> std::unique_ptr<InstanceChannel> {
          script->names.push_back(name);
          return std::make_unique<FakeInstanceChannel>(script);
        };
  }

 private:
  static int Next(std::deque<int>& results, int otherwise) {
    if (results.empty()) {
      return otherwise;
    }
    const int result = results.front();
    results.pop_front();
    return result;
  }

  std::shared_ptr<FakeChannelScript> script_;
};

}  // namespace vx
