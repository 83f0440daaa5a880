#include "common/FakePrompter.h"
#include "common/ManualClock.h"
#include "common/SettingsXml.h"
#include "common/SimProcess.h"
#include "config/ConfigTestSupport.h"
#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "config/unSettings.h"
#include "device/LEDController.h"
#include "inputs/unBarIO.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace vx {

// A settings file loaded onto two simulated chains through the real serial ports: each
// chain is detected once, and then receives the frames of the inputs that the file
// configures, as the link produces them when it is configured by hand.

namespace {

constexpr int kTicks = 4;

std::string EnabledPort(const std::string& device, const std::string& controllers) {
  return PortXml(device, controllers, true, LEDRange{10, 200});
}

const std::string kBoards =
    "<Controller Index=\"0\"><BarSize>40</BarSize><Bars>"
    "<Bar Index=\"0\"><Input>KnightRider</Input><Prop.Offset>5</Prop.Offset>"
    "<Prop.Fading_percentage>50</Prop.Fading_percentage><Prop.Moving_step>3</Prop.Moving_step>"
    "</Bar><Bar Index=\"1\"><Input>KnightRider</Input><Reversed>-1</Reversed>"
    "<Prop.Offset>30</Prop.Offset></Bar></Bars></Controller>"
    "<Controller Index=\"1\"><BarSize>32</BarSize><Bars>"
    "<Bar Index=\"1\"><Input>KnightRider</Input><Inverted>-1</Inverted></Bar></Bars>"
    "</Controller>";

// The same chain driven without the configuration classes: the frames it writes, as the
// simulator logs them ("FF ..." per frame), after the detection "FF".
std::vector<std::string> ReferenceUnits() {
  auto journal = std::make_shared<std::vector<std::string>>();
  TLEDBarController link(std::make_unique<FakeChainPort>(journal));
  link.MinValue = 10;
  link.MaxValue = 200;
  link.SetLEDBarCtrlCount(2);
  link.LEDBarCtrls(0).SetBarSize(40);
  link.LEDBarCtrls(1).SetBarSize(32);
  TLBKnightRider first;
  TLBKnightRider second;
  TLBKnightRider third;
  first.PropByName("Offset")->SetInteger(5);
  first.PropByName("Fading_percentage")->SetInteger(50);
  first.PropByName("Moving_step")->SetFloat(3.0);
  second.PropByName("Offset")->SetInteger(30);
  struct Binding {
    TLBInput& Input;
    TLEDBar& Bar;
  };
  const std::vector<Binding> bindings{{first, link.LEDBarCtrls(0).Bars(0)},
                                      {second, link.LEDBarCtrls(0).Bars(1)},
                                      {third, link.LEDBarCtrls(1).Bars(1)}};
  link.LEDBarCtrls(0).Bars(1).Reversed = true;
  link.LEDBarCtrls(1).Bars(1).Inverted = true;
  link.LEDBarCtrls(1).Bars(0).SetAllLEDs(0);  // the "Nothing" input's bar
  // Loading binds every bar more than once (each board added binds the whole list). A
  // second binding differs from the first: the dot no longer jumps from level 0 with a
  // trail. Any further binding changes nothing.
  for (int round = 0; round < 2; ++round) {
    for (const Binding& binding : bindings) {
      binding.Input.Activate(binding.Bar);
    }
  }
  link.Open();
  for (int tick = 0; tick < kTicks; ++tick) {
    for (const Binding& binding : bindings) {
      binding.Input.UpdateBar(binding.Bar);
    }
    link.SendLevels();
  }
  std::vector<std::string> units{"FF"};
  for (const std::string& entry : *journal) {
    if (entry.starts_with("frame")) {
      units.push_back("FF" + entry.substr(5));
    }
  }
  return units;
}

std::vector<std::string> Hex(const std::vector<SimBytes>& units) {
  std::vector<std::string> texts;
  texts.reserve(units.size());
  for (const SimBytes& unit : units) {
    texts.push_back(HexText(unit));
  }
  return texts;
}

}  // namespace

TEST(SimulatedChainsSystem, LoadingDetectsEachChainOnceAndSendsTheConfiguredFrames) {
  FakePrompter prompter;
  SimProcess::Options chain;
  chain.Boards = 2;
  SimProcess simA(chain);
  SimProcess simB(chain);
  TempFolder folder;
  WriteFile(folder.Path("vorlixa.xml"),
            SettingsXml("<Ports>" + EnabledPort(simA.LinkPath(), kBoards) +
                        EnabledPort(simB.LinkPath(), kBoards) + "</Ports>"));
  const std::vector<std::string> expected = ReferenceUnits();
  {
    // The links go by the test's clock, which moves on a tick at a time.
    const auto clock = std::make_shared<TManualClock>(/*sleepingMovesOn=*/true);
    TPortCfgList ports(nullptr, clock);
    TSettings settings(ports, folder.Path("vorlixa.xml"));
    settings.LoadSettings();
    ASSERT_EQ(ports.Count(), 2);
    for (int tick = 0; tick < kTicks; ++tick) {
      // Ticks as far apart as the program's: each frame then finds its line free.
      clock->Advance(std::chrono::milliseconds(25));
      ports.Items(0).Controllers().UpdateBars();
      ports.Items(1).Controllers().UpdateBars();
    }
    ASSERT_TRUE(ports.Items(0).Controller().LastError().empty())
        << ports.Items(0).Controller().LastError();
    EXPECT_TRUE(simA.WaitForUnits(expected.size()));
    EXPECT_TRUE(simB.WaitForUnits(expected.size()));
  }
  EXPECT_TRUE(prompter.Messages.empty());
  for (const SimProcess* sim : {&simA, &simB}) {
    std::vector<std::string> units = Hex(sim->Units());
    ASSERT_GE(units.size(), expected.size());
    units.resize(expected.size());  // then the dark frame of the closing
    EXPECT_EQ(units, expected);
  }
}

}  // namespace vx
