#include "common/ManualClock.h"
#include "common/Wait.h"
#include "support/Worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

namespace vx {

namespace {

using namespace std::chrono_literals;

// A step that stays in its step until the test opens the gate.
class TGate {
 public:
  void Pass() {
    std::unique_lock<std::mutex> lock(guard_);
    ++entered_;
    moved_.notify_all();
    moved_.wait(lock, [this] { return open_; });
  }
  bool WaitEntered(int count) {
    std::unique_lock<std::mutex> lock(guard_);
    return moved_.wait_for(lock, std::chrono::milliseconds(kWaitLimitMs),
                           [&] { return entered_ >= count; });
  }
  void Open() {
    const std::lock_guard<std::mutex> lock(guard_);
    open_ = true;
    moved_.notify_all();
  }

 private:
  std::mutex guard_;
  std::condition_variable moved_;
  int entered_ = 0;
  bool open_ = false;
};

bool IsLeftBehind(const std::string& name) {
  const auto threads = LeftBehindThreads();
  return std::any_of(threads.begin(), threads.end(),
                     [&](const TLeftBehindThread& thread) { return thread.Name == name; });
}

TEST(WorkerTest, StepsStartNoMoreOftenThanTheIntervalFromStartToStart) {
  const auto clock = std::make_shared<TManualClock>();
  std::atomic<int> steps = 0;
  const TWorker worker(
      "paced",
      [&] {
        // A step that takes 60 ms of the interval: the next starts 40 ms after its end.
        if (++steps == 2) {
          clock->Advance(60ms);
        }
      },
      100ms, clock);
  // The steps started once the clock has moved on by that much and the worker sleeps again.
  const auto stepsAfter = [&](TClock::duration by) {
    clock->Advance(by);
    EXPECT_TRUE(clock->WaitForSleepers(1));
    return steps.load();
  };
  EXPECT_EQ(stepsAfter(0ms), 1);
  EXPECT_EQ(stepsAfter(99ms), 1);
  EXPECT_EQ(stepsAfter(1ms), 2);
  EXPECT_EQ(stepsAfter(39ms), 2);
  EXPECT_EQ(stepsAfter(1ms), 3);
}

TEST(WorkerTest, AOnceStepRunsOnceHoweverTheClockMoves) {
  const auto clock = std::make_shared<TManualClock>();
  std::atomic<int> steps = 0;
  {
    const auto worker = TWorker::Once(
        "once", [&steps] { ++steps; }, clock);
    ASSERT_TRUE(WaitFor([&] { return steps > 0; }));
    clock->Advance(1h);
  }
  EXPECT_EQ(steps, 1);
}

TEST(WorkerTest, AWorkerBetweenStepsEndsWithItsOwnerAndReleasesItsStep) {
  const auto clock = std::make_shared<TManualClock>();
  const auto held = std::make_shared<int>(0);
  {
    const TWorker worker(
        "between-steps", [held] { ++*held; }, 1h, clock);
    ASSERT_TRUE(clock->WaitForSleepers(1));
  }
  // Joined, not left behind: nothing but this test holds what the step used.
  EXPECT_FALSE(IsLeftBehind("between-steps"));
  EXPECT_EQ(held.use_count(), 1);
  EXPECT_EQ(*held, 1);
}

TEST(WorkerTest, AStuckStepNeverHoldsItsOwnerAndIsKeptUntilItReturns) {
  const auto clock = std::make_shared<TManualClock>();
  const auto gate = std::make_shared<TGate>();
  const TClock::time_point stuckSince = clock->Now() + 5s;
  auto worker = std::make_unique<TWorker>(
      "stuck-step", [gate] { gate->Pass(); }, 100ms, clock);
  ASSERT_TRUE(gate->WaitEntered(1));
  clock->Advance(5s);
  worker.reset();  // returns although the step cannot

  const auto threads = LeftBehindThreads();
  const auto stuck = std::find_if(threads.begin(), threads.end(),
                                  [](const auto& thread) { return thread.Name == "stuck-step"; });
  ASSERT_NE(stuck, threads.end());
  EXPECT_EQ(stuck->Since, stuckSince);

  gate->Open();
  EXPECT_TRUE(WaitFor([] { return !IsLeftBehind("stuck-step"); }));
  EXPECT_EQ(gate.use_count(), 1);
}

TEST(WorkerTest, AStuckThreadIsReclaimedByNameOnceAndGoesOnWithItsOwnStep) {
  const auto clock = std::make_shared<TManualClock>();
  const auto gate = std::make_shared<TGate>();
  std::atomic<int> steps = 0;
  auto first = std::make_unique<TWorker>(
      "reclaimed",
      [gate, &steps] {
        ++steps;
        gate->Pass();
      },
      100ms, clock);
  ASSERT_TRUE(gate->WaitEntered(1));
  first.reset();

  std::unique_ptr<TWorker> second = TWorker::Reclaim("reclaimed");
  ASSERT_NE(second, nullptr);
  EXPECT_FALSE(IsLeftBehind("reclaimed"));
  EXPECT_EQ(TWorker::Reclaim("reclaimed"), nullptr);

  gate->Open();
  ASSERT_TRUE(clock->WaitForSleepers(1));
  clock->Advance(100ms);
  ASSERT_TRUE(clock->WaitForSleepers(1));
  EXPECT_EQ(steps, 2);

  // Between steps now: it ends with its new owner, and nothing is left to reclaim.
  second.reset();
  EXPECT_FALSE(IsLeftBehind("reclaimed"));
  EXPECT_EQ(TWorker::Reclaim("reclaimed"), nullptr);
}

}  // namespace

}  // namespace vx
