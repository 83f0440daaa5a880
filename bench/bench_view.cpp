#include "AllocationCounter.h"
#include "common/DiscardingPort.h"
#include "config/unPortCfg.h"
#include "device/LEDController.h"
#include "ui/ChainView.h"

#include <QApplication>
#include <QImage>

#include <benchmark/benchmark.h>

#include <memory>

using namespace vx;

namespace {

// One picture of the live view, as each of its 25 repaints a second draws it. Arguments:
// number of boards, and the view's height (its width is that of the settings window's
// band at the default size).
void BM_ChainViewPicture(benchmark::State& state) {
  const auto boards = static_cast<std::int32_t>(state.range(0));
  TPortCfg port(nullptr, std::make_unique<DiscardingPort>());
  TLEDBarController& link = port.Controller();
  link.SetLEDBarCtrlCount(boards);
  link.MaxValue = 254;
  for (std::int32_t i = 0; i < boards; ++i) {
    link.LEDBarCtrls(i).Bars(0).SetLevel(0.6);
    link.LEDBarCtrls(i).Bars(1).SetLevel(0.3);
  }
  if (!link.Open()) {
    state.SkipWithError("link did not open");
    return;
  }
  TLEDChainView view([&port] { return TChainViewSource{&port, 0}; });
  view.resize(560, static_cast<int>(state.range(1)));
  QImage picture(view.size(), QImage::Format_RGB32);

  const std::size_t before = AllocationCount();
  for (auto _ : state) {
    view.render(&picture);
  }
  ReportAllocationsPerCall(state, before);
  link.Close();
}

BENCHMARK(BM_ChainViewPicture)
    ->ArgNames({"boards", "height"})
    ->Args({2, 90})
    ->Args({16, 160})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
