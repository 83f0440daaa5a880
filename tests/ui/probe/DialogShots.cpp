#include "common/SimProcess.h"
#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "config/unSettings.h"
#include "device/LEDController.h"
#include "inputs/unBarIO.h"
#include "inputs/unMachine.h"
#include "platform/SensorList.h"
#include "platform/XdgAutostart.h"
#include "support/unUpdate.h"
#include "ui/BarSetupPage.h"
#include "ui/OptionsPage.h"
#include "ui/frmBarSetup.h"
#include "ui/frmPortSetup.h"
#include "ui/unMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <array>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

using namespace vx;

// Saves pictures of the port and bar dialogs and of the main window's two pages, filled with sample
// settings, and of the live view on a simulated chain, as PNG files into the folder given as the
// only argument, so that their layout can be looked at without a display
// (scripts/screenshots.sh).
namespace {

// The folder that main was given.
QString ShotFolder() {
  return QCoreApplication::arguments().at(1);
}

template <typename Dialog, typename Item>
void Shoot(Dialog& dialog, Item& item, const char* fileName,
           const std::function<void(Dialog&)>& prepare = nullptr) {
  QTimer::singleShot(0, &dialog, [&dialog, fileName, prepare] {
    if (prepare) {
      prepare(dialog);
    }
    const QString path = QDir(ShotFolder()).filePath(QString::fromUtf8(fileName));
    if (!dialog.grab().save(path)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    } else {
      std::printf("%s\n", qPrintable(path));
    }
    dialog.reject();
  });
  dialog.Execute(item);
}

void Save(QWidget& widget, const char* fileName) {
  // Long enough for the layouts to settle and the live view to take its first look.
  QElapsedTimer settle;
  settle.start();
  while (settle.elapsed() < 100) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  const QString path = QDir(ShotFolder()).filePath(QString::fromUtf8(fileName));
  if (!widget.grab().save(path)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
  } else {
    std::printf("%s\n", qPrintable(path));
  }
}

// The main window on files of scratch only, with nothing read from or written to the
// user's files and no port opened by its loop.
TMainOptions ShotOptions(const QTemporaryDir& scratch) {
  TMainOptions options;
  options.SettingsFile = scratch.filePath("vorlixa.xml").toStdString();
  options.StartAtLogin =
      std::make_shared<XdgAutostart>(scratch.filePath("all").toStdString(),
                                     scratch.filePath("user").toStdString(), "/usr/bin/vorlixa");
  options.Terminate = [] {};
  return options;
}

// Shows the window's settings body at the window's default size, without the note that
// an offscreen desktop has no notification area.
QWidget& ShowSettings(TfrmMain& window) {
  QApplication::processEvents();
  window.actConfigExecute();
  QApplication::processEvents();
  window.pnlNoTray->hide();
  return *window.Pages();
}

// The settings body at the main window's size, on two sample ports that are not opened.
void ShootSettingsWindow() {
  // A build with an update address and a key (the build settings of the update test
  // read them from here), and then one for a system package, which has no address.
  qputenv("VORLIXA_TEST_UPDATE_ADDRESS", "http://127.0.0.1:9/updates");
  qputenv("VORLIXA_TEST_UPDATE_KEY", "RWQ-a-key");
  QTemporaryDir scratch;
  TfrmMain window(ShotOptions(scratch));
  TPortCfgList& ports = window.Ports();
  TPortCfg& usb = ports.Add();
  usb.Controller().Port = "/dev/ttyUSB0";
  for (const auto& [size, bar0, bar1] :
       {std::tuple{32, "WaveInput", "WaveInput"}, std::tuple{40, "KnightRider", "CPUUsage"}}) {
    TLEDBarCfg& cfg = usb.Controllers().Add();
    cfg.BarSize = size;
    cfg.SetInput(0, bar0);
    cfg.SetInput(1, bar1);
  }
  ports.Add().Controller().Port = "/dev/ttyACM0";
  window.Settings().AutoUpdate = true;
  QWidget& pages = ShowSettings(window);
  window.tsBars->lvBars->setCurrentItem(window.tsBars->lvBars->topLevelItem(1));
  Save(pages, "main-bar-setup.png");
  window.pcConfig->setCurrentWidget(window.tsOptions);
  Save(pages, "main-options.png");

  // The same page in a build for a system package, which has no update address.
  qunsetenv("VORLIXA_TEST_UPDATE_ADDRESS");
  QTemporaryDir packagedScratch;
  TfrmMain packaged(ShotOptions(packagedScratch));
  QWidget& packagedPages = ShowSettings(packaged);
  packaged.pcConfig->setCurrentWidget(packaged.tsOptions);
  Save(packagedPages, "main-options-package.png");
}

// The settings window with its live view on a simulated chain of three boards: the first
// with an inverted and a mirrored bar, the second with 32 LEDs per bar (16 positions
// belong to no bar), the third plain; the second controller row selected. Once at the
// default size, once larger.
void ShootLiveView() {
  QTemporaryDir scratch;
  SimProcess::Options chain;
  chain.Boards = 3;
  SimProcess sim(chain);
  TfrmMain window(ShotOptions(scratch));
  TPortCfg& port = window.Ports().Add();
  TLEDBarController& link = port.Controller();
  link.Port = sim.LinkPath();
  link.MaxValue = 254;
  const std::array<std::tuple<int, const char*, const char*>, 3> boards{
      {{40, "WaveInput", "CPUUsage"},
       {32, "KnightRider", "KnightRider"},
       {40, "CPUUsage", "Nothing"}}};
  for (const auto& [size, bar0, bar1] : boards) {
    TLEDBarCfg& cfg = port.Controllers().Add();
    cfg.BarSize = size;
    cfg.SetInput(0, bar0);
    cfg.SetInput(1, bar1);
  }
  port.Controllers().Items(0).Inverted(0) = true;
  port.Controllers().Items(0).Reversed(1) = true;
  port.Controllers().Apply();
  if (!link.Open()) {
    std::fprintf(stderr, "cannot open the simulated chain at %s\n", sim.LinkPath().c_str());
    return;
  }
  // Levels with fading trails and a falling peak, as a running loop leaves them.
  const std::array<std::array<double, 2>, 3> levels{{{0.45, 0.8}, {0.6, 0.3}, {0.9, 0.0}}};
  for (int b = 0; b < 3; ++b) {
    for (int k = 0; k < 2; ++k) {
      TLEDBar& bar = link.LEDBarCtrls(b).Bars(k);
      bar.SetFadeAmount(50);
      bar.FillBar = !(b == 1 && k == 1);
      bar.FallOff = true;
      const double level = levels.at(static_cast<std::size_t>(b)).at(static_cast<std::size_t>(k));
      bar.SetLevel(level + 0.2);
      bar.SetLevel(level);
    }
  }
  link.SendLevels();

  QWidget& pages = ShowSettings(window);
  window.tsBars->lvBars->setCurrentItem(window.tsBars->lvBars->topLevelItem(1));
  Save(pages, "main-live-view.png");
  window.resize(900, 560);
  Save(pages, "main-live-view-large.png");
  link.Close();
}

}  // namespace

