#include "base/Exceptions.h"
#include "common/ComboChoice.h"
#include "common/FakePrompter.h"
#include "common/ScopedEnvironment.h"
#include "common/SettingsXml.h"
#include "common/TestFiles.h"
#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "config/unSettings.h"
#include "device/LEDController.h"
#include "platform/XdgAutostart.h"
#include "support/unUpdate.h"
#include "ui/ConfigDialogs.h"
#include "ui/SettingsPages.h"
#include "ui/frmBarSetup.h"
#include "ui/frmPortSetup.h"
#include "ui/unMain.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vx {

// The settings body of the main window on a settings file and autostart folders of a
// temporary folder. Ports are not enabled unless a test says so, so nothing is opened.
namespace {

const char* const kProgram = "/opt/vorlixa/vorlixa";

std::string Board(int index, int size, const char* bar0, const char* bar1) {
  return BoardXml(index, TwoBarsXml(bar0, bar1), size);
}

std::string Port(const std::string& name, const std::string& boards, bool enabled = false) {
  return PortXml(name, boards, enabled, std::nullopt);
}

// Two ports: three boards on the first, one on the second.
const std::string kTwoPorts = Port("/dev/ttyUSB0", Board(0, 32, "KnightRider", "Nothing") +
                                                       Board(1, 40, "CPUUsage", "KnightRider") +
                                                       Board(2, 16, "Nothing", "KnightRider")) +
                              Port("/dev/ttyACM1", Board(0, 8, "KnightRider", "KnightRider"));

std::vector<std::string> Rows(const QTreeWidget& list) {
  std::vector<std::string> rows;
  for (int i = 0; i < list.topLevelItemCount(); ++i) {
    QStringList texts;
    for (int c = 0; c < list.columnCount(); ++c) {
      texts << list.topLevelItem(i)->text(c);
    }
    rows.push_back(texts.join(QLatin1Char('|')).toStdString());
  }
  return rows;
}

int Selected(const QTreeWidget& list) {
  const auto selected = list.selectedItems();
  return selected.isEmpty() ? -1 : list.indexOfTopLevelItem(selected.first());
}

void Select(QTreeWidget& list, int row) {
  list.setCurrentItem(list.topLevelItem(row));
}

void WriteFile(const std::string& fileName, const std::string& text) {
  QFile file(QString::fromStdString(fileName));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(text.data(), static_cast<qint64>(text.size()));
}

// Answers the next modal dialog of type Dialog: act fills it in, then OK or Cancel.
template <typename Dialog>
void AnswerDialog(bool ok, std::function<void(Dialog&)> act = nullptr) {
  QTimer::singleShot(0, [ok, act] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    if (act) {
      act(*dialog);
    }
    (ok ? dialog->btnOk : dialog->btnCancel)->click();
    if (dialog->isVisible()) {
      ADD_FAILURE() << "the dialog stayed open";
      dialog->reject();
    }
  });
}

class SettingsPagesTest : public ::testing::Test {
 protected:
  void SetUp() override { InstallConfigDialogs(); }
  void TearDown() override {
    SetPortCfgDialog(nullptr);
    SetLEDBarCfgDialog(nullptr);
  }

  void WriteSettings(const std::string& portsXml, bool autoUpdate = false) {
    QFile file(QString::fromStdString(settingsFile));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const std::string text = SettingsXml("<AutoUpdate>" + std::string(autoUpdate ? "-1" : "0") +
                                         "</AutoUpdate><Ports>" + portsXml + "</Ports>");
    file.write(text.data(), static_cast<qint64>(text.size()));
  }

  // The pages as the main window holds them: closing reloads the settings and hides.
  void Create(const std::string& portsXml) {
    WriteSettings(portsXml);
    pages = std::make_unique<TSettingsPages>(
        ports, settings, autostart,
        TSettingsPagesHooks{[this] {
                              ++applied;
                              if (failApply) {
                                throw ERangeError("Range check error");
                              }
                            },
                            [this] {
                              ++closed;
                              pages->LoadSettings();
                              pages->hide();
                            },
                            {}});
    pages->LoadSettings();
    pages->show();
  }

  QAction* Action(const char* name) const {
    auto* action = pages->findChild<QAction*>(QString::fromLatin1(name));
    EXPECT_NE(action, nullptr) << name;
    return action;
  }

