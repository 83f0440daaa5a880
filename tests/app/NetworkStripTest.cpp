#include "ProgramFolder.h"
#include "common/OlaReceiver.h"
#include "common/SettingsXml.h"
#include "common/SimProcess.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vx {

// The real program driving network strips: DDP into the simulator's listener, E1.31 and
// Art-Net into a real receiver (OLA).

namespace {

constexpr std::size_t kPixelBytes = 3;

// A port named name whose boards are given as (bar size, input of bar 1, input of bar 2).
struct Board {
  int BarSize;
  std::string Bar0;
  std::string Bar1;
};

// A bar's input: a name, or an "External" channel written "External:CHANNEL" (held).
std::string Input(const std::string& input) {
  if (input.starts_with("External:")) {
    return "<Input>External</Input><Prop.Channel>" + input.substr(9) +
           "</Prop.Channel><Prop.Hold>0</Prop.Hold>";
  }
  return "<Input>" + input + "</Input>";
}

std::string StripPort(const std::string& name, const std::vector<Board>& boards,
                      const std::string& colour = {}) {
  std::string xml;
  for (std::size_t i = 0; i < boards.size(); ++i) {
    xml += BoardXml(static_cast<int>(i),
                    "<Bar Index=\"0\">" + Input(boards[i].Bar0) + "</Bar><Bar Index=\"1\">" +
                        Input(boards[i].Bar1) + "</Bar>",
                    boards[i].BarSize);
  }
  std::string port = PortXml(name, xml);
  if (!colour.empty()) {
    // <Colour> after the LED range and before the boards.
    port.insert(port.find("<Controllers>"), "<Colour>" + colour + "</Colour>");
  }
  return port;
}

bool Dark(const SimBytes& frame) {
  return std::all_of(frame.begin(), frame.end(), [](std::uint8_t byte) { return byte == 0; });
}

TEST(NetworkStripsSystem, AKnightRiderDotRunsAlongAThousandPixelDdpStripAtTheTickRate) {
  SimProcess::Options options;
  options.Listen = "ddp";
  SimProcess strip(options);
  ASSERT_TRUE(WaitFor([&] { return strip.ListenPort() != 0; }));
  // 12 boards of 80 pixels and one of 40: 1000 pixels, three datagrams a frame.
  std::vector<Board> boards(12, Board{40, "Nothing", "Nothing"});
  boards.front().Bar0 = "KnightRider";
  boards.push_back(Board{20, "Nothing", "Nothing"});
  ProgramFolder program;
  std::ofstream(program.SettingsFile()) << PortsSettingsXml(
      StripPort("ddp://127.0.0.1:" + std::to_string(strip.ListenPort()), boards));
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

// What a bar of barSize LEDs at level shows: its lit LEDs (the top one and all below it)
// in colour(place) or, when fixed is given, in that colour; full but for the top LED, which
// carries the bar's fading trail (40 % of full brightness at the default "Fade_perc").
void ExpectBar(QByteArray& pixels, int firstPixel, int barSize, double level,
               const std::vector<std::uint8_t>& fixed) {
  constexpr int kTrail = 254 - 152;
  // Half to even of (size - 1) x level, as the bar draws it.
  const int lit = std::max(1, static_cast<int>(std::nearbyint((barSize - 1) * level)));
  for (int place = 0; place < lit; ++place) {
    std::vector<std::uint8_t> rgb = fixed;
    if (rgb.empty()) {
      // The meter: green, yellow from 60 % of the bar, red from 85 %.
      rgb = place * 100 >= 85 * barSize   ? std::vector<std::uint8_t>{255, 0, 0}
            : place * 100 >= 60 * barSize ? std::vector<std::uint8_t>{255, 255, 0}
                                          : std::vector<std::uint8_t>{0, 255, 0};
    }
    for (int c = 0; c < 3; ++c) {
      const int full = rgb[static_cast<std::size_t>(c)];
      const int value = place + 1 < lit ? full : (full * kTrail + 127) / 254;
      pixels[3 * (firstPixel + place) + c] = static_cast<char>(value);
    }
  }
}

// The 200 pixels of a strip whose first board shows "half" (0.5) and "full" (1.0) and
// whose third board (bars of 20) shows "full" in its second bar.
QByteArray ExpectedStrip(const std::vector<std::uint8_t>& fixed) {
  QByteArray pixels(200 * 3, '\0');
  ExpectBar(pixels, 0, 40, 0.5, fixed);
  ExpectBar(pixels, 40, 40, 1.0, fixed);
  ExpectBar(pixels, 180, 20, 1.0, fixed);
  return pixels;
}

TEST(NetworkStripsSystem,
     LevelsReachARealReceiverOverE131AndArtNetAcrossTwoUniversesAndGoDarkAtExit) {
  OlaReceiver receiver({1, 2, 3, 4}, {0, 1, 2, 3});
  QString reason;
  ASSERT_TRUE(receiver.Start(reason)) << reason.toStdString();

  // "External" levels come over a session bus of the test's own.
  QTemporaryDir busDir;
  ASSERT_TRUE(busDir.isValid());
  const QString address = "unix:path=" + QDir(busDir.path()).filePath("bus");
  QProcess bus;
  bus.start("dbus-daemon",
            {"--session", "--nofork", "--nopidfile", "--print-address", "--address=" + address});
  ASSERT_TRUE(bus.waitForStarted(kWaitLimitMs) && bus.waitForReadyRead(kWaitLimitMs))
      << bus.readAllStandardError().toStdString();
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("DBUS_SESSION_BUS_ADDRESS", address);

  // 80 + 80 + 40 pixels: universe 1 (170 pixels) and 30 pixels of universe 2.
  const std::vector<Board> boards = {Board{40, "External:half", "External:full"},
                                     Board{40, "Nothing", "Nothing"},
                                     Board{20, "Nothing", "External:full"}};
  ProgramFolder program;
  std::ofstream(program.SettingsFile())
      << PortsSettingsXml(StripPort("e131://127.0.0.1/1", boards) +
                          StripPort("e131://127.0.0.1:5568/3", boards, "#FF8000") +
                          StripPort("artnet://127.0.0.1", boards) +
                          StripPort("artnet://127.0.0.1/2", boards, "#ff8000"));
  QProcess* process = program.Launch(environment);
  ASSERT_TRUE(program.WaitForLogText(
      "External levels: on, as example.tremanic.Vorlixa on the session bus"));
  for (const auto& [channel, level] : {std::pair{"half", "0.5"}, std::pair{"full", "1"}}) {
    QProcess command;
    command.setProcessEnvironment(environment);
    command.start(VORLIXA_LEVEL_PATH, {channel, level});
    ASSERT_TRUE(command.waitForFinished(kWaitLimitMs) && command.exitCode() == 0)
        << command.readAllStandardError().toStdString();
  }

  const QByteArray meter = ExpectedStrip({});
  const QByteArray orange = ExpectedStrip({255, 128, 0});
  struct Universe {
    int Number;
    QByteArray Slots;
  };
  // Universe 1 carries pixels 0..169 (510 slots); the next one the other 30 (90 slots).
  const std::vector<Universe> universes = {
      {1, meter.first(510)},
      {2, meter.sliced(510)},
      {3, orange.first(510)},
      {4, orange.sliced(510)},
      {OlaReceiver::ArtNetUniverse(0), meter.first(510)},
      {OlaReceiver::ArtNetUniverse(1), meter.sliced(510)},
      {OlaReceiver::ArtNetUniverse(2), orange.first(510)},
      {OlaReceiver::ArtNetUniverse(3), orange.sliced(510)},
  };
  for (const Universe& universe : universes) {
    EXPECT_TRUE(receiver.WaitForFrame(
        universe.Number, [&](const QByteArray& pixels) { return pixels == universe.Slots; }))
        << "universe " << universe.Number << " shows "
        << receiver.Latest(universe.Number).toHex(' ').toStdString() << "\n"
        << receiver.Messages().toStdString();
  }

  EXPECT_EQ(ProgramFolder::Terminate(process), 0);
  for (const Universe& universe : universes) {
    EXPECT_TRUE(receiver.WaitForFrame(universe.Number,
                                      [&](const QByteArray& pixels) {
                                        return pixels.size() == universe.Slots.size() &&
                                               std::all_of(pixels.begin(), pixels.end(),
                                                           [](char slot) { return slot == 0; });
                                      }))
        << "universe " << universe.Number << " stays "
        << receiver.Latest(universe.Number).toHex(' ').toStdString();
  }
  bus.kill();
  bus.waitForFinished(kWaitLimitMs);
}

}  // namespace

}  // namespace vx