// Sensors as a desktop machine has them, whatever this machine has.
class SampleSensors final : public SensorList {
 public:
  std::vector<std::string> Names() const override {
    return {"coretemp-isa-0000/Package id 0", "coretemp-isa-0000/Core 0",
            "nvme-pci-0100/Composite"};
  }
  std::string ProcessorSensor() const override { return Names().front(); }
  double ReadCelsius(const std::string& /*name*/) const override { return 50.0; }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  QDir().mkpath(ShotFolder());

  TPortCfg port;
  port.Controller().Port = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K5Y3Z-if00-port0";
  port.Controller().SetUpdateInterval(25);
  port.Controller().MaxValue = 254;
  TfrmPortSetup portDialog(nullptr,
                           {{"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K5Y3Z-if00-port0",
                             "/dev/ttyUSB0, FT232R USB UART"},
                            {"/dev/ttyS0", ""},
                            {"/dev/ttyUSB0", "FT232R USB UART, FTDI"}});
  Shoot<TfrmPortSetup>(portDialog, port, "port-setup.png");

  TLEDBarCfg bars;
  bars.BarSize = 40;
  bars.SetInput(0, "KnightRider");
  bars.Reversed(0) = true;
  bars.SetInput(1, "CPUUsage");
  TfrmBarSetup barDialog;
  Shoot<TfrmBarSetup>(barDialog, bars, "bar-setup.png");
  TfrmBarSetup barInvalid;
  Shoot<TfrmBarSetup>(barInvalid, bars, "bar-setup-invalid.png", [](TfrmBarSetup& d) {
    qobject_cast<QLineEdit*>(d.RowEditor(1))->setText("5x");
  });
  TfrmBarSetup barSecond;
  Shoot<TfrmBarSetup>(barSecond, bars, "bar-setup-bar2.png",
                      [](TfrmBarSetup& d) { d.tcBars->setCurrentIndex(1); });
  SetSensorList(std::make_shared<SampleSensors>());
  TLEDBarCfg machine;
  machine.BarSize = 40;
  machine.SetInput(0, "NetworkTraffic");
  machine.SetInput(1, "Temperature");
  TfrmBarSetup machineFirst;
  Shoot<TfrmBarSetup>(machineFirst, machine, "bar-setup-network.png");
  TfrmBarSetup machineSecond;
  Shoot<TfrmBarSetup>(machineSecond, machine, "bar-setup-temperature.png",
                      [](TfrmBarSetup& d) { d.tcBars->setCurrentIndex(1); });
  ShootSettingsWindow();
  ShootLiveView();
  return 0;
}