  // The enabled setup actions, in a fixed order.
  std::vector<std::string> EnabledActions() const {
    std::vector<std::string> names;
    for (const char* name : {"actPortAdd", "actPortDel", "actPortEdit", "actBarCtrlAdd",
                             "actBarCtrlDel", "actBarCtrlEdit", "actBarCtrlUp", "actBarCtrlDown"}) {
      if (Action(name)->isEnabled()) {
        names.emplace_back(name);
      }
    }
    return names;
  }

  QTreeWidget& PortsList() const { return *pages->findChild<QTreeWidget*>("lvPorts"); }
  QTreeWidget& BarsList() const { return *pages->findChild<QTreeWidget*>("lvBars"); }

  QTemporaryDir dir;
  std::string settingsFile = dir.filePath("vorlixa.xml").toStdString();
  TPortCfgList ports;
  TSettings settings{ports, settingsFile};
  XdgAutostart autostart{dir.filePath("all").toStdString(), dir.filePath("user").toStdString(),
                         kProgram};
  FakePrompter prompter;
  bool failApply = false;
  int applied = 0;
  int closed = 0;
  std::unique_ptr<TSettingsPages> pages;
};

}  // namespace

TEST_F(SettingsPagesTest, AnEmptyPortListLeavesOnlyAddingAPort) {
  Create("");
  EXPECT_EQ(pages->findChild<QTabWidget*>("pcConfig")->currentWidget()->objectName(), "tsBars");
  EXPECT_TRUE(Rows(PortsList()).empty());
  EXPECT_TRUE(Rows(BarsList()).empty());
  EXPECT_EQ(EnabledActions(), std::vector<std::string>{"actPortAdd"});
  EXPECT_EQ(pages->SelectedPort(), nullptr);
  EXPECT_EQ(pages->SelectedBarCfg(), nullptr);
  // Without a selection the setup actions do nothing, even when run directly.
  pages->actPortDelExecute();
  pages->actBarCtrlAddExecute();
  pages->actBarCtrlUpExecute();
  EXPECT_TRUE(prompter.Questions.empty());
  EXPECT_EQ(ports.Count(), 0);
}

TEST_F(SettingsPagesTest, ShowingSelectsTheFirstPortAndTheBarsFollowTheSelection) {
  Create(kTwoPorts);
  EXPECT_EQ(Rows(PortsList()),
            (std::vector<std::string>{"/dev/ttyUSB0|Not open", "/dev/ttyACM1|Not open"}))
      << "ports that were never opened";
  EXPECT_EQ(Selected(PortsList()), 0);
  EXPECT_EQ(pages->SelectedPort(), &ports.Items(0));
  EXPECT_EQ(Rows(BarsList()),
            (std::vector<std::string>{"#1|2x32|KnightRider|Nothing", "#2|2x40|CPUUsage|KnightRider",
                                      "#3|2x16|Nothing|KnightRider"}));
  EXPECT_EQ(EnabledActions(),
            (std::vector<std::string>{"actPortAdd", "actPortDel", "actPortEdit", "actBarCtrlAdd"}));

  Select(BarsList(), 0);
  EXPECT_EQ(pages->SelectedBarCfg(), &ports.Items(0).Controllers().Items(0));
  EXPECT_TRUE(Action("actBarCtrlDown")->isEnabled());
  EXPECT_FALSE(Action("actBarCtrlUp")->isEnabled());
  Select(BarsList(), 1);
  EXPECT_TRUE(Action("actBarCtrlDown")->isEnabled());
  EXPECT_TRUE(Action("actBarCtrlUp")->isEnabled());
  Select(BarsList(), 2);
  EXPECT_FALSE(Action("actBarCtrlDown")->isEnabled());
  EXPECT_TRUE(Action("actBarCtrlUp")->isEnabled());
  EXPECT_TRUE(Action("actBarCtrlEdit")->isEnabled());
  EXPECT_TRUE(Action("actBarCtrlDel")->isEnabled());

  Select(PortsList(), 1);
  EXPECT_EQ(Rows(BarsList()), std::vector<std::string>{"#1|2x8|KnightRider|KnightRider"});
  EXPECT_FALSE(Action("actBarCtrlEdit")->isEnabled()) << "no bar row is selected any more";
  Select(BarsList(), 0);
  EXPECT_FALSE(Action("actBarCtrlUp")->isEnabled());
  EXPECT_FALSE(Action("actBarCtrlDown")->isEnabled());

  // Restored after being minimised, it stays where the user was.
  pages->showMinimized();
  pages->showNormal();
  EXPECT_EQ(Selected(PortsList()), 1);
  EXPECT_EQ(Rows(BarsList()).size(), 1u);
  // Shown again, the window starts over at the first port.
  pages->hide();
  pages->show();
  EXPECT_EQ(Selected(PortsList()), 0);
  EXPECT_EQ(Rows(BarsList()).size(), 3u);
}

