#include "ProgramFolder.h"
#include "SoundServer.h"
#include "common/SettingsXml.h"
#include "common/SimProcess.h"
#include "common/TestFiles.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <fstream>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

namespace vx {

// The real program with sound bars, on a sound server of the test's own that dies, comes
// back, or starts late, as sound servers do on desktops.

namespace {

constexpr std::size_t kBarLEDs = 40;
constexpr std::size_t kLoud = 30;  // lit LEDs of a bar that shows the noise

// A bar at level 0 still lights its foot LED.
bool Dark(const SimBytes& unit, std::size_t bar);

std::string Bar(int index, const std::string& input, int source = -1) {
  return BarXml(index, input,
                source >= 0 ? "<Prop.Source>" + std::to_string(source) + "</Prop.Source>" : "");
}

// The lit LEDs of bar 0 or 1 of a one-board unit.
std::size_t Lit(const SimBytes& unit, std::size_t bar) {
  return LitLEDs(unit, 1, 0, bar, kBarLEDs);
}

bool Dark(const SimBytes& unit, std::size_t bar) {
  return unit.size() == 1 + 2 * kBarLEDs && Lit(unit, bar) <= 1;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

SimProcess::Options OneBoard() {
  SimProcess::Options options;
  options.Boards = 1;
  return options;
}

class ProgramSoundSystem : public ::testing::Test {
 protected:
  explicit ProgramSoundSystem(SoundServerKind kind = SoundServerKind::PulseAudio,
                              bool recordingHearsSpeakers = true)
      : server_(kind, recordingHearsSpeakers) {}

  void SetUp() override {
    const QStringList missing = server_.Missing();
    if (!missing.isEmpty()) {
      GTEST_SKIP() << "needs a sound server to start (scripts/install-deps.sh); missing: "
                   << missing.join(", ").toStdString();
    }
  }

  QProcess* Launch(const std::string& bar0, const std::string& bar1) {
    std::ofstream(program_.SettingsFile()) << OneBoardSettings(sim_.LinkPath(), bar0 + bar1);
    return program_.Launch(server_.Environment());
  }

  // Waits at most limitMs for a unit, received from now on, for which holds(unit) is true.
  bool WaitForUnit(const std::function<bool(const SimBytes&)>& holds,
                   int limitMs = kWaitLimitMs) const {
    const std::size_t from = sim_.Units().size();
    return WaitFor(
        [&] {
          const std::vector<SimBytes> units = sim_.Units();
          return std::any_of(
              units.begin() + static_cast<std::ptrdiff_t>(std::min(from, units.size())),
              units.end(), holds);
        },
        limitMs);
  }

  std::string Log() const { return ReadText(program_.LogFile()); }

  SoundServer server_;
  SimProcess sim_{OneBoard()};
  ProgramFolder program_;
};

class ProgramOnSoundServerSystem : public ProgramSoundSystem,
                                   public ::testing::WithParamInterface<SoundServerKind> {
 protected:
  ProgramOnSoundServerSystem() : ProgramSoundSystem(GetParam()) {}
};

TEST_P(ProgramOnSoundServerSystem,
       AKilledServerStopsNeitherTheChainNorTheExitAndItsReturnIsFollowed) {
  ASSERT_TRUE(server_.Start()) << server_.Error();
  QProcess* program = Launch(Bar(0, "KnightRider"), Bar(1, "WaveInput"));
  ASSERT_TRUE(WaitForUnit([](const SimBytes& unit) { return Lit(unit, 1) >= kLoud; }))
      << Log() << program->readAllStandardError().toStdString() << sim_.Units().size();

  // The server dies: the sound bar goes dark while the sweep goes on.
  server_.Kill();
  ASSERT_TRUE(WaitForUnit([](const SimBytes& unit) { return Dark(unit, 1); })) << Log();
  const std::size_t dark = sim_.Units().size();
  ASSERT_TRUE(sim_.WaitForUnits(dark + 40)) << "the chain stopped";
  const std::vector<SimBytes> after = sim_.Units();
  EXPECT_GT(Lit(after.back(), 0), 0U);
  EXPECT_NE(after[dark], after.back());
  EXPECT_EQ(program->state(), QProcess::Running);

  // It comes back: so does the sound bar.
  ASSERT_TRUE(server_.Start()) << server_.Error();
  // The source is opened again every second: the sound is back within three.
  ASSERT_TRUE(WaitForUnit([](const SimBytes& unit) { return Lit(unit, 1) >= kLoud; }, 3000))
      << Log();

  // It dies again, and the program is ended while it is gone.
  server_.Kill();
  ASSERT_TRUE(WaitForUnit([](const SimBytes& unit) { return Dark(unit, 1); })) << Log();
  // One warning per loss.
  const std::string warning = "[-WARNING-] The sound source \"Recording device\"";
  ASSERT_TRUE(WaitFor([&] { return Count(Log(), warning) == 2; })) << Log();
  EXPECT_EQ(ProgramFolder::Terminate(program, SIGTERM, 2000), 0) << "no exit within 2 s";
  EXPECT_TRUE(WaitForDarkChain(sim_, 1));
  const std::vector<std::string> texts = LogTexts(program_.LogFile());
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), "========--- Log closed");
  EXPECT_EQ(Count(Log(), warning), 2U) << Log();
  // At most one message per loss.
  EXPECT_LE(Count(program->readAllStandardError().toStdString(), "Could not open wave device"), 2U);
}

// The tick reads the server's stream itself: a server that hangs must hold neither the
// chain nor the exit.
TEST_P(ProgramOnSoundServerSystem, AHungServerHoldsNeitherTheChainNorTheExit) {
  ASSERT_TRUE(server_.Start()) << server_.Error();
  QProcess* program = Launch(Bar(0, "KnightRider"), Bar(1, "WaveInput"));
  ASSERT_TRUE(WaitForUnit([](const SimBytes& unit) { return Lit(unit, 1) >= kLoud; }))
      << Log() << program->readAllStandardError().toStdString();

  // While it hangs, the sweep goes on and the sound bar goes dark.
  server_.Freeze(true);
  ASSERT_TRUE(sim_.WaitForUnits(sim_.Units().size() + 40)) << "the chain stopped";
  ASSERT_TRUE(WaitForUnit([](const SimBytes& unit) { return Dark(unit, 1); })) << Log();
  ASSERT_TRUE(sim_.WaitForUnits(sim_.Units().size() + 40)) << "the chain stopped";

  // It answers again: so does the sound bar.
  server_.Freeze(false);
  ASSERT_TRUE(WaitForUnit([](const SimBytes& unit) { return Lit(unit, 1) >= kLoud; })) << Log();

  // It hangs again, and the program is ended meanwhile.
  server_.Freeze(true);
  ASSERT_TRUE(WaitForUnit([](const SimBytes& unit) { return Dark(unit, 1); })) << Log();
  EXPECT_EQ(ProgramFolder::Terminate(program, SIGTERM, 3000), 0) << "no exit within 3 s";
  EXPECT_TRUE(WaitForDarkChain(sim_, 1));
  const std::vector<std::string> texts = LogTexts(program_.LogFile());
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), "========--- Log closed");
  server_.Freeze(false);
}

