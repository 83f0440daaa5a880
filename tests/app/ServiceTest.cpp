#include "ProgramFolder.h"
#include "common/SettingsXml.h"
#include "common/SimProcess.h"
#include "common/TestFiles.h"
#include "common/WaveTestDevice.h"
#include "common/XvfbDesktop.h"

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstddef>
#include <fstream>
#include <string>
#include <vector>

namespace vx {

// vorlixad, the service, as a process on a simulated chain: a copy of it beside its
// settings file, as the desktop program's tests run the program.

namespace {

constexpr int kExitConfig = 78;

std::string SecondBarSettings(const std::string& device) {
  return OneBoardSettings(device, TwoBarsXml("Nothing", "KnightRider"));
}

SimProcess::Options OneBoard() {
  SimProcess::Options options;
  options.Boards = 1;
  return options;
}

// The first count units that a program sent to a fresh chain with the KnightRider settings.
std::vector<SimBytes> FirstUnits(const std::string& programFile, std::size_t count) {
  SimProcess sim(OneBoard());
  ProgramFolder folder(programFile);
  std::ofstream(folder.SettingsFile()) << KnightRiderSettings(sim.LinkPath());
  QProcess* program = folder.Launch();
  if (!sim.WaitForUnits(count)) {
    return {};
  }
  ProgramFolder::Terminate(program);
  std::vector<SimBytes> units = sim.Units();
  units.resize(count);
  return units;
}

// The shared libraries that the process has mapped.
std::string MappedFiles(const QProcess* process) {
  return ReadText("/proc/" + std::to_string(process->processId()) + "/maps");
}

struct RunResult {
  int ExitCode = -1;
  std::string Err;
};

RunResult RunService(const QStringList& arguments) {
  QProcess process;
  process.start(QStringLiteral(VORLIXA_SERVICE_PATH), arguments);
  if (!process.waitForFinished(kWaitLimitMs) || process.exitStatus() != QProcess::NormalExit) {
    process.kill();
    process.waitForFinished();
    return {};
  }
  return {process.exitCode(), process.readAllStandardError().toStdString()};
}

}  // namespace

TEST(ServiceSystem, SendsTheDesktopProgramsFramesForTheSameSettings) {
  constexpr std::size_t kUnits = 30;
  const std::vector<SimBytes> program = FirstUnits(VORLIXA_APP_PATH, kUnits);
  const std::vector<SimBytes> service = FirstUnits(VORLIXA_SERVICE_PATH, kUnits);
  ASSERT_EQ(program.size(), kUnits);
  ASSERT_EQ(service.size(), kUnits);
  for (std::size_t i = 0; i < kUnits; ++i) {
    EXPECT_EQ(HexText(service[i]), HexText(program[i])) << "unit " << i;
  }
  // The scanning dot moved: the comparison saw more than one picture.
  EXPECT_NE(program[kUnits - 1], program[kUnits - 2]);
}

TEST(ServiceSystem, ReloadsOnSighupAndEndsOnSigtermWithTheChainDarkWithoutGuiLibraries) {
  SimProcess sim(OneBoard());
  ProgramFolder folder(VORLIXA_SERVICE_PATH);
  std::ofstream(folder.SettingsFile()) << KnightRiderSettings(sim.LinkPath());
  QProcess* service = folder.Launch();
  ASSERT_TRUE(folder.WaitForLogText("Run service")) << ReadText(folder.LogFile());
  ASSERT_TRUE(WaitFor([&] {
    const std::vector<SimBytes> units = sim.Units();
    return !units.empty() && LitLEDs(units.back(), 1, 0, 0) > 0;
  }));

  // No window and no tray: Qt's GUI libraries stay out of the process.
  const std::string maps = MappedFiles(service);
  EXPECT_EQ(maps.find("libQt6Gui"), std::string::npos);
  EXPECT_EQ(maps.find("libQt6Widgets"), std::string::npos);
  EXPECT_NE(maps.find("libQt6Core"), std::string::npos) << "maps not read";

  // The file changed: after SIGHUP the dot runs in the second bar only.
  std::ofstream(folder.SettingsFile()) << SecondBarSettings(sim.LinkPath());
  ::kill(static_cast<pid_t>(service->processId()), SIGHUP);
  ASSERT_TRUE(WaitFor([&] {
    const std::vector<SimBytes> units = sim.Units();
    return !units.empty() && LitLEDs(units.back(), 1, 0, 1) > 0 &&
           LitLEDs(units.back(), 1, 0, 0) == 0;
  })) << ReadText(folder.LogFile());
  EXPECT_TRUE(Contains(LogTexts(folder.LogFile()), "Reload settings"));

  EXPECT_EQ(ProgramFolder::Terminate(service), 0);
  EXPECT_TRUE(WaitForDarkChain(sim, 1));
  const std::vector<std::string> texts = LogTexts(folder.LogFile());
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), "========--- Log closed");
  // The journal gets the same lines on standard error.
  const std::string err = service->readAllStandardError().toStdString();
  EXPECT_NE(err.find("Reload settings\n"), std::string::npos) << err;
  EXPECT_NE(err.find("Run service\n"), std::string::npos) << err;
}

