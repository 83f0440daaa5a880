#include "SettingsWindowData.h"
#include "base/Exceptions.h"
#include "common/FakePrompter.h"
#include "common/ScopedEnvironment.h"
#include "common/TestFiles.h"
#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "config/unSettings.h"
#include "platform/XdgAutostart.h"
#include "support/unUpdate.h"
#include "ui/BarSetupPage.h"
#include "ui/OptionsPage.h"
#include "ui/unMain.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vx {

// The settings side of the main window on a settings file and autostart folders of a
// temporary folder: showing it, OK and Cancel, and what they read and write.
namespace {

const char* const kProgram = "/opt/vorlixa/vorlixa";

void WriteFile(const std::string& fileName, const std::string& text) {
  QFile file(QString::fromStdString(fileName));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(text.data(), static_cast<qint64>(text.size()));
}

// The main window with the steps of OK counted: ApplySettings (which fails on request)
// and closing.
class CountingWindow final : public TfrmMain {
 public:
  using TfrmMain::TfrmMain;

  void ApplySettings() override {
    ++Applied;
    if (FailApply) {
      throw ERangeError("Range check error");
    }
    TfrmMain::ApplySettings();
  }

  int Applied = 0;
  int Closed = 0;
  bool FailApply = false;

 protected:
  void closeEvent(QCloseEvent* event) override {
    ++Closed;
    TfrmMain::closeEvent(event);
  }
};

class MainSettingsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    window.reset();
    SetPortCfgDialog(nullptr);
    SetLEDBarCfgDialog(nullptr);
  }

  // The window on the settings file, opened as the tray's "Configure" opens it.
  void Create(const std::string& portsXml) {
    WriteSettingsFile(settingsFile, portsXml);
    Open(autostart);
  }

  void Open(std::shared_ptr<Autostart> startAtLogin) {
    window.reset();
    TMainOptions options;
    options.SettingsFile = settingsFile;
    options.StartAtLogin = std::move(startAtLogin);
    options.Terminate = [] {};
    window = std::make_unique<CountingWindow>(options);
    // As in the program, the event loop has run (the tray icon has settled the window's
    // type) before the user can open the window.
    QCoreApplication::processEvents();
    window->actConfigExecute();
  }

  QAction* Action(const char* name) const { return FindAction(*window->tsBars, name); }
  QTreeWidget& PortsList() const { return *window->tsBars->lvPorts; }
  QTreeWidget& BarsList() const { return *window->tsBars->lvBars; }

  QTemporaryDir dir;
  std::string settingsFile = dir.filePath("vorlixa.xml").toStdString();
  std::shared_ptr<XdgAutostart> autostart = std::make_shared<XdgAutostart>(
      dir.filePath("all").toStdString(), dir.filePath("user").toStdString(), kProgram);
  FakePrompter prompter;
  std::unique_ptr<CountingWindow> window;
};

}  // namespace

TEST_F(MainSettingsTest, ItOpensOnBarSetupAndOnlyShowingItAfreshStartsOverAtTheFirstPort) {
  Create(TwoPorts());
  EXPECT_EQ(window->pcConfig->currentWidget()->objectName(), "tsBars");
  EXPECT_EQ(Selected(PortsList()), 0);
  Select(PortsList(), 1);
  EXPECT_EQ(Rows(BarsList()).size(), 1U);
  // Another page in front and back again: nothing is filled anew.
  window->pcConfig->setCurrentWidget(window->tsOptions);
  window->pcConfig->setCurrentWidget(window->tsBars);
  EXPECT_EQ(Selected(PortsList()), 1);

  // Restored after being minimised, it stays where the user was.
  window->showMinimized();
  window->showNormal();
  EXPECT_EQ(Selected(PortsList()), 1);
  EXPECT_EQ(Rows(BarsList()).size(), 1U);
  // Shown again, the window starts over at the first port.
  window->hide();
  window->show();
  EXPECT_EQ(Selected(PortsList()), 0);
  EXPECT_EQ(Rows(BarsList()).size(), 3U);
}

TEST_F(MainSettingsTest, CancelBringsBackTheSavedState) {
  Create(TwoPorts());
  const auto shownPorts = Rows(PortsList());
  const auto shownBars = Rows(BarsList());
  prompter.Answers = {true};
  Action("actPortDel")->trigger();
  Select(BarsList(), 0);
  Action("actBarCtrlDown")->trigger();
  window->findChild<QCheckBox*>("cbAutoLoadUser")->setChecked(true);
  window->findChild<QCheckBox*>("cbAutoUpdate")->setChecked(true);

  window->findChild<QPushButton*>("btnCancel")->click();
  EXPECT_EQ(window->Closed, 1);
  EXPECT_EQ(window->Applied, 0);
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(window->findChild<QCheckBox*>("cbAutoLoadUser")->isChecked());
  EXPECT_FALSE(window->findChild<QCheckBox*>("cbAutoUpdate")->isChecked());
  EXPECT_FALSE(QFile::exists(
      QString::fromStdString(autostart->EntryFileName(TAutostartScope::CurrentUser))));
  window->show();
  EXPECT_EQ(Rows(PortsList()), shownPorts);
  EXPECT_EQ(Rows(BarsList()), shownBars);
}