INSTANTIATE_TEST_SUITE_P(Servers, ProgramOnSoundServerSystem,
                         ::testing::Values(SoundServerKind::PulseAudio, SoundServerKind::PipeWire),
                         [](const auto& param) {
                           return param.param == SoundServerKind::PulseAudio ? "PulseAudio"
                                                                             : "PipeWire";
                         });

// The recording device is a microphone that hears nothing (the monitor of the silent sink
// "mic"), not the monitor of the default output, as on a desktop. "What the speakers play"
// shows the default output's sound all the same, on either server.
class SpeakersBesideAMicrophoneSystem : public ProgramSoundSystem,
                                        public ::testing::WithParamInterface<SoundServerKind> {
 protected:
  SpeakersBesideAMicrophoneSystem() : ProgramSoundSystem(GetParam(), false) {}

  QProcess* LaunchBothBars() {
    QProcess* program = Launch(Bar(0, "WaveInput", 1), Bar(1, "WaveInput", 0));
    EXPECT_TRUE(WaitForUnit([](const SimBytes& unit) {
      return Lit(unit, 0) >= kLoud && Dark(unit, 1);
    })) << Log()
        << program->readAllStandardError().toStdString();
    return program;
  }
};

TEST_P(SpeakersBesideAMicrophoneSystem, WhatTheSpeakersPlayIsTheDefaultOutputsSound) {
  ASSERT_TRUE(server_.Start()) << server_.Error();
  QProcess* program = LaunchBothBars();
  EXPECT_EQ(ProgramFolder::Terminate(program), 0);
  EXPECT_EQ(Count(Log(), "[-WARNING-]"), 0U) << Log();
}

