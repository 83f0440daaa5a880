// vorlixad: the ports, bars and inputs of the settings file, driven without a window for
// machines without a desktop. SIGHUP reloads the file; SIGTERM and SIGINT end it.
#include "app/FirstApp.h"
#include "app/LevelService.h"
#include "base/Exceptions.h"
#include "config/SettingsDocument.h"
#include "config/SettingsFile.h"
#include "config/unPortCfg.h"
#include "config/unSettings.h"
#include "inputs/unBarIO.h"
#include "inputs/unCPULoad.h"
#include "loop/UpdateLoop.h"
#include "platform/ServiceChannel.h"
#include "platform/SystemError.h"
#include "platform/TerminationSignals.h"
#include "support/Log.h"
#include "support/unLog.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

using namespace vx;

namespace {

// sysexits' EX_USAGE and EX_CONFIG: the unit does not restart a service whose file is bad.
constexpr int kExitUsage = 64;
constexpr int kExitConfig = 78;
// The loop stopped on an error: systemd starts the service again.
constexpr int kExitFailure = 1;
// EX_TEMPFAIL: the desktop program drives the ports; the unit leaves it at that.
constexpr int kExitOtherCopy = 75;
// The desktop program's single-instance guard, which the service shares: the two never
// drive the same ports at once.
constexpr const char* kUniqueID = "Vorlixa";

// Each line of the log goes to standard error too, where the journal takes it.
void EchoToStandardError(TLog& log) {
  log.OnMessage = [](TLog&, const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
  };
  log.OnWarning = [](TLog&, const std::string& text) {
    std::fprintf(stderr, "Warning: %s\n", text.c_str());
  };
  log.OnError = [](TLog&, const std::string& text) {
    std::fprintf(stderr, "Error: %s\n", text.c_str());
  };
}

// Why fileName cannot drive the ports; empty when it can.
std::string SettingsProblem(const std::string& fileName) {
  const TSettingsFileContent content = ReadSettingsFile(fileName);
  switch (content.State) {
    case TSettingsFileState::Missing:
      return "The settings file " + fileName + " does not exist.";
    case TSettingsFileState::Unreadable:
      return "The settings file " + fileName + " cannot be read: " + content.Problem;
    case TSettingsFileState::Loaded:
      break;
  }
  return {};
}

int RunService(const std::string& settingsFile, TFirstApp& guard) {
  StartAppLog();
  if (TLog* log = AppLog()) {
    EchoToStandardError(*log);
  }
  if (!guard.Warning().empty()) {
    LogWarning(guard.Warning());
  }
  // The desktop program started later opens its settings window on this file and leaves
  // the ports to the service.
  guard.OnStartOther = [](QObject*) { LogMessage("Vorlixa started: the service keeps the ports"); };
  InputList();
  TakeLoadSample();

  TPortCfgList ports;
  TSettings settings(ports, settingsFile);
  TUpdateLoop loop;
  loop.SetPorts(&ports);
  QObject::connect(&loop, &TUpdateLoop::TickFailed, [](const std::exception_ptr& error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      LogException(e);
    } catch (...) {
      LogError("Unknown error");
    }
    QCoreApplication::exit(kExitFailure);
  });
  // Without a window to show them in, the reports for the user go to standard error, where
  // the journal takes them.
  QObject::connect(&loop, &TUpdateLoop::Reported,
                   [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });
  // A reload as the window's close does it: a file that has become unreadable since is
  // logged and leaves the bars as they were.
  const auto reload = [&] {
    LogMessage("Reload settings");
    loop.Stop();
    settings.LoadSettings();
    loop.Start();
  };
  const TerminationSignals stopSignals([&](int number) {
    if (number == SIGHUP) {
      reload();
    } else {
      QCoreApplication::quit();
    }
  });
  // The desktop program started meanwhile edits this file in its settings window and
  // asks for the reload here.
  ServiceChannel channel(settingsFile, reload);
  if (const int error = channel.Listen()) {
    LogWarning("The settings window cannot reach the service: " + InOutErrorMessage(error));
  }

  settings.LoadSettings();
  loop.Start();
  TLevelService levelService;
  levelService.Start();
  LogMessage("Run service");
  const int result = QCoreApplication::exec();

  // Every chain dark before the log closes.
  loop.Stop();
  loop.SetPorts(nullptr);
  StopAppLog();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("vorlixad"));
  QCoreApplication::setApplicationVersion(QStringLiteral(VORLIXA_VERSION));

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Drives the LED bars of the Vorlixa settings file without a window."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption settingsOption(
      QStringLiteral("settings"),
      QStringLiteral("Reads the settings from <file> instead of the user's vorlixa.xml."),
      QStringLiteral("file"));
  parser.addOption(settingsOption);
  if (!parser.parse(QCoreApplication::arguments()) || !parser.positionalArguments().isEmpty()) {
    const QString error = parser.positionalArguments().isEmpty()
                              ? parser.errorText()
                              : QStringLiteral("Unexpected argument '%1'.")
                                    .arg(parser.positionalArguments().constFirst());
    std::fprintf(stderr, "vorlixad: %s\nTry 'vorlixad --help'.\n", qPrintable(error));
    return kExitUsage;
  }
  if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
    parser.showHelp(0);
  }
  if (parser.isSet(QStringLiteral("version"))) {
    parser.showVersion();
  }

  try {
    const std::string settingsFile =
        parser.isSet(settingsOption)
            ? std::filesystem::absolute(parser.value(settingsOption).toStdString()).string()
            : SettingsFileName();
    const std::string problem = SettingsProblem(settingsFile);
    if (!problem.empty()) {
      std::fprintf(stderr, "vorlixad: %s\n", problem.c_str());
      return kExitConfig;
    }
    // A copy that is not the first has signalled the desktop program, which opens its
    // settings window.
    TFirstApp guard(nullptr, kUniqueID);
    if (!guard.IsFirstCopy()) {
      std::fprintf(stderr, "vorlixad: Vorlixa already runs for this user and drives the ports.\n");
      return kExitOtherCopy;
    }
    const int result = RunService(settingsFile, guard);
    guard.OnStartOther = nullptr;
    return result;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vorlixad: %s - %s\n", ExceptionClassName(e), e.what());
    StopAppLog();
    return kExitFailure;
  }
}
