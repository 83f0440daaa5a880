#include "AllocationCounter.h"
#include "common/Wait.h"
#include "common/WaveTestDevice.h"
#include "device/LEDController.h"
#include "inputs/unBarIO.h"
#include "inputs/unWaveIn.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <memory>

using namespace vx;

namespace {

// One tick of one bar: the input's UpdateBar, which ends in the bar's SetLevel.
void RunUpdateBar(benchmark::State& state, TLBInput& input) {
  TLEDBarController link;
  link.SetLEDBarCtrlCount(1);
  TLEDBar& bar = link.LEDBarCtrls(0).Bars(0);
  input.Activate(bar);
  input.UpdateBar(bar);  // a first tick may set up what later ticks reuse
  const std::size_t before = AllocationCount();
  for (auto _ : state) {
    input.UpdateBar(bar);
  }
  ReportAllocationsPerCall(state, before);
  input.Deactivate(bar);
}

void BM_UpdateBar_Nothing(benchmark::State& state) {
  TLBNothing input;
  RunUpdateBar(state, input);
}
BENCHMARK(BM_UpdateBar_Nothing);

void BM_UpdateBar_KnightRider(benchmark::State& state) {
  TLBKnightRider input;
  RunUpdateBar(state, input);
}
BENCHMARK(BM_UpdateBar_KnightRider);

// The sound meter while the recorder runs, on a device that reads a prepared signal.
void BM_UpdateBar_WaveInput(benchmark::State& state) {
  const WaveTestDevice device(WaveTestSetup::Samples,
                              StereoSamples(64, SineBetween(16, 240), SineBetween(64, 192)));
  TLBWaveInput input;
  TLEDBarController link;
  link.SetLEDBarCtrlCount(1);
  input.Activate(link.LEDBarCtrls(0).Bars(0));
  if (!WaitFor([&] { return input.Recorder->GetLevel(3) != 0.0; })) {
    state.SkipWithError("the recorder did not deliver a buffer");
    return;
  }
  RunUpdateBar(state, input);
}
BENCHMARK(BM_UpdateBar_WaveInput);

// Includes the processor-load sample that every processor bar takes on every tick.
void BM_UpdateBar_CPUUsage(benchmark::State& state) {
  TLBCPUUsage input;
  RunUpdateBar(state, input);
}
BENCHMARK(BM_UpdateBar_CPUUsage);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
