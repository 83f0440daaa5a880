#include "AllocationCounter.h"
#include "common/DiscardingPort.h"
#include "device/LEDController.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

using namespace vx;

namespace {

// Arguments: number of boards; 1 = one bar's level changes before every send, 0 = the
// levels stay as they are (the frame is built and compared but not written).
void BM_SendLevels(benchmark::State& state) {
  const auto boards = static_cast<std::int32_t>(state.range(0));
  const bool changing = state.range(1) != 0;
  TLEDBarController link(std::make_unique<DiscardingPort>());
  link.SetLEDBarCtrlCount(boards);
  link.MinValue = 10;
  link.MaxValue = 200;
  for (std::int32_t i = 0; i < boards; ++i) {
    link.LEDBarCtrls(i).Bars(0).SetLevel(0.6);
    link.LEDBarCtrls(i).Bars(1).SetLevel(0.3);
    link.LEDBarCtrls(i).Bars(1).Inverted = true;
  }
  if (!link.Open()) {
    state.SkipWithError("link did not open");
    return;
  }
  TLEDBar& bar = link.LEDBarCtrls(boards - 1).Bars(0);
  double level = 0.0;

  const std::size_t before = AllocationCount();
  for (auto _ : state) {
    if (changing) {
      level = level >= 1.0 ? 0.0 : level + 0.05;  // every step moves the top LED
      bar.SetLevel(level);
    }
    link.SendLevels();
  }
  ReportAllocationsPerCall(state, before);
}

BENCHMARK(BM_SendLevels)
    ->ArgNames({"boards", "changing"})
    ->Args({2, 1})
    ->Args({16, 1})
    ->Args({409, 1})
    ->Args({2, 0})
    ->Args({409, 0});

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  QCoreApplication app(argc, argv);  // the link's timer needs an event dispatcher
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
