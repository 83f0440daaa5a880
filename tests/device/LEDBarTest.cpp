#include "FakeSerialPort.h"
#include "base/Exceptions.h"
#include "base/Numbers.h"
#include "device/LEDController.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <tuple>

namespace vx {

namespace {

using Slots = std::array<std::uint8_t, kLEDsPerBoard>;

// A board image built from runs of (first slot, last slot, value); the rest is 0.
Slots Runs(std::initializer_list<std::tuple<int, int, int>> runs) {
  Slots image{};
  for (const auto& [first, last, value] : runs) {
    for (int s = first; s <= last; ++s) {
      image[static_cast<std::size_t>(s)] = static_cast<std::uint8_t>(value);
    }
  }
  return image;
}

// The level whose top LED is top on a bar of size LEDs.
double LevelForTop(int top, int size = 40) {
  return (top + 1) / (size - 1.0);
}

TLEDBarCtrl& OnlyBoard(TLEDBarController& link) {
  link.SetLEDBarCtrlCount(1);
  return link.LEDBarCtrls(0);
}

class BarTest : public ::testing::Test {
 protected:
  Slots Block() {
    Slots block{};
    board.BuildBlock(block);
    return block;
  }

  TLEDBarController link{std::make_unique<FakeSerialPort>()};
  TLEDBarCtrl& board = OnlyBoard(link);
  TLEDBar& bar = board.Bars(0);
  TLEDBar& bar1 = board.Bars(1);
};

// (value, expected Level, expected top LED) on a filled 40-LED bar.
class LevelTest : public BarTest,
                  public ::testing::WithParamInterface<std::tuple<double, double, int>> {};

TEST_P(LevelTest, LightsEverySlotUpToTheTopLED) {
  const auto [value, level, top] = GetParam();
  bar.SetLevel(value);
  EXPECT_EQ(bar.Level(), level);
  EXPECT_EQ(bar.TopLED(), top);
  EXPECT_EQ(board.LEDs, Runs({{0, top, 254}}));
}

INSTANTIATE_TEST_SUITE_P(Values, LevelTest,
                         ::testing::Values(std::tuple{-0.5, 0.0, 0}, std::tuple{0.0, 0.0, 0},
                                           std::tuple{0.03, 0.03, 0},  // n = 1
                                           std::tuple{0.5, 0.5, 19},   // 19.5 rounds to 20
                                           std::tuple{1.0, 1.0, 38}, std::tuple{1.7, 1.0, 38}));

TEST_F(BarTest, LevelsRoundHalvesToEven) {
  board.SetBarSize(3);
  bar.SetLevel(0.25);  // 0.5 -> 0
  EXPECT_EQ(bar.TopLED(), 0);
  bar.SetLevel(0.75);  // 1.5 -> 2
  EXPECT_EQ(bar.TopLED(), 1);
}

TEST_F(BarTest, FullLevelLeavesTheLastLEDToThePeakMarker) {
  bar.SetLevel(1.0);
  EXPECT_EQ(board.LEDs[39], 0);
  bar.FallOff = true;
  bar.SetLevel(1.0);
  EXPECT_EQ(board.LEDs, Runs({{0, 39, 254}}));
}

TEST_F(BarTest, DotLeavesNoTrailAtFullFade) {
  bar.FillBar = false;
  bar.SetLevel(LevelForTop(10));
  bar.SetLevel(LevelForTop(5));
  // The old top LED goes out with the fade step before the next send.
  EXPECT_EQ(board.LEDs, Runs({{5, 5, 254}, {10, 10, 254}}));
  board.FadeBars();
  EXPECT_EQ(board.LEDs, Runs({{5, 5, 254}}));
}

TEST_F(BarTest, DotDrawsADimTrailThatFadesStepByStep) {
  bar.FillBar = false;
  bar.SetFadeAmount(100);
  bar.SetLevel(LevelForTop(10));
  EXPECT_EQ(board.LEDs, Runs({{0, 10, 154}}));
  bar.SetLevel(LevelForTop(5));
  EXPECT_EQ(board.LEDs, Runs({{0, 4, 54}, {5, 10, 154}}));
  board.FadeBars();
  EXPECT_EQ(board.LEDs, Runs({{0, 4, 0}, {5, 5, 154}, {6, 10, 54}}));
}

TEST_F(BarTest, FilledBarKeepsItsBodyAndFadesWhatTheLevelLeft) {
  bar.SetFadeAmount(54);
  bar.SetLevel(LevelForTop(10));
  EXPECT_EQ(board.LEDs, Runs({{0, 9, 254}, {10, 10, 200}}));
  bar.SetLevel(LevelForTop(5));
  EXPECT_EQ(board.LEDs, Runs({{0, 4, 254}, {5, 10, 200}}));
  board.FadeBars();
  EXPECT_EQ(board.LEDs, Runs({{0, 4, 254}, {5, 5, 200}, {6, 10, 146}}));
}

TEST_F(BarTest, FadeAmountStaysWithinOneTo254) {
  bar.SetFadeAmount(0);
  EXPECT_EQ(bar.FadeAmount(), 1);
  bar.SetFadeAmount(255);
  EXPECT_EQ(bar.FadeAmount(), 254);
  bar.SetFadeAmount(77);
  EXPECT_EQ(bar.FadeAmount(), 77);
}

TEST_F(BarTest, PeakFallsFasterEveryStepUntilItMeetsTheLevel) {
  bar.FallOff = true;
  bar.SetLevel(1.0);
  EXPECT_DOUBLE_EQ(bar.PeakSpeed(), 0.01);
  double peak = 1.0;
  double step = 0.01;
  int steps = 0;
  while (bar.PeakLevel() > 0.0) {
    bar.SetLevel(0.0);
    step *= 1.01;
    peak = std::max(0.0, peak - step);
    ASSERT_NEAR(bar.PeakLevel(), peak, 1e-12) << "step " << steps;
    ASSERT_EQ(bar.PeakLED(), RoundHalfEven(39 * peak));
    ++steps;
  }
  EXPECT_EQ(steps, 70);  // the first steps are 0.0101, 0.010201, 0.01030301, ...
  board.FadeBars();      // only the level's LED and the marker remain
  EXPECT_EQ(board.LEDs, Runs({{0, 0, 254}}));
  bar.SetLevel(0.5);
  EXPECT_DOUBLE_EQ(bar.PeakSpeed(), bar.PeakStartSpeed);
}

TEST_F(BarTest, SetAllLEDsCoversExactlyTheBar) {
  bar1.SetAllLEDs(7);
  EXPECT_EQ(board.LEDs, Runs({{40, 79, 7}}));
  bar1.SetLevel(1.0);
  bar1.SetAllLEDs(0);
  EXPECT_EQ(board.LEDs, Slots{});
}

// (bar size, first and last LED of bar 0, of bar 1)
class GeometryTest : public BarTest,
                     public ::testing::WithParamInterface<std::tuple<int, int, int, int, int>> {};

TEST_P(GeometryTest, PlacesBothBars) {
  const auto [size, first0, last0, first1, last1] = GetParam();
  bar.SetLevel(0.4);
  board.LEDs[70] = 9;
  board.SetBarSize(static_cast<std::uint8_t>(size));
  EXPECT_EQ(bar.BarSize(), size);
  EXPECT_EQ(std::tuple(bar.FirstLED(), bar.LastLED(), bar1.FirstLED(), bar1.LastLED()),
            std::tuple(first0, last0, first1, last1));
  // Resizing clears nothing.
  EXPECT_EQ(bar.Level(), 0.4);
  EXPECT_EQ(board.LEDs[70], 9);
}

INSTANTIATE_TEST_SUITE_P(Sizes, GeometryTest,
                         ::testing::Values(std::tuple{40, 0, 39, 40, 79},
                                           std::tuple{32, 0, 31, 32, 63}, std::tuple{1, 0, 0, 1, 1},
                                           std::tuple{0, 0, -1, 0, -1}));

TEST_F(BarTest, NewBoardsTakeTheLinksDefaultSizeAndFollowItsChanges) {
  link.SetLEDBarDefaultSize(32);
  EXPECT_EQ(board.BarSize(), 32);
  link.SetLEDBarCtrlCount(2);
  EXPECT_EQ(link.LEDBarCtrls(1).Bars(1).FirstLED(), 32);
}

TEST_F(BarTest, SizeZeroBarsCoverNoSlotButSetLevelStillLightsSlotZero) {
  board.SetBarSize(0);
  link.MinValue = 10;
  link.MaxValue = 200;
  board.LEDs.fill(100);
  bar.SetAllLEDs(0);
  board.FadeBars();
  EXPECT_EQ(board.LEDs, Runs({{0, 79, 100}}));
  bar.SetLevel(0.3);
  EXPECT_EQ(board.LEDs[0], 254);
  EXPECT_EQ(Block(), Slots{});
}

// (LED, MinValue, MaxValue, inverted, byte sent)
class SendValueTest : public ::testing::TestWithParam<std::tuple<int, int, int, bool, int>> {};

TEST_P(SendValueTest, ClampsThenInvertsAndNeverSendsReset) {
  const auto [led, min, max, inverted, sent] = GetParam();
  EXPECT_EQ(LEDSendValue(static_cast<std::uint8_t>(led), static_cast<std::uint8_t>(min),
                         static_cast<std::uint8_t>(max), inverted),
            sent);
}

INSTANTIATE_TEST_SUITE_P(
    Values, SendValueTest,
    ::testing::Values(std::tuple{0, 10, 200, true, 245}, std::tuple{254, 10, 200, true, 55},
                      std::tuple{128, 10, 200, false, 128}, std::tuple{100, 0, 0, false, 0},
                      std::tuple{100, 0, 0, true, 254}, std::tuple{0, 0, 254, true, 254},
                      std::tuple{0, 255, 255, false, 254},  // MinValue 255: not RESET
                      std::tuple{255, 0, 255, false, 254},  // SetAllLEDs(255) likewise
                      std::tuple{0, 255, 255, true, 0}));

TEST_F(BarTest, BlockMirrorsReversedBarsAndLeavesFreePositionsDark) {
  link.MaxValue = 254;
  bar1.Reversed = true;
  board.LEDs[40] = 11;
  board.LEDs[79] = 22;
  board.LEDs[1] = 33;
  EXPECT_EQ(Block(), Runs({{1, 1, 33}, {79, 79, 11}, {40, 40, 22}}));

  board.SetBarSize(32);
  link.MinValue = 50;
  bar.Inverted = true;
  board.LEDs.fill(254);
  EXPECT_EQ(Block(), Runs({{0, 31, 1}, {32, 63, 254}}));  // 64..79 stay 0
}

TEST_F(BarTest, BarsIndexOutsideZeroAndOneRaises) {
  for (const int index : {2, -1}) {
    try {
      board.Bars(index);
      FAIL() << index;
    } catch (const ERangeError& e) {
      EXPECT_EQ(e.Message(), "LEDBar index out of range (" + std::to_string(index) + ")");
    }
  }
}

TEST_F(BarTest, SlotsPastTheBoardRaiseAfterTheSlotsBeforeThem) {
  board.SetBarSize(41);  // bar 1 covers 41..81
  EXPECT_THROW(bar1.SetAllLEDs(5), ERangeError);
  EXPECT_EQ(board.LEDs, Runs({{41, 79, 5}}));
  EXPECT_THROW(bar1.SetLevel(1.0), ERangeError);  // its fade step reaches slot 80
  EXPECT_EQ(board.LEDs, Runs({{41, 41, 5}}));

  link.MaxValue = 254;
  board.LEDs.fill(9);
  bar1.Reversed = true;
  Slots block{};
  EXPECT_THROW(board.BuildBlock(block), ERangeError);
  EXPECT_EQ(block, Runs({{0, 40, 9}}));  // bar 1's first slot would go to position 81

  board.SetBarSize(0);  // a full peak on an empty bar sits on slot -1
  bar.FallOff = true;
  EXPECT_THROW(bar.SetLevel(1.0), ERangeError);
}

}  // namespace

}  // namespace vx
