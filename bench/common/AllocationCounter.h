#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>

namespace vx {

// Heap allocations of the whole program so far (the benchmark programs replace the global
// operator new to count them).
std::size_t AllocationCount();

// Reports the allocations since `before` per iteration as the counter "allocs_per_call".
void ReportAllocationsPerCall(benchmark::State& state, std::size_t before);

}  // namespace vx