TEST(ServiceSystem, AndTheDesktopProgramNeverDriveTheSamePortsAtOnce) {
  SimProcess sim(OneBoard());
  ProgramFolder folder(VORLIXA_SERVICE_PATH);
  std::ofstream(folder.SettingsFile()) << KnightRiderSettings(sim.LinkPath());
  QProcess* service = folder.Launch();
  ASSERT_TRUE(folder.WaitForLogText("Run service")) << ReadText(folder.LogFile());

  // The desktop program started beside it opens neither its port nor its log; the
  // service's frames go on, and SIGTERM ends the desktop program as usual.
  ProgramFolder desktop;
  std::ofstream(desktop.SettingsFile()) << KnightRiderSettings(sim.LinkPath());
  QProcess* beside = desktop.Launch();
  EXPECT_TRUE(folder.WaitForLogText("Vorlixa started: the service keeps the ports"));
  const std::size_t before = sim.Units().size();
  EXPECT_TRUE(sim.WaitForUnits(before + 5));
  EXPECT_EQ(ProgramFolder::Terminate(beside), 0);
  EXPECT_FALSE(Contains(LogTexts(desktop.LogFile()), "Run application"));
  EXPECT_EQ(service->state(), QProcess::Running);
  EXPECT_EQ(ProgramFolder::Terminate(service), 0);

  // The other way round: a service started beside the running desktop program gives way.
  QProcess* program = desktop.Launch();
  ASSERT_TRUE(desktop.WaitForLogText("Run application")) << ReadText(desktop.LogFile());
  const RunResult second =
      RunService({QStringLiteral("--settings"), QString::fromStdString(folder.SettingsFile())});
  EXPECT_EQ(second.ExitCode, 75);
  EXPECT_EQ(second.Err, "vorlixad: Vorlixa already runs for this user and drives the ports.\n");
  EXPECT_EQ(ProgramFolder::Terminate(program), 0);
}

// Started while the service runs, the desktop program is the settings window of the
// service's file: OK writes the file and the service loads it, its frames going on
// meanwhile.
TEST(ServiceSystem, TheDesktopProgramBesideItEditsTheServicesFileAndOkReloadsIt) {
  XvfbDesktop desktop;
  if (!desktop.MissingTools().isEmpty()) {
    GTEST_SKIP() << "needs Xvfb, xdotool and xwininfo";
  }
  QString error;
  ASSERT_TRUE(desktop.StartDisplay(error)) << error.toStdString();
  SimProcess sim(OneBoard());
  ProgramFolder folder(VORLIXA_SERVICE_PATH);
  std::ofstream(folder.SettingsFile()) << KnightRiderSettings(sim.LinkPath());
  // The service and the window meet in the user's runtime folder, which the display's
  // environment names.
  const QProcessEnvironment environment = desktop.NewProcess().processEnvironment();
  QProcess* service = folder.Launch(environment);
  ASSERT_TRUE(folder.WaitForLogText("Run service")) << ReadText(folder.LogFile());

  // The file changes without a SIGHUP: the service runs on the first bar, and the window
  // shows (and saves) what the file holds now.
  const std::string changed = SecondBarSettings(sim.LinkPath());
  std::ofstream(folder.SettingsFile()) << changed;
  ProgramFolder window;
  QProcess& program = desktop.NewProcess();
  program.start(QString::fromStdString(window.Program()), {});
  ASSERT_TRUE(program.waitForStarted(kWaitLimitMs));
  QString id;
  ASSERT_TRUE(WaitFor([&] {
    id = desktop.Xdotool({"search", "--onlyvisible", "--name", "Vorlixa"}).section('\n', 0, 0);
    return !id.isEmpty();
  })) << "no settings window";
  const std::size_t before = sim.Units().size();
  EXPECT_TRUE(sim.WaitForUnits(before + 10));
  EXPECT_GT(LitLEDs(sim.Units().back(), 1, 0, 0), 0U)
      << "the first bar stopped while the window was open";

  desktop.Xdotool({"windowfocus", "--sync", id});
  // Without a window manager no widget has the focus until the keyboard gives it one.
  desktop.Xdotool({"key", "Tab", "Return"});
  ASSERT_TRUE(WaitFor([&] {
    const std::vector<SimBytes> units = sim.Units();
    return !units.empty() && LitLEDs(units.back(), 1, 0, 1) > 0 &&
           LitLEDs(units.back(), 1, 0, 0) == 0;
  })) << ReadText(folder.LogFile());
  // OK wrote the file (in the program's own layout) and ended the window's program.
  EXPECT_NE(ReadText(folder.SettingsFile()), changed);
  EXPECT_TRUE(program.state() == QProcess::NotRunning || program.waitForFinished(kWaitLimitMs));
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0);
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(window.LogFile())));
  EXPECT_EQ(service->state(), QProcess::Running);
  EXPECT_EQ(ProgramFolder::Terminate(service), 0);
  EXPECT_TRUE(WaitForDarkChain(sim, 1));
}

