#include "common/FakePrompter.h"
#include "common/SettingsXml.h"
#include "common/SimProcess.h"
#include "common/Wait.h"
#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "device/LEDController.h"
#include "support/Log.h"
#include "support/unLog.h"
#include "ui/TrayIcon.h"
#include "ui/unMain.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace vx {

// The main window around its update loop (tests/loop tests the loop itself) on real serial
// ports to simulated chains, with the settings read from a file in a temporary folder.

namespace {

namespace fs = std::filesystem;

class MainLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vorlixa-main-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    StartAppLog(folder_ + "/vorlixa.log");
    AppLog()->OnMessage = [this](TLog&, const std::string& text) { lines_.push_back(text); };
    AppLog()->OnWarning = [this](TLog&, const std::string& text) {
      lines_.push_back("warning: " + text);
    };
    AppLog()->OnError = [this](TLog&, const std::string& text) {
      lines_.push_back("error: " + text);
    };
  }
  void TearDown() override {
    StopAppLog();
    fs::remove_all(folder_);
  }

  std::string SettingsFile() const { return folder_ + "/vorlixa.xml"; }

  void WriteSettings(const std::string& ports) const {
    std::ofstream(SettingsFile()) << PortsSettingsXml(ports);
  }

  std::unique_ptr<TfrmMain> CreateWindow() const {
    TMainOptions options;
    options.SettingsFile = SettingsFile();
    return std::make_unique<TfrmMain>(options);
  }

  // Lines logged from the index on.
  std::vector<std::string> LinesFrom(std::size_t index) const {
    return {lines_.begin() + static_cast<std::ptrdiff_t>(index), lines_.end()};
  }

  std::string folder_;
  std::vector<std::string> lines_;
};

std::string Port(const std::string& device, const std::string& controllers) {
  return PortXml(device, controllers, false);
}

std::string Board(int index, const std::string& bar0, const std::string& bar1) {
  return BoardXml(index, TwoBarsXml(bar0, bar1));
}

std::size_t NonZero(const SimBytes& unit, std::size_t from, std::size_t count) {
  std::size_t lit = 0;
  for (std::size_t i = from; i < from + count && i < unit.size(); ++i) {
    lit += unit[i] != 0 ? 1U : 0U;
  }
  return lit;
}

// "&Configure", the tray icon's double click, its left click (all that a StatusNotifier
// host sends) and a second start (which runs the same action) bring a minimised settings
// window back, not only to the front.
TEST_F(MainLoopTest, ConfigureRestoresAMinimisedSettingsWindow) {
  const auto window = CreateWindow();
  window->showMinimized();
  ASSERT_TRUE(window->isMinimized());
  window->actConfig->trigger();
  EXPECT_FALSE(window->isMinimized());
  EXPECT_TRUE(window->isVisible());

  window->showMinimized();
  window->tiTrayer->IconActivated(QSystemTrayIcon::DoubleClick);
  EXPECT_FALSE(window->isMinimized());

  window->showMinimized();
  window->tiTrayer->IconActivated(QSystemTrayIcon::Trigger);
  EXPECT_FALSE(window->isMinimized());
}

// Offscreen, as on a desktop without any notification area, the settings window is the
// way in: it shows once at start with a note and the one way out.
TEST_F(MainLoopTest, WithoutANotificationAreaTheWindowShowsAtStartAndCarriesExit) {
  if (TTrayIcon::TrayAvailable()) {
    GTEST_SKIP() << "this platform has a notification area";
  }
  int terminations = 0;
  TMainOptions options;
  options.SettingsFile = SettingsFile();
  options.Terminate = [&] { ++terminations; };
  TfrmMain window(options);
  for (int i = 0; i < 3; ++i) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }
  ASSERT_TRUE(window.isVisible());
  EXPECT_TRUE(window.lblNoTray->isVisible());
  const std::string note = window.lblNoTray->text().toStdString();
  EXPECT_EQ(note,
            "No notification area on this desktop: start Vorlixa again to reopen this window.");
  EXPECT_EQ(std::count(lines_.begin(), lines_.end(), note), 1);
  EXPECT_EQ(std::count(lines_.begin(), lines_.end(), "Display settings"), 1);

  // Closing only hides, as with a tray; a second start brings it back, note and all.
  window.close();
  EXPECT_FALSE(window.isVisible());
  window.actConfigExecute();
  EXPECT_TRUE(window.lblNoTray->isVisible());
  EXPECT_EQ(terminations, 0);
  window.btnExit->click();
  EXPECT_EQ(terminations, 1);
}

