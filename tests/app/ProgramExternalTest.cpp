#include "ProgramFolder.h"
#include "common/SettingsXml.h"
#include "common/SimProcess.h"
#include "common/TestFiles.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vx {

// The real program with "External" bars on a session bus of the test's own, set by the
// real vorlixa-level, on a simulated chain of one board.

namespace {

constexpr std::size_t kBarLEDs = 40;
const char* const kServiceName = "example.tremanic.Vorlixa";

// The lit LEDs of bar 0 or 1 of a one-board unit.
std::size_t Lit(const SimBytes& unit, std::size_t bar) {
  return LitLEDs(unit, 1, 0, bar, kBarLEDs);
}

// A bar at level 0 still lights its foot LED.
bool Dark(const SimBytes& unit, std::size_t bar) {
  return unit.size() == 1 + 2 * kBarLEDs && Lit(unit, bar) <= 1;
}

// The lines that hold part.
std::size_t Count(const std::vector<std::string>& texts, const std::string& part) {
  return static_cast<std::size_t>(
      std::count_if(texts.begin(), texts.end(),
                    [&](const std::string& text) { return text.find(part) != std::string::npos; }));
}

struct CommandResult {
  int Exit = -1;
  std::string Out;
  std::string Err;
};

class ProgramExternalSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QStandardPaths::findExecutable("dbus-daemon").isEmpty()) {
      GTEST_SKIP() << "needs dbus-daemon (scripts/install-deps.sh)";
    }
    ASSERT_TRUE(busDir_.isValid());
    address_ = "unix:path=" + QDir(busDir_.path()).filePath("bus");
    bus_.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address",
                               "--address=" + address_});
    ASSERT_TRUE(bus_.waitForStarted(kWaitLimitMs) && bus_.waitForReadyRead(kWaitLimitMs))
        << bus_.readAllStandardError().toStdString();
  }

  void TearDown() override {
    QDBusConnection::disconnectFromBus(kTestConnection);
    bus_.kill();
    bus_.waitForFinished(kWaitLimitMs);
  }

  // The environment of the program and the command: the test's bus as the session bus.
  QProcessEnvironment Environment(const QString& address = {}) const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", address.isEmpty() ? address_ : address);
    return environment;
  }

  // Bar 0 listens to "level1" and holds a level for 1 s; bar 1 to "fan", and keeps it.
  QProcess* Launch(const QString& address = {}) {
    std::ofstream(program_.SettingsFile()) << OneBoardSettings(
        sim_.LinkPath(),
        BarXml(0, "External", "<Prop.Channel>level1</Prop.Channel><Prop.Hold>1</Prop.Hold>") +
            BarXml(1, "External", "<Prop.Channel>fan</Prop.Channel><Prop.Hold>0</Prop.Hold>"));
    return program_.Launch(Environment(address));
  }

  CommandResult Level(const QStringList& arguments, const QString& address = {}) const {
    QProcess command;
    command.setProcessEnvironment(Environment(address));
    command.start(VORLIXA_LEVEL_PATH, arguments);
    CommandResult result;
    if (command.waitForFinished(kWaitLimitMs) && command.exitStatus() == QProcess::NormalExit) {
      result.Exit = command.exitCode();
    }
    result.Out = command.readAllStandardOutput().toStdString();
    result.Err = command.readAllStandardError().toStdString();
    return result;
  }

  // Waits for a unit at or after index from for which holds(unit) is true; its index, or
  // none when it did not come.
  std::optional<std::size_t> WaitForUnit(std::size_t from,
                                         const std::function<bool(const SimBytes&)>& holds) const {
    std::optional<std::size_t> found;
    WaitFor([&] {
      const std::vector<SimBytes> units = sim_.Units();
      for (std::size_t i = from; i < units.size() && !found; ++i) {
        if (holds(units[i])) {
          found = i;
        }
      }
      return found.has_value();
    });
    return found;
  }

  std::vector<std::string> Log() const { return LogTexts(program_.LogFile()); }

  static constexpr const char* kTestConnection = "external-test";
  QTemporaryDir busDir_;
  QString address_;
  QProcess bus_;
  SimProcess sim_{[] {
    SimProcess::Options options;
    options.Boards = 1;
    return options;
  }()};
  ProgramFolder program_;
};

