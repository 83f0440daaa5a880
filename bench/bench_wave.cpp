#include "inputs/BandMeter.h"
#include "inputs/unWaveIn.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

namespace vx {

namespace {

// Noise, so no early exit helps a loop.
std::vector<std::uint8_t> Noise(std::size_t bytes) {
  std::vector<std::uint8_t> buffer(bytes);
  std::mt19937 random(7);
  std::uniform_int_distribution<int> sample(0, 255);
  for (std::uint8_t& byte : buffer) {
    byte = static_cast<std::uint8_t>(sample(random));
  }
  return buffer;
}

// One capture buffer: 512 stereo blocks.
void BM_MeasureWaveBuffer(benchmark::State& state) {
  const std::vector<std::uint8_t> buffer = Noise(1024);
  for (auto _ : state) {
    benchmark::DoNotOptimize(MeasureWaveBuffer(buffer));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 1024);
}
BENCHMARK(BM_MeasureWaveBuffer);

// What the capture thread does per piece of sound for band bars: a piece of 1024 blocks
// in, both channels transformed, eight bands read out (a spectrum over four boards).
void BM_BandPiece(benchmark::State& state) {
  const std::vector<std::uint8_t> piece = Noise(2048);
  TBandMeter meter;
  const std::array<int, 9> edges{20, 50, 120, 300, 700, 1600, 3600, 8000, 16000};
  for (auto _ : state) {
    meter.Add(piece);
    meter.Transform(3);
    for (std::size_t band = 0; band + 1 < edges.size(); ++band) {
      benchmark::DoNotOptimize(meter.Level(3, TBandMeter::Bin(edges[band], 44100),
                                           TBandMeter::Bin(edges[band + 1], 44100)));
    }
  }
}
BENCHMARK(BM_BandPiece);

}  // namespace

}  // namespace vx

BENCHMARK_MAIN();
