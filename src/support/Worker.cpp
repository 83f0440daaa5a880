#include "support/Worker.h"

#include "platform/ThreadName.h"

#include <algorithm>
#include <stop_token>

namespace vx {

struct TWorker::TState {
  std::string Name;
  std::function<void()> Step;
  TClock::duration Interval{};
  bool Once = false;  // the step runs once, then the thread ends
  std::shared_ptr<TClock> Clock;

  std::mutex Guard;
  bool Stop = false;         // guarded: the owner has gone
  bool InStep = false;       // guarded
  bool Ended = false;        // guarded: the thread has seen Stop and returns
  std::stop_source Wake;     // guarded: ends the thread's sleep when Stop is set
  TClock::time_point Since;  // guarded: when the owner let a thread in its step go
};

namespace {

void Run(const std::shared_ptr<TWorker::TState>& state) {
  NameThisThread(state->Name.c_str());
  for (;;) {
    {
      const std::lock_guard<std::mutex> lock(state->Guard);
      if (state->Stop) {
        state->Ended = true;
        return;
      }
      state->InStep = true;
    }
    const TClock::time_point start = state->Clock->Now();
    state->Step();
    std::stop_token wake;
    {
      const std::lock_guard<std::mutex> lock(state->Guard);
      state->InStep = false;
      if (state->Stop || state->Once) {
        state->Ended = true;
        return;
      }
      wake = state->Wake.get_token();
    }
    state->Clock->SleepUntil(start + state->Interval, wake);
  }
}

// Owns the threads whose owners have gone while they were in a step.
class TKeeper {
 public:
  void Adopt(std::shared_ptr<TWorker::TState> state, std::thread thread) {
    const std::lock_guard<std::mutex> lock(guard_);
    Prune();
    entries_.push_back({std::move(state), std::move(thread)});
  }

  // The entry of this name, out of the keeper, if its thread is still in its step.
  std::pair<std::shared_ptr<TWorker::TState>, std::thread> Take(const std::string& name) {
    const std::lock_guard<std::mutex> lock(guard_);
    Prune();
    const auto found = std::find_if(entries_.begin(), entries_.end(), [&](const TEntry& entry) {
      if (entry.State->Name != name) {
        return false;
      }
      const std::lock_guard<std::mutex> stateLock(entry.State->Guard);
      if (!entry.State->InStep) {
        return false;  // it has seen its stop and ends
      }
      entry.State->Stop = false;
      entry.State->Wake = std::stop_source();
      return true;
    });
    if (found == entries_.end()) {
      return {};
    }
    std::pair<std::shared_ptr<TWorker::TState>, std::thread> taken(std::move(found->State),
                                                                   std::move(found->Thread));
    entries_.erase(found);
    return taken;
  }

  std::vector<TLeftBehindThread> List() {
    const std::lock_guard<std::mutex> lock(guard_);
    Prune();
    std::vector<TLeftBehindThread> list;
    for (const TEntry& entry : entries_) {
      const std::lock_guard<std::mutex> stateLock(entry.State->Guard);
      list.push_back({entry.State->Name, entry.State->Since});
    }
    return list;
  }

 private:
  struct TEntry {
    std::shared_ptr<TWorker::TState> State;
    std::thread Thread;
  };

  // Joins the threads that have returned from their step since; guard_ held.
  void Prune() {
    std::erase_if(entries_, [](TEntry& entry) {
      {
        const std::lock_guard<std::mutex> stateLock(entry.State->Guard);
        if (!entry.State->Ended) {
          return false;
        }
      }
      entry.Thread.join();
      return true;
    });
  }

  std::mutex guard_;
  std::vector<TEntry> entries_;
};

TKeeper& Keeper() {
  // Never destroyed: a thread still stuck when the program ends is neither joined (that
  // would hold up the exit) nor destroyed while it runs (that would end the program).
  // NOLINTNEXTLINE(cppcoreguidelines-owning-memory,cppcoreguidelines-avoid-non-const-global-variables)
  static auto* const keeper = new TKeeper();
  return *keeper;
}

}  // namespace

TWorker::TWorker(std::string name, std::function<void()> step, TClock::duration interval,
                 std::shared_ptr<TClock> clock)
    : state_(std::make_shared<TState>()) {
  state_->Name = std::move(name);
  state_->Step = std::move(step);
  state_->Interval = interval;
  state_->Clock = std::move(clock);
  thread_ = std::thread(Run, state_);
}

std::unique_ptr<TWorker> TWorker::Once(std::string name, std::function<void()> step,
                                       std::shared_ptr<TClock> clock) {
  auto state = std::make_shared<TState>();
  state->Name = std::move(name);
  state->Step = std::move(step);
  state->Once = true;
  state->Clock = std::move(clock);
  std::thread thread(Run, state);
  return std::unique_ptr<TWorker>(new TWorker(std::move(state), std::move(thread)));
}

TWorker::TWorker(std::shared_ptr<TState> state, std::thread thread)
    : state_(std::move(state)), thread_(std::move(thread)) {}

TWorker::~TWorker() {
  const TClock::time_point now = state_->Clock->Now();
  bool inStep = false;
  {
    const std::lock_guard<std::mutex> lock(state_->Guard);
    state_->Stop = true;
    state_->Wake.request_stop();
    inStep = state_->InStep;
    state_->Since = now;
  }
  if (inStep) {
    Keeper().Adopt(state_, std::move(thread_));
  } else {
    thread_.join();
  }
}

std::unique_ptr<TWorker> TWorker::Reclaim(const std::string& name) {
  auto [state, thread] = Keeper().Take(name);
  if (!state) {
    return nullptr;
  }
  return std::unique_ptr<TWorker>(new TWorker(std::move(state), std::move(thread)));
}

std::vector<TLeftBehindThread> LeftBehindThreads() {
  return Keeper().List();
}

}  // namespace vx
