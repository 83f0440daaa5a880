#include "SettingsWindowData.h"
#include "common/ComboChoice.h"
#include "common/FakePrompter.h"
#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "config/unSettings.h"
#include "device/LEDController.h"
#include "ui/BarSetupPage.h"
#include "ui/ConfigDialogs.h"
#include "ui/frmBarSetup.h"
#include "ui/frmPortSetup.h"

#include <QAction>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace vx {

// The page "Bar setup" on the ports of a settings file in a temporary folder.
namespace {

class BarSetupPageTest : public ::testing::Test {
 protected:
  void SetUp() override { InstallConfigDialogs(); }
  void TearDown() override {
    SetPortCfgDialog(nullptr);
    SetLEDBarCfgDialog(nullptr);
  }

  // The page shown and filled as the window fills it when it shows.
  void Create(const std::string& portsXml) {
    WriteSettingsFile(settingsFile, portsXml);
    settings.LoadSettings();
    page = std::make_unique<TBarSetupPage>(ports);
    page->show();
    page->FormShow();
  }

  QAction* Action(const char* name) const { return FindAction(*page, name); }

  // The enabled setup actions, in a fixed order.
  std::vector<std::string> EnabledActions() const {
    std::vector<std::string> names;
    for (const char* name : {"actPortAdd", "actPortDel", "actPortEdit", "actBarCtrlAdd",
                             "actBarCtrlDel", "actBarCtrlEdit", "actBarCtrlUp", "actBarCtrlDown"}) {
      if (Action(name)->isEnabled()) {
        names.emplace_back(name);
      }
    }
    return names;
  }

  QTreeWidget& PortsList() const { return *page->lvPorts; }
  QTreeWidget& BarsList() const { return *page->lvBars; }

  QTemporaryDir dir;
  std::string settingsFile = dir.filePath("vorlixa.xml").toStdString();
  TPortCfgList ports;
  TSettings settings{ports, settingsFile};
  FakePrompter prompter;
  std::unique_ptr<TBarSetupPage> page;
};

}  // namespace

TEST_F(BarSetupPageTest, AnEmptyPortListLeavesOnlyAddingAPort) {
  Create("");
  EXPECT_TRUE(Rows(PortsList()).empty());
  EXPECT_TRUE(Rows(BarsList()).empty());
  EXPECT_EQ(EnabledActions(), std::vector<std::string>{"actPortAdd"});
  EXPECT_EQ(page->SelectedPort(), nullptr);
  EXPECT_EQ(page->SelectedBarCfg(), nullptr);
  // Without a selection the setup actions do nothing, even when run directly.
  page->actPortDelExecute();
  page->actBarCtrlAddExecute();
  page->actBarCtrlUpExecute();
  EXPECT_TRUE(prompter.Questions.empty());
  EXPECT_EQ(ports.Count(), 0);
}

