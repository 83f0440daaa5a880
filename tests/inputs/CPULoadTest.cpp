#include "base/Exceptions.h"
#include "base/Format.h"
#include "inputs/unCPULoad.h"
#include "platform/ProcStatCounters.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace vx {

namespace {

constexpr const char* kNoProcessorObject = "Unable to locate the \"Processor\" performance object";
constexpr const char* kNoIdleCounter =
    "Unable to locate the \"% of CPU usage\" performance counter";
constexpr const char* kIndexOutOfBounds = "CPU index out of bounds";

constexpr std::int64_t kTicksPerSecond = 100;
constexpr std::int64_t kUnitsPerTick = 100'000;  // 100 ns units in 10 ms

// One processor's counters in clock ticks.
struct Ticks {
  std::int64_t Busy = 0;
  std::int64_t Idle = 0;
  std::int64_t Iowait = 0;
};

// /proc/stat as the kernel writes it: the summary, one line per processor, the rest.
std::string StatText(const std::vector<Ticks>& processors, const std::vector<int>& numbers = {}) {
  Ticks sum;
  std::string lines;
  for (std::size_t i = 0; i < processors.size(); ++i) {
    const Ticks& cpu = processors[i];
    const int number = numbers.empty() ? static_cast<int>(i) : numbers[i];
    lines += Format("cpu%d %d 0 %d %d %d 0 7 0 0 0\n", number, cpu.Busy / 2,
                    cpu.Busy - cpu.Busy / 2, cpu.Idle, cpu.Iowait);
    sum.Busy += cpu.Busy;
    sum.Idle += cpu.Idle;
    sum.Iowait += cpu.Iowait;
  }
  return Format("cpu  %d 0 0 %d %d 0 %d 0 0 0\n", sum.Busy, sum.Idle, sum.Iowait,
                7 * static_cast<int>(processors.size())) +
         lines + "intr 2000 0 0 17\nctxt 4711\nbtime 1700000000\n";
}

template <typename Action>
std::string ErrorOf(Action action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(no error)";
}

// The sampler reading a prepared /proc/stat at 100 ticks per second, on a clock that
// only moves when told.
class CPULoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    path_ = dir_.filePath("stat").toStdString();
    counters_ = std::make_unique<ProcStatCounters>(
        path_, [this] { return now_; }, kTicksPerSecond);
    previous_ = SetCpuCounters(counters_.get());
  }
  void TearDown() override { SetCpuCounters(previous_); }

  // Rewrites the file in place: the counters keep it open between samples.
  void WriteStat(const std::string& text) {
    std::ofstream file(path_, std::ios::binary | std::ios::trunc);
    file << text;
  }
  void SampleAfter(std::int64_t ticks, const std::vector<Ticks>& processors) {
    now_ += ticks * kUnitsPerTick;
    WriteStat(StatText(processors));
    TakeLoadSample();
  }
  void ExpectLoads(const std::vector<double>& expected) {
    ASSERT_EQ(CPUCount(), static_cast<int>(expected.size()));
    for (int i = 0; i < CPUCount(); ++i) {
      EXPECT_NEAR(GetProcessorLoad(i), expected[static_cast<std::size_t>(i)], 1e-6)
          << "instance " << i;
    }
  }

  QTemporaryDir dir_;
  std::string path_;
  std::int64_t now_ = 5'000'000'000;
  std::unique_ptr<ProcStatCounters> counters_;
  CpuCounters* previous_ = nullptr;
};

TEST_F(CPULoadTest, FirstSampleFixesTheInstancesAndReadsNoLoad) {
  EXPECT_EQ(CPUCount(), -1);
  WriteStat(StatText({{500, 100, 0}, {50, 1000, 30}}));
  EXPECT_DOUBLE_EQ(GetProcessorLoad(2), 0.0);  // the total; samples first

  ExpectLoads({0.0, 0.0, 0.0});
  EXPECT_EQ(ErrorOf([] { GetProcessorLoad(-1); }), kIndexOutOfBounds);
  EXPECT_EQ(ErrorOf([] { GetProcessorLoad(3); }), kIndexOutOfBounds);
}

