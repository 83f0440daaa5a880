#include "base/Exceptions.h"
#include "common/PostedReports.h"
#include "common/ScopedLocale.h"
#include "common/Wait.h"
#include "common/WaveTestDevice.h"
#include "device/LEDController.h"
#include "inputs/unBarIO.h"
#include "inputs/unCPULoad.h"
#include "inputs/unWaveIn.h"
#include "platform/CpuCounters.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vx {

namespace {

// ---- Registry ----------------------------------------------------------------------

TEST(InputRegistry, FindsClassesByNameWhateverTheCase) {
  EXPECT_EQ(&InputList().ClassByName("knightrider"), &TLBKnightRider::ClassInfo);
  EXPECT_EQ(&InputList().ClassByName("WAVEINPUT"), &TLBWaveInput::ClassInfo);
  EXPECT_EQ(&InputList().ClassByName("CPUUsage"), &TLBCPUUsage::ClassInfo);
  EXPECT_EQ(&InputList().ClassByName("Spectrum"), &TLBNothing::ClassInfo);
  EXPECT_EQ(&InputList().ClassByName(""), &TLBNothing::ClassInfo);
  EXPECT_STREQ(InputList().ClassByName("knightrider").Create()->ClassName(), "TLBKnightRider");
}

TEST(InputRegistry, ListsTheNamesInRegistrationOrder) {
  std::vector<std::string> names{"old", "lines"};
  InputList().GetNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"Nothing", "KnightRider", "WaveInput", "CPUUsage",
                                             "MemoryUsage", "NetworkTraffic", "DiskActivity",
                                             "Temperature", "External"}));
  EXPECT_EQ(InputList().NameByIndex(1), "KnightRider");
  for (int index : {-1, InputList().Count(), 100}) {
    EXPECT_EQ(InputList().NameByIndex(index), "Nothing") << index;
  }
}

// ---- Properties --------------------------------------------------------------------

TEST(InputProp, IntegerPropertyKeepsItsTextAndReadsItAsANumber) {
  TLBInputProp prop("Offset", pkInteger);
  EXPECT_EQ(prop.AsInteger(), 0);
  EXPECT_EQ(prop.AsText(), "");
  prop.SetAsText("12");
  EXPECT_EQ(prop.AsInteger(), 12);
  EXPECT_EQ(prop.AsText(), "12");
  prop.SetAsText("twelve");
  EXPECT_EQ(prop.AsInteger(), 0);
  EXPECT_DOUBLE_EQ(prop.AsFloat(), 0.0);
  EXPECT_EQ(prop.AsText(), "twelve");
  for (const char* text : {"$10", "0x10", " 12", "12 "}) {
    prop.SetAsText(text);
    EXPECT_EQ(prop.AsInteger(), 0) << text;  // decimal digits only
  }
  prop.SetAsText("-7");
  EXPECT_EQ(prop.AsInteger(), -7);
  prop.SetFloat(2.5);
  EXPECT_EQ(prop.AsInteger(), 2);  // halves to the even neighbour
  prop.SetFloat(1e12);
  EXPECT_EQ(prop.AsInteger(), 0);  // out of range reads as 0, never fails
}

TEST(InputProp, FloatPropertyWritesTheFixedFormat) {
  TLBInputProp prop("Moving_step", pkFloat);
  prop.SetFloat(1.0);
  EXPECT_EQ(prop.AsText(), "1");
  prop.SetAsText("0.5");
  EXPECT_DOUBLE_EQ(prop.AsFloat(), 0.5);
  EXPECT_EQ(prop.AsText(), "0.5");
  prop.SetFloat(0.1 + 0.2);
  EXPECT_EQ(prop.AsText(), "0.3");
  prop.SetInteger(3);
  EXPECT_EQ(prop.AsText(), "3");
}

TEST(InputProp, FloatPropertyRefusesTextThatIsNoNumberAndKeepsItsValue) {
  TLBInputProp prop("Moving_step", pkFloat);
  prop.SetFloat(0.25);
  try {
    prop.SetAsText("fast");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'fast' is not a valid floating point value");
  }
  EXPECT_EQ(prop.AsText(), "0.25");
}

TEST(InputProp, FloatPropertyAcceptsTheUsersCommaAndWritesAPoint) {
  ScopedNumericLocale german("de_DE.UTF-8");
  if (!german.Active()) {
    GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  }
  TLBInputProp prop("Moving_step", pkFloat);
  prop.SetAsText("0,5");
  EXPECT_DOUBLE_EQ(prop.AsFloat(), 0.5);
  EXPECT_EQ(prop.AsText(), "0.5");
  prop.SetAsText("1.25");
  EXPECT_EQ(prop.AsText(), "1.25");
}