// Without a window, what the loop reports goes to standard error, where the journal takes
// it: a sound device that cannot be opened is written there once, and the chain goes on.
TEST(ServiceSystem, ASoundDeviceThatCannotBeOpenedIsWrittenToStandardErrorOnce) {
  const WaveTestDevice device(WaveTestSetup::NoDefault);
  SimProcess sim(OneBoard());
  ProgramFolder folder(VORLIXA_SERVICE_PATH);
  std::ofstream(folder.SettingsFile())
      << OneBoardSettings(sim.LinkPath(),
                          "<Bar Index=\"0\"><Input>KnightRider</Input></Bar><Bar Index=\"1\">"
                          "<Input>WaveInput</Input></Bar>");
  QProcess* service = folder.Launch();
  const std::string message = "Could not open wave device: 2\n";
  std::string err;
  const auto messages = [&] {
    err += service->readAllStandardError().toStdString();
    std::size_t count = 0;
    for (std::size_t at = err.find(message); at != std::string::npos;
         at = err.find(message, at + 1)) {
      ++count;
    }
    return count;
  };
  ASSERT_TRUE(WaitFor([&] { return messages() > 0; })) << err;
  // The device is opened again every second: some seconds' frames later, still one.
  ASSERT_TRUE(sim.WaitForUnits(sim.Units().size() + 120));
  EXPECT_EQ(ProgramFolder::Terminate(service), 0);
  EXPECT_EQ(messages(), 1U) << err;
}

TEST(ServiceSystem, AMissingOrBrokenFileIsAMessageAndAnExitCode) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString missing = dir.filePath(QStringLiteral("none.xml"));
  const RunResult none = RunService({QStringLiteral("--settings"), missing});
  EXPECT_EQ(none.ExitCode, kExitConfig);
  EXPECT_EQ(none.Err,
            "vorlixad: The settings file " + missing.toStdString() + " does not exist.\n");

  const QString broken = dir.filePath(QStringLiteral("broken.xml"));
  std::ofstream(broken.toStdString()) << "<Vorlixa><Ports>";
  const RunResult bad = RunService({QStringLiteral("--settings"), broken});
  EXPECT_EQ(bad.ExitCode, kExitConfig);
  EXPECT_TRUE(bad.Err.starts_with("vorlixad: The settings file " + broken.toStdString() +
                                  " cannot be read: "))
      << bad.Err;

  const RunResult usage = RunService({QStringLiteral("--no-such-option")});
  EXPECT_EQ(usage.ExitCode, 64);
  EXPECT_NE(usage.Err.find("no-such-option"), std::string::npos) << usage.Err;
}

TEST(ServiceSystem, TheUserUnitPassesSystemdsCheck) {
  QProcess probe;
  probe.start(QStringLiteral("systemd-analyze"), {QStringLiteral("--version")});
  if (!probe.waitForFinished(kWaitLimitMs) || probe.exitCode() != 0) {
    GTEST_SKIP() << "systemd-analyze does not run here";
  }
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  // The installed unit names /usr/bin/vorlixad, which the check wants to exist: the copy
  // checked here starts the service of this build.
  std::string unit = ReadText(VORLIXA_SERVICE_UNIT);
  const std::size_t exec = unit.find("ExecStart=");
  ASSERT_NE(exec, std::string::npos) << unit;
  unit.replace(exec, unit.find('\n', exec) - exec, "ExecStart=" VORLIXA_SERVICE_PATH);
  const auto verify = [&](const std::string& text) {
    const QString file = dir.filePath(QStringLiteral("vorlixa.service"));
    std::ofstream(file.toStdString()) << text;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The user manager's check needs a runtime folder, not a running manager.
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    process.setProcessEnvironment(environment);
    // The manual page that Documentation= names comes with the package, not with this build.
    process.start(
        QStringLiteral("systemd-analyze"),
        {QStringLiteral("--user"), QStringLiteral("--man=no"), QStringLiteral("verify"), file});
    process.waitForFinished(kWaitLimitMs);
    const std::string output =
        (process.readAllStandardOutput() + process.readAllStandardError()).toStdString();
    // It complains about a line and still succeeds: any word about the unit counts.
    return process.exitCode() == 0 && output.find("vorlixa.service") == std::string::npos
               ? std::string()
               : "exit " + std::to_string(process.exitCode()) + ": " + output;
  };
  // The check finds a fault here at all.
  std::string broken = unit;
  broken.replace(broken.find("Restart=on-failure"), 18, "Restart=sometimes");
  EXPECT_NE(verify(broken), "");
  EXPECT_EQ(verify(unit), "");
}

}  // namespace vx
