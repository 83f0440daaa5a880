// Drives a chain of LED bar controller boards with moving levels, as the program's update
// loop does: new levels every 25 ms from a timer, a frame sent whenever it changed. Ctrl-C
// (or SIGTERM) blanks the chain and ends the program.
//
// Usage: moving_level [PORT [BOARDS]]   (default: vorlixa-sim's link, 2 boards)

#include "device/LEDController.h"

#include <QCoreApplication>
#include <QTimer>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <exception>
#include <numbers>
#include <string>

using namespace vx;

namespace {

constexpr const char* kDefaultPort = "/tmp/vorlixa-sim";  // where vorlixa-sim publishes
constexpr int kDefaultBoards = 2;
constexpr int kTickMs = 25;

volatile std::sig_atomic_t gStopRequested = 0;

extern "C" void RequestStop(int /*signal*/) {
  gStopRequested = 1;
}

// A slow sweep per bar, each bar a little ahead of the one before, so the chain shows a
// travelling wave; odd bars add a faster wobble.
double LevelAt(int barIndex, double seconds) {
  const double phase = 0.6 * barIndex;
  double level = 0.5 + 0.5 * std::sin(2.0 * std::numbers::pi * 0.3 * seconds - phase);
  if (barIndex % 2 == 1) {
    level = 0.8 * level + 0.2 * (0.5 + 0.5 * std::sin(2.0 * std::numbers::pi * 1.7 * seconds));
  }
  return level;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const std::string port = argc > 1 ? argv[1] : kDefaultPort;
  int boards = kDefaultBoards;
  if (argc > 2) {
    try {
      boards = std::stoi(argv[2]);
    } catch (const std::exception&) {
      boards = -1;
    }
    if (boards < 1 || boards > kMaxBoards) {
      std::fprintf(stderr, "moving_level: BOARDS must be 1..%d\n", kMaxBoards);
      return 2;
    }
  }

  TLEDBarController link;
  link.Port = port;
  link.SetLEDBarCtrlCount(boards);
  link.MinValue = 0;
  link.MaxValue = kFullBrightness;
  for (int b = 0; b < boards; ++b) {
    // Bar 0 a filled bar with a falling peak, bar 1 a dot with a fading trail.
    TLEDBar& filled = link.LEDBarCtrls(b).Bars(0);
    filled.FallOff = true;
    TLEDBar& dot = link.LEDBarCtrls(b).Bars(1);
    dot.FillBar = false;
    dot.SetFadeAmount(40);
  }

  if (!link.Open()) {
    std::fprintf(stderr, "moving_level: cannot open %s\n", port.c_str());
    return 1;
  }
  if (!link.LastError().empty()) {
    std::fprintf(stderr, "moving_level: %s\n", link.LastError().c_str());
  }

  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);

  QTimer timer;
  timer.setTimerType(Qt::PreciseTimer);
  long long tick = 0;
  QObject::connect(&timer, &QTimer::timeout, &app, [&] {
    if (gStopRequested != 0) {
      timer.stop();
      link.Close();  // blanks the chain
      QCoreApplication::quit();
      return;
    }
    const double seconds = static_cast<double>(tick++) * kTickMs / 1000.0;
    for (int b = 0; b < boards; ++b) {
      for (int k = 0; k < 2; ++k) {
        link.LEDBarCtrls(b).Bars(k).SetLevel(LevelAt(2 * b + k, seconds));
      }
    }
    link.SendLevels();
  });
  timer.start(kTickMs);
  return QCoreApplication::exec();
}