TEST(Input, FindsPropertiesByNameAndPosition) {
  TLBKnightRider input;
  ASSERT_EQ(input.PropCount(), 3);
  EXPECT_EQ(input.PropByName("offset"), input.Props(0));
  EXPECT_EQ(input.PropByName("Offset")->Unit, "LEDs");
  EXPECT_EQ(input.PropByName("Speed"), nullptr);
  EXPECT_EQ(input.Props(-1), nullptr);
  EXPECT_EQ(input.Props(2)->Name, "Moving_step");
  try {
    input.Props(3);
    FAIL() << "no exception";
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (3)");
  }
}

TEST(Input, BuiltInsCarryTheirPropertiesWithDefaults) {
  const auto texts = [](const TLBInput& input) {
    std::vector<std::string> result;
    result.reserve(static_cast<std::size_t>(input.PropCount()));
    for (int i = 0; i < input.PropCount(); ++i) {
      result.push_back(input.Props(i)->Name + "=" + input.Props(i)->AsText() + " " +
                       input.Props(i)->Unit);
    }
    return result;
  };
  EXPECT_TRUE(texts(TLBNothing()).empty());
  EXPECT_EQ(
      texts(TLBKnightRider()),
      (std::vector<std::string>{"Offset=0 LEDs", "Fading_percentage=5 %", "Moving_step=1 LEDs"}));
  EXPECT_EQ(texts(TLBCPUUsage()), (std::vector<std::string>{"Processor=1 ", "Fade_perc=60 %"}));
  EXPECT_EQ(TLBKnightRider().Description, "The Knight Rider effect");
  EXPECT_EQ(TLBKnightRider::Name(), "Knight Rider");
}

TEST(Input, AssignCopiesPropertyValuesOnly) {
  TLBKnightRider source;
  source.PropByName("Offset")->SetAsText("7");
  source.PropByName("Moving_step")->SetFloat(0.5);
  source.Position = 0.75;
  TLBKnightRider target;
  target.Description = "mine";
  target.Assign(source);
  EXPECT_EQ(target.PropByName("Offset")->AsInteger(), 7);
  EXPECT_EQ(target.PropByName("Moving_step")->AsText(), "0.5");
  EXPECT_EQ(target.Description, "mine");
  EXPECT_EQ(target.Position, 0.0);

  TLBNothing other;
  try {
    target.Assign(other);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TLBNothing to a TLBKnightRider");
  }
}

// ---- Inputs on a real bar ----------------------------------------------------------

class InputOnBar : public ::testing::Test {
 protected:
  InputOnBar() {
    link.SetLEDBarCtrlCount(1);
    link.MaxValue = 254;
  }
  TLEDBar& Bar() { return link.LEDBarCtrls(0).Bars(0); }
  int LitCount() {
    const auto& leds = link.LEDBarCtrls(0).LEDs;
    return static_cast<int>(
        std::count_if(leds.begin(), leds.begin() + 40, [](std::uint8_t v) { return v != 0; }));
  }

  TLEDBarController link;
};

TEST_F(InputOnBar, NothingDarkensTheBarOnce) {
  Bar().SetLevel(1.0);
  TLBNothing input;
  input.Activate(Bar());
  EXPECT_EQ(LitCount(), 0);
  input.UpdateBar(Bar());
  EXPECT_EQ(LitCount(), 0);
}

TEST_F(InputOnBar, KnightRiderSweepsUpAndDownIn80Ticks) {
  TLBKnightRider input;
  input.Activate(Bar());
  EXPECT_FALSE(Bar().FillBar);
  EXPECT_DOUBLE_EQ(input.Step, 0.025);
  EXPECT_EQ(Bar().FadeAmount(), 13);  // 5 % of 254
  int firstTurn = 0;
  int secondTurn = 0;
  for (int tick = 1; tick <= 80; ++tick) {
    const auto direction = input.Direction;
    input.UpdateBar(Bar());
    if (direction == 1 && input.Direction == -1) {
      firstTurn = tick;
      EXPECT_EQ(input.Position, 1.0);
    }
    if (direction == -1 && input.Direction == 1) {
      secondTurn = tick;
      EXPECT_EQ(input.Position, 0.0);
    }
  }
  EXPECT_EQ(firstTurn, 40);
  EXPECT_EQ(secondTurn, 80);
}

TEST_F(InputOnBar, KnightRiderWithHalfStepsMovesOneLEDEveryTwoTicks) {
  TLBKnightRider input;
  input.PropByName("Moving_step")->SetAsText("0.5");
  input.PropByName("Offset")->SetInteger(10);
  input.Activate(Bar());
  std::vector<double> positions;
  for (int tick = 0; tick < 4; ++tick) {
    input.UpdateBar(Bar());
    positions.push_back(input.Position * Bar().BarSize());
  }
  ASSERT_EQ(positions.size(), 4U);
  EXPECT_NEAR(positions[0], 10.5, 1e-9);
  EXPECT_NEAR(positions[1], 11.0, 1e-9);
  EXPECT_NEAR(positions[3], 12.0, 1e-9);
}

