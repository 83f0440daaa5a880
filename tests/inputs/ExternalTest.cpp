#include "base/Exceptions.h"
#include "device/LEDController.h"
#include "inputs/unExternal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace vx {

namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

// The refused level neither replaces the kept one nor restarts its hold.
TEST(ExternalLevels, AHeldLevelFallsToZeroAfterItsHoldAndARefusedOneChangesNothing) {
  TExternalLevels levels;
  const auto start = TExternalLevels::TClock::now();
  EXPECT_DOUBLE_EQ(levels.Level("level1", 5s, start), 0.0);
  levels.SetLevel("level1", 0.5, start);
  EXPECT_THROW(levels.SetLevel("level1", 2.0, start + 900ms), ERangeError);
  EXPECT_DOUBLE_EQ(levels.Level("level1", 1s, start + 999ms), 0.5);
  EXPECT_DOUBLE_EQ(levels.Level("level1", 1s, start + 1s), 0.0);
  EXPECT_DOUBLE_EQ(levels.Level("level1", 0s, start + 24h), 0.5);  // 0 keeps
  levels.SetLevel("level1", 1.0, start + 2s);
  EXPECT_DOUBLE_EQ(levels.Level("level1", 1s, start + 2500ms), 1.0);
  EXPECT_DOUBLE_EQ(levels.Level("other", 0s, start + 2500ms), 0.0);
}

TEST(ExternalLevels, ChannelsAndTheirNamesHaveLimits) {
  TExternalLevels levels;
  const auto start = TExternalLevels::TClock::now();
  levels.Listen("heard");
  levels.SetLevel("heard", 0.25, start);
  for (std::size_t i = 0; i < TExternalLevels::kMaxUnheardChannels; ++i) {
    levels.SetLevel("channel" + std::to_string(i), 0.5, start + std::chrono::seconds(i));
  }
  levels.SetLevel("channel0", 0.75, start + 1h);  // set again: now the newest
  // Unheard channels beyond the limit push out the one set longest ago, never a heard one.
  levels.SetLevel("one more", 0.5, start + 2h);
  levels.SetLevel("and another", 0.5, start + 3h);
  EXPECT_DOUBLE_EQ(levels.Level("channel1", 0s), 0.0);
  EXPECT_DOUBLE_EQ(levels.Level("channel2", 0s), 0.0);
  EXPECT_DOUBLE_EQ(levels.Level("channel3", 0s), 0.5);
  EXPECT_DOUBLE_EQ(levels.Level("channel0", 0s), 0.75);
  EXPECT_DOUBLE_EQ(levels.Level("and another", 0s), 0.5);
  EXPECT_DOUBLE_EQ(levels.Level("heard", 0s), 0.25);
  // A channel that loses its bar counts among the unheard from then on.
  levels.Unlisten("heard");
  levels.SetLevel("last", 0.5, start + 4h);
  EXPECT_DOUBLE_EQ(levels.Level("heard", 0s), 0.0);
  EXPECT_DOUBLE_EQ(levels.Level("channel3", 0s), 0.0);
  EXPECT_DOUBLE_EQ(levels.Level("channel4", 0s), 0.5);
  EXPECT_DOUBLE_EQ(levels.Level("last", 0s), 0.5);
  levels.Listen(std::string(TExternalLevels::kMaxChannelName, 'n'));
  levels.SetLevel(std::string(TExternalLevels::kMaxChannelName, 'n'), 0.5);
  try {
    levels.SetLevel(std::string(TExternalLevels::kMaxChannelName + 1, 'n'), 0.5);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "A channel name has at most 255 bytes, not 256");
  }
}

// Bars are activated again when settings are applied, and destroyed without a deactivation
// when their input changes: the channel list follows every path.
TEST(ExternalInput, EveryBarCountsAsAListenerFromActivationUntilItLetsGo) {
  TLEDBarController link;
  link.SetLEDBarCtrlCount(2);
  auto first = std::make_unique<TLBExternal>();
  TLBExternal second;
  TLBExternal third;
  second.PropByName("Channel")->SetAsText("fan");
  first->Activate(link.LEDBarCtrls(0).Bars(0));
  second.Activate(link.LEDBarCtrls(0).Bars(1));
  third.Activate(link.LEDBarCtrls(1).Bars(0));
  EXPECT_EQ(ExternalLevels().Channels(), (Strings{"fan", "level1"}));

  third.Deactivate(link.LEDBarCtrls(1).Bars(0));
  EXPECT_EQ(ExternalLevels().Channels(), (Strings{"fan", "level1"}));
  first.reset();
  EXPECT_EQ(ExternalLevels().Channels(), (Strings{"fan"}));
  second.PropByName("Channel")->SetAsText("pump");
  second.Activate(link.LEDBarCtrls(0).Bars(1));
  EXPECT_EQ(ExternalLevels().Channels(), (Strings{"pump"}));

  ExternalLevels().SetLevel("pump", 0.5);
  second.UpdateBar(link.LEDBarCtrls(0).Bars(1));
  EXPECT_DOUBLE_EQ(link.LEDBarCtrls(0).Bars(1).Level(), 0.5);
  second.Deactivate(link.LEDBarCtrls(0).Bars(1));
  EXPECT_DOUBLE_EQ(link.LEDBarCtrls(0).Bars(1).Level(), 0.0);
  EXPECT_EQ(ExternalLevels().Channels(), Strings{});
}

}  // namespace

}  // namespace vx
