#include "common/ManualClock.h"
#include "common/SettingsXml.h"
#include "common/SimProcess.h"
#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "config/unSettings.h"
#include "device/LEDController.h"
#include "inputs/unBarIO.h"
#include "loop/UpdateLoop.h"
#include "support/Log.h"
#include "support/unLog.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vx {

// The update loop on its own, over ports loaded from a settings file onto real serial
// ports of simulated chains.

namespace {

// An input whose every update fails.
class TLBFailing final : public TLBInput {
 public:
  static const TLBInputClass ClassInfo;
  const TLBInputClass& Class() const override { return ClassInfo; }
  void Activate(TLEDBar& /*bar*/) override {}
  void UpdateBar(TLEDBar& /*bar*/) override { throw std::runtime_error("input broke"); }
  void Deactivate(TLEDBar& /*bar*/) override {}
};

std::unique_ptr<TLBInput> CreateFailing() {
  return std::make_unique<TLBFailing>();
}
const TLBInputClass TLBFailing::ClassInfo{"TLBFailing", &CreateFailing};

class UpdateLoopSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    StartAppLog(Path("vorlixa.log"));
    AppLog()->OnMessage = [this](TLog&, const std::string& text) { lines_.push_back(text); };
    AppLog()->OnWarning = [this](TLog&, const std::string& text) {
      lines_.push_back("warning: " + text);
    };
    AppLog()->OnError = [this](TLog&, const std::string& text) {
      lines_.push_back("error: " + text);
    };
    QObject::connect(&loop_, &TUpdateLoop::StatusChanged, [this] { ++statusChanges_; });
  }
  void TearDown() override {
    loop_.Stop();
    StopAppLog();
  }

  std::string Path(const std::string& name) const {
    return folder_.filePath(QString::fromStdString(name)).toStdString();
  }

  // Loads the ports as the window does, and hands them to the loop. Not enabled: only
  // the loop's start opens them.
  void Load(const std::string& device, const std::string& boards) {
    std::ofstream(Path("vorlixa.xml")) << PortsSettingsXml(PortXml(device, boards, false));
    TSettings settings(ports_, Path("vorlixa.xml"));
    settings.LoadSettings();
    ASSERT_EQ(ports_.Count(), 1);
    loop_.SetPorts(&ports_);
  }

  QTemporaryDir folder_;
  std::vector<std::string> lines_;
  // The links go by the test's clock, which the test moves on a tick at a time.
  std::shared_ptr<TManualClock> clock_ = std::make_shared<TManualClock>(/*sleepingMovesOn=*/true);
  TPortCfgList ports_{nullptr, clock_};
  TUpdateLoop loop_;
  int statusChanges_ = 0;
};

TEST_F(UpdateLoopSystem, APortWithoutControllersIsOpenedSkippedAndClosed) {
  SimProcess sim;
  Load(sim.LinkPath(), "");
  TLEDBarController& link = ports_.Items(0).Controller();
  loop_.Start();
  // Detection sends a RESET.
  EXPECT_TRUE(link.Connected());
  EXPECT_TRUE(loop_.Active());
  EXPECT_EQ(statusChanges_, 1);
  ASSERT_TRUE(sim.WaitForUnits(1));
  const std::size_t units = sim.Units().size();

  for (int tick = 0; tick < 5; ++tick) {
    loop_.LEDUpdateExecute();
  }
  EXPECT_EQ(link.LastFrame()[0], 0);
  const int changes = statusChanges_;
  loop_.Stop();
  EXPECT_FALSE(loop_.Active());
  EXPECT_FALSE(link.Connected());
  EXPECT_EQ(statusChanges_, changes + 1);
  EXPECT_EQ(sim.Units().size(), units) << "the skipped port received frames";
}

TEST_F(UpdateLoopSystem, AFailingInputFreezesOnlyItsBar) {
  InputList().Register(TLBFailing::ClassInfo);
  SimProcess sim;
  Load(sim.LinkPath(), BoardXml(0, TwoBarsXml("Failing", "KnightRider")) +
                           BoardXml(1, TwoBarsXml("KnightRider", "Nothing")));
  loop_.Start();
  ASSERT_TRUE(loop_.Active());
  TLEDBarController& link = ports_.Items(0).Controller();
  link.LEDBarCtrls(0).Bars(0).SetLevel(0.5);  // the frozen bar keeps what it shows
  const std::size_t logged = lines_.size();
  const std::size_t units = sim.Units().size();

  constexpr int kTicks = 8;
  for (int tick = 0; tick < kTicks; ++tick) {
    // As far apart as the timer's ticks: each frame then finds its line free.
    clock_->Advance(std::chrono::milliseconds(25));
    loop_.LEDUpdateExecute();
  }
  EXPECT_TRUE(loop_.Active());
  EXPECT_EQ(lines_.size(), logged) << "a failing bar was logged";
  ASSERT_TRUE(sim.WaitForUnits(units + kTicks));
  const std::vector<SimBytes> received = sim.Units();
  const SimBytes& last = received.back();
  const SimBytes& before = received[received.size() - 2];
  ASSERT_EQ(last.size(), 1U + 160U);
  // Board 0 bar 1 and board 1 bar 0 sweep; board 0 bar 0 holds its half, board 1 bar 1 is
  // dark.
  EXPECT_GT(LitLEDs(last, 2, 0, 1, 40), 0U);
  EXPECT_GT(LitLEDs(last, 2, 1, 0, 40), 0U);
  EXPECT_EQ(LitLEDs(last, 2, 1, 1, 40), 0U);
  EXPECT_NE(SimBytes(before.begin() + 41, before.begin() + 81),
            SimBytes(last.begin() + 41, last.begin() + 81));
  EXPECT_GT(LitLEDs(last, 2, 0, 0, 40), 0U);
}

}  // namespace

}  // namespace vx