// The user picks another recording device, then another output, in the desktop's sound
// settings: the bars follow within kFollowMs.
TEST_P(SpeakersBesideAMicrophoneSystem, TheBarsFollowTheDefaultRecordingDeviceAndOutput) {
  constexpr int kFollowMs = 2000;
  ASSERT_TRUE(server_.Start()) << server_.Error();
  QProcess* program = LaunchBothBars();

  ASSERT_TRUE(server_.SetDefaultSource("speakers.monitor"));
  EXPECT_TRUE(WaitForUnit(
      [](const SimBytes& unit) { return Lit(unit, 0) >= kLoud && Lit(unit, 1) >= kLoud; },
      kFollowMs))
      << "the recording device bar did not follow";

  // The recording device bar shows the speakers' monitor from now on. A server may take
  // the player along to the new default output or leave it where it plays: either way
  // "what the speakers play" is now the other sink's sound, which the speakers' monitor
  // does not carry.
  ASSERT_TRUE(server_.SetDefaultSink("mic"));
  EXPECT_TRUE(WaitForUnit(
      [](const SimBytes& unit) {
        return (Lit(unit, 0) >= kLoud && Dark(unit, 1)) || (Dark(unit, 0) && Lit(unit, 1) >= kLoud);
      },
      kFollowMs))
      << "the speakers bar did not follow the default output";
  EXPECT_EQ(ProgramFolder::Terminate(program), 0);
  EXPECT_EQ(Count(Log(), "[-WARNING-]"), 0U) << Log();
}

INSTANTIATE_TEST_SUITE_P(Servers, SpeakersBesideAMicrophoneSystem,
                         ::testing::Values(SoundServerKind::PulseAudio, SoundServerKind::PipeWire),
                         [](const auto& param) {
                           return param.param == SoundServerKind::PulseAudio ? "PulseAudio"
                                                                             : "PipeWire";
                         });

TEST_F(ProgramSoundSystem, AProgramStartedBeforeTheServerFollowsItWhenItComes) {
  QProcess* program = Launch(Bar(0, "KnightRider"), Bar(1, "WaveInput"));
  ASSERT_TRUE(WaitFor([&] { return Count(Log(), "cannot be opened") == 1; })) << Log();
  ASSERT_TRUE(sim_.WaitForUnits(sim_.Units().size() + 40)) << "the chain stopped";
  EXPECT_TRUE(Dark(sim_.Units().back(), 1));

  ASSERT_TRUE(server_.Start()) << server_.Error();
  // The source is opened again every second: the sound is back within three.
  ASSERT_TRUE(WaitForUnit([](const SimBytes& unit) { return Lit(unit, 1) >= kLoud; }, 3000))
      << Log();
  EXPECT_EQ(ProgramFolder::Terminate(program), 0);
  // Retried every second, told once.
  EXPECT_EQ(Count(Log(), "[-WARNING-]"), 1U) << Log();
  EXPECT_EQ(Count(program->readAllStandardError().toStdString(), "Could not open wave device"), 1U);
}

class SpeakersAndSilentMicrophoneSystem : public ProgramSoundSystem {
 protected:
  SpeakersAndSilentMicrophoneSystem() : ProgramSoundSystem(SoundServerKind::PulseAudio, false) {}
};

TEST_F(SpeakersAndSilentMicrophoneSystem,
       WhatTheSpeakersPlayFollowsTheToneAndTheRecordingDeviceDoesNot) {
  ASSERT_TRUE(server_.Start()) << server_.Error();
  QProcess* program = Launch(Bar(0, "WaveInput", 1), Bar(1, "WaveInput", 0));
  ASSERT_TRUE(WaitForUnit([](const SimBytes& unit) { return Lit(unit, 0) >= kLoud; }))
      << Log() << program->readAllStandardError().toStdString();
  // Frames go out only when a bar changes; a second is watched for a glimmer of the tone.
  RunEventsFor(1000);
  const std::vector<SimBytes> units = sim_.Units();
  for (std::size_t i = 0; i < units.size(); ++i) {
    if (units[i].size() == 1 + 2 * kBarLEDs) {  // frames, not a RESET of their own
      EXPECT_TRUE(Dark(units[i], 1)) << "unit " << i;
    }
  }
  EXPECT_GE(Lit(units.back(), 0), kLoud);
  EXPECT_EQ(ProgramFolder::Terminate(program), 0);
  EXPECT_EQ(Count(Log(), "[-WARNING-]"), 0U) << Log();
}

// Meters as users of level meters and spectrum displays set them up: one channel each,
// a decibel scale, and frequency bands, all on one source.
class SoundMetersSystem : public ProgramSoundSystem {
 protected:
  static constexpr int kRate = 44100;

  // A stereo tone of amplitude (of full scale) on each channel, long enough for a phase.
  QString Tone(const std::string& name, double hz, double left, double right) const {
    const std::string path = program_.SettingsFile() + "." + name + ".raw";
    std::vector<char> samples;
    constexpr int kSeconds = 20;
    for (int i = 0; i < kRate * kSeconds; ++i) {
      const double wave = std::sin(2.0 * std::numbers::pi * hz * i / kRate);
      for (const double amplitude : {left, right}) {
        samples.push_back(static_cast<char>(std::lround(128.0 + 128.0 * amplitude * wave)));
      }
    }
    std::ofstream(path, std::ios::binary)
        .write(samples.data(), static_cast<std::streamsize>(samples.size()));
    return QString::fromStdString(path);
  }