TEST_F(MainLoopTest, WithoutPortsTheLoopStaysOffAndRestartDoesNothing) {
  const auto window = CreateWindow();  // no settings file at all
  EXPECT_EQ(window->Ports().Count(), 0);
  EXPECT_FALSE(window->Active());
  ASSERT_FALSE(lines_.empty());
  EXPECT_EQ(lines_.front(), "Initializing");
  EXPECT_EQ(lines_.back(), "Starting");

  const std::size_t before = lines_.size();
  window->Restart();
  window->SetActive(false);
  EXPECT_EQ(lines_.size(), before);
  window->SetActive(true);
  EXPECT_FALSE(window->Active());
  EXPECT_EQ(LinesFrom(before), std::vector<std::string>{"Starting"});
}

// The cases that start a process (see tests/CMakeLists.txt).
using MainLoopSystem = MainLoopTest;

TEST_F(MainLoopSystem, AnErrorEscapingATickStopsTheLoopAndIsShown) {
  FakePrompter prompter;
  SimProcess sim;
  WriteSettings(Port(sim.LinkPath(), Board(0, "KnightRider", "KnightRider")));
  const auto window = CreateWindow();
  ASSERT_TRUE(window->Active());
  window->LEDUpdateExecute();
  // More boards than a frame can carry: the send raises for the whole port.
  window->Ports().Items(0).Controller().SetLEDBarCtrlCount(410);
  const std::size_t logged = lines_.size();

  window->LEDUpdateExecute();
  EXPECT_FALSE(window->Active());
  ASSERT_EQ(prompter.Messages.size(), 1U);
  EXPECT_EQ(prompter.Messages[0], "Range check error");
  ASSERT_LT(logged, lines_.size());
  EXPECT_EQ(lines_[logged], "Stopping");
  // Blanking so many boards fails as well, and is only logged.
  EXPECT_EQ(LinesFrom(logged + 1),
            std::vector<std::string>{"warning: ERangeError - Range check error"});
  EXPECT_FALSE(window->Ports().Items(0).Controller().Connected());
}

TEST_F(MainLoopSystem, ClosingTheWindowDropsUnsavedEditsAndRestarts) {
  SimProcess sim;
  WriteSettings(Port(sim.LinkPath(), Board(0, "KnightRider", "Nothing")));
  const auto window = CreateWindow();
  window->actConfigExecute();
  EXPECT_TRUE(window->isVisible());
  window->Ports().Items(0).Controllers().Add();
  window->Ports().Add();
  ASSERT_EQ(window->Ports().Count(), 2);
  const std::size_t before = lines_.size();

  window->close();
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(window->Active());
  ASSERT_EQ(window->Ports().Count(), 1);
  EXPECT_EQ(window->Ports().Items(0).Controllers().Count(), 1);
  const std::vector<std::string> expected{
      "Stopping", "Loading config from " + window->SettingsFileName(), "Starting"};
  EXPECT_EQ(LinesFrom(before), expected);
}

TEST_F(MainLoopSystem, ApplySettingsRestartsARunningLoopAndDestructionBlanksTheChain) {
  SimProcess sim;
  WriteSettings(Port(sim.LinkPath(), Board(0, "KnightRider", "KnightRider")));
  auto window = CreateWindow();
  for (int tick = 0; tick < 3; ++tick) {
    window->LEDUpdateExecute();
  }
  const std::size_t before = lines_.size();
  window->ApplySettings();
  EXPECT_TRUE(window->Active());
  EXPECT_EQ(LinesFrom(before),
            (std::vector<std::string>{"Apply settings", "Stopping", "Starting"}));

  window->LEDUpdateExecute();
  const auto lastUnitLit = [&sim](bool lit) {
    const std::vector<SimBytes> units = sim.Units();
    return !units.empty() && units.back().size() == 1U + 80U &&
           (NonZero(units.back(), 1, 80) > 0) == lit;
  };
  ASSERT_TRUE(WaitFor([&] { return lastUnitLit(true); }));
  window.reset();
  // The last thing the chain gets is a dark frame.
  EXPECT_TRUE(WaitFor([&] { return lastUnitLit(false); }));
}

}  // namespace

}  // namespace vx