TEST_F(MainSettingsTest, WithoutASettingsFileClosingKeepsTheAutoUpdateBox) {
  Create(TwoPorts());
  ASSERT_TRUE(QFile::remove(QString::fromStdString(settingsFile)));
  auto* cbAutoUpdate = window->findChild<QCheckBox*>("cbAutoUpdate");
  cbAutoUpdate->setChecked(true);
  window->findChild<QPushButton*>("btnCancel")->click();
  EXPECT_EQ(window->Closed, 1);
  EXPECT_TRUE(cbAutoUpdate->isChecked());
  window->show();
  EXPECT_EQ(Rows(PortsList()).size(), 2U);
}

TEST_F(MainSettingsTest, OkAppliesSavesAndClosesWithWhatWasShown) {
  Create(TwoPorts());
  Select(BarsList(), 2);
  Action("actBarCtrlUp")->trigger();
  const auto shownBars = Rows(BarsList());
  window->findChild<QCheckBox*>("cbAutoLoadUser")->setChecked(true);
  window->findChild<QCheckBox*>("cbAutoUpdate")->setChecked(true);

  window->findChild<QPushButton*>("btnOk")->click();
  EXPECT_EQ(window->Applied, 1);
  EXPECT_EQ(window->Closed, 1);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the hourglass is gone";
  EXPECT_TRUE(autostart->IsEnabled(TAutostartScope::CurrentUser));
  EXPECT_FALSE(autostart->IsEnabled(TAutostartScope::AllUsers));

  // What another reader finds in the file.
  TPortCfgList reread;
  TSettings other(reread, settingsFile);
  other.LoadSettings();
  EXPECT_TRUE(other.AutoUpdate);
  ASSERT_EQ(reread.Count(), 2);
  ASSERT_EQ(reread.Items(0).Controllers().Count(), 3);
  EXPECT_EQ(reread.Items(0).Controllers().Items(1).BarSize, 16);
  EXPECT_EQ(reread.Items(0).Controllers().Items(2).BarSize, 40);

  // The close reloaded the file: the boxes and lists show what was saved.
  EXPECT_TRUE(window->findChild<QCheckBox*>("cbAutoLoadUser")->isChecked());
  EXPECT_TRUE(window->findChild<QCheckBox*>("cbAutoUpdate")->isChecked());
  window->show();
  EXPECT_EQ(Rows(BarsList()), shownBars);
  EXPECT_TRUE(prompter.Messages.empty()) << prompter.Messages.front();
}

// The desktop's tools switch an all-users entry off for one user with a user's entry of
// the same name that says so. OK with the box left clear keeps that entry as it is; ticking
// and then clearing the box switches the user's entry off again instead of removing it,
// which would bring the all-users entry back.
TEST_F(MainSettingsTest, APerUserAutostartOptOutSurvivesOk) {
  const std::string allUsersEntry = autostart->EntryFileName(TAutostartScope::AllUsers);
  const std::string userEntry = autostart->EntryFileName(TAutostartScope::CurrentUser);
  ASSERT_TRUE(QDir().mkpath(dir.filePath("all")) && QDir().mkpath(dir.filePath("user")));
  const std::string optOut =
      "[Desktop Entry]\nType=Application\nName=Vorlixa\nExec=" + std::string(kProgram) +
      "\nX-GNOME-Autostart-enabled=false\n";
  WriteFile(allUsersEntry, AutostartEntryText(kProgram));
  WriteFile(userEntry, optOut);
  Create(TwoPorts());
  auto* cbAutoLoadAll = window->findChild<QCheckBox*>("cbAutoLoadAll");
  auto* cbAutoLoadUser = window->findChild<QCheckBox*>("cbAutoLoadUser");
  EXPECT_TRUE(cbAutoLoadAll->isChecked());
  EXPECT_FALSE(cbAutoLoadUser->isChecked());

  window->btnOk->click();
  EXPECT_EQ(ReadText(userEntry), optOut);
  EXPECT_EQ(ReadText(allUsersEntry), AutostartEntryText(kProgram));

  window->show();
  cbAutoLoadUser->setChecked(true);
  window->btnOk->click();
  EXPECT_TRUE(autostart->IsEnabled(TAutostartScope::CurrentUser));
  window->show();
  ASSERT_TRUE(cbAutoLoadUser->isChecked());
  cbAutoLoadUser->setChecked(false);
  window->btnOk->click();
  EXPECT_EQ(ReadText(userEntry), AutostartEntryText(kProgram, false));
  EXPECT_FALSE(autostart->IsEnabled(TAutostartScope::CurrentUser));
  EXPECT_TRUE(autostart->IsEnabled(TAutostartScope::AllUsers));
  EXPECT_FALSE(cbAutoLoadUser->isChecked());
  EXPECT_EQ(window->Applied, 3);
  EXPECT_TRUE(prompter.Messages.empty()) << prompter.Messages.front();
}

