#include "common/FakePrompter.h"
#include "common/PostedReports.h"
#include "common/ScopedLocale.h"
#include "config/ConfigTestSupport.h"
#include "config/SettingsFile.h"
#include "config/unBarCfg.h"
#include "device/LEDController.h"
#include "inputs/unBarIO.h"
#include "inputs/unWaveIn.h"

#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <memory>
#include <string>
#include <vector>

namespace vx {

namespace {

std::string Prop(const TLEDBarCfg& cfg, int bar, const char* name) {
  return cfg.Input(bar)->PropByName(name)->AsText();
}

std::string Bar(const std::string& index, const std::string& content) {
  return "<Bar Index=\"" + index + "\">" + content + "</Bar>";
}

std::string Controller(const std::string& index, const std::string& barSize,
                       const std::string& bars = "") {
  const std::string attribute = index.empty() ? "" : " Index=\"" + index + "\"";
  return "<Controller" + attribute + "><BarSize>" + barSize + "</BarSize><Bars>" + bars +
         "</Bars></Controller>";
}

class BarCfgList : public ::testing::Test {
 protected:
  void Load(const std::string& controllers) {
    doc_ = ParseSettingsText("<Port><Controllers>" + controllers + "</Controllers></Port>").Doc;
    list.LoadFromXML(xmlDocGetRootElement(doc_.get()));
  }
  std::string Saved() {
    doc_ = ParseSettingsText("<Port/>").Doc;
    list.SaveToXML(xmlDocGetRootElement(doc_.get()));
    return SettingsDocumentText(doc_.get());
  }

  FakePrompter prompter;
  std::shared_ptr<std::vector<std::string>> journal = std::make_shared<std::vector<std::string>>();
  TLEDBarController link{std::make_unique<FakeChainPort>(journal)};
  TLEDBarCfgList list{link};

