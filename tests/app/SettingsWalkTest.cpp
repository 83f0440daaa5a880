#include "ProgramFolder.h"
#include "common/ComboChoice.h"
#include "common/FakePrompter.h"
#include "common/SimProcess.h"
#include "common/TestFiles.h"
#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "config/unSettings.h"
#include "device/LEDController.h"
#include "platform/XdgAutostart.h"
#include "ui/BarSetupPage.h"
#include "ui/frmBarSetup.h"
#include "ui/frmPortSetup.h"
#include "ui/unMain.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace vx {

// A first run as a user goes through it: the program's window, with no settings file yet,
// gets a port on the simulated chain and a controller with a Knight Rider bar; OK saves
// and the chain shows the sweep. Then the real program starts from that folder and drives
// the same configuration.

namespace {

namespace fs = std::filesystem;

// Answers the next modal dialog of type Dialog: fill fills it in, then OK.
template <typename Dialog>
void ConfirmNextDialog(std::function<void(Dialog&)> fill) {
  QTimer::singleShot(0, [fill] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    fill(*dialog);
    dialog->btnOk->click();
    if (dialog->isVisible()) {
      ADD_FAILURE() << "the dialog stayed open";
      dialog->reject();
    }
  });
}

std::string Row(const QTreeWidget& list, int row) {
  QStringList texts;
  for (int column = 0; column < list.columnCount(); ++column) {
    texts << list.topLevelItem(row)->text(column);
  }
  return texts.join(QLatin1Char('|')).toStdString();
}

// Where the brightest LED of each frame after the first skip units lies. A sweeping dot
// visits many places; a still bar keeps one.
std::set<std::size_t> DotPlaces(const SimProcess& sim, std::size_t skip) {
  std::set<std::size_t> places;
  const std::vector<SimBytes> units = sim.Units();
  for (std::size_t i = skip; i < units.size(); ++i) {
    const SimBytes& unit = units[i];
    if (unit.size() > 1 && NonZero(unit) > 0) {
      places.insert(
          static_cast<std::size_t>(std::max_element(unit.begin() + 1, unit.end()) - unit.begin()));
    }
  }
  return places;
}

bool WaitForSweep(const SimProcess& sim, std::size_t skip) {
  return WaitFor([&] { return DotPlaces(sim, skip).size() >= 10; });
}

}  // namespace

TEST(SettingsWalkSystem, APortAndAKnightRiderBarAddedInTheWindowRunNowAndAfterARestart) {
  ProgramFolder folder;
  SimProcess::Options chain;
  chain.Boards = 1;
  SimProcess sim(chain);
  const std::string& link = sim.LinkPath();
  FakePrompter prompter;

  TMainOptions options;
  options.SettingsFile = folder.SettingsFile();
  // The start-at-login entries go to the temporary folder, not to this machine's.
  const auto autostart = std::make_shared<XdgAutostart>(
      folder.Folder() + "/all", folder.Folder() + "/user", folder.Program());
  options.StartAtLogin = autostart;
  options.Terminate = [] {};
  auto window = std::make_unique<TfrmMain>(options);
  EXPECT_FALSE(window->Active()) << "nothing configured yet";
  // As in the program, the event loop has run (the tray icon has settled the window's
  // type) before the user can open the window.
  QCoreApplication::processEvents();

  window->actConfigExecute();
  TBarSetupPage& pages = *window->tsBars;
  ASSERT_TRUE(window->isVisible());
  auto& ports = *pages.findChild<QTreeWidget*>(QStringLiteral("lvPorts"));
  auto& bars = *pages.findChild<QTreeWidget*>(QStringLiteral("lvBars"));
  const auto action = [&pages](const char* name) {
    return pages.findChild<QAction*>(QString::fromLatin1(name));
  };

  // The port: typed into the port box, as a path the machine does not list, and its LED
  // max, which a new port has at 0 (every LED dark).
  ConfirmNextDialog<TfrmPortSetup>([&link](TfrmPortSetup& d) {
    d.cbPort->setEditText(QString::fromStdString(link));
    d.ebLEDmax->setText(QStringLiteral("254"));
  });
  action("actPortAdd")->trigger();
  ASSERT_EQ(ports.topLevelItemCount(), 1);
  EXPECT_EQ(ports.topLevelItem(0)->text(0).toStdString(), link);
  ports.setCurrentItem(ports.topLevelItem(0));

  // The controller: 2 x 40 LEDs, the first bar sweeping.
  ASSERT_TRUE(action("actBarCtrlAdd")->isEnabled());
  ConfirmNextDialog<TfrmBarSetup>([](TfrmBarSetup& d) {
    Choose(*d.cbBarSize, "40 LEDs");
    Choose(*d.cbBarSource, "KnightRider");
  });
  action("actBarCtrlAdd")->trigger();
  ASSERT_EQ(bars.topLevelItemCount(), 1);
  EXPECT_EQ(Row(bars, 0).rfind("#1|2x40|KnightRider|", 0), 0U) << Row(bars, 0);

  window->findChild<QPushButton*>(QStringLiteral("btnOk"))->click();
  EXPECT_FALSE(window->isVisible()) << "OK closes the settings window";
  EXPECT_TRUE(window->Active());
  EXPECT_TRUE(WaitForSweep(sim, 0)) << sim.Units().size() << " frames received";
  EXPECT_TRUE(prompter.Messages.empty()) << prompter.Messages.front();

  // The file holds what the window showed: the port (saved not enabled, as every port
  // added by hand) and its controller.
  {
    TPortCfgList saved;
    TSettings settings(saved, folder.SettingsFile());
    settings.LoadSettings();
    ASSERT_EQ(saved.Count(), 1) << ReadText(folder.SettingsFile());
    EXPECT_EQ(saved.Items(0).Controller().Port, link);
    EXPECT_FALSE(saved.Items(0).Enabled);
    ASSERT_EQ(saved.Items(0).Controllers().Count(), 1);
    EXPECT_EQ(saved.Items(0).Controllers().Items(0).BarSize, 40);
    EXPECT_EQ(saved.Items(0).Controllers().Items(0).InputName(0), "KnightRider");
  }
  // Both start-at-login boxes were left clear: no entry was written.
  EXPECT_FALSE(fs::exists(autostart->EntryFileName(TAutostartScope::AllUsers)));
  EXPECT_FALSE(fs::exists(autostart->EntryFileName(TAutostartScope::CurrentUser)));

  // Ending the program darkens the chain.
  window.reset();
  ASSERT_TRUE(WaitForDarkChain(sim, 1));

  // The real program, started in that folder, runs the saved configuration.
  const std::size_t before = sim.Units().size();
  QProcess* program = folder.Launch();
  ASSERT_TRUE(folder.WaitForLogText("Run application")) << ReadText(folder.LogFile());
  EXPECT_TRUE(Contains(LogTexts(folder.LogFile()), "Loading config from " + folder.SettingsFile()));
  EXPECT_TRUE(WaitForSweep(sim, before)) << sim.Units().size() - before << " frames received";
  EXPECT_EQ(ProgramFolder::Terminate(program), 0) << program->readAllStandardError().toStdString();
  EXPECT_TRUE(WaitForDarkChain(sim, 1));
}

}  // namespace vx
