#include "common/FakePrompter.h"
#include "common/SettingsXml.h"
#include "config/ConfigTestSupport.h"
#include "config/SettingsFile.h"
#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "device/LEDController.h"
#include "device/StripColours.h"
#include "inputs/unBarIO.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace vx {

namespace {

std::string PortElement(const std::string& name, const std::string& rest) {
  return "<Port><Name>" + name + "</Name>" + rest + "</Port>";
}

std::string GoodPort(const std::string& name, bool enabled = false) {
  return PortElement(name,
                     std::string("<Interval>50</Interval><Enabled>") + (enabled ? "-1" : "0") +
                         "</Enabled><Controllers><Controller Index=\"0\"><BarSize>40</BarSize>"
                         "</Controller></Controllers>");
}

class PortCfgList : public ::testing::Test {
 protected:
  void Load(const std::string& ports) {
    doc_ = ParseSettingsText(SettingsXml("<Ports>" + ports + "</Ports>")).Doc;
    list.LoadFromXML(FindSettingsRoot(doc_.get()));
  }
  std::string Saved() {
    doc_ = ParseSettingsText("<Vorlixa/>").Doc;
    list.SaveToXML(FindSettingsRoot(doc_.get()));
    return SettingsDocumentText(doc_.get());
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(list.Count()));
    for (int i = 0; i < list.Count(); ++i) {
      names.push_back(list.Items(i).DisplayName());
    }
    return names;
  }
  // The journal from start on, every frame shortened to "frame".
  std::vector<std::string> JournalSince(std::size_t start) const {
    std::vector<std::string> entries;
    for (std::size_t i = start; i < journal->size(); ++i) {
      const std::string& entry = (*journal)[i];
      entries.push_back(entry.starts_with("frame") ? "frame" : entry);
    }
    return entries;
  }

  FakePrompter prompter;
  std::shared_ptr<std::vector<std::string>> journal = std::make_shared<std::vector<std::string>>();
  TPortCfgList list{[this] { return std::make_unique<FakeChainPort>(journal); }};

 private:
  XmlDocPtr doc_;
};

}  // namespace

class PortDropped : public PortCfgList, public ::testing::WithParamInterface<std::string> {};

TEST_P(PortDropped, WithALogLineWhileTheOthersLoad) {
  CapturedLog log;
  Load(GoodPort("A") + PortElement("B", GetParam()) + GoodPort("C"));
  EXPECT_EQ(Names(), (std::vector<std::string>{"A", "C"}));
  EXPECT_TRUE(prompter.Messages.empty());
  ASSERT_EQ(log.Lines.size(), 1U);
  EXPECT_TRUE(log.Lines[0].starts_with("warning: Port 1 of the settings file is left out: E"))
      << log.Lines[0];
}

INSTANTIATE_TEST_SUITE_P(
    UnreadableValues, PortDropped,
    ::testing::Values("<Enabled>0</Enabled>", "<Interval></Interval><Enabled>0</Enabled>",
                      "<Interval>abc</Interval><Enabled>0</Enabled>",
                      "<Interval>-1</Interval><Enabled>0</Enabled>", "<Interval>5</Interval>",
                      "<Interval>5</Interval><Enabled>yes</Enabled>",
                      "<Interval>5</Interval><Enabled>0</Enabled><LEDmin>-1</LEDmin>",
                      "<Interval>5</Interval><Enabled>0</Enabled><LEDmin>x</LEDmin>",
                      "<Interval>5</Interval><Enabled>0</Enabled><LEDmax>300</LEDmax>",
                      // Port and controller numbers are decimal, as the program writes them.
                      "<Interval>$10</Interval><Enabled>0</Enabled>",
                      "<Interval>5</Interval><Enabled>0</Enabled><LEDmin>0x10</LEDmin>",
                      "<Interval>5</Interval><Enabled>0</Enabled><Controllers><Controller "
                      "Index=\"0\"><BarSize>300</BarSize></Controller></Controllers>"));

TEST_F(PortCfgList, MissingOptionalValuesTakeDefaults) {
  Load("<Port><Interval>0</Interval><Enabled>True</Enabled></Port>" +
       PortElement("B",
                   "<Interval>7</Interval><Enabled>0</Enabled><LEDmin>3</LEDmin>"
                   "<LEDmax>200</LEDmax><Controllers><Controller Index=\"0\"><BarSize>"
                   "abc</BarSize></Controller></Controllers>"));
  ASSERT_EQ(list.Count(), 2);
  const TPortCfg& first = list.Items(0);
  EXPECT_EQ(first.DisplayName(), "");
  EXPECT_EQ(first.Controller().UpdateInterval(), 0U);
  EXPECT_TRUE(first.Enabled);
  EXPECT_EQ(first.Controller().MinValue, 0);
  EXPECT_EQ(first.Controller().MaxValue, 255);
  const TPortCfg& second = list.Items(1);
  EXPECT_EQ(second.Controller().UpdateInterval(), 7U);
  EXPECT_EQ(second.Controller().MinValue, 3);
  EXPECT_EQ(second.Controller().MaxValue, 200);
  // A board error is shown; the port stays, with the board as far as it was read.
  EXPECT_EQ(prompter.Messages, std::vector<std::string>{"'abc' is not a valid integer value"});
  EXPECT_EQ(second.Controllers().Count(), 1);
}