 private:
  XmlDocPtr doc_;
};

}  // namespace

TEST(BarCfg, InputsFollowTheNameIgnoringLetterCase) {
  TLEDBarCfg cfg;
  EXPECT_EQ(cfg.DisplayName(), "Nothing, Nothing");
  EXPECT_STREQ(cfg.Input(1)->ClassName(), "TLBNothing");
  cfg.SetInput(0, "knightRIDER");
  TLBInput* rider = cfg.Input(0);
  EXPECT_STREQ(rider->ClassName(), "TLBKnightRider");
  rider->PropByName("Offset")->SetInteger(7);
  cfg.SetInput(0, "KNIGHTRIDER");  // the same input: object, values and spelling stay
  EXPECT_EQ(cfg.Input(0), rider);
  EXPECT_EQ(cfg.InputName(0), "knightRIDER");
  EXPECT_EQ(Prop(cfg, 0, "Offset"), "7");
  cfg.SetInput(0, "CPUUsage");
  EXPECT_EQ(Prop(cfg, 0, "Processor"), "1");
  cfg.SetInput(1, "NoSuchInput");  // runs nothing, keeps the name
  EXPECT_STREQ(cfg.Input(1)->ClassName(), "TLBNothing");
  EXPECT_EQ(cfg.DisplayName(), "CPUUsage, NoSuchInput");
  try {
    cfg.Inverted(2) = true;
    FAIL() << "bar 2 accepted";
  } catch (const ERangeError& e) {
    EXPECT_STREQ(e.what(), "Range check error");
  }
}

TEST(BarCfg, SoundInputsHandTheRecorderBackWhenReplacedOrRemoved) {
  PostedReports reports;  // the machine may have no recording device to open
  const auto users = [] { return AcquireRecorder().use_count() - 1; };
  TLEDBarController bars;
  bars.SetLEDBarCtrlCount(1);
  // A sound input takes the recorder of its source when it is activated.
  const auto activate = [&](TLBInput* input) { input->Activate(bars.LEDBarCtrls(0).Bars(0)); };
  TLEDBarCfg cfg;
  cfg.SetInput(0, "WaveInput");
  cfg.SetInput(1, "WaveInput");
  activate(cfg.Input(0));
  activate(cfg.Input(1));
  EXPECT_EQ(users(), 2);
  cfg.SetInput(0, "Nothing");
  EXPECT_EQ(users(), 1);
  TLEDBarController link(
      std::make_unique<FakeChainPort>(std::make_shared<std::vector<std::string>>()));
  TLEDBarCfgList list(link);
  list.Add().SetInput(1, "WaveInput");
  activate(list.Items(0).Input(1));
  EXPECT_EQ(users(), 2);
  list.Clear();
  EXPECT_EQ(users(), 1);
}

TEST_F(BarCfgList, ExchangeSwapsWholeConfigurations) {
  TLEDBarCfg& a = list.Add();
  TLEDBarCfg& b = list.Add();
  a.BarSize = 32;
  a.SetInput(0, "KnightRider");
  a.Input(0)->PropByName("Moving_step")->SetFloat(2.5);
  a.Inverted(0) = true;
  a.FallOff(1) = true;
  b.BarSize = 40;
  b.SetInput(1, "CPUUsage");
  b.Reversed(1) = true;
  list.Exchange(0, 1);
  EXPECT_EQ(a.BarSize, 40);
  EXPECT_EQ(a.DisplayName(), "Nothing, CPUUsage");
  EXPECT_TRUE(a.Reversed(1));
  EXPECT_FALSE(a.Inverted(0) || a.FallOff(1));
  EXPECT_EQ(b.BarSize, 32);
  EXPECT_EQ(b.DisplayName(), "KnightRider, Nothing");
  EXPECT_EQ(Prop(b, 0, "Moving_step"), "2.5");
  EXPECT_TRUE(b.Inverted(0) && b.FallOff(1));
  EXPECT_FALSE(b.Reversed(1));
  EXPECT_THROW(list.Exchange(0, 2), EListError);
}

TEST_F(BarCfgList, ApplyPushesSizesFlagsAndInputsIntoTheLink) {
  list.Add().BarSize = 32;
  TLEDBarCfg& second = list.Add();
  second.BarSize = 40;
  second.SetInput(1, "KnightRider");
  second.Reversed(1) = true;
  list.Apply();
  ASSERT_EQ(link.LEDBarCtrlCount(), 2);
  EXPECT_EQ(link.LEDBarCtrls(0).BarSize(), 32);
  EXPECT_EQ(link.LEDBarCtrls(1).BarSize(), 40);
  EXPECT_TRUE(link.LEDBarCtrls(1).Bars(1).Reversed);
  EXPECT_FALSE(link.LEDBarCtrls(1).Bars(1).FillBar);  // the scanning dot took the bar
  second.BarSize = 256;
  EXPECT_THROW(list.Add(), ERangeError);  // the new item is kept, the boards are counted
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(link.LEDBarCtrlCount(), 3);
}

TEST_F(BarCfgList, OneFailingInputDoesNotStopTheTick) {
  TLEDBarCfg& cfg = list.Add();
  cfg.BarSize = 40;
  cfg.SetInput(0, "CPUUsage");
  cfg.Input(0)->PropByName("Processor")->SetInteger(100000);  // no such processor
  cfg.SetInput(1, "KnightRider");
  cfg.Input(1)->PropByName("Moving_step")->SetFloat(10.0);  // a quarter of the bar per tick
  list.Apply();
  link.MaxValue = 255;  // the link's own default sends every LED dark
  ASSERT_TRUE(link.Open());
  const double before = link.LEDBarCtrls(0).Bars(1).Level();
  const std::size_t written = journal->size();
  list.UpdateBars();
  EXPECT_GT(link.LEDBarCtrls(0).Bars(1).Level(), before);
  EXPECT_GT(journal->size(), written);  // the changed frame went out
  list.DeactivateAll();
  EXPECT_EQ(link.LEDBarCtrls(0).Bars(1).Level(), 0.0);
}

TEST_F(BarCfgList, ElementsFillTheItemsTheirIndexNames) {
  Load(Controller("1", "40") + Controller("", "20") + Controller("0", "32") +
       Controller("-3", "24"));
  ASSERT_EQ(list.Count(), 4);
  EXPECT_EQ(list.Items(0).BarSize, 32);
  EXPECT_EQ(list.Items(1).BarSize, 40);
  EXPECT_EQ(list.Items(2).BarSize, 0);
  EXPECT_EQ(list.Items(3).BarSize, 0);
  EXPECT_TRUE(prompter.Messages.empty());
  EXPECT_EQ(link.LEDBarCtrlCount(), 4);
}

TEST_F(BarCfgList, BarsKeepTheirSpellingAndReadFlagsAndProperties) {
  Load(Controller("0", "40",
                  Bar("1",
                      "<Input>knightRIDER</Input><Inverted>True</Inverted>"
                      "<Reversed>yes</Reversed><FallOff>-1</FallOff>"
                      "<Prop.Offset>4</Prop.Offset><Prop.Moving_step>0.25</Prop.Moving_step>"
                      "<Prop.Other>9</Prop.Other>") +
                      Bar("0", "<Input>Mystery</Input>") + Bar("2", "<Input>CPUUsage</Input>") +
                      "<Bar><Input>CPUUsage</Input></Bar>"));
  const TLEDBarCfg& cfg = list.Items(0);
  EXPECT_EQ(cfg.DisplayName(), "Mystery, knightRIDER");
  EXPECT_TRUE(cfg.Inverted(1));
  EXPECT_FALSE(cfg.Reversed(1));
  EXPECT_TRUE(cfg.FallOff(1));
  EXPECT_EQ(Prop(cfg, 1, "Offset"), "4");
  EXPECT_EQ(Prop(cfg, 1, "Moving_step"), "0.25");
  EXPECT_EQ(Prop(cfg, 1, "Fading_percentage"), "5");
  const std::string saved = Saved();
  EXPECT_NE(saved.find("<Input>Mystery</Input>"), std::string::npos) << saved;
  EXPECT_NE(saved.find("<Input>knightRIDER</Input>"), std::string::npos) << saved;
}

TEST_F(BarCfgList, FloatPropertiesFallBackToTheLocaleAndAreWrittenWithAPoint) {
  ScopedNumericLocale german("de_DE.UTF-8");
  ASSERT_TRUE(german.Active()) << "de_DE.UTF-8 is not installed";
  Load(Controller("0", "40",
                  Bar("0",
                      "<Input>KnightRider</Input><Prop.Moving_step>0,5"
                      "</Prop.Moving_step>")) +
       Controller("1", "40",
                  Bar("0",
                      "<Input>KnightRider</Input><Prop.Moving_step>1.5"
                      "</Prop.Moving_step>")));
  EXPECT_EQ(list.Items(0).Input(0)->PropByName("Moving_step")->AsFloat(), 0.5);
  EXPECT_EQ(list.Items(1).Input(0)->PropByName("Moving_step")->AsFloat(), 1.5);
  const std::string saved = Saved();
  EXPECT_NE(saved.find("<Prop.Moving_step>0.5</Prop.Moving_step>"), std::string::npos) << saved;
}

struct LoadErrorCase {
  const char* Name;
  std::string Bad;  // the second of three elements
  const char* Message;
};

class BarCfgLoadError : public BarCfgList, public ::testing::WithParamInterface<LoadErrorCase> {};

TEST_P(BarCfgLoadError, IsShownAndEndsTheReading) {
  Load(Controller("0", "32") + GetParam().Bad + Controller("2", "40"));
  EXPECT_EQ(prompter.Messages, std::vector<std::string>{GetParam().Message});
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Items(0).BarSize, 32);
  EXPECT_EQ(list.Items(2).BarSize, 0);  // never read
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BarCfgLoadError,
    ::testing::Values(LoadErrorCase{"IndexBeyondTheElements", Controller("5", "40"),
                                    "List index out of bounds (5)"},
                      LoadErrorCase{"BarSizeNoNumber", Controller("1", "abc"),
                                    "'abc' is not a valid integer value"},
                      LoadErrorCase{"BarSizeMissing", "<Controller Index=\"1\"/>",
                                    "'' is not a valid integer value"},
                      LoadErrorCase{"BarSizeHexadecimal", Controller("1", "$20"),
                                    "'$20' is not a valid integer value"},
                      LoadErrorCase{"FloatNoNumber",
                                    Controller("1", "40",
                                               Bar("0",
                                                   "<Input>KnightRider</Input>"
                                                   "<Prop.Moving_step>abc</Prop.Moving_step>")),
                                    "'abc' is not a valid floating point value"}),
    [](const auto& c) { return std::string(c.param.Name); });