TEST_F(SettingsPagesTest, MovingABarSwapsTheColumnsButNotTheNumbers) {
  Create(kTwoPorts);
  Select(BarsList(), 1);
  Action("actBarCtrlUp")->trigger();
  EXPECT_EQ(Rows(BarsList()),
            (std::vector<std::string>{"#1|2x40|CPUUsage|KnightRider", "#2|2x32|KnightRider|Nothing",
                                      "#3|2x16|Nothing|KnightRider"}));
  EXPECT_EQ(Selected(BarsList()), 0) << "the moved controller stays selected";
  EXPECT_EQ(ports.Items(0).Controllers().Items(0).BarSize, 40);
  EXPECT_FALSE(Action("actBarCtrlUp")->isEnabled());

  Action("actBarCtrlDown")->trigger();
  Action("actBarCtrlDown")->trigger();
  EXPECT_EQ(Rows(BarsList()),
            (std::vector<std::string>{"#1|2x32|KnightRider|Nothing", "#2|2x16|Nothing|KnightRider",
                                      "#3|2x40|CPUUsage|KnightRider"}));
  EXPECT_EQ(Selected(BarsList()), 2);
  EXPECT_EQ(ports.Items(0).Controllers().Items(2).InputName(0), "CPUUsage");
  EXPECT_FALSE(Action("actBarCtrlDown")->isEnabled());
}

TEST_F(SettingsPagesTest, DeletingAsksFirstAndSelectsTheNewLastRow) {
  Create(kTwoPorts);
  Select(BarsList(), 2);
  Action("actBarCtrlDel")->trigger();  // answered "No"
  EXPECT_EQ(prompter.Questions,
            std::vector<std::string>{"Are you sure you want to delete the selected LEDBar "
                                     "controller?"});
  EXPECT_EQ(ports.Items(0).Controllers().Count(), 3);

  prompter.Answers = {true, true};
  Action("actBarCtrlDel")->trigger();
  EXPECT_EQ(Rows(BarsList()), (std::vector<std::string>{"#1|2x32|KnightRider|Nothing",
                                                        "#2|2x40|CPUUsage|KnightRider"}));
  EXPECT_EQ(Selected(BarsList()), 1);
  EXPECT_EQ(ports.Items(0).Controllers().Count(), 2);
  Select(BarsList(), 0);
  Action("actBarCtrlDel")->trigger();
  // Only the deleted row goes; the others keep their captions until the list is shown anew.
  EXPECT_EQ(Rows(BarsList()), std::vector<std::string>{"#2|2x40|CPUUsage|KnightRider"});
  EXPECT_EQ(Selected(BarsList()), 0);

  Select(PortsList(), 1);
  prompter.Questions.clear();
  prompter.Answers = {false, true};
  Action("actPortDel")->trigger();
  EXPECT_EQ(ports.Count(), 2);
  Action("actPortDel")->trigger();
  EXPECT_EQ(prompter.Questions,
            std::vector<std::string>(2, "Are you sure you want to delete the selected port?"));
  ASSERT_EQ(ports.Count(), 1);
  EXPECT_EQ(ports.Items(0).Controller().Port, "/dev/ttyUSB0");
  EXPECT_EQ(Selected(PortsList()), 0);
  EXPECT_EQ(Rows(BarsList()), std::vector<std::string>{"#1|2x40|CPUUsage|KnightRider"});

  prompter.Answers = {true};
  Action("actPortDel")->trigger();
  EXPECT_EQ(ports.Count(), 0);
  EXPECT_TRUE(Rows(PortsList()).empty());
  EXPECT_TRUE(Rows(BarsList()).empty());
  EXPECT_EQ(EnabledActions(), std::vector<std::string>{"actPortAdd"});
}

