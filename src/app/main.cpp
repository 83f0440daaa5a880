#include "app/FirstApp.h"
#include "app/LevelService.h"
#include "config/unSettings.h"
#include "inputs/unBarIO.h"
#include "inputs/unCPULoad.h"
#include "platform/NamedMutex.h"
#include "platform/ProcessEnd.h"
#include "platform/Prompter.h"
#include "platform/ServiceChannel.h"
#include "platform/SystemError.h"
#include "platform/TerminationSignals.h"
#include "support/FilePlaces.h"
#include "support/unLog.h"
#include "support/unUpdate.h"
#include "ui/AppIcon.h"
#include "ui/Application.h"
#include "ui/frmUpdate.h"
#include "ui/unMain.h"

#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>

#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <utility>

using namespace vx;

namespace {

// Both the start-up event of the single-instance guard and the start-at-login values go
// by this name.
constexpr const char* kUniqueID = "Vorlixa";
constexpr const char* kMutexName = "TremanicVorlixaMutex";
// What the GUI library's teardown may take once the program's own exit is done.
constexpr auto kTeardownLimit = std::chrono::milliseconds(500);

// The single-instance handshake, run as when the window that holds the guard is read
// from its description. A later copy has signalled the first one and ends; an error of
// the handshake ends the program as an unhandled error would.
std::unique_ptr<TFirstApp> StartFirstApp() {
  try {
    auto faAppStart = std::make_unique<TFirstApp>();
    faAppStart->setObjectName(QStringLiteral("faAppStart"));
    faAppStart->BeginLoad();
    faAppStart->SetUniqueID(kUniqueID);
    faAppStart->Loaded();
    return faAppStart;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", ExceptionClassName(e), e.what());
    return nullptr;
  }
}

// The service's answer comes from its event loop between two ticks; a reload waits for
// its chains to go dark and come back.
constexpr int kServiceAnswerLimitMs = 3000;
constexpr int kServiceReloadLimitMs = 10000;

// While the service drives the ports, a later copy is its settings window: it edits the
// service's file, OK saves it and makes the service load it, and closing the window ends
// this copy. The ports, the log and the tray stay the service's. Without a service the
// first copy has opened its own window, and this one ends.
int RunBesideService() {
  std::string settingsFile;
  if (AskService("settings", settingsFile, kServiceAnswerLimitMs) != 0 || settingsFile.empty()) {
    return 0;
  }
  QApplication::setWindowIcon(AppIcon());
  TMessageBoxPrompter prompter;
  SetPrompter(&prompter);
  // The bar dialog lists the inputs.
  InputList();
  TMainOptions options;
  options.SettingsFile = settingsFile;
  options.ServiceReload = [] {
    std::string answer;
    const int error = AskService("reload", answer, kServiceReloadLimitMs);
    if (error != 0 || answer != "reloaded") {
      throw Exception("The settings are saved, but the Vorlixa service did not load them: " +
                      (error != 0 ? InOutErrorMessage(error) : answer));
    }
  };
  int result = 0;
  {
    TfrmMain frmMain(options);
    const TerminationSignals stopSignals([&](int) { frmMain.actExitExecute(); });
    frmMain.actConfigExecute();
    result = QApplication::exec();
  }
  SetPrompter(nullptr);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  // The application object touches no file and no port; the guard hands the start of a
  // later copy to its event loop, and every message box needs it.
  TApplication app(argc, argv);
  // The name that a StatusNotifier host shows for the tray item (its Title).
  QApplication::setApplicationName(QStringLiteral("Tremanic Vorlixa"));
  // The menu entry vorlixa.desktop: Wayland compositors take the window list's icon and
  // name from it.
  QGuiApplication::setDesktopFileName(QStringLiteral("vorlixa"));
  QApplication::setQuitOnLastWindowClosed(false);

  // Before anything else: a later copy must leave the first one's log, settings and
  // ports alone.
  const std::unique_ptr<TFirstApp> faAppStart = StartFirstApp();
  if (!faAppStart) {
    return 1;
  }
  if (!faAppStart->IsFirstCopy()) {
    return RunBesideService();
  }

  // The log asks first where this run keeps its files (ProgramFilePlaces), which decides
  // it once: beside the program, or in the user's folders for an installed program.
  // Without a log file (a read-only folder) the program runs on; StartAppLog has said so.
  StartAppLog();
  if (!faAppStart->Warning().empty()) {
    LogWarning(faAppStart->Warning());
  }
  InputList();
  TakeLoadSample();
  try {
    RemoveLeftoverSetup(TUpdateFiles(ProgramFilePlaces()));
  } catch (const std::exception& e) {
    LogExceptionWarning(e);
  }
  TMessageBoxPrompter prompter;
  SetPrompter(&prompter);
  // The update address and key that the build was made with, and this program's settings
  // reader and download window: for the check at start and the main window's.
  TUpdateOptions updateOptions;
  updateOptions.ReadAutoUpdate = ReadAutoUpdateSetting;
  updateOptions.NewDownloadView = NewDownloadWindow;

  // SIGTERM, SIGINT, SIGHUP and the end of the desktop session end the program as "&Exit"
  // does.
  std::unique_ptr<TfrmMain> frmMain;
  TUpdateCheck* startCheck = nullptr;
  bool terminateRequested = false;
  const auto terminate = [&] {
    terminateRequested = true;
    // A quit during the check at start ends it; its setup never starts.
    if (startCheck != nullptr) {
      startCheck->Cancel();
    }
    if (frmMain) {
      frmMain->actExitExecute();
    } else {
      // Before the window exists only a message box can be running: leave it.
      QCoreApplication::exit(0);
    }
  };
  const TerminationSignals stopSignals([&](int) { terminate(); });
  QObject::connect(&app, &QGuiApplication::commitDataRequest, &app, [&] { terminate(); });

  LogMessage("Create mutex");
  const NamedMutex mutex(kMutexName);

  LogMessage("Check for updates");
  {
    // Before the window exists the check is all that runs: its requests go on in this
    // loop, the only one.
    TUpdateCheck check(false, updateOptions);
    QEventLoop checking;
    TUpdateResult checked = TUpdateResult::Failed;
    AskUpdateQuestion(check);
    check.OnFinished = [&](TUpdateResult result, const std::string& error) {
      if (!error.empty()) {
        ShowMessage(error);
      }
      checked = result;
      checking.quit();
    };
    startCheck = &check;
    check.Start();
    if (check.Running()) {
      checking.exec();
    }
    startCheck = nullptr;
    // A setup that started, or a quit during the check, ends the program before the
    // window, the ports and the sound capture are made.
    if (checked == TUpdateResult::UpdateStarted || terminateRequested) {
      SetPrompter(nullptr);
      StopAppLog();
      EndProcessAfter(kTeardownLimit, 0);
      return 0;
    }
  }

  LogMessage("Init application");
  QApplication::setWindowIcon(AppIcon());

  LogMessage("Create mainform");
  TMainOptions mainOptions;
  mainOptions.Update = std::move(updateOptions);
  frmMain = std::make_unique<TfrmMain>(std::move(mainOptions));
  faAppStart->OnStartOther = [&](QObject*) {
    if (frmMain) {
      frmMain->actConfigExecute();
    }
  };

  LogMessage("Run application");
  // From the start, not with the first "External" bar: a level sent before the bars run
  // is kept, and the command can tell a running program from none.
  TLevelService levelService;
  levelService.Start();
  const int result = terminateRequested ? 0 : QApplication::exec();

  faAppStart->OnStartOther = nullptr;
  frmMain.reset();
  SetPrompter(nullptr);
  StopAppLog();
  EndProcessAfter(kTeardownLimit, result);
  return result;
}