// More boards than one frame can carry would stop the whole loop on its first tick.
TEST_F(BarCfgList, AChainTakes409BoardsAndTheLogTellsWhatIsLeftOut) {
  CapturedLog log;
  link.Port = "/dev/ttyUSB0";
  std::string controllers = Controller("0x1", "32");
  for (int i = 0; i < 410; ++i) {
    controllers += Controller(std::to_string(i), "40");
  }
  Load(controllers);
  EXPECT_EQ(list.Count(), 409);
  EXPECT_EQ(link.LEDBarCtrlCount(), 409);
  EXPECT_EQ(list.Items(408).BarSize, 40);
  EXPECT_NO_THROW(link.SendLevels());
  EXPECT_TRUE(prompter.Messages.empty());
  EXPECT_EQ(log.Lines,
            (std::vector<std::string>{
                "warning: Port /dev/ttyUSB0: 2 controllers of the settings file are left out; a "
                "chain holds at most 409",
                "warning: Controller 0 of port /dev/ttyUSB0 is left out: its Index '0x1' is no "
                "position"}));
  EXPECT_THROW(list.Add(), ERangeError);
  EXPECT_EQ(list.Count(), 409);
}

TEST_F(BarCfgList, BarSizeAboveAByteFailsTheFinalApply) {
  EXPECT_THROW(Load(Controller("0", "300")), ERangeError);
  EXPECT_TRUE(prompter.Messages.empty());
}