TEST_F(BarSetupPageTest, ShowingSelectsTheFirstPortAndTheBarsFollowTheSelection) {
  Create(TwoPorts());
  EXPECT_EQ(Rows(PortsList()),
            (std::vector<std::string>{"/dev/ttyUSB0|Not open", "/dev/ttyACM1|Not open"}))
      << "ports that were never opened";
  EXPECT_EQ(Selected(PortsList()), 0);
  EXPECT_EQ(page->SelectedPort(), &ports.Items(0));
  EXPECT_EQ(Rows(BarsList()),
            (std::vector<std::string>{"#1|2x32|KnightRider|Nothing", "#2|2x40|CPUUsage|KnightRider",
                                      "#3|2x16|Nothing|KnightRider"}));
  EXPECT_EQ(EnabledActions(),
            (std::vector<std::string>{"actPortAdd", "actPortDel", "actPortEdit", "actBarCtrlAdd"}));

  Select(BarsList(), 0);
  EXPECT_EQ(page->SelectedBarCfg(), &ports.Items(0).Controllers().Items(0));
  EXPECT_TRUE(Action("actBarCtrlDown")->isEnabled());
  EXPECT_FALSE(Action("actBarCtrlUp")->isEnabled());
  Select(BarsList(), 1);
  EXPECT_TRUE(Action("actBarCtrlDown")->isEnabled());
  EXPECT_TRUE(Action("actBarCtrlUp")->isEnabled());
  Select(BarsList(), 2);
  EXPECT_FALSE(Action("actBarCtrlDown")->isEnabled());
  EXPECT_TRUE(Action("actBarCtrlUp")->isEnabled());
  EXPECT_TRUE(Action("actBarCtrlEdit")->isEnabled());
  EXPECT_TRUE(Action("actBarCtrlDel")->isEnabled());

  Select(PortsList(), 1);
  EXPECT_EQ(Rows(BarsList()), std::vector<std::string>{"#1|2x8|KnightRider|KnightRider"});
  EXPECT_FALSE(Action("actBarCtrlEdit")->isEnabled()) << "no bar row is selected any more";
  Select(BarsList(), 0);
  EXPECT_FALSE(Action("actBarCtrlUp")->isEnabled());
  EXPECT_FALSE(Action("actBarCtrlDown")->isEnabled());
}

TEST_F(BarSetupPageTest, MovingABarSwapsTheColumnsButNotTheNumbers) {
  Create(TwoPorts());
  Select(BarsList(), 1);
  Action("actBarCtrlUp")->trigger();
  EXPECT_EQ(Rows(BarsList()),
            (std::vector<std::string>{"#1|2x40|CPUUsage|KnightRider", "#2|2x32|KnightRider|Nothing",
                                      "#3|2x16|Nothing|KnightRider"}));
  EXPECT_EQ(Selected(BarsList()), 0) << "the moved controller stays selected";
  EXPECT_EQ(ports.Items(0).Controllers().Items(0).BarSize, 40);
  EXPECT_FALSE(Action("actBarCtrlUp")->isEnabled());

  Action("actBarCtrlDown")->trigger();
  Action("actBarCtrlDown")->trigger();
  EXPECT_EQ(Rows(BarsList()),
            (std::vector<std::string>{"#1|2x32|KnightRider|Nothing", "#2|2x16|Nothing|KnightRider",
                                      "#3|2x40|CPUUsage|KnightRider"}));
  EXPECT_EQ(Selected(BarsList()), 2);
  EXPECT_EQ(ports.Items(0).Controllers().Items(2).InputName(0), "CPUUsage");
  EXPECT_FALSE(Action("actBarCtrlDown")->isEnabled());
}

TEST_F(BarSetupPageTest, DeletingAsksFirstAndSelectsTheNewLastRow) {
  Create(TwoPorts());
  Select(BarsList(), 2);
  Action("actBarCtrlDel")->trigger();  // answered "No"
  EXPECT_EQ(prompter.Questions,
            std::vector<std::string>{"Are you sure you want to delete the selected LEDBar "
                                     "controller?"});
  EXPECT_EQ(ports.Items(0).Controllers().Count(), 3);

  prompter.Answers = {true, true};
  Action("actBarCtrlDel")->trigger();
  EXPECT_EQ(Rows(BarsList()), (std::vector<std::string>{"#1|2x32|KnightRider|Nothing",
                                                        "#2|2x40|CPUUsage|KnightRider"}));
  EXPECT_EQ(Selected(BarsList()), 1);
  EXPECT_EQ(ports.Items(0).Controllers().Count(), 2);
  Select(BarsList(), 0);
  Action("actBarCtrlDel")->trigger();
  // Only the deleted row goes; the others keep their captions until the list is shown anew.
  EXPECT_EQ(Rows(BarsList()), std::vector<std::string>{"#2|2x40|CPUUsage|KnightRider"});
  EXPECT_EQ(Selected(BarsList()), 0);

  Select(PortsList(), 1);
  prompter.Questions.clear();
  prompter.Answers = {false, true};
  Action("actPortDel")->trigger();
  EXPECT_EQ(ports.Count(), 2);
  Action("actPortDel")->trigger();
  EXPECT_EQ(prompter.Questions,
            std::vector<std::string>(2, "Are you sure you want to delete the selected port?"));
  ASSERT_EQ(ports.Count(), 1);
  EXPECT_EQ(ports.Items(0).Controller().Port, "/dev/ttyUSB0");
  EXPECT_EQ(Selected(PortsList()), 0);
  EXPECT_EQ(Rows(BarsList()), std::vector<std::string>{"#1|2x40|CPUUsage|KnightRider"});

  prompter.Answers = {true};
  Action("actPortDel")->trigger();
  EXPECT_EQ(ports.Count(), 0);
  EXPECT_TRUE(Rows(PortsList()).empty());
  EXPECT_TRUE(Rows(BarsList()).empty());
  EXPECT_EQ(EnabledActions(), std::vector<std::string>{"actPortAdd"});
}

