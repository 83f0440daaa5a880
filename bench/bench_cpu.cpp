#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "inputs/unCPULoad.h"

// Every heap allocation of the program is counted, so a benchmark can report how many
// happen per call.
namespace {
std::atomic<long> allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* block = std::malloc(size == 0 ? 1 : size)) {
    return block;
  }
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}

namespace {

// One sample of the system's processors, as every processor bar takes on every tick.
void BM_TakeLoadSample(benchmark::State& state) {
  SetCpuCounters(nullptr);  // starts over, so the first sample below is a first one
  const long start = allocations.load();
  TakeLoadSample();  // allocates the per-processor arrays
  const long before = allocations.load();
  for (auto _ : state) {
    TakeLoadSample();
  }
  state.counters["allocs_per_call"] = benchmark::Counter(
      static_cast<double>(allocations.load() - before), benchmark::Counter::kAvgIterations);
  state.counters["first_sample_allocs"] = static_cast<double>(before - start);
  state.counters["instances"] = CPUCount();
}
BENCHMARK(BM_TakeLoadSample);

// What a processor bar does on a tick: sample, then read its processor's load.
void BM_SampleAndReadLoad(benchmark::State& state) {
  TakeLoadSample();
  const long before = allocations.load();
  for (auto _ : state) {
    TakeLoadSample();
    benchmark::DoNotOptimize(GetProcessorLoad(0));
  }
  state.counters["allocs_per_call"] = benchmark::Counter(
      static_cast<double>(allocations.load() - before), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_SampleAndReadLoad);

}  // namespace

BENCHMARK_MAIN();