TEST_F(CPULoadTest, LoadIsTheBusyShareOfTheIntervalAndIowaitCountsAsIdle) {
  SampleAfter(0, {{100, 400, 0}, {100, 400, 0}, {100, 400, 0}, {100, 400, 20}});
  // Over 10 ticks: idle all the time, busy all the time, half busy, waiting for I/O.
  SampleAfter(10, {{100, 410, 0}, {110, 400, 0}, {105, 405, 0}, {100, 400, 30}});

  ExpectLoads({0.0, 1.0, 0.5, 0.0, 0.375});  // the total: the average of the four
  EXPECT_DOUBLE_EQ(GetTotalLoad(), 0.375);
}

// The counters move in 10 ms steps: over the 25 ms between two ticks a quiet processor
// would flicker by a fifth. A load covers 100 ms at least; sooner samples keep it.
TEST_F(CPULoadTest, EachLoadCoversAtLeast100Milliseconds) {
  SampleAfter(0, {{0, 0, 0}});
  SampleAfter(10, {{10, 0, 0}});
  EXPECT_DOUBLE_EQ(GetProcessorLoad(0), 1.0);
  EXPECT_DOUBLE_EQ(GetProcessorLoad(0), 1.0);  // reading does not sample

  SampleAfter(2, {{10, 2, 0}});
  SampleAfter(5, {{11, 6, 0}});
  EXPECT_DOUBLE_EQ(GetProcessorLoad(0), 1.0);
  WriteStat("");  // not even read until a sample would count
  EXPECT_EQ(ErrorOf(TakeLoadSample), "(no error)");
  SampleAfter(3, {{12, 8, 0}});  // 100 ms after the last sample that counted
  EXPECT_DOUBLE_EQ(GetProcessorLoad(0), 0.2);
}

// Two processor bars in one tick: the second sample comes at the same instant and
// must not make the bars flash.
TEST_F(CPULoadTest, SamplesAtTheSameInstantKeepTheLastLoads) {
  SampleAfter(0, {{0, 0, 0}, {0, 0, 0}});
  SampleAfter(10, {{5, 5, 0}, {10, 0, 0}});
  SampleAfter(0, {{8, 7, 0}, {20, 0, 0}});

  ExpectLoads({0.5, 1.0, 0.75});
}

// With processor 1 offline, an idle machine is idle: the total counts the processors
// that the reading lists, not the highest number + 1.
TEST_F(CPULoadTest, TheTotalAveragesTheProcessorsThatAreThere) {
  WriteStat(StatText({{0, 0, 0}, {0, 0, 0}}, {0, 2}));
  TakeLoadSample();
  now_ += 10 * kUnitsPerTick;
  WriteStat(StatText({{0, 10, 0}, {5, 5, 0}}, {0, 2}));
  TakeLoadSample();
  ExpectLoads({0.0, 0.0, 0.5, 0.25});
}

TEST_F(CPULoadTest, SourceWithoutProcessorLinesFailsAndLeavesNoSample) {
  EXPECT_EQ(ErrorOf(TakeLoadSample), kNoProcessorObject);  // no file at all

  WriteStat("");
  EXPECT_EQ(ErrorOf(TakeLoadSample), kNoProcessorObject);

  WriteStat("cpu  10 0 10 100 0 0 0 0 0 0\nintr 5 0\ncpu0 10 0 10 100 0 0 0 0 0 0\n");
  EXPECT_EQ(ErrorOf(TakeLoadSample), kNoProcessorObject);  // only the lines that lead count
  EXPECT_EQ(ErrorOf([] { GetProcessorLoad(0); }), kNoProcessorObject);
  EXPECT_EQ(CPUCount(), -1);
}

TEST_F(CPULoadTest, SourceWithoutIdleFieldsFailsAfterCountingTheProcessors) {
  WriteStat("cpu  10 0 10\ncpu0 5 0 5\ncpu1 5 0 5\n");
  EXPECT_EQ(ErrorOf(TakeLoadSample), kNoIdleCounter);
  EXPECT_EQ(CPUCount(), 3);

  // Lines without the iowait field (older kernels) are enough; the first good sample has
  // nothing to compare with.
  WriteStat("cpu  10 0 10 100\ncpu0 5 0 5 50\ncpu1 5 0 5 50");
  TakeLoadSample();
  ExpectLoads({0.0, 0.0, 0.0});
  now_ += 10 * kUnitsPerTick;
  WriteStat("cpu  10 0 20 110\ncpu0 5 0 5 60\ncpu1 5 0 15 50");
  TakeLoadSample();
  ExpectLoads({0.0, 1.0, 0.5});
}