  // The lit LEDs of a bar of the three-board chain.
  static std::size_t LitOf(const SimBytes& unit, std::size_t board, std::size_t bar) {
    return LitLEDs(unit, kBoards, board, bar, kBarLEDs);
  }
  static bool Frame(const SimBytes& unit) { return unit.size() == 1 + kBoards * 2 * kBarLEDs; }

  // Waits for a frame for which holds is true, then for half a second more; true when every
  // frame from that one on also meets keeps.
  bool Settles(const std::function<bool(const SimBytes&)>& holds,
               const std::function<bool(const SimBytes&)>& keeps) {
    std::size_t at = 0;
    const std::size_t from = threeBoards_.Units().size();
    if (!WaitFor([&] {
          const std::vector<SimBytes> units = threeBoards_.Units();
          for (std::size_t i = from; i < units.size(); ++i) {
            if (Frame(units[i]) && holds(units[i])) {
              at = i;
              return true;
            }
          }
          return false;
        })) {
      return false;
    }
    RunEventsFor(500);
    const std::vector<SimBytes> units = threeBoards_.Units();
    for (std::size_t i = at; i < units.size(); ++i) {
      if (Frame(units[i]) && !keeps(units[i])) {
        ADD_FAILURE() << "frame " << i << " of " << units.size() << ": " << HexText(units[i]);
        return false;
      }
    }
    return true;
  }

  static constexpr std::size_t kBoards = 3;
  SimProcess threeBoards_{[] {
    SimProcess::Options options;
    options.Boards = kBoards;
    return options;
  }()};
};

std::string Meter(int index, const std::string& props) {
  return BarXml(index, "WaveInput", "<Prop.Source>1</Prop.Source>" + props);
}

TEST_F(SoundMetersSystem, ChannelsDecibelsAndBandsShowWhatIsPlayed) {
  ASSERT_TRUE(server_.Play(Tone("right", 1000, 0.0, 0.5)));
  ASSERT_TRUE(server_.Start()) << server_.Error();
  std::ofstream(program_.SettingsFile()) << PortsSettingsXml(
      PortXml(threeBoards_.LinkPath(),
              BoardXml(0, Meter(0, "<Prop.Channel>1</Prop.Channel>") +
                              Meter(1, "<Prop.Channel>2</Prop.Channel>")) +
                  BoardXml(1, Meter(0, "<Prop.Scale>1</Prop.Scale><Prop.Range>48</Prop.Range>") +
                                  Meter(1, "<Prop.Band>1</Prop.Band>")) +
                  BoardXml(2, Meter(0, "<Prop.Band>4</Prop.Band>") + Bar(1, "Nothing"))));
  QProcess* program = program_.Launch(server_.Environment());
  const auto lit = [](std::size_t board, std::size_t bar) {
    return [=](const SimBytes& unit) { return LitOf(unit, board, bar); };
  };
  const auto left = lit(0, 0);
  const auto right = lit(0, 1);
  const auto decibel = lit(1, 0);
  const auto bass = lit(1, 1);
  const auto treble = lit(2, 0);

  // A tone on the right only: "Left" stays dark, "Right" and "Both" light.
  EXPECT_TRUE(Settles(
      [&](const SimBytes& u) { return left(u) <= 1 && right(u) >= kLoud && decibel(u) >= kLoud; },
      [&](const SimBytes& u) { return left(u) <= 1; }))
      << Log() << program->readAllStandardError().toStdString();

  // -30 dBFS: a swing of 1/16 is -24 dB, half of a range of 48 dB: 20 of 40 LEDs.
  ASSERT_TRUE(server_.Play(Tone("quiet", 1000, 0.0316, 0.0316)));
  const auto half = [&](const SimBytes& u) { return decibel(u) >= 19 && decibel(u) <= 21; };
  EXPECT_TRUE(Settles(half, half)) << Log();

  // 100 Hz is bass, not treble; 8 kHz the other way round.
  ASSERT_TRUE(server_.Play(Tone("low", 100, 0.5, 0.5)));
  EXPECT_TRUE(Settles([&](const SimBytes& u) { return bass(u) >= 15 && treble(u) <= 1; },
                      [&](const SimBytes& u) { return treble(u) <= 1; }))
      << Log();
  ASSERT_TRUE(server_.Play(Tone("high", 8000, 0.5, 0.5)));
  EXPECT_TRUE(Settles([&](const SimBytes& u) { return treble(u) >= 15 && bass(u) <= 1; },
                      [&](const SimBytes& u) { return bass(u) <= 1; }))
      << Log();

  EXPECT_EQ(ProgramFolder::Terminate(program), 0);
  EXPECT_EQ(Count(Log(), "[-WARNING-]"), 0U) << Log();
}

}  // namespace

}  // namespace vx
