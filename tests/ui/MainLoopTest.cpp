#include "common/DiscardingPort.h"
#include "common/FakePrompter.h"
#include "common/SettingsXml.h"
#include "common/SimProcess.h"
#include "common/Wait.h"
#include "common/WaveTestDevice.h"
#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "device/LEDController.h"
#include "inputs/unBarIO.h"
#include "inputs/unWaveIn.h"
#include "loop/UpdateLoop.h"
#include "platform/Prompter.h"
#include "support/Log.h"
#include "support/unLog.h"
#include "ui/TrayIcon.h"
#include "ui/unMain.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
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

// A chain that answers every RESET at once and counts the frames it is sent (a frame
// goes out with its RESET in one write).
class FrameCountingPort final : public DiscardingPort {
 public:
  explicit FrameCountingPort(std::shared_ptr<std::size_t> frames) : frames_(std::move(frames)) {}
  std::size_t Write(const std::uint8_t* data, std::size_t count, SerialDeadline deadline) override {
    if (count > 1) {
      ++*frames_;
    }
    return DiscardingPort::Write(data, count, deadline);
  }

 private:
  std::shared_ptr<std::size_t> frames_;
};

// A message box that stays open, running the event loop, until its chain has received
// some more frames (or a bound for a busy machine has passed); it notes what it showed
// and whether a tick of the loop was running when it opened.
class BoxOpenForFrames final : public Prompter {
 public:
  BoxOpenForFrames(std::shared_ptr<std::size_t> frames, std::size_t framesWhileOpen)
      : frames_(std::move(frames)),
        framesWhileOpen_(framesWhileOpen),
        previous_(SetPrompter(this)) {}
  ~BoxOpenForFrames() override { SetPrompter(previous_); }
  BoxOpenForFrames(const BoxOpenForFrames&) = delete;
  BoxOpenForFrames& operator=(const BoxOpenForFrames&) = delete;

  void ShowMessage(const std::string& text) override {
    Messages.push_back(text);
    OpenedInsideATick = OpenedInsideATick || (Loop != nullptr && Loop->Ticking());
    const std::size_t atOpen = *frames_;
    WaitFor([&] { return *frames_ >= atOpen + framesWhileOpen_; });
    FramesWhileOpen.push_back(*frames_ - atOpen);
  }
  bool AskYesNo(const std::string& text) override {
    ShowMessage(text);
    return false;
  }

  const TUpdateLoop* Loop = nullptr;
  std::vector<std::string> Messages;
  std::vector<std::size_t> FramesWhileOpen;  // per message
  bool OpenedInsideATick = false;

 private:
  std::shared_ptr<std::size_t> frames_;
  std::size_t framesWhileOpen_;
  Prompter* previous_;
};

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
  ASSERT_LT(logged, lines_.size());
  EXPECT_EQ(lines_[logged], "Stopping");
  // Blanking so many boards fails as well, and is only logged.
  EXPECT_EQ(LinesFrom(logged + 1),
            std::vector<std::string>{"warning: ERangeError - Range check error"});
  EXPECT_FALSE(window->Ports().Items(0).Controller().Connected());
  // Shown once the tick has returned.
  EXPECT_TRUE(prompter.Messages.empty()) << "shown from inside the tick";
  QCoreApplication::sendPostedEvents();
  ASSERT_EQ(prompter.Messages.size(), 1U);
  EXPECT_EQ(prompter.Messages[0], "Range check error");
}

// The running loop finds a sound device that cannot be opened: the window shows it once,
// after the tick has returned, and the chain goes on getting its frames while the box is
// open.
TEST_F(MainLoopTest, ASoundDeviceThatCannotBeOpenedIsShownOnceAfterTheTickWhileTheFramesGoOn) {
  const WaveTestDevice device(WaveTestSetup::NoDefault);
  // The bars' recorder tries again every 20 ms, so that the box outlives many a failed
  // opening.
  std::shared_ptr<TWaveIn> recorder = AcquireRecorder();
  recorder->CloseDevice();
  recorder->RetryInterval = std::chrono::milliseconds(20);
  constexpr std::size_t kFramesWhileOpen = 20;
  const auto frames = std::make_shared<std::size_t>(0);
  BoxOpenForFrames box(frames, kFramesWhileOpen);
  WriteSettings(Port("counted", Board(0, "KnightRider", "WaveInput")));
  TMainOptions options;
  options.SettingsFile = SettingsFile();
  options.PortFactory = [frames] { return std::make_unique<FrameCountingPort>(frames); };
  TfrmMain window(options);
  box.Loop = &window.Loop();
  ASSERT_TRUE(window.Active());
  ASSERT_EQ(recorder.use_count(), 2) << "the sound bar records through another recorder";

  ASSERT_TRUE(WaitFor([&] { return !box.FramesWhileOpen.empty(); }));
  EXPECT_FALSE(box.OpenedInsideATick);
  EXPECT_GE(box.FramesWhileOpen[0], kFramesWhileOpen);
  // The openings keep failing; the message stays the one.
  const std::size_t afterClose = *frames;
  ASSERT_TRUE(WaitFor([&] { return *frames >= afterClose + kFramesWhileOpen; }));
  EXPECT_EQ(box.Messages, std::vector<std::string>{"Could not open wave device: 2"});
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
