#include "ProgramFolder.h"
#include "common/SimProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace vx {

// The real program driving network strips: DDP into the simulator's listener.

namespace {

constexpr std::size_t kPixelBytes = 3;

// A port named name whose boards are given as (bar size, input of bar 1, input of bar 2).
struct Board {
  int BarSize;
  std::string Bar0;
  std::string Bar1;
};

std::string StripPort(const std::string& name, const std::vector<Board>& boards,
                      const std::string& colour = {}) {
  std::string xml = "<Port><Name>" + name +
                    "</Name><Interval>25</Interval><Enabled>-1</Enabled><LEDmin>0</LEDmin>"
                    "<LEDmax>254</LEDmax>";
  if (!colour.empty()) {
    xml += "<Colour>" + colour + "</Colour>";
  }
  xml += "<Controllers>";
  for (std::size_t i = 0; i < boards.size(); ++i) {
    xml += "<Controller Index=\"" + std::to_string(i) + "\"><BarSize>" +
           std::to_string(boards[i].BarSize) + "</BarSize><Bars><Bar Index=\"0\"><Input>" +
           boards[i].Bar0 + "</Input></Bar><Bar Index=\"1\"><Input>" + boards[i].Bar1 +
           "</Input></Bar></Bars></Controller>";
  }
  return xml + "</Controllers></Port>";
}

std::string Settings(const std::string& ports) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Vorlixa><AutoUpdate>0</AutoUpdate><Ports>" +
         ports + "</Ports></Vorlixa>\n";
}

bool Dark(const SimBytes& frame) {
  return std::all_of(frame.begin(), frame.end(), [](std::uint8_t byte) { return byte == 0; });
}

TEST(NetworkStrips, AKnightRiderDotRunsAlongAThousandPixelDdpStripAtTheTickRate) {
  SimProcess::Options options;
  options.Listen = "ddp";
  SimProcess strip(options);
  ASSERT_TRUE(WaitFor([&] { return strip.ListenPort() != 0; }));
  // 12 boards of 80 pixels and one of 40: 1000 pixels, three datagrams a frame.
  std::vector<Board> boards(12, Board{40, "Nothing", "Nothing"});
  boards.front().Bar0 = "KnightRider";
  boards.push_back(Board{20, "Nothing", "Nothing"});
  ProgramFolder program;
  std::ofstream(program.SettingsFile())
      << Settings(StripPort("ddp://127.0.0.1:" + std::to_string(strip.ListenPort()), boards));
  QProcess* process = program.Launch();

  const auto frames = [&] {
    std::vector<SimLogEntry> shown;
    for (SimLogEntry& entry : strip.Log()) {
      if (entry.Event.empty()) {
        shown.push_back(std::move(entry));
      }
    }
    return shown;
  };
  ASSERT_TRUE(WaitFor([&] { return frames().size() >= 120; })) << frames().size();
  const std::vector<SimLogEntry> shown = frames();
  std::set<std::size_t> places;
  for (const SimLogEntry& frame : shown) {
    // Every frame whole: its last datagram, which carries the push, ends at pixel 1000.
    ASSERT_EQ(frame.Data.size(), 1000 * kPixelBytes);
    // The dot: the brightest pixel of the first bar; nothing beyond the bar is lit.
    const auto bar = frame.Data.begin() + 40 * kPixelBytes;
    const auto brightest = std::max_element(frame.Data.begin(), bar);
    if (*brightest != 0) {
      places.insert(static_cast<std::size_t>(brightest - frame.Data.begin()) / kPixelBytes);
    }
    EXPECT_TRUE(std::all_of(frame.Data.begin() + 80 * kPixelBytes, frame.Data.end(),
                            [](std::uint8_t byte) { return byte == 0; }));
  }
  ASSERT_GE(places.size(), 20U) << "the dot stood still";
  EXPECT_LE(*places.begin(), 1U) << "the dot did not run to the bar's start";
  EXPECT_GE(*places.rbegin(), 37U) << "the dot did not run to the bar's end";

  // A frame every tick while the dot moves, by the listener's own clock.
  const double span = shown.back().Time - shown[10].Time;
  const double rate = static_cast<double>(shown.size() - 11) / span;
  RecordProperty("FramesPerSecond", std::to_string(rate));
  EXPECT_GE(rate, 37.0) << "frames a second over " << span << " s";

  EXPECT_EQ(ProgramFolder::Terminate(process), 0);
  ASSERT_TRUE(WaitFor([&] { return !frames().empty() && Dark(frames().back().Data); }));
  EXPECT_EQ(frames().back().Data.size(), 1000 * kPixelBytes);
}

}  // namespace

}  // namespace vx