TEST_F(CPULoadTest, FailedSampleKeepsTheLastTwoSamples) {
  SampleAfter(0, {{0, 0, 0}});
  SampleAfter(10, {{5, 5, 0}});
  now_ += 10 * kUnitsPerTick;
  WriteStat("cpu  1 2 3\ncpu0 1 2 3\n");
  EXPECT_EQ(ErrorOf(TakeLoadSample), kNoIdleCounter);
  WriteStat("intr 1\n");
  EXPECT_EQ(ErrorOf(TakeLoadSample), kNoProcessorObject);

  EXPECT_DOUBLE_EQ(GetProcessorLoad(0), 0.5);
  SampleAfter(10, {{5, 15, 0}});
  EXPECT_DOUBLE_EQ(GetProcessorLoad(0), 1.0 - 10.0 / 20.0);
}

TEST_F(CPULoadTest, ProcessorMissingFromASampleReadsNoLoad) {
  SampleAfter(0, {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}});
  now_ += 10 * kUnitsPerTick;
  WriteStat(StatText({{10, 0, 0}, {0, 10, 0}}, {0, 2}));  // processor 1 taken offline
  TakeLoadSample();
  ExpectLoads({1.0, 0.0, 0.0, 0.5});

  SampleAfter(10, {{20, 0, 0}, {10, 0, 0}, {0, 20, 0}});  // back, with its own count
  EXPECT_DOUBLE_EQ(GetProcessorLoad(1), 0.0);
  SampleAfter(10, {{30, 0, 0}, {20, 0, 0}, {0, 30, 0}});
  ExpectLoads({1.0, 1.0, 0.0, 2.0 / 3.0});
}

TEST_F(CPULoadTest, ProcessorNumbersFixTheCountOnce) {
  WriteStat(StatText({{0, 0, 0}, {0, 0, 0}}, {0, 2}));  // processor 1 offline from the start
  TakeLoadSample();
  EXPECT_EQ(CPUCount(), 4);

  // Processors that come later are not counted.
  SampleAfter(10, {{10, 0, 0}, {5, 5, 0}, {0, 10, 0}, {0, 10, 0}, {9, 1, 0}});
  EXPECT_EQ(CPUCount(), 4);
  EXPECT_DOUBLE_EQ(GetProcessorLoad(0), 1.0);
  EXPECT_DOUBLE_EQ(GetProcessorLoad(1), 0.0);
  EXPECT_DOUBLE_EQ(GetProcessorLoad(2), 0.0);
}

TEST_F(CPULoadTest, ReadsManyProcessorsWithLongCounters) {
  // About 10 KB of processor lines followed by a longer interrupt line: lines cross the
  // reading buffer's boundaries.
  constexpr int kProcessors = 96;
  constexpr std::int64_t kBase = 123'456'789'012;
  std::vector<Ticks> before(kProcessors, Ticks{kBase, kBase, kBase});
  std::vector<Ticks> after = before;
  for (int i = 0; i < kProcessors; ++i) {
    const int idle = i % 11;  // 0..10 of 10 ticks
    after[static_cast<std::size_t>(i)].Idle += idle;
    after[static_cast<std::size_t>(i)].Busy += 10 - idle;
  }
  const std::string interrupts = "intr" + std::string(10'000, ' ') + "1\n";
  WriteStat(StatText(before) + interrupts);
  TakeLoadSample();
  now_ += 10 * kUnitsPerTick;
  WriteStat(StatText(after) + interrupts);
  TakeLoadSample();

  ASSERT_EQ(CPUCount(), kProcessors + 1);
  for (int i = 0; i < kProcessors; ++i) {
    EXPECT_DOUBLE_EQ(GetProcessorLoad(i), 1.0 - (i % 11) / 10.0) << "processor " << i;
  }
}

TEST(CPULoadSystemTest, SeesAThreadThatSpins) {
  CpuCounters* previous = SetCpuCounters(nullptr);
  TakeLoadSample();
  std::atomic<bool> stop{false};
  std::thread spinner([&stop] {
    while (!stop.load(std::memory_order_relaxed)) {
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  TakeLoadSample();
  stop = true;
  spinner.join();

  // The spinner keeps one processor busy, however many there are.
  ASSERT_GE(CPUCount(), 2);
  double busiest = 0.0;
  for (int i = 0; i < CPUCount() - 1; ++i) {
    busiest = std::max(busiest, GetProcessorLoad(i));
  }
  EXPECT_GT(busiest, 0.5);
  SetCpuCounters(previous);
}

}  // namespace

}  // namespace vx