TEST_F(BarCfgList, SavesTheExampleBoard) {
  TLEDBarCfg& cfg = list.Add();
  cfg.BarSize = 40;
  cfg.SetInput(0, "KnightRider");
  cfg.SetInput(1, "CPUUsage");
  const std::string expected =
      "<Port>\n  <Controllers>\n    <Controller Index=\"0\">\n      <BarSize>40</BarSize>\n"
      "      <Bars>\n        <Bar Index=\"0\">\n          <Input>KnightRider</Input>\n"
      "          <Inverted>0</Inverted>\n          <Reversed>0</Reversed>\n"
      "          <FallOff>0</FallOff>\n          <Prop.Offset>0</Prop.Offset>\n"
      "          <Prop.Fading_percentage>5</Prop.Fading_percentage>\n"
      "          <Prop.Moving_step>1</Prop.Moving_step>\n        </Bar>\n"
      "        <Bar Index=\"1\">\n          <Input>CPUUsage</Input>\n"
      "          <Inverted>0</Inverted>\n          <Reversed>0</Reversed>\n"
      "          <FallOff>0</FallOff>\n          <Prop.Processor>1</Prop.Processor>\n"
      "          <Prop.Fade_perc>60</Prop.Fade_perc>\n        </Bar>\n      </Bars>\n"
      "    </Controller>\n  </Controllers>\n</Port>\n";
  EXPECT_EQ(Saved(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + expected);
}

}  // namespace vx