TEST_F(SettingsPagesTest, AddingThroughTheDialogsKeepsOnlyWhatWasConfirmed) {
  Create(Port("/dev/ttyUSB0", Board(0, 32, "KnightRider", "Nothing")));
  AnswerDialog<TfrmPortSetup>(false);
  Action("actPortAdd")->trigger();
  EXPECT_EQ(ports.Count(), 1);
  EXPECT_EQ(Rows(PortsList()).size(), 1u);

  AnswerDialog<TfrmPortSetup>(true, [](TfrmPortSetup& d) { d.cbPort->setEditText("/dev/ttyS3"); });
  Action("actPortAdd")->trigger();
  ASSERT_EQ(ports.Count(), 2);
  EXPECT_EQ(ports.Items(1).Controller().Port, "/dev/ttyS3");
  EXPECT_EQ(Rows(PortsList()).back().substr(0, 11), "/dev/ttyS3|");
  EXPECT_EQ(Selected(PortsList()), 0) << "adding does not move the selection";

  TLEDBarController& link = ports.Items(0).Controller();
  AnswerDialog<TfrmBarSetup>(false, [](TfrmBarSetup& d) { Choose(*d.cbBarSize, "40 LEDs"); });
  Action("actBarCtrlAdd")->trigger();
  EXPECT_EQ(ports.Items(0).Controllers().Count(), 1);
  EXPECT_EQ(link.LEDBarCtrlCount(), 1) << "the board of the cancelled controller is gone";
  EXPECT_EQ(Rows(BarsList()).size(), 1u);

  AnswerDialog<TfrmBarSetup>(true, [](TfrmBarSetup& d) {
    Choose(*d.cbBarSize, "40 LEDs");
    Choose(*d.cbBarSource, "CPUUsage");
  });
  Action("actBarCtrlAdd")->trigger();
  EXPECT_EQ(Rows(BarsList()),
            (std::vector<std::string>{"#1|2x32|KnightRider|Nothing", "#2|2x40|CPUUsage|Nothing"}));
  EXPECT_EQ(link.LEDBarCtrlCount(), 2);

  Select(BarsList(), 0);
  AnswerDialog<TfrmBarSetup>(true, [](TfrmBarSetup& d) { Choose(*d.cbBarSize, "40 LEDs"); });
  Action("actBarCtrlEdit")->trigger();
  EXPECT_EQ(Rows(BarsList()).front(), "#1|2x40|KnightRider|Nothing");

  AnswerDialog<TfrmPortSetup>(true, [](TfrmPortSetup& d) { d.cbPort->setEditText("/dev/ttyS9"); });
  Action("actPortEdit")->trigger();
  EXPECT_EQ(PortsList().topLevelItem(0)->text(0), "/dev/ttyS9");
  EXPECT_TRUE(prompter.Messages.empty());
}

TEST_F(SettingsPagesTest, CancelBringsBackTheSavedState) {
  Create(kTwoPorts);
  const auto shownPorts = Rows(PortsList());
  const auto shownBars = Rows(BarsList());
  prompter.Answers = {true};
  Action("actPortDel")->trigger();
  Select(BarsList(), 0);
  Action("actBarCtrlDown")->trigger();
  pages->findChild<QCheckBox*>("cbAutoLoadUser")->setChecked(true);
  pages->findChild<QCheckBox*>("cbAutoUpdate")->setChecked(true);

  pages->findChild<QPushButton*>("btnCancel")->click();
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(applied, 0);
  EXPECT_FALSE(pages->isVisible());
  EXPECT_FALSE(pages->findChild<QCheckBox*>("cbAutoLoadUser")->isChecked());
  EXPECT_FALSE(pages->findChild<QCheckBox*>("cbAutoUpdate")->isChecked());
  EXPECT_FALSE(
      QFile::exists(QString::fromStdString(autostart.EntryFileName(TAutostartScope::CurrentUser))));
  pages->show();
  EXPECT_EQ(Rows(PortsList()), shownPorts);
  EXPECT_EQ(Rows(BarsList()), shownBars);
}

