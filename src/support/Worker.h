#pragma once

#include "support/Clock.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vx {

// Work off the GUI thread, in one pattern.
//
// A TWorker owns one thread that runs its step again and again, starting a step at most once
// per interval on the clock it is given (or only once, for a look-up: Once). The step hands
// what it found to the owner through one TSnapshot (or a queued signal); the owner takes it
// without waiting:
//
//   auto latest = std::make_shared<TSnapshot<double>>();
//   TWorker worker("vorlixa-reader", [latest] { latest->Set(ReadLevel()); }, 100ms);
//   ... and on every tick: bar.SetLevel(latest->Get());
//
// The step runs on the worker's thread only and handles its own errors (an exception that
// leaves it ends the program). Whatever it uses must live as long as the step: capture
// shared_ptrs, never the owner.
//
// Destruction never waits for a step. A thread between two steps ends at once and is joined;
// a thread still in its step (a read stuck in a driver, a sound server that hangs) goes to
// the keeper of left-behind threads, which names it and says since when it is stuck
// (LeftBehindThreads), joins it once its step returns, and lets it go with the process.
class TWorker {
 public:
  struct TState;

  // name: the thread's name (the system shows the first 15 characters) and the keeper's.
  TWorker(std::string name, std::function<void()> step, TClock::duration interval,
          std::shared_ptr<TClock> clock = SteadyClock());
  // A worker whose step runs once (a look-up): its thread ends when the step returns.
  static std::unique_ptr<TWorker> Once(std::string name, std::function<void()> step,
                                       std::shared_ptr<TClock> clock = SteadyClock());
  ~TWorker();
  TWorker(const TWorker&) = delete;
  TWorker& operator=(const TWorker&) = delete;
  TWorker(TWorker&&) = delete;
  TWorker& operator=(TWorker&&) = delete;

  // Takes the left-behind thread of this name back into service while it is still in its
  // step, with the step and timing it was started with; null when there is none. A source
  // that hangs for good then keeps one thread, however often its owner comes and goes.
  static std::unique_ptr<TWorker> Reclaim(const std::string& name);

 private:
  TWorker(std::shared_ptr<TState> state, std::thread thread);

  std::shared_ptr<TState> state_;
  std::thread thread_;
};

// A thread whose owner has gone while it was in its step, and which has not returned since.
struct TLeftBehindThread {
  std::string Name;
  TClock::time_point Since;  // on its worker's clock: when its owner let it go
};

// The left-behind threads that still run, oldest first.
std::vector<TLeftBehindThread> LeftBehindThreads();

// The one value that crosses from a worker's thread to its owner's.
template <typename T>
class TSnapshot {
 public:
  void Set(T value) {
    const std::lock_guard<std::mutex> lock(guard_);
    value_ = std::move(value);
  }
  T Get() const {
    const std::lock_guard<std::mutex> lock(guard_);
    return value_;
  }

 private:
  mutable std::mutex guard_;
  T value_{};
};

}  // namespace vx
