#include "inputs/unWaveIn.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace vx {

namespace {

// One capture buffer: 512 stereo blocks of noise, so no early exit helps the loop.
void BM_MeasureWaveBuffer(benchmark::State& state) {
  std::vector<std::uint8_t> buffer(1024);
  std::mt19937 random(7);
  std::uniform_int_distribution<int> sample(0, 255);
  for (std::uint8_t& byte : buffer) {
    byte = static_cast<std::uint8_t>(sample(random));
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(MeasureWaveBuffer(buffer));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 1024);
}
BENCHMARK(BM_MeasureWaveBuffer);

}  // namespace

}  // namespace vx

BENCHMARK_MAIN();