TEST_F(PortCfgList, LoadingConnectsEachEnabledPortOnceAndClosesTheOldOnes) {
  Load(GoodPort("old", true));
  const std::size_t start = journal->size();
  Load(GoodPort("A", true) + GoodPort("B") + GoodPort("C", true));
  EXPECT_EQ(JournalSince(start),
            (std::vector<std::string>{"close old", "open A", "frame", "open C", "frame"}));
  EXPECT_TRUE(list.Items(0).Controller().Connected());
  EXPECT_FALSE(list.Items(1).Controller().Connected());
}

TEST_F(PortCfgList, AddReconnectsEnabledPortsAndStartsDisabledWithTheLinksDefaults) {
  Load(GoodPort("A", true) + GoodPort("B"));
  const std::size_t start = journal->size();
  TPortCfg& added = list.Add();
  EXPECT_EQ(JournalSince(start), (std::vector<std::string>{"close A", "open A", "frame"}));
  EXPECT_EQ(added.DisplayName(), "COM1");
  EXPECT_EQ(added.Controller().UpdateInterval(), 50U);
  EXPECT_EQ(added.Controller().MinValue, 0);
  EXPECT_EQ(added.Controller().MaxValue, 0);
  EXPECT_FALSE(added.Enabled);
  EXPECT_EQ(added.Index(), 2);
  EXPECT_THROW(list.Items(3), EListError);
  list.Delete(0);  // an open port is darkened and closed
  EXPECT_EQ(journal->back(), "close A");
  EXPECT_EQ(Names(), (std::vector<std::string>{"B", "COM1"}));
}

TEST_F(PortCfgList, AssignCopiesSettingsAndBoardsButNotEnabled) {
  Load(PortElement("A",
                   "<Interval>20</Interval><Enabled>-1</Enabled><LEDmin>5</LEDmin>"
                   "<LEDmax>99</LEDmax><Controllers>"
                   "<Controller Index=\"0\"><BarSize>32</BarSize></Controller>"
                   "<Controller Index=\"1\"><BarSize>40</BarSize><Bars><Bar Index=\"1\">"
                   "<Input>KnightRider</Input><Prop.Offset>3</Prop.Offset></Bar></Bars>"
                   "</Controller></Controllers>"));
  TPortCfg copy;
  copy.Assign(list.Items(0));
  EXPECT_EQ(copy.DisplayName(), "A");
  EXPECT_EQ(copy.Controller().UpdateInterval(), 20U);
  EXPECT_EQ(copy.Controller().MinValue, 5);
  EXPECT_EQ(copy.Controller().MaxValue, 99);
  EXPECT_FALSE(copy.Enabled);
  ASSERT_EQ(copy.Controllers().Count(), 2);
  const TLEDBarCfg& board = copy.Controllers().Items(1);
  EXPECT_EQ(board.BarSize, 40);
  EXPECT_EQ(board.Input(1)->PropByName("Offset")->AsText(), "3");
  EXPECT_NE(board.Input(1), list.Items(0).Controllers().Items(1).Input(1));
}

TEST_F(PortCfgList, SavesPortsInOrderAndAnEmptyListAsAnEmptySection) {
  EXPECT_NE(Saved().find("<Vorlixa>\n  <Ports/>\n</Vorlixa>"), std::string::npos);
  Load(PortElement("COM1",
                   "<Interval>50</Interval><Enabled>-1</Enabled><LEDmin>0</LEDmin>"
                   "<LEDmax>255</LEDmax>") +
       GoodPort("B"));
  const std::string saved = Saved();
  EXPECT_NE(saved.find("<Port>\n      <Name>COM1</Name>\n      <Interval>50</Interval>\n"
                       "      <Enabled>-1</Enabled>\n      <LEDmin>0</LEDmin>\n"
                       "      <LEDmax>255</LEDmax>\n      <Controllers/>\n    </Port>\n"
                       "    <Port>\n      <Name>B</Name>"),
            std::string::npos)
      << saved;
}

TEST_F(PortCfgList, AStripKeepsItsColourAndAnUnreadableOneFallsBackToTheMeterWithAWarning) {
  CapturedLog log;
  const std::string values = "<Interval>25</Interval><Enabled>0</Enabled>";
  Load(PortElement("ddp://192.0.2.7", values + "<Colour>#ff8000</Colour>") +
       PortElement("artnet://192.0.2.8", values + "<Colour>blue</Colour>") +
       PortElement("artnet://192.0.2.9", values) + GoodPort("COM2"));
  ASSERT_EQ(list.Count(), 4);
  EXPECT_EQ(StripColourText(list.Items(0).Controller().Colour), "#FF8000");
  EXPECT_EQ(list.Items(1).Controller().Colour, TStripColour{});
  EXPECT_TRUE(prompter.Messages.empty());
  ASSERT_EQ(log.Lines.size(), 1U);
  EXPECT_EQ(log.Lines[0],
            "warning: Port 1 of the settings file: \"blue\" is not a colour (Meter or #RRGGBB); "
            "the meter's colours are used");
  // Every strip names its colour; a serial port, as in files from before strips, has none.
  const std::string saved = Saved();
  EXPECT_NE(saved.find("<LEDmax>255</LEDmax>\n      <Colour>#FF8000</Colour>"), std::string::npos)
      << saved;
  std::size_t colours = 0;
  for (std::size_t at = saved.find("<Colour>"); at != std::string::npos;
       at = saved.find("<Colour>", at + 1)) {
    ++colours;
  }
  EXPECT_EQ(colours, 3U) << saved;
}

}  // namespace vx
