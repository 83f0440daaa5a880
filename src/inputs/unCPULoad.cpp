#include "inputs/unCPULoad.h"

#include "base/Exceptions.h"
#include "platform/CpuCounters.h"
#include "platform/ProcStatCounters.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace vx {

namespace {

constexpr const char* kNoProcessorObject = "Unable to locate the \"Processor\" performance object";
constexpr const char* kNoIdleCounter =
    "Unable to locate the \"% of CPU usage\" performance counter";
constexpr const char* kIndexOutOfBounds = "CPU index out of bounds";

// The shortest interval that a load covers, in 100 ns units. The system counts idle time
// in ticks of 10 ms: over a 25 ms tick a quiet processor would flicker by a fifth, and a
// second processor bar in the same tick would measure no interval at all.
constexpr std::int64_t kMinInterval = std::int64_t{100} * 10'000;

struct LoadSampler {
  CpuCounters* Counters = nullptr;  // installed source; nullptr = the system's
  int CPUCount = -1;
  bool HasSample = false;  // a reading has succeeded since start
  // Idle times in 100 ns units, one per instance; Scratch takes a reading so that a
  // failed one leaves the last two samples untouched.
  std::vector<std::int64_t> Current;
  std::vector<std::int64_t> Previous;
  std::vector<std::int64_t> Scratch;
  std::int64_t CurrentTime = 0;  // 100 ns units
  std::int64_t PreviousTime = 0;
};

LoadSampler& Sampler() {
  static LoadSampler sampler;
  return sampler;
}

CpuCounters& Counters() {
  CpuCounters* installed = Sampler().Counters;
  if (installed != nullptr) {
    return *installed;
  }
  static ProcStatCounters system;
  return system;
}

// The first sample fixes the instance count and allocates the arrays, once.
void PrepareFirstSample(LoadSampler& sampler, CpuCounters& counters) {
  const CpuReading probe = counters.Read({});
  if (probe.Result == CpuReadResult::NoProcessors) {
    throw Exception(kNoProcessorObject);
  }
  sampler.CPUCount = probe.InstanceCount;
  const auto count = static_cast<std::size_t>(probe.InstanceCount);
  sampler.Current.assign(count, 0);
  sampler.Previous.assign(count, 0);
  sampler.Scratch.assign(count, 0);
  if (probe.Result == CpuReadResult::NoIdleTime) {
    throw Exception(kNoIdleCounter);
  }
}

}  // namespace

void TakeLoadSample() {
  LoadSampler& sampler = Sampler();
  CpuCounters& counters = Counters();
  if (sampler.CPUCount == -1) {
    PrepareFirstSample(sampler, counters);
  }
  // The file is read only when its reading would count: the update loop asks every tick.
  if (sampler.HasSample && counters.Now() - sampler.CurrentTime < kMinInterval) {
    return;  // too soon: the loads of the last interval stand
  }
  const CpuReading reading = counters.Read(sampler.Scratch);
  if (reading.Result == CpuReadResult::NoProcessors) {
    throw Exception(kNoProcessorObject);
  }
  if (reading.Result == CpuReadResult::NoIdleTime) {
    throw Exception(kNoIdleCounter);
  }
  sampler.Previous.swap(sampler.Current);
  sampler.Current.swap(sampler.Scratch);
  sampler.PreviousTime = sampler.CurrentTime;
  sampler.CurrentTime = reading.SampleTime;
  if (!sampler.HasSample) {
    sampler.HasSample = true;
    // Nothing to compare with yet: an interval of no length reads as no load.
    std::copy(sampler.Current.begin(), sampler.Current.end(), sampler.Previous.begin());
    sampler.PreviousTime = sampler.CurrentTime;
  }
}

double GetProcessorLoad(int index) {
  LoadSampler& sampler = Sampler();
  if (sampler.CPUCount == -1) {
    TakeLoadSample();
  }
  if (index < 0 || index >= sampler.CPUCount) {
    throw Exception(kIndexOutOfBounds);
  }
  if (sampler.CurrentTime == sampler.PreviousTime) {
    return 0.0;
  }
  const auto i = static_cast<std::size_t>(index);
  // A processor missing from either sample (taken offline) did no work we can see.
  if (sampler.Current[i] == kNotListed || sampler.Previous[i] == kNotListed) {
    return 0.0;
  }
  const std::int64_t idle = sampler.Current[i] - sampler.Previous[i];
  const std::int64_t elapsed = sampler.CurrentTime - sampler.PreviousTime;
  return 1.0 - static_cast<double>(idle) / static_cast<double>(elapsed);
}

int CPUCount() {
  return Sampler().CPUCount;
}

double GetTotalLoad() {
  if (Sampler().CPUCount == -1) {
    TakeLoadSample();
  }
  return GetProcessorLoad(Sampler().CPUCount - 1);
}

CpuCounters* SetCpuCounters(CpuCounters* counters) {
  LoadSampler& sampler = Sampler();
  CpuCounters* previous = sampler.Counters;
  sampler = LoadSampler{};
  sampler.Counters = counters;
  return previous;
}

}  // namespace vx