TEST_F(InputOnBar, KnightRiderOffsetsBeyondTheBarTurnAtTheFirstTick) {
  TLBKnightRider above;
  above.PropByName("Offset")->SetInteger(55);
  above.Activate(Bar());
  EXPECT_GT(above.Position, 1.0);
  EXPECT_EQ(Bar().TopLED(), 38);  // the level is clamped: the top LED shows
  above.UpdateBar(Bar());
  EXPECT_EQ(above.Position, 1.0);
  EXPECT_EQ(above.Direction, -1);

  TLBKnightRider below;
  below.PropByName("Offset")->SetInteger(-3);
  below.Activate(Bar());
  below.UpdateBar(Bar());
  EXPECT_EQ(below.Position, 0.0);
  EXPECT_EQ(below.Direction, 1);
}

class FadePercentage : public InputOnBar,
                       public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(FadePercentage, BecomesAFadeAmount) {
  TLBKnightRider input;
  input.PropByName("Fading_percentage")->SetInteger(GetParam().first);
  input.Activate(Bar());
  EXPECT_EQ(Bar().FadeAmount(), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Percentages, FadePercentage,
                         ::testing::Values(std::pair{0, 1}, std::pair{5, 13}, std::pair{25, 64},
                                           std::pair{60, 152}, std::pair{75, 190},
                                           std::pair{100, 254}));

TEST_F(InputOnBar, FadePercentageOutsideTheRangeFailsActivateHalfWay) {
  TLBKnightRider input;
  input.PropByName("Fading_percentage")->SetInteger(101);
  input.PropByName("Offset")->SetInteger(5);
  Bar().SetLevel(1.0);
  try {
    input.Activate(Bar());
    FAIL() << "no exception";
  } catch (const ERangeError& e) {
    EXPECT_EQ(e.Message(), "Range check error");
  }
  EXPECT_FALSE(Bar().FillBar);  // dot mode was set before the failure
  EXPECT_EQ(LitCount(), 0);     // and the bar darkened
  EXPECT_EQ(input.Step, 0.0);   // the step was not reached
  EXPECT_THROW(SetFadePercentage(Bar(), -1), ERangeError);
}

// Counters of one processor whose idle time the test sets for the next reading.
class FakeCpuCounters final : public CpuCounters {
 public:
  CpuReading Read(std::span<std::int64_t> idleTimes) override {
    time += 1'000'000;  // 100 ms in 100 ns units
    for (std::int64_t& idleTime : idleTimes.first(std::min<std::size_t>(2, idleTimes.size()))) {
      idleTime = idle;
    }
    return {CpuReadResult::Ok, 2, time};
  }
  std::int64_t Now() override { return time + 1'000'000; }
  std::int64_t time = 0;
  std::int64_t idle = 0;
};

class CPUUsageOnBar : public InputOnBar {
 public:
  CPUUsageOnBar(const CPUUsageOnBar&) = delete;
  CPUUsageOnBar& operator=(const CPUUsageOnBar&) = delete;
  ~CPUUsageOnBar() override { SetCpuCounters(previous); }

 protected:
  CPUUsageOnBar() : previous(SetCpuCounters(&counters)) {}
  FakeCpuCounters counters;
  CpuCounters* previous;
};

TEST_F(CPUUsageOnBar, ShowsTheLoadOfTheChosenProcessor) {
  TLBCPUUsage input;
  input.Activate(Bar());
  EXPECT_EQ(Bar().FadeAmount(), 152);
  input.UpdateBar(Bar());  // the first sample has nothing to compare with
  EXPECT_EQ(Bar().Level(), 0.0);
  counters.idle += 250'000;  // idle for a quarter of the next 100 ms
  input.UpdateBar(Bar());
  EXPECT_NEAR(Bar().Level(), 0.75, 1e-9);
}

TEST_F(CPUUsageOnBar, ProcessorZeroFailsEveryTickAndTheBarKeepsItsLevel) {
  TLBCPUUsage input;
  input.PropByName("Processor")->SetInteger(0);
  input.Activate(Bar());
  for (int tick = 0; tick < 2; ++tick) {
    try {
      input.UpdateBar(Bar());
      FAIL() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "CPU index out of bounds");
    }
  }
  EXPECT_EQ(Bar().Level(), 0.0);
}

