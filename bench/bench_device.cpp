#include "AllocationCounter.h"
#include "common/DiscardingPort.h"
#include "device/LEDController.h"
#include "device/NetworkStrip.h"
#include "platform/UniqueFd.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <string>
#include <vector>

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

// A UDP socket bound to a free port of 127.0.0.1, which only receives: what arrives is
// left to its queue, which drops what no longer fits. The port, or 0 when none was had.
int BindReceiver(UniqueFd& receiver) {
  receiver = UniqueFd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  if (::bind(receiver.Get(), raw, length) != 0 ||
      ::getsockname(receiver.Get(), raw, &length) != 0) {
    return 0;
  }
  return ntohs(address.sin_port);
}

// One frame of a 1000-pixel DDP strip built and sent (3 datagrams) to a UDP socket on
// 127.0.0.1; one byte changes before every send, so every call sends. What arrives is
// left to the receiver's queue, which drops what no longer fits.
void BM_StripSendDdp(benchmark::State& state) {
  UniqueFd receiver;
  const int port = BindReceiver(receiver);
  if (port == 0) {
    state.SkipWithError("cannot bind a UDP socket on 127.0.0.1");
    return;
  }
  TNetworkStrip strip("ddp://127.0.0.1:" + std::to_string(port));
  strip.Open();
  std::vector<std::uint8_t> rgb(3 * 1000, 100);
  strip.Send(rgb);  // the encoder's and the last frame's buffers take their size

  const std::size_t before = AllocationCount();
  for (auto _ : state) {
    ++rgb[rgb.size() / 2];
    strip.Send(rgb);
  }
  ReportAllocationsPerCall(state, before);
  if (strip.State() != TStripState::Sending) {
    state.SkipWithError(strip.StatusText().c_str());
  }
}

BENCHMARK(BM_StripSendDdp);

// The whole way of one frame to a 1000-pixel DDP strip (12 boards of 2 x 40 and one of
// 2 x 20): one bar's level moves, every board's bars are faded and built, the slots become
// pixels in the meter's colours, and the three datagrams go to a UDP socket on 127.0.0.1.
void BM_StripSendLevels(benchmark::State& state) {
  UniqueFd receiver;
  const int port = BindReceiver(receiver);
  if (port == 0) {
    state.SkipWithError("cannot bind a UDP socket on 127.0.0.1");
    return;
  }
  TLEDBarController link(std::make_unique<DiscardingPort>());
  link.Port = "ddp://127.0.0.1:" + std::to_string(port);
  link.MaxValue = 254;
  link.SetLEDBarCtrlCount(13);
  link.LEDBarCtrls(12).SetBarSize(20);
  if (!link.Open() || link.State() != TLinkState::Sending) {
    state.SkipWithError("the strip does not send");
    return;
  }
  TLEDBar& bar = link.LEDBarCtrls(0).Bars(0);
  double level = 0.0;
  link.SendLevels();  // the pixel and datagram buffers take their size

  const std::size_t before = AllocationCount();
  for (auto _ : state) {
    level = level >= 1.0 ? 0.0 : level + 0.05;  // every step moves the top LED
    bar.SetLevel(level);
    link.SendLevels();
  }
  ReportAllocationsPerCall(state, before);
  if (link.State() != TLinkState::Sending) {
    state.SkipWithError(link.LastError().c_str());
  }
}

BENCHMARK(BM_StripSendLevels);

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
