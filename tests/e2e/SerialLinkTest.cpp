#include "common/SimProcess.h"
#include "common/Wait.h"
#include "device/LEDController.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

namespace vx {

// The link driving vorlixa-sim through the real QSerialPort on a pseudo-terminal: what
// the chain receives, byte for byte, and what the link makes of the chain's answers.

namespace {

// Names a table case after its Name field.
struct CaseName {
  template <typename Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& c) const {
    return c.param.Name;
  }
};

constexpr std::uint8_t kMarker = 0x42;

SimProcess::Options Chain(int boards, std::string reply = "", int dropMs = 500) {
  SimProcess::Options options;
  options.Boards = boards;
  options.Reply = std::move(reply);
  options.DropMs = dropMs;
  return options;
}

SimBytes Zeros(int boards) {
  return SimBytes(static_cast<std::size_t>(boards) * 80, 0);
}

// A frame with board 0's bar 0 at full level: 39 LEDs lit, the 40th dark.
SimBytes FullBar0(int boards) {
  SimBytes frame = Zeros(boards);
  std::fill(frame.begin(), frame.begin() + 39, std::uint8_t{254});
  return frame;
}

std::vector<std::string> Hex(const std::vector<SimBytes>& units) {
  std::vector<std::string> texts;
  texts.reserve(units.size());
  for (const SimBytes& unit : units) {
    texts.push_back(HexText(unit));
  }
  return texts;
}

// Writes a byte that the link never sends onto the line, after everything the link has
// written: once the simulator logs it, every earlier unit is in the log too.
bool WriteMarker(const std::string& link) {
  const int fd = ::open(link.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const bool written = ::write(fd, &kMarker, 1) == 1;
  ::close(fd);
  return written;
}

// The units up to the marker, the marker excluded; fails the test if it never arrives.
std::vector<SimBytes> UnitsBeforeMarker(const SimProcess& sim) {
  for (std::size_t seen = 1;; ++seen) {
    if (!sim.WaitForUnits(seen)) {
      ADD_FAILURE() << "the marker never arrived; units: "
                    << ::testing::PrintToString(Hex(sim.Units()));
      return sim.Units();
    }
    std::vector<SimBytes> units = sim.Units();
    if (units.back() == SimBytes{kMarker}) {
      units.pop_back();
      return units;
    }
    seen = units.size();
  }
}

// The platform's port, counting the reads and the closes that the link asks of it.
class CountingPort final : public SerialPort {
 public:
  bool Open(const std::string& name) override { return port_->Open(name); }
  bool IsOpen() const override { return port_->IsOpen(); }
  void Close() override {
    ++Closes;
    port_->Close();
  }
  void Configure(const SerialTimeouts& timeouts) override { port_->Configure(timeouts); }
  std::size_t Read(std::uint8_t* buffer, std::size_t count) override {
    ++Reads;
    return port_->Read(buffer, count);
  }
  std::size_t Write(const std::uint8_t* data, std::size_t count, SerialDeadline deadline) override {
    return port_->Write(data, count, deadline);
  }
  void Purge() override { port_->Purge(); }
  SerialFailure Failure() const override { return port_->Failure(); }
  std::uint32_t LineSpeed() const override { return port_->LineSpeed(); }
  std::string ErrorString() const override { return port_->ErrorString(); }

  std::size_t Reads = 0;
  std::size_t Closes = 0;

 private:
  std::unique_ptr<SerialPort> port_ = CreateSerialPort();
};

void OpenOn(TLEDBarController& link, const SimProcess& sim, int boards) {
  link.Port = sim.LinkPath();
  link.SetLEDBarCtrlCount(boards);
  link.MaxValue = 254;
  ASSERT_TRUE(link.Open());
  ASSERT_TRUE(link.Connected());
}

// ---------------------------------------------------------------------------------------

TEST(SerialLinkSystem, ChainSeesDetectionChangedFramesOnlyAndTheBlankOnClose) {
  SimProcess sim(Chain(2));
  TLEDBarController link;
  OpenOn(link, sim, 2);
  EXPECT_EQ(link.LastError(), "");

  link.SendLevels();  // unchanged: nothing on the line
  link.LEDBarCtrls(0).Bars(0).SetLevel(1.0);
  link.SendLevels();
  link.SendLevels();  // unchanged again
  link.Close();
  EXPECT_FALSE(link.Connected());
  ASSERT_TRUE(WriteMarker(sim.LinkPath()));

  EXPECT_EQ(Hex(UnitsBeforeMarker(sim)), Hex({
                                             {0xFF},                 // detection
                                             ResetAnd(Zeros(2)),     // the forced frame
                                             ResetAnd(FullBar0(2)),  // the change
                                             ResetAnd(Zeros(2)),     // blanked on close
                                         }));
  // What a pseudo-terminal lets us see of the line settings while the link had it open
  // (closing the port restores the ones it found).
  EXPECT_THAT(sim.Events("line"), ::testing::Contains("115200 8N1 flow=none"));
}

TEST(SerialLinkSystem, WithoutBoardsOnlyResetsAreSentAndOnlyOnOpen) {
  SimProcess sim(Chain(0));
  TLEDBarController link;
  OpenOn(link, sim, 0);
  EXPECT_TRUE(link.Open());  // already open: no second detection
  link.SendLevels();
  link.SendLevels();
  link.Close();
  ASSERT_TRUE(WriteMarker(sim.LinkPath()));

  EXPECT_EQ(Hex(UnitsBeforeMarker(sim)), Hex({{0xFF}, {0xFF}}));
}

TEST(SerialLinkSystem, CloseAfterABlankFrameSendsNothing) {
  SimProcess sim(Chain(1));
  TLEDBarController link;
  OpenOn(link, sim, 1);
  link.Close();
  EXPECT_FALSE(link.Connected());
  ASSERT_TRUE(WriteMarker(sim.LinkPath()));

  EXPECT_EQ(Hex(UnitsBeforeMarker(sim)), Hex({{0xFF}, ResetAnd(Zeros(1))}));
}

// ---------------------------------------------------------------------------------------

struct DetectionCase {
  std::string Name;
  std::string Reply;  // the chain's answer to RESET
  std::string LastError;
};

class DetectionSystem : public ::testing::TestWithParam<DetectionCase> {};

TEST_P(DetectionSystem, RecordsTheAnswerAndKeepsTheLinkOpen) {
  SimProcess sim(Chain(1, GetParam().Reply));
  TLEDBarController link;
  OpenOn(link, sim, 1);
  EXPECT_EQ(link.LastError(), GetParam().LastError);

  // Whatever the answer, the forced frame follows.
  ASSERT_TRUE(sim.WaitForUnits(2));
  EXPECT_EQ(Hex(sim.Units()), Hex({{0xFF}, ResetAnd(Zeros(1))}));
  EXPECT_TRUE(link.Connected());
}

INSTANTIATE_TEST_SUITE_P(
    Replies, DetectionSystem,
    ::testing::Values(
        DetectionCase{"Reset", "FF", ""},
        DetectionCase{"Silent", "none", "Detection-warning: No response after 100 ms."},
        DetectionCase{"WrongByte", "3A", "Detection-warning: Unexpected response 0x3A"}),
    CaseName());

// ---------------------------------------------------------------------------------------

TEST(SerialLink, PortThatCannotBeOpenedLeavesTheLinkClosedAndSendsFailQuietly) {
  auto counting = std::make_unique<CountingPort>();
  CountingPort& port = *counting;
  TLEDBarController link(std::move(counting));
  link.Port = "/nonexistent/vorlixa/tty";
  link.SetLEDBarCtrlCount(2);
  link.MaxValue = 254;
  EXPECT_FALSE(link.Open());
  EXPECT_FALSE(link.Connected());
  EXPECT_FALSE(link.TimerActive());
  EXPECT_EQ(link.LastError(), "");

  link.LEDBarCtrls(1).Bars(1).SetLevel(1.0);
  EXPECT_NO_THROW(link.SendLevels());
  EXPECT_EQ(link.LastError(), "Could not send RESET command.");  // the first failure
  EXPECT_EQ(link.LastFrame()[80 + 40], 254);                     // kept up to date all the same
  EXPECT_FALSE(link.Forced());  // and counted as written: opening forces the next one
  EXPECT_NO_THROW(link.Close());
  EXPECT_FALSE(link.Connected());
  EXPECT_EQ(port.Closes, 0U);
}

TEST(SerialLinkSystem, UnpluggedAdapterFailsSendsWithoutRaisingUntilReopened) {
  SimProcess sim(Chain(1, "", 200));
  TLEDBarController link;
  OpenOn(link, sim, 1);
  ASSERT_EQ(link.LastError(), "");

  ASSERT_TRUE(sim.Drop());
  // Even once the adapter is back, the link's handle belongs to the old one.
  ASSERT_TRUE(sim.WaitUntilBack());
  link.LEDBarCtrls(0).Bars(0).SetLevel(1.0);
  EXPECT_NO_THROW(link.SendLevels());
  EXPECT_EQ(link.LastError(), "Could not send RESET command.");
  EXPECT_NO_THROW(link.Close());
  EXPECT_FALSE(link.Connected());

  // Opening again reaches the new line; the boards kept their levels.
  ASSERT_TRUE(link.Open());
  EXPECT_EQ(link.LastError(), "");
  link.Close();
  ASSERT_TRUE(WriteMarker(sim.LinkPath()));
  EXPECT_EQ(Hex(UnitsBeforeMarker(sim)), Hex({
                                             {0xFF},
                                             ResetAnd(Zeros(1)),
                                             {0xFF},  // the new line
                                             ResetAnd(FullBar0(1)),
                                             ResetAnd(Zeros(1)),
                                         }));
}

TEST(SerialLinkSystem, ADeadLineIsGivenUpAtOnceAndTheNewOneGetsTheCompleteFrame) {
  SimProcess sim(Chain(1, "", 1000));
  auto counting = std::make_unique<CountingPort>();
  CountingPort& port = *counting;
  TLEDBarController link(std::move(counting));
  OpenOn(link, sim, 1);
  link.LEDBarCtrls(0).Bars(0).SetLevel(1.0);

  // The line hangs up: a read finds that out at once and does not ask again.
  ASSERT_TRUE(sim.Drop());
  std::array<std::uint8_t, 1> reply{};
  const std::size_t reads = port.Reads;
  EXPECT_EQ(link.ReadBytes(reply, 100), 0U);
  EXPECT_EQ(port.Reads - reads, 1U);
  EXPECT_FALSE(link.Connected());
  EXPECT_EQ(link.State(), TLinkState::Reconnecting);

  // Once the line is back, the link finds it by its name, hears the chain's answer on a
  // later call and sends what the boards show.
  ASSERT_TRUE(sim.WaitUntilBack());
  EXPECT_TRUE(WaitFor([&link] {
    link.KeepOpen();
    return link.State() == TLinkState::Connected;
  }));
  EXPECT_EQ(link.State(), TLinkState::Connected);
  link.Close();
  ASSERT_TRUE(WriteMarker(sim.LinkPath()));
  const std::vector<SimBytes> units = UnitsBeforeMarker(sim);
  ASSERT_GE(units.size(), 3U);
  EXPECT_EQ(Hex({units.end() - 3, units.end()}),
            Hex({{0xFF}, ResetAnd(FullBar0(1)), ResetAnd(Zeros(1))}));
}

}  // namespace

}  // namespace vx