TEST_F(InputOnBar, WaveInputShowsTheSwingOfTheLastBuffer) {
  const WaveTestDevice device(
      WaveTestSetup::Samples,
      StereoSamples(
          64, [](int) -> std::uint8_t { return 128; }, [](int) -> std::uint8_t { return 128; }));
  PostedReports reports;
  TLBWaveInput input;
  EXPECT_EQ(input.PropByName("Source")->Choices,
            (std::vector<std::string>{"Recording device", "What the speakers play"}));
  EXPECT_EQ(input.PropByName("Source")->AsInteger(), 0);
  EXPECT_EQ(input.Recorder, nullptr) << "nothing records before the source is known";
  Bar().FillBar = false;
  input.Activate(Bar());
  ASSERT_NE(input.Recorder, nullptr);
  EXPECT_TRUE(Bar().FillBar);
  EXPECT_EQ(input.Channels, 3);
  EXPECT_EQ(Bar().FadeAmount(), 152);
  ASSERT_TRUE(WaitFor([&] {
    input.UpdateBar(Bar());
    return Bar().Level() != 0.0;
  }));
  EXPECT_DOUBLE_EQ(Bar().Level(), 1.0 / 128.0);  // silence still swings by one step
  input.Deactivate(Bar());
  EXPECT_EQ(Bar().Level(), 0.0);
  EXPECT_TRUE(reports.Texts().empty());
}

// Left swings by a quarter (-12 dB), right by a sixteenth (-24 dB).
TEST_F(InputOnBar, WaveInputShowsTheChosenChannelOnTheChosenScale) {
  const WaveTestDevice device(WaveTestSetup::Samples,
                              StereoSamples(2000, SineBetween(112, 144), SineBetween(124, 132)));
  PostedReports reports;
  TLBWaveInput keeper;  // holds the recorder for the whole test
  keeper.Activate(Bar());
  const auto level = [&](const std::string& channel, const std::string& scale, int range) {
    TLBWaveInput input;
    input.PropByName("Channel")->SetAsText(channel);
    input.PropByName("Scale")->SetAsText(scale);
    input.PropByName("Range")->SetInteger(range);
    input.Activate(Bar());
    EXPECT_TRUE(WaitFor([&] {
      input.UpdateBar(Bar());
      return Bar().Level() != 0.0 && Bar().Level() != 1.0 / 128.0;
    }));
    return Bar().Level();
  };
  EXPECT_DOUBLE_EQ(level("0", "0", 48), 0.25);
  EXPECT_DOUBLE_EQ(level("2", "0", 48), 1.0 / 16);
  EXPECT_NEAR(level("1", "1", 48), 1.0 - 12.0412 / 48, 1e-4);
  EXPECT_NEAR(level("2", "1", 48), 1.0 - 24.0824 / 48, 1e-4);
  EXPECT_NEAR(level("2", "1", 120), 1.0 - 24.0824 / 120, 1e-4);
  // Below the range: dark; a range outside 6 .. 120 dB counts as the nearest limit.
  TLBWaveInput narrow;
  narrow.PropByName("Scale")->SetInteger(1);
  narrow.PropByName("Range")->SetInteger(1);
  narrow.PropByName("Channel")->SetInteger(2);
  narrow.Activate(Bar());
  EXPECT_EQ(narrow.Range, 6);
  ASSERT_TRUE(WaitFor([&] {
    keeper.UpdateBar(Bar());
    return Bar().Level() == 0.25;
  }));
  narrow.UpdateBar(Bar());
  EXPECT_EQ(Bar().Level(), 0.0);
  EXPECT_TRUE(reports.Texts().empty());
}

TEST_F(InputOnBar, SoundInputsShareOneRecorderPerSourceUntilTheLastIsGone) {
  const WaveTestDevice device(WaveTestSetup::NoDefault);
  PostedReports reports;
  auto first = std::make_unique<TLBWaveInput>();
  auto second = InputList().ClassByName("waveinput").Create();
  auto speakers = std::make_unique<TLBWaveInput>();
  speakers->PropByName("Source")->SetAsText("1");  // as a settings file stores it
  first->Activate(Bar());
  second->Activate(Bar());
  speakers->Activate(Bar());
  const std::shared_ptr<TWaveIn> recorder = first->Recorder;
  EXPECT_EQ(recorder, dynamic_cast<TLBWaveInput&>(*second).Recorder);
  EXPECT_NE(recorder, speakers->Recorder);
  EXPECT_EQ(recorder.use_count(), 3);
  second.reset();
  EXPECT_EQ(recorder.use_count(), 2);
  // No device: level 0, and a message once the opening has failed (the speakers' recorder,
  // without a sound server, may have said so too).
  const std::string missing = "Could not open wave device: 2";
  ASSERT_TRUE(WaitFor([&] {
    first->UpdateBar(Bar());
    const std::vector<std::string>& texts = reports.Texts();
    return std::count(texts.begin(), texts.end(), missing) == 1;
  }));
  EXPECT_EQ(Bar().Level(), 0.0);
}

}  // namespace

}  // namespace vx