TEST_F(ProgramExternalSystem, ALevelLightsItsBarsUntilTheirHoldRunsOutAndBadLevelsAreRefused) {
  QProcess* program = Launch();
  ASSERT_TRUE(
      program_.WaitForLogText("External levels: on, as example.tremanic.Vorlixa on the "
                              "session bus"))
      << ReadText(program_.LogFile()) << program->readAllStandardError().toStdString();

  const CommandResult channels = Level({"--channels"});
  EXPECT_EQ(channels.Exit, 0) << channels.Err;
  EXPECT_EQ(channels.Out, "fan\nlevel1\n");

  // 0.5 of 40 LEDs: the top LED is number 20 (of 0..39 rounded half to even), 20 lit.
  const std::size_t before = sim_.Units().size();
  const CommandResult fan = Level({"fan", "0.25"});
  EXPECT_EQ(fan.Exit, 0) << fan.Err;
  const CommandResult half = Level({"level1", "0.5"});
  EXPECT_EQ(half.Exit, 0) << half.Err;
  EXPECT_EQ(half.Err, "");
  const std::optional<std::size_t> lit = WaitForUnit(
      before, [](const SimBytes& unit) { return Lit(unit, 0) == 20 && Lit(unit, 1) == 10; });
  ASSERT_TRUE(lit) << HexText(sim_.Units().back());
  // Nothing came for bar 0's second: it goes dark; bar 1 keeps its level.
  const std::optional<std::size_t> dark = WaitForUnit(
      *lit + 1, [](const SimBytes& unit) { return Dark(unit, 0) && Lit(unit, 1) == 10; });
  ASSERT_TRUE(dark) << HexText(sim_.Units().back());

  const std::vector<std::pair<std::string, std::string>> refused{
      {"2", "vorlixa-level: The level 2 of channel \"fan\" lies outside 0..1\n"},
      {"-0.5", "vorlixa-level: The level -0.5 of channel \"fan\" lies outside 0..1\n"},
      {"nan", "vorlixa-level: The level of channel \"fan\" is not a number\n"},
      {"x", "vorlixa-level: The level \"x\" of channel \"fan\" is not a number\n"}};
  for (const auto& [level, error] : refused) {
    const CommandResult result = Level({"fan", QString::fromStdString(level)});
    EXPECT_EQ(result.Exit, 1) << level;
    EXPECT_EQ(result.Err, error) << level;
  }
  const CommandResult nameless = Level({"", "0.5"});
  EXPECT_EQ(nameless.Exit, 1);
  EXPECT_EQ(nameless.Err, "vorlixa-level: A channel needs a name\n");
  // The refused levels lost nothing: bar 1 still shows its own when bar 0 lights again.
  ASSERT_EQ(Level({"level1", "0.5"}).Exit, 0);
  EXPECT_TRUE(WaitForUnit(*dark + 1, [](const SimBytes& unit) {
    return Lit(unit, 0) == 20 && Lit(unit, 1) == 10;
  })) << HexText(sim_.Units().back());

  EXPECT_EQ(ProgramFolder::Terminate(program), 0);
  EXPECT_TRUE(WaitForDarkChain(sim_, 1));
  EXPECT_EQ(Count(Log(), "[-WARNING-]"), 0U) << ReadText(program_.LogFile());
}

