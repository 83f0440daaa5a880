#include "FakeSerialPort.h"
#include "base/Exceptions.h"
#include "common/ManualClock.h"
#include "common/Wait.h"
#include "device/LEDController.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

namespace vx {

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Calls = FakeSerialPort::Journal;

// A frame of length bytes built from runs of (first byte, last byte, value); the rest is 0.
Bytes Frame(std::size_t length, std::initializer_list<std::tuple<int, int, int>> runs = {}) {
  Bytes frame(length);
  for (const auto& [first, last, value] : runs) {
    std::fill(frame.begin() + first, frame.begin() + last + 1, static_cast<std::uint8_t>(value));
  }
  return frame;
}

class LinkTest : public ::testing::Test {
 protected:
  // Opens with a chain that answers RESET and forgets what detection wrote.
  void OpenQuietly(int boards) {
    link.SetLEDBarCtrlCount(boards);
    link.MaxValue = 254;
    port.Replies = {0xFF};
    ASSERT_TRUE(link.Open());
    ASSERT_EQ(link.LastError(), "");
    port.Writes.clear();
    port.Calls->clear();
  }

  // The link sleeps on its own thread between tries of the dark frame.
  std::shared_ptr<TManualClock> clock = std::make_shared<TManualClock>(/*sleepingMovesOn=*/true);
  std::unique_ptr<FakeSerialPort> owned = std::make_unique<FakeSerialPort>(clock);
  FakeSerialPort& port = *owned;
  TLEDBarController link{std::move(owned), clock};
};

TEST_F(LinkTest, NewLinkIsClosedWithDefaults) {
  EXPECT_EQ(link.Port, "COM1");
  EXPECT_EQ(link.Timeout(), 100U);
  EXPECT_EQ(link.UpdateInterval(), 50U);
  EXPECT_EQ(link.LEDBarDefaultSize(), 40);
  EXPECT_EQ(link.LEDBarCtrlCount(), 0);
  EXPECT_EQ(std::tuple(link.MinValue, link.MaxValue, link.AutoUpdate()), std::tuple(0, 0, false));
  EXPECT_FALSE(link.Connected());
  EXPECT_FALSE(link.TimerActive());
  EXPECT_EQ(link.LastError(), "");
  EXPECT_TRUE(port.Calls->empty());  // creating a link opens nothing
}

TEST_F(LinkTest, OpenWithoutBoardsWritesTwoResetsAndCloseWritesNothing) {
  port.Replies = {0xFF};
  ASSERT_TRUE(link.Open());
  EXPECT_TRUE(link.Connected());
  EXPECT_TRUE(link.TimerActive());
  EXPECT_EQ(*port.Calls, (Calls{"open COM1", "configure", "write 1", "write 1", "purge"}));
  EXPECT_EQ(port.Writes, (std::vector<Bytes>{{0xFF}, {0xFF}}));
  EXPECT_EQ(std::tuple(port.Timeouts.ReadInterval, port.Timeouts.ReadTotalMultiplier,
                       port.Timeouts.ReadTotalConstant, port.Timeouts.WriteTotalMultiplier,
                       port.Timeouts.WriteTotalConstant),
            std::tuple(5U, 1U, 1U, 1U, 100U));

  port.Calls->clear();
  link.SendLevels();
  link.Close();
  EXPECT_EQ(*port.Calls, (Calls{"purge", "purge", "close"}));
  EXPECT_FALSE(link.Connected());
  EXPECT_FALSE(link.TimerActive());
}

TEST_F(LinkTest, OpeningAnOpenLinkDoesNothing) {
  OpenQuietly(1);
  EXPECT_TRUE(link.Open());
  link.SetConnected(true);
  EXPECT_TRUE(port.Calls->empty());
  link.SetConnected(false);
  EXPECT_FALSE(link.Connected());
  link.SetConnected(true);
  EXPECT_TRUE(link.Connected());
  EXPECT_EQ(std::count(port.Calls->begin(), port.Calls->end(), "open COM1"), 1);
}

// (reply to RESET, Timeout, LastError)
class DetectionTest : public LinkTest,
                      public ::testing::WithParamInterface<std::tuple<Bytes, int, const char*>> {};

TEST_P(DetectionTest, RecordsTheOutcomeAndSendsTheFrameAnyway) {
  const auto& [reply, timeout, error] = GetParam();
  link.SetLEDBarCtrlCount(1);
  link.SetTimeout(static_cast<std::uint32_t>(timeout));
  port.Replies.assign(reply.begin(), reply.end());
  ASSERT_TRUE(link.Open());
  EXPECT_EQ(link.LastError(), error);
  EXPECT_TRUE(link.Connected());
  EXPECT_EQ(port.Writes, (std::vector<Bytes>{{0xFF}, {0xFF}, Frame(80)}));
}

INSTANTIATE_TEST_SUITE_P(
    Replies, DetectionTest,
    ::testing::Values(std::tuple{Bytes{0xFF}, 100, ""},
                      std::tuple{Bytes{}, 100, "Detection-warning: No response after 100 ms."},
                      std::tuple{Bytes{}, 10, "Detection-warning: No response after 10 ms."},
                      std::tuple{Bytes{0x3A}, 100, "Detection-warning: Unexpected response 0x3A"},
                      std::tuple{Bytes{0x0A, 0xFF}, 100,
                                 "Detection-warning: Unexpected response 0x0A"}));

TEST_F(LinkTest, TimeoutIsAtLeastTenAndAppliedOnOpen) {
  link.SetTimeout(5);
  EXPECT_EQ(link.Timeout(), 10U);
  link.SetTimeout(11);
  OpenQuietly(0);
  EXPECT_EQ(port.Timeouts.WriteTotalConstant, 11U);
  link.SetTimeout(300);  // not re-applied to an open port
  EXPECT_EQ(port.Timeouts.WriteTotalConstant, 11U);
}

TEST_F(LinkTest, PortNameGoesToThePortUnchangedUpTo260Characters) {
  link.Port = std::string(261, 'p');
  EXPECT_THROW(link.Open(), ERangeError);
  EXPECT_FALSE(link.Connected());
  link.Port = std::string(260, 'p');
  EXPECT_TRUE(link.Open());
  link.Close();
  link.Port = "COM3";
  EXPECT_TRUE(link.Open());
  EXPECT_EQ(port.Calls->at(0), "open " + std::string(260, 'p'));
  EXPECT_NE(std::find(port.Calls->begin(), port.Calls->end(), "open COM3"), port.Calls->end());
}

TEST_F(LinkTest, OnlyChangedFramesAreWrittenButEverySendPurges) {
  OpenQuietly(2);
  TLEDBar& bar = link.LEDBarCtrls(1).Bars(0);
  bar.SetLevel(3 / 39.0);  // top LED 2
  link.SendLevels();
  EXPECT_EQ(port.Writes, (std::vector<Bytes>{{0xFF}, Frame(160, {{80, 82, 254}})}));
  EXPECT_EQ(port.Calls->back(), "purge");

  port.Writes.clear();
  port.Calls->clear();
  link.SendLevels();
  EXPECT_TRUE(port.Writes.empty());
  EXPECT_EQ(*port.Calls, (Calls{"purge"}));

  bar.SetLevel(0.0);
  link.SendLevels();
  EXPECT_EQ(port.Writes, (std::vector<Bytes>{{0xFF}, Frame(160, {{80, 80, 254}})}));
}

TEST_F(LinkTest, CloseBlanksTheChainUnlessItIsBlankAlready) {
  OpenQuietly(1);
  link.LEDBarCtrls(0).Bars(1).SetLevel(1.0);
  link.SendLevels();
  port.Writes.clear();
  link.Close();
  EXPECT_EQ(port.Writes, (std::vector<Bytes>{{0xFF}, Frame(80)}));
  EXPECT_EQ(port.Calls->back(), "close");

  link.LEDBarCtrls(0).Bars(1).SetAllLEDs(0);
  OpenQuietly(1);  // detection wrote an all-zero frame
  link.Close();
  EXPECT_TRUE(port.Writes.empty());
  EXPECT_EQ(*port.Calls, (Calls{"purge", "close"}));
}

TEST_F(LinkTest, ResizingKeepsTheSurvivingBoardsAndForcesTheNextFrame) {
  OpenQuietly(2);
  TLEDBarCtrl* board1 = &link.LEDBarCtrls(1);
  board1->Bars(0).SetLevel(0.5);
  link.SetLEDBarDefaultSize(32);
  link.SetLEDBarCtrlCount(3);
  EXPECT_EQ(&link.LEDBarCtrls(1), board1);
  EXPECT_EQ(board1->Bars(0).Level(), 0.5);
  EXPECT_EQ(board1->LEDs[19], 254);
  EXPECT_EQ(link.LEDBarCtrls(2).BarSize(), 32);
  EXPECT_EQ(link.FrameLen(), 240);

  link.SetLEDBarCtrlCount(2);
  EXPECT_EQ(&link.LEDBarCtrls(1), board1);
  link.SendLevels();
  port.Writes.clear();
  link.SendLevels();
  EXPECT_TRUE(port.Writes.empty());
  link.SetLEDBarCtrlCount(2);  // even the same count forces the next frame
  EXPECT_TRUE(link.Forced());
  link.SendLevels();
  EXPECT_EQ(port.Writes.size(), 2U);
  EXPECT_THROW(link.SetLEDBarCtrlCount(-1), ERangeError);
  EXPECT_EQ(link.LEDBarCtrlCount(), 2);
}

TEST_F(LinkTest, BoardIndexOutsideTheChainRaises) {
  link.SetLEDBarCtrlCount(2);
  for (const int index : {-1, 2}) {
    try {
      link.LEDBarCtrls(index);
      FAIL() << index;
    } catch (const ERangeError& e) {
      EXPECT_EQ(e.Message(), "LEDBarSet index out of range (" + std::to_string(index) + ")");
    }
  }
}

TEST_F(LinkTest, ChainOf409BoardsFillsTheFrameBufferAndA410thRaises) {
  OpenQuietly(409);
  link.LEDBarCtrls(408).Bars(1).SetLevel(1.0);
  link.SendLevels();
  ASSERT_EQ(port.Writes.size(), 2U);
  EXPECT_EQ(port.Writes[1], Frame(32720, {{32680, 32718, 254}}));

  link.SetLEDBarCtrlCount(410);
  port.Writes.clear();
  try {
    link.SendLevels();
    FAIL();
  } catch (const ERangeError& e) {
    EXPECT_EQ(e.Message(), kRangeCheckError);
  }
  EXPECT_THROW(link.SendBlank(), ERangeError);
  EXPECT_TRUE(port.Writes.empty());
}

TEST_F(LinkTest, AFrameThatWentOutInPartCountsAsWrittenAndItsRestGoesNext) {
  port.Speed = 115200;
  OpenQuietly(1);
  link.LEDBarCtrls(0).Bars(0).SetLevel(1.0);
  port.WriteLimits = {41};  // RESET goes out, the frame only half
  link.SendLevels();
  EXPECT_EQ(link.LastError(), "");
  EXPECT_FALSE(link.Forced());
  const Bytes full = Frame(80, {{0, 38, 254}});
  ASSERT_EQ(port.Writes, (std::vector<Bytes>{{0xFF}, Bytes(full.begin(), full.begin() + 40)}));
  // An unchanged display is not sent again; the rest of the frame follows, and a change
  // waits behind it.
  port.Writes.clear();
  link.LEDBarCtrls(0).Bars(0).SetLevel(0.5);
  port.WriteLimits = {10};
  link.SendLevels();
  EXPECT_EQ(port.Writes, (std::vector<Bytes>{Bytes(full.begin() + 40, full.begin() + 50)}));
  EXPECT_EQ(Bytes(link.WrittenFrame().begin(), link.WrittenFrame().end()), full);
  port.Writes.clear();
  clock->AdvanceTo(link.LineFreeAt());
  link.SendLevels();
  EXPECT_EQ(port.Writes,
            (std::vector<Bytes>{
                Bytes(full.begin() + 50, full.end()), {0xFF}, Frame(80, {{0, 19, 254}})}));
  EXPECT_EQ(link.LastError(), "");
}

TEST_F(LinkTest, AFrameTheLineCannotTakeYetIsSkippedAndNotCountedAsWritten) {
  // 81 bytes at 2400 baud keep the line busy for 337.5 ms, far longer than a tick.
  port.Speed = 2400;
  OpenQuietly(1);
  TLEDBar& bar = link.LEDBarCtrls(0).Bars(0);
  const auto waitForLine = [this] { clock->AdvanceTo(link.LineFreeAt()); };
  waitForLine();
  bar.SetLevel(1.0);
  link.SendLevels();
  const Bytes full = Frame(80, {{0, 38, 254}});
  ASSERT_EQ(port.Writes, (std::vector<Bytes>{{0xFF}, full}));

  // The next level finds the line busy: it waits for nobody, and counts as not written.
  bar.SetLevel(0.5);
  link.SendLevels();
  EXPECT_EQ(port.Writes.size(), 2U);
  EXPECT_EQ(Bytes(link.WrittenFrame().begin(), link.WrittenFrame().end()), full);
  EXPECT_GT(link.LineFreeAt(), clock->Now());

  // Back at the level the chain shows: nothing to send, though the skipped frame differed.
  bar.SetLevel(1.0);
  waitForLine();
  link.SendLevels();
  EXPECT_EQ(port.Writes.size(), 2U);
  // A change on a free line goes out at once.
  bar.SetLevel(0.5);
  link.SendLevels();
  ASSERT_EQ(port.Writes.size(), 4U);
  EXPECT_EQ(port.Writes.back(), Frame(80, {{0, 19, 254}}));
  // The next frame may wait one tick (25 ms) behind the line, no longer.
  bar.SetLevel(1.0);
  clock->AdvanceTo(link.LineFreeAt() - 26ms);
  link.SendLevels();
  EXPECT_EQ(port.Writes.size(), 4U);
  clock->Advance(1ms);
  link.SendLevels();
  ASSERT_EQ(port.Writes.size(), 6U);
  EXPECT_EQ(port.Writes.back(), full);

  // Closing does not skip: the dark frame follows whatever is still going out.
  link.Close();
  ASSERT_EQ(port.Writes.size(), 8U);
  EXPECT_EQ(port.Writes.back(), Frame(80));
}

TEST_F(LinkTest, AMissingPortIsTriedOnceASecondUntilTheLinkIsClosed) {
  port.FailOpen = true;
  link.SetLEDBarCtrlCount(1);
  link.MaxValue = 254;
  std::vector<TLinkState> states;
  link.OnStateChange = [&states](TLEDBarController& sender, TLinkState) {
    states.push_back(sender.State());
  };
  EXPECT_FALSE(link.Open());
  EXPECT_EQ(link.State(), TLinkState::Waiting);
  link.KeepOpen();  // within the second: no attempt
  EXPECT_EQ(*port.Calls, Calls{"open COM1"});

  port.FailOpen = false;
  port.Replies = {0xFF};
  clock->Advance(999ms);
  link.KeepOpen();
  EXPECT_EQ(*port.Calls, Calls{"open COM1"});
  clock->Advance(1ms);
  link.KeepOpen();
  ASSERT_TRUE(link.Connected());
  EXPECT_EQ(link.State(), TLinkState::Waiting);  // the answer is looked for on the next tick
  link.KeepOpen();
  EXPECT_EQ(link.State(), TLinkState::Connected);
  EXPECT_EQ(port.Calls->at(1), "open COM1");

  // Gone again: closed at once, the levels kept, tried again a second later.
  port.Gone = true;
  link.LEDBarCtrls(0).Bars(0).SetLevel(1.0);
  link.SendLevels();
  EXPECT_FALSE(link.Connected());
  EXPECT_EQ(link.State(), TLinkState::Reconnecting);
  EXPECT_EQ(link.LastError(), "Could not send RESET command.");
  EXPECT_EQ(link.LEDBarCtrls(0).LEDs[0], 254);

  // Closed while waiting (a port that is no longer enabled): it stays closed.
  port.FailOpen = true;
  link.SetConnected(false);
  EXPECT_EQ(link.State(), TLinkState::Closed);
  clock->Advance(1050ms);
  const std::size_t calls = port.Calls->size();
  link.KeepOpen();
  EXPECT_EQ(port.Calls->size(), calls);
  EXPECT_EQ(states, (std::vector<TLinkState>{TLinkState::Waiting, TLinkState::Connected,
                                             TLinkState::Reconnecting, TLinkState::Closed}));
}

// After a loss, a chain that answered before has come back only when it answers again: a
// silent line in its place is let go and tried again a second later. A chain that never
// answered keeps its silent line. The loss is remembered through attempts that fail.
TEST_F(LinkTest, AfterALossOnlyAChainThatAnsweredMustAnswerAgain) {
  std::vector<TLinkState> states;
  link.OnStateChange = [&states](TLEDBarController& sender, TLinkState) {
    states.push_back(sender.State());
  };
  OpenQuietly(1);
  port.Gone = true;
  link.LEDBarCtrls(0).Bars(0).SetLevel(1.0);
  link.SendLevels();
  ASSERT_EQ(link.State(), TLinkState::Reconnecting);

  port.FailOpen = true;  // back for a moment without its permissions
  port.Deny = true;
  clock->Advance(1s);
  link.KeepOpen();
  EXPECT_EQ(link.State(), TLinkState::Denied);
  port.Deny = false;
  clock->Advance(1s);
  link.KeepOpen();
  EXPECT_EQ(link.State(), TLinkState::Reconnecting);

  port.FailOpen = false;  // a line that takes bytes and says nothing
  clock->Advance(1s);
  link.KeepOpen();
  clock->Advance(98ms);  // and 1 ms for the read
  link.KeepOpen();
  ASSERT_TRUE(link.Connected());
  port.Calls->clear();
  link.KeepOpen();  // the answer was due
  EXPECT_EQ(*port.Calls, Calls{"close"});
  EXPECT_EQ(link.State(), TLinkState::Reconnecting);
  clock->Advance(999ms);
  link.KeepOpen();
  EXPECT_FALSE(link.Connected());

  clock->Advance(1ms);
  port.Writes.clear();
  port.Replies = {0xFF};
  link.KeepOpen();
  link.KeepOpen();
  EXPECT_EQ(link.State(), TLinkState::Connected);
  EXPECT_EQ(port.Writes, (std::vector<Bytes>{{0xFF}, {0xFF}, Frame(80, {{0, 38, 254}})}));

  link.Close();
  ASSERT_TRUE(link.Open());  // no answer
  port.Gone = true;
  link.LEDBarCtrls(0).Bars(0).SetLevel(0.5);
  link.SendLevels();
  clock->Advance(1s);
  link.KeepOpen();
  clock->Advance(100ms);
  link.KeepOpen();
  EXPECT_TRUE(link.Connected());
  EXPECT_EQ(link.LastError(), "Detection-warning: No response after 100 ms.");
  EXPECT_EQ(port.Writes.back(), Frame(80, {{0, 19, 254}}));
  EXPECT_EQ(states, (std::vector<TLinkState>{
                        TLinkState::Connected, TLinkState::Reconnecting, TLinkState::Denied,
                        TLinkState::Reconnecting, TLinkState::Connected, TLinkState::Closed,
                        TLinkState::NoAnswer, TLinkState::Reconnecting, TLinkState::NoAnswer}));
}

TEST_F(LinkTest, AFullPortSkipsTheFrameAndIsLostOnlyWhenItRefusesLongerThanTheTimeout) {
  OpenQuietly(1);
  TLEDBar& bar = link.LEDBarCtrls(0).Bars(0);
  bar.SetLevel(1.0);
  port.WriteLimits = {0};
  link.SendLevels();
  // Skipped, not failed: the port is kept and the frame goes once it takes bytes again.
  EXPECT_TRUE(link.Connected());
  EXPECT_EQ(link.LastError(), "");
  EXPECT_EQ(Bytes(link.WrittenFrame().begin(), link.WrittenFrame().end()), Frame(80));
  port.Writes.clear();
  link.SendLevels();
  EXPECT_EQ(port.Writes, (std::vector<Bytes>{{0xFF}, Frame(80, {{0, 38, 254}})}));

  // A port that refuses every byte, frame after frame, is lost once that has lasted
  // longer than the frame's line time (none here) and Timeout (its driver counts its
  // queue).
  port.Queued = 0;
  bar.SetLevel(0.5);
  int refused = 0;
  const auto refuse = [&] {
    port.WriteLimits = {0};
    link.SendLevels();
    ++refused;
  };
  refuse();
  clock->Advance(100ms);
  refuse();
  EXPECT_TRUE(link.Connected());
  clock->Advance(1ms);
  refuse();
  EXPECT_FALSE(link.Connected());
  EXPECT_GT(refused, 1);
  EXPECT_EQ(link.State(), TLinkState::Reconnecting);
  EXPECT_EQ(link.LastError(), "Could not send RESET command.");
}

TEST_F(LinkTest, DataBytesNeverRepeatTheResetCommand) {
  OpenQuietly(1);
  link.MinValue = 255;
  link.MaxValue = 255;
  link.SendLevels();
  EXPECT_EQ(port.Writes.back(), Frame(80, {{0, 79, 254}}));
}

TEST_F(LinkTest, AutoUpdateSendsOnEveryBarChangeAndTimerExpiry) {
  OpenQuietly(1);
  TLEDBarCtrl& board = link.LEDBarCtrls(0);
  board.Bars(0).SetLevel(1.0);
  EXPECT_TRUE(port.Writes.empty());

  link.SetAutoUpdate(true);
  board.Bars(0).SetLevel(0.0);
  EXPECT_EQ(port.Writes.back(), Frame(80, {{0, 0, 254}}));

  link.SetUpdateInterval(10);
  EXPECT_TRUE(link.TimerActive());
  board.LEDs[1] = 100;
  board.Bars(0).SetFadeAmount(50);
  // Every expiry fades once more, so the timer keeps sending until the LED is dark.
  EXPECT_TRUE(WaitFor([&] { return port.Writes.back()[1] == 0; }));
  EXPECT_EQ(port.Writes.back(), Frame(80, {{0, 0, 254}}));
  link.Close();
  EXPECT_FALSE(link.TimerActive());
}

TEST_F(LinkTest, TimerSendsOnlyWhileAutoUpdateIsOn) {
  link.SetAutoUpdate(true);  // before opening: the timer sends from the start
  link.SetUpdateInterval(10);
  OpenQuietly(1);
  TLEDBarCtrl& board = link.LEDBarCtrls(0);
  board.Bars(0).SetFadeAmount(1);
  board.LEDs[1] = 200;  // every expiry fades it by one step: every send changes the frame
  EXPECT_TRUE(WaitFor([&] { return port.Writes.size() >= 4; }));

  link.SetAutoUpdate(false);
  EXPECT_TRUE(link.TimerActive());
  port.Writes.clear();
  const std::uint8_t faded = board.LEDs[1];
  // A timer of the same period sees several periods go by in which the link sends nothing.
  QTimer periods;
  int expired = 0;
  QObject::connect(&periods, &QTimer::timeout, [&] { ++expired; });
  periods.start(10);
  EXPECT_TRUE(WaitFor([&] { return expired >= 5; }));
  EXPECT_TRUE(port.Writes.empty());
  EXPECT_EQ(board.LEDs[1], faded);  // no expiry faded it either

  link.SetAutoUpdate(true);
  EXPECT_TRUE(WaitFor([&] { return !port.Writes.empty(); }));
  link.Close();
  EXPECT_FALSE(link.TimerActive());
}

// The report comes after the expiry, and the timer rests while a box would show it: no
// expiry runs inside it, and after it the timer goes on.
TEST_F(LinkTest, ErrorsOnTheTimerAreReportedNotThrownIntoTheEventLoop) {
  std::vector<std::string> errors;
  bool nested = false;
  bool showing = false;
  link.OnTimerError = [&](TLEDBarController& sender, const std::string& error) {
    EXPECT_EQ(&sender, &link);
    nested = nested || showing;
    errors.push_back(error);
    if (errors.size() == 1) {
      showing = true;
      RunEventsFor(100);  // a box open for a while
      showing = false;
    }
  };
  link.SetLEDBarCtrlCount(410);
  link.SetUpdateInterval(10);
  EXPECT_THROW(link.Open(), ERangeError);  // from the send after detection
  EXPECT_TRUE(link.Connected());
  link.SetAutoUpdate(true);
  EXPECT_TRUE(WaitFor([&] { return errors.size() >= 2; }));
  EXPECT_FALSE(nested);
  EXPECT_EQ(errors[0], kRangeCheckError);

  EXPECT_THROW(link.Close(), ERangeError);
  EXPECT_FALSE(link.Connected());  // closed all the same, timer stopped
  EXPECT_FALSE(link.TimerActive());
}

}  // namespace

}  // namespace vx