TEST_F(BarSetupPageTest, AddingThroughTheDialogsKeepsOnlyWhatWasConfirmed) {
  Create(Port("/dev/ttyUSB0", Board(0, 32, "KnightRider", "Nothing")));
  AnswerDialog<TfrmPortSetup>(false);
  Action("actPortAdd")->trigger();
  EXPECT_EQ(ports.Count(), 1);
  EXPECT_EQ(Rows(PortsList()).size(), 1U);

  AnswerDialog<TfrmPortSetup>(true, [](TfrmPortSetup& d) { d.cbPort->setEditText("/dev/ttyS3"); });
  Action("actPortAdd")->trigger();
  ASSERT_EQ(ports.Count(), 2);
  EXPECT_EQ(ports.Items(1).Controller().Port, "/dev/ttyS3");
  EXPECT_EQ(Rows(PortsList()).back().substr(0, 11), "/dev/ttyS3|");
  EXPECT_EQ(Selected(PortsList()), 0) << "adding does not move the selection";

  TLEDBarController& link = ports.Items(0).Controller();
  AnswerDialog<TfrmBarSetup>(false, [](TfrmBarSetup& d) { Choose(*d.cbBarSize, "40 LEDs"); });
  Action("actBarCtrlAdd")->trigger();
  EXPECT_EQ(ports.Items(0).Controllers().Count(), 1);
  EXPECT_EQ(link.LEDBarCtrlCount(), 1) << "the board of the cancelled controller is gone";
  EXPECT_EQ(Rows(BarsList()).size(), 1U);

  AnswerDialog<TfrmBarSetup>(true, [](TfrmBarSetup& d) {
    Choose(*d.cbBarSize, "40 LEDs");
    Choose(*d.cbBarSource, "CPUUsage");
  });
  Action("actBarCtrlAdd")->trigger();
  EXPECT_EQ(Rows(BarsList()),
            (std::vector<std::string>{"#1|2x32|KnightRider|Nothing", "#2|2x40|CPUUsage|Nothing"}));
  EXPECT_EQ(link.LEDBarCtrlCount(), 2);

  Select(BarsList(), 0);
  AnswerDialog<TfrmBarSetup>(true, [](TfrmBarSetup& d) { Choose(*d.cbBarSize, "40 LEDs"); });
  Action("actBarCtrlEdit")->trigger();
  EXPECT_EQ(Rows(BarsList()).front(), "#1|2x40|KnightRider|Nothing");

  AnswerDialog<TfrmPortSetup>(true, [](TfrmPortSetup& d) { d.cbPort->setEditText("/dev/ttyS9"); });
  Action("actPortEdit")->trigger();
  EXPECT_EQ(PortsList().topLevelItem(0)->text(0), "/dev/ttyS9");
  EXPECT_TRUE(prompter.Messages.empty());
}

}  // namespace vx