// A script gone wrong sends a burst of made-up names and one of megabytes. The long one is
// refused by its length; the burst costs the oldest unheard names, and a channel that a bar
// listens to goes on working.
TEST_F(ProgramExternalSystem, ABurstOfJunkNamesNeitherStopsNewChannelsNorTheBars) {
  QProcess* program = Launch();
  ASSERT_TRUE(
      program_.WaitForLogText("External levels: on, as example.tremanic.Vorlixa on the "
                              "session bus"))
      << ReadText(program_.LogFile());
  QDBusConnection bus = QDBusConnection::connectToBus(address_, kTestConnection);
  ASSERT_TRUE(bus.isConnected());
  const auto setLevel = [&](const QString& channel, double level) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kServiceName, "/example/tremanic/Vorlixa", "example.tremanic.Vorlixa.Levels", "SetLevel");
    call << channel << level;
    const QDBusMessage reply = bus.call(call, QDBus::Block, kWaitLimitMs);
    return reply.type() == QDBusMessage::ErrorMessage ? reply.errorMessage().toStdString()
                                                      : std::string();
  };
  for (int i = 0; i < 600; ++i) {
    ASSERT_EQ(setLevel(QString("junk%1").arg(i), 0.5), "") << i;
  }
  EXPECT_EQ(setLevel(QString(8 * 1024 * 1024, QChar(0x00E9)), 0.5),
            "A channel name has at most 255 bytes, not 16777216");

  const std::size_t before = sim_.Units().size();
  ASSERT_EQ(setLevel("fan", 0.25), "");
  EXPECT_TRUE(WaitForUnit(before, [](const SimBytes& unit) { return Lit(unit, 1) == 10; }))
      << HexText(sim_.Units().back());
  EXPECT_EQ(setLevel("a new one", 0.5), "");
  EXPECT_EQ(ProgramFolder::Terminate(program), 0);
}

TEST_F(ProgramExternalSystem, WithoutTheProgramTheCommandSaysSo) {
  const CommandResult result = Level({"level1", "0.5"});
  EXPECT_EQ(result.Exit, 3);
  EXPECT_EQ(result.Err, "vorlixa-level: Vorlixa is not running\n");

  const CommandResult noBus =
      Level({"level1", "0.5"}, "unix:path=" + QDir(busDir_.path()).filePath("none"));
  EXPECT_EQ(noBus.Exit, 3);
  EXPECT_TRUE(
      noBus.Err.starts_with("vorlixa-level: Vorlixa is not running: there is no session "
                            "bus ("))
      << noBus.Err;
}

// Neither a missing bus nor a name that another program holds stops the bars: each costs
// one line in the log, and the program ends as usual.
TEST_F(ProgramExternalSystem, AMissingBusOrATakenNameIsOneLogLine) {
  QDBusConnection other = QDBusConnection::connectToBus(address_, kTestConnection);
  ASSERT_TRUE(other.isConnected());
  ASSERT_TRUE(other.registerService(kServiceName));

  QProcess* program = Launch();
  const std::string taken =
      "[-WARNING-] External levels: off, another program owns the name "
      "example.tremanic.Vorlixa on the session bus";
  ASSERT_TRUE(program_.WaitForLogText(taken)) << ReadText(program_.LogFile());
  ASSERT_TRUE(sim_.WaitForUnits(1));
  EXPECT_EQ(ProgramFolder::Terminate(program), 0);
  EXPECT_EQ(Count(Log(), "External levels"), 1U) << ReadText(program_.LogFile());
  EXPECT_TRUE(WaitForDarkChain(sim_, 1));

  std::filesystem::remove(program_.LogFile());
  program = Launch("unix:path=" + QDir(busDir_.path()).filePath("none"));
  ASSERT_TRUE(program_.WaitForLogText("Run application")) << ReadText(program_.LogFile());
  EXPECT_EQ(ProgramFolder::Terminate(program), 0);
  const std::vector<std::string> texts = Log();
  EXPECT_EQ(Count(texts, "External levels: off, no session bus: "), 1U)
      << ReadText(program_.LogFile());
  EXPECT_EQ(Count(texts, "External levels"), 1U) << ReadText(program_.LogFile());
}

}  // namespace

}  // namespace vx