TEST_F(SettingsPagesTest, WithoutASettingsFileClosingKeepsTheAutoUpdateBox) {
  Create(kTwoPorts);
  ASSERT_TRUE(QFile::remove(QString::fromStdString(settingsFile)));
  auto* cbAutoUpdate = pages->findChild<QCheckBox*>("cbAutoUpdate");
  cbAutoUpdate->setChecked(true);
  pages->findChild<QPushButton*>("btnCancel")->click();
  EXPECT_EQ(closed, 1);
  EXPECT_TRUE(cbAutoUpdate->isChecked());
  pages->show();
  EXPECT_EQ(Rows(PortsList()).size(), 2u);
}

TEST_F(SettingsPagesTest, OkAppliesSavesAndClosesWithWhatWasShown) {
  Create(kTwoPorts);
  Select(BarsList(), 2);
  Action("actBarCtrlUp")->trigger();
  const auto shownBars = Rows(BarsList());
  pages->findChild<QCheckBox*>("cbAutoLoadUser")->setChecked(true);
  pages->findChild<QCheckBox*>("cbAutoUpdate")->setChecked(true);

  pages->findChild<QPushButton*>("btnOk")->click();
  EXPECT_EQ(applied, 1);
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the hourglass is gone";
  EXPECT_TRUE(autostart.IsEnabled(TAutostartScope::CurrentUser));
  EXPECT_FALSE(autostart.IsEnabled(TAutostartScope::AllUsers));

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
  EXPECT_TRUE(pages->findChild<QCheckBox*>("cbAutoLoadUser")->isChecked());
  EXPECT_TRUE(pages->findChild<QCheckBox*>("cbAutoUpdate")->isChecked());
  pages->show();
  EXPECT_EQ(Rows(BarsList()), shownBars);
  EXPECT_TRUE(prompter.Messages.empty()) << prompter.Messages.front();
}

// The desktop's tools switch an all-users entry off for one user with a user's entry of
// the same name that says so. OK with the box left clear keeps that entry as it is; ticking
// and then clearing the box switches the user's entry off again instead of removing it,
// which would bring the all-users entry back.
TEST_F(SettingsPagesTest, APerUserAutostartOptOutSurvivesOk) {
  const std::string allUsersEntry = autostart.EntryFileName(TAutostartScope::AllUsers);
  const std::string userEntry = autostart.EntryFileName(TAutostartScope::CurrentUser);
  ASSERT_TRUE(QDir().mkpath(dir.filePath("all")) && QDir().mkpath(dir.filePath("user")));
  const std::string optOut =
      "[Desktop Entry]\nType=Application\nName=Vorlixa\nExec=" + std::string(kProgram) +
      "\nX-GNOME-Autostart-enabled=false\n";
  WriteFile(allUsersEntry, AutostartEntryText(kProgram));
  WriteFile(userEntry, optOut);
  Create(kTwoPorts);
  auto* cbAutoLoadAll = pages->findChild<QCheckBox*>("cbAutoLoadAll");
  auto* cbAutoLoadUser = pages->findChild<QCheckBox*>("cbAutoLoadUser");
  EXPECT_TRUE(cbAutoLoadAll->isChecked());
  EXPECT_FALSE(cbAutoLoadUser->isChecked());

  pages->btnOk->click();
  EXPECT_EQ(ReadText(userEntry), optOut);
  EXPECT_EQ(ReadText(allUsersEntry), AutostartEntryText(kProgram));

  pages->show();
  cbAutoLoadUser->setChecked(true);
  pages->btnOk->click();
  EXPECT_TRUE(autostart.IsEnabled(TAutostartScope::CurrentUser));
  pages->show();
  ASSERT_TRUE(cbAutoLoadUser->isChecked());
  cbAutoLoadUser->setChecked(false);
  pages->btnOk->click();
  EXPECT_EQ(ReadText(userEntry), AutostartEntryText(kProgram, false));
  EXPECT_FALSE(autostart.IsEnabled(TAutostartScope::CurrentUser));
  EXPECT_TRUE(autostart.IsEnabled(TAutostartScope::AllUsers));
  EXPECT_FALSE(cbAutoLoadUser->isChecked());
  EXPECT_EQ(applied, 3);
  EXPECT_TRUE(prompter.Messages.empty()) << prompter.Messages.front();
}