// The desktop's "startup applications" tools copy the package's menu entry, whose Exec
// names the program as the PATH finds it; users add wrappers. Such an entry shows ticked,
// OK keeps it byte for byte, and clearing the box still switches it off.
TEST_F(MainSettingsTest, ACopiedMenuEntrySurvivesOkAndClearingTheBoxSwitchesItOff) {
  ASSERT_TRUE(QDir().mkpath(dir.filePath("opt")) && QDir().mkpath(dir.filePath("bin")) &&
              QDir().mkpath(dir.filePath("copied")));
  const std::string program = dir.filePath("opt/vorlixa").toStdString();
  WriteFile(program, "");
  ASSERT_TRUE(QFile::setPermissions(QString::fromStdString(program),
                                    QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
  const std::string onPath = dir.filePath("bin").toStdString();
  ASSERT_EQ(::symlink(program.c_str(), (onPath + "/vorlixa").c_str()), 0);
  const std::string oldPath = qEnvironmentVariable("PATH").toStdString();
  std::optional<ScopedEnvironment> path;
  path.emplace("PATH", onPath + ":" + oldPath);
  const auto copied = std::make_shared<XdgAutostart>(dir.filePath("all").toStdString(),
                                                     dir.filePath("copied").toStdString(), program);
  const std::string entry = copied->EntryFileName(TAutostartScope::CurrentUser);
  WriteSettingsFile(settingsFile, "");
  Open(copied);
  auto* cbAutoLoadUser = window->findChild<QCheckBox*>("cbAutoLoadUser");
  for (const std::string& exec : std::vector<std::string>{
           "vorlixa", "env GDK_BACKEND=x11 vorlixa --tray", onPath + "/vorlixa"}) {
    SCOPED_TRACE(exec);
    const std::string text = "[Desktop Entry]\nType=Application\nName=Vorlixa\nExec=" + exec +
                             "\nIcon=vorlixa\nTerminal=false\n";
    WriteFile(entry, text);
    window->LoadSettings();
    EXPECT_TRUE(cbAutoLoadUser->isChecked());
    window->btnOk->click();
    EXPECT_EQ(ReadText(entry), text);
  }
  cbAutoLoadUser->setChecked(false);
  window->btnOk->click();
  path.reset();
  EXPECT_EQ(ReadText(entry), AutostartEntryText(program, false));
  EXPECT_FALSE(copied->IsEnabled(TAutostartScope::CurrentUser));
  EXPECT_TRUE(prompter.Messages.empty()) << prompter.Messages.front();
}

TEST_F(MainSettingsTest, AFailingApplyIsShownAndNeitherSavesNorCloses) {
  Create(TwoPorts());
  window->FailApply = true;
  window->findChild<QCheckBox*>("cbAutoLoadUser")->setChecked(true);
  window->findChild<QPushButton*>("btnOk")->click();
  EXPECT_EQ(prompter.Messages, std::vector<std::string>{"Range check error"});
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(window->Closed, 0);
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(autostart->IsEnabled(TAutostartScope::CurrentUser));
}

// A build for a system package has no update address, and a build without a key has
// nothing to check updates with: the tray menu has no update check, the Options page says
// where updates come from, and the choice that the file holds survives a save. A build
// with both shows the box and the button instead.
TEST_F(MainSettingsTest, ABuildWithoutUpdateAddressOrKeyLeavesUpdatesToTheSystemsPackages) {
  WriteSettingsFile(settingsFile, TwoPorts(), true);
  const std::vector<std::pair<std::string, std::string>> builds = {
      {"", "RWQ-a-key"},
      {"http://127.0.0.1:9/updates", ""},
      {"http://127.0.0.1:9/updates", "RWQ-a-key"}};
  for (const auto& [address, key] : builds) {
    const bool fromPackages = address.empty() || key.empty();
    // What the build was made with: this test program's build settings read it from here
    // (tests/app/probe/UpdateTestSettings.cpp), and the window's options start from it.
    const ScopedEnvironment buildAddress("VORLIXA_TEST_UPDATE_ADDRESS", address);
    const ScopedEnvironment buildKey("VORLIXA_TEST_UPDATE_KEY", key);
    Open(autostart);
    TOptionsPage& shown = *window->tsOptions;
    window->pcConfig->setCurrentWidget(&shown);
    EXPECT_EQ(window->actUpdate->isVisible(), !fromPackages);
    EXPECT_EQ(shown.cbAutoUpdate->isVisible(), !fromPackages);
    EXPECT_EQ(shown.btnUpdate->isVisible(), !fromPackages);
    EXPECT_EQ(shown.lblUpdatePackages->isVisible(), fromPackages);
    EXPECT_EQ(shown.lblUpdatePackages->text().toStdString(),
              "Updates come with your system's packages.");

    window->btnOk->click();
    EXPECT_FALSE(window->isVisible());
    TPortCfgList reread;
    TSettings saved(reread, settingsFile);
    saved.LoadSettings();
    EXPECT_TRUE(saved.AutoUpdate) << "fromPackages " << fromPackages;
    EXPECT_EQ(reread.Count(), 2);
  }
  EXPECT_TRUE(prompter.Messages.empty()) << prompter.Messages.front();
}

}  // namespace vx
