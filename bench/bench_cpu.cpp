#include "AllocationCounter.h"
#include "inputs/unCPULoad.h"

#include <benchmark/benchmark.h>

namespace vx {

namespace {

// One sample of the system's processors, as every processor bar takes on every tick.
void BM_TakeLoadSample(benchmark::State& state) {
  SetCpuCounters(nullptr);  // starts over, so the first sample below is a first one
  const std::size_t start = AllocationCount();
  TakeLoadSample();  // allocates the per-processor arrays
  const std::size_t before = AllocationCount();
  for (auto _ : state) {
    TakeLoadSample();
  }
  ReportAllocationsPerCall(state, before);
  state.counters["first_sample_allocs"] = static_cast<double>(before - start);
  state.counters["instances"] = CPUCount();
}
BENCHMARK(BM_TakeLoadSample);

// What a processor bar does on a tick: sample, then read its processor's load.
void BM_SampleAndReadLoad(benchmark::State& state) {
  TakeLoadSample();
  const std::size_t before = AllocationCount();
  for (auto _ : state) {
    TakeLoadSample();
    benchmark::DoNotOptimize(GetProcessorLoad(0));
  }
  ReportAllocationsPerCall(state, before);
}
BENCHMARK(BM_SampleAndReadLoad);

}  // namespace

}  // namespace vx

BENCHMARK_MAIN();