// The desktop's "startup applications" tools copy the package's menu entry, whose Exec
// names the program as the PATH finds it; users add wrappers. Such an entry shows ticked,
// OK keeps it byte for byte, and clearing the box still switches it off.
TEST_F(SettingsPagesTest, ACopiedMenuEntrySurvivesOkAndClearingTheBoxSwitchesItOff) {
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
  XdgAutostart copied(dir.filePath("all").toStdString(), dir.filePath("copied").toStdString(),
                      program);
  const std::string entry = copied.EntryFileName(TAutostartScope::CurrentUser);
  WriteSettings("");
  TSettingsPages copiedPages(ports, settings, copied, {[] {}, [] {}, {}});
  auto* cbAutoLoadUser = copiedPages.findChild<QCheckBox*>("cbAutoLoadUser");
  for (const std::string& exec : std::vector<std::string>{
           "vorlixa", "env GDK_BACKEND=x11 vorlixa --tray", onPath + "/vorlixa"}) {
    SCOPED_TRACE(exec);
    const std::string text = "[Desktop Entry]\nType=Application\nName=Vorlixa\nExec=" + exec +
                             "\nIcon=vorlixa\nTerminal=false\n";
    WriteFile(entry, text);
    copiedPages.LoadSettings();
    EXPECT_TRUE(cbAutoLoadUser->isChecked());
    copiedPages.btnOk->click();
    EXPECT_EQ(ReadText(entry), text);
  }
  cbAutoLoadUser->setChecked(false);
  copiedPages.btnOk->click();
  path.reset();
  EXPECT_EQ(ReadText(entry), AutostartEntryText(program, false));
  EXPECT_FALSE(copied.IsEnabled(TAutostartScope::CurrentUser));
  EXPECT_TRUE(prompter.Messages.empty()) << prompter.Messages.front();
}

TEST_F(SettingsPagesTest, AFailingApplyIsShownAndNeitherSavesNorCloses) {
  Create(kTwoPorts);
  failApply = true;
  pages->findChild<QCheckBox*>("cbAutoLoadUser")->setChecked(true);
  pages->findChild<QPushButton*>("btnOk")->click();
  EXPECT_EQ(prompter.Messages, std::vector<std::string>{"Range check error"});
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(closed, 0);
  EXPECT_TRUE(pages->isVisible());
  EXPECT_FALSE(autostart.IsEnabled(TAutostartScope::CurrentUser));
}

// A build for a system package has no update address, and a build without a key has
// nothing to check updates with: the tray menu has no update check, the Options page says
// where updates come from, and the choice that the file holds survives a save. A build
// with both shows the box and the button instead.
TEST_F(SettingsPagesTest, ABuildWithoutUpdateAddressOrKeyLeavesUpdatesToTheSystemsPackages) {
  WriteSettings(kTwoPorts, true);
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
    TMainOptions options;
    options.SettingsFile = settingsFile;
    options.StartAtLogin = std::make_shared<XdgAutostart>(
        dir.filePath("all").toStdString(), dir.filePath("user").toStdString(), kProgram);
    options.Terminate = [] {};
    TfrmMain window(options);
    window.actConfigExecute();
    TSettingsPages& shown = *window.Pages();
    shown.pcConfig->setCurrentWidget(shown.tsOptions);
    EXPECT_EQ(window.actUpdate->isVisible(), !fromPackages);
    EXPECT_EQ(shown.cbAutoUpdate->isVisible(), !fromPackages);
    EXPECT_EQ(shown.btnUpdate->isVisible(), !fromPackages);
    EXPECT_EQ(shown.lblUpdatePackages->isVisible(), fromPackages);
    EXPECT_EQ(shown.lblUpdatePackages->text().toStdString(),
              "Updates come with your system's packages.");

    shown.btnOk->click();
    EXPECT_FALSE(window.isVisible());
    TPortCfgList reread;
    TSettings saved(reread, settingsFile);
    saved.LoadSettings();
    EXPECT_TRUE(saved.AutoUpdate) << "fromPackages " << fromPackages;
    EXPECT_EQ(reread.Count(), 2);
  }
  EXPECT_TRUE(prompter.Messages.empty()) << prompter.Messages.front();
}

}  // namespace vx
