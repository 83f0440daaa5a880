#include "common/SimProcess.h"
#include "common/Wait.h"
#include "config/PortStatus.h"
#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "config/unSettings.h"
#include "device/LEDController.h"
#include "device/LEDShades.h"
#include "platform/XdgAutostart.h"
#include "ui/BarSetupPage.h"
#include "ui/ChainView.h"
#include "ui/OptionsPage.h"
#include "ui/unMain.h"

#include <QApplication>
#include <QEvent>
#include <QImage>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

namespace vx {

// The live view of the settings window shows what the chain received, and costs nothing
// while it is out of sight.
namespace {

QColor Shade(std::uint8_t brightness) {
  const TLEDShade shade = LEDShade(brightness);
  return {shade.Red, shade.Green, shade.Blue};
}

// Counts the paint events of a widget while it lives.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget& widget) : widget_(widget) { widget_.installEventFilter(this); }
  ~PaintCounter() override { widget_.removeEventFilter(this); }
  PaintCounter(const PaintCounter&) = delete;
  PaintCounter& operator=(const PaintCounter&) = delete;

  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    Paints += event->type() == QEvent::Paint ? 1 : 0;
    return false;
  }

  int Paints = 0;

 private:
  QWidget& widget_;
};

TEST(ChainViewSystem, DrawsTheFrameTheChainReceivedAndMarksTheSelectedBoard) {
  SimProcess sim;  // two boards
  QTemporaryDir folder;
  TPortCfgList ports;
  TPortCfg& port = ports.Add();
  TLEDBarController& link = port.Controller();
  link.Port = sim.LinkPath();
  link.MinValue = 10;
  link.MaxValue = 200;
  // Board 1: 40 LEDs a bar, the first bar inverted, the second mirrored. Board 2: 32, the
  // second bar both, and 16 positions that belong to no bar.
  TLEDBarCfgList& boards = port.Controllers();
  boards.Add().BarSize = 40;
  boards.Add().BarSize = 32;
  boards.Items(0).Inverted(0) = boards.Items(0).Reversed(1) = true;
  boards.Items(1).Inverted(1) = boards.Items(1).Reversed(1) = true;
  boards.Apply();
  ASSERT_TRUE(link.Open());
  // Fading trails make neighbouring LEDs differ, so that a mirrored bar shows.
  double level = 0.15;
  for (int b = 0; b < 2; ++b) {
    for (int k = 0; k < 2; ++k, level += 0.15) {
      TLEDBar& bar = link.LEDBarCtrls(b).Bars(k);
      bar.SetFadeAmount(60);
      bar.FillBar = k == 0;
      bar.SetLevel(level);
      bar.SetLevel(level + 0.3);
    }
  }
  link.SendLevels();
  ASSERT_TRUE(sim.WaitForUnits(3));  // detection, the forced frame, ours
  const SimBytes unit = sim.Units().at(2);
  const SimBytes wire(unit.begin() + 1, unit.end());
  ASSERT_EQ(wire, SimBytes(link.LastFrame().begin(), link.LastFrame().begin() + 160));
  const auto& leds = link.LEDBarCtrls(0).LEDs;
  ASSERT_NE(SimBytes(wire.begin(), wire.begin() + 40), SimBytes(leds.begin(), leds.begin() + 40));
  ASSERT_NE(SimBytes(wire.begin() + 40, wire.begin() + 80),
            SimBytes(leds.begin() + 40, leds.end()));

  TBarSetupPage pages(ports);
  pages.resize(595, 341);
  pages.show();
  pages.FormShow();
  pages.lvBars->setCurrentItem(pages.lvBars->topLevelItem(1));
  QApplication::processEvents();
  TLEDChainView& view = *pages.pbChain;
  const QImage picture = view.grab().toImage();

  // Every LED in frame order from left to right, a gap wider than an LED where a bar ends,
  // in the shade of its byte on the wire; a position of no bar not drawn as an LED.
  int wrong = 0;
  std::string first;
  for (int b = 0; b < 2; ++b) {
    const int barSize = link.LEDBarCtrls(b).BarSize();
    int lastRight = -1;
    for (int slot = 0; slot < 80; ++slot) {
      const QRect led = view.LEDRect(b, slot);
      const int gap = slot == barSize || slot == 2 * barSize ? led.width() : 0;
      const QColor shown = picture.pixelColor(led.center());
      const std::uint8_t sent = wire[static_cast<std::size_t>(b * 80 + slot)];
      const bool right = led.left() > lastRight + gap && picture.rect().contains(led) &&
                         (LEDSlotBar(static_cast<std::uint8_t>(barSize), slot) < 0
                              ? shown != Shade(0) && shown != Shade(sent)
                              : shown == Shade(sent));
      if (!right && wrong++ == 0) {
        first = std::to_string(b) + "/" + std::to_string(slot) + ": " + shown.name().toStdString() +
                " for byte " + std::to_string(sent);
      }
      lastRight = led.right();
    }
  }
  EXPECT_EQ(wrong, 0) << "first: " << first;
  const QColor highlight = view.palette().color(QPalette::Highlight);
  EXPECT_EQ(picture.pixelColor(view.BoardRect(1).topLeft() + QPoint(1, 1)), highlight);
  EXPECT_NE(picture.pixelColor(view.BoardRect(0).topLeft() + QPoint(1, 1)), highlight);

  // Closed, the port shows its state in words instead of LEDs.
  link.Close();
  EXPECT_EQ(view.ShownText().toStdString(), PortStatusText(PortStatusOf(port)));
  EXPECT_TRUE(view.LEDRect(0, 0).isNull());
}

TEST(ChainView, RepaintsOnlyWhileTheBarSetupPageIsInSight) {
  QTemporaryDir folder;
  TMainOptions options;
  options.SettingsFile = folder.filePath("vorlixa.xml").toStdString();
  options.StartAtLogin =
      std::make_shared<XdgAutostart>(folder.filePath("all").toStdString(),
                                     folder.filePath("user").toStdString(), "/opt/vorlixa/vorlixa");
  TfrmMain window(options);
  ASSERT_NE(window.Pages(), nullptr);
  TBarSetupPage& pages = *window.tsBars;
  // Offscreen there is no notification area, so the window shows at start; closed, it
  // hides.
  RunEventsFor(200);
  window.close();
  EXPECT_FALSE(pages.pbChain->RepaintTimerActive()) << "the window is hidden";
  {
    const PaintCounter hidden(*pages.pbChain);
    RunEventsFor(200);
    EXPECT_EQ(hidden.Paints, 0);
  }

  window.actConfigExecute();
  EXPECT_TRUE(pages.pbChain->RepaintTimerActive());
  {
    // A live view: picture after picture, several within a second.
    const PaintCounter shown(*pages.pbChain);
    EXPECT_TRUE(WaitFor([&shown] { return shown.Paints >= 3; }, 1000));
  }
  window.pcConfig->setCurrentWidget(window.tsOptions);
  EXPECT_FALSE(pages.pbChain->RepaintTimerActive()) << "the other page is in front";
  window.pcConfig->setCurrentWidget(window.tsBars);
  EXPECT_TRUE(pages.pbChain->RepaintTimerActive());

  window.close();  // hides the window and reloads the settings
  EXPECT_FALSE(window.isVisible());
  EXPECT_FALSE(pages.pbChain->RepaintTimerActive());
  const PaintCounter closed(*pages.pbChain);
  RunEventsFor(200);
  EXPECT_EQ(closed.Paints, 0);
  window.actExitExecute();
}

}  // namespace

}  // namespace vx
