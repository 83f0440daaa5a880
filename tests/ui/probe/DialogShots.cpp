#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QTabBar>
#include <QTimer>

#include <cstdio>
#include <functional>

#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "device/LEDController.h"
#include "inputs/unBarIO.h"
#include "ui/frmBarSetup.h"
#include "ui/frmPortSetup.h"

// Saves pictures of the port and bar dialogs, filled with sample settings, as PNG files
// into the folder given as the only argument, so that their layout can be looked at
// without a display (scripts/screenshots.sh).
namespace {

QString folder;

template <typename Dialog, typename Item>
void Shoot(Dialog& dialog, Item& item, const char* fileName,
           const std::function<void(Dialog&)>& prepare = nullptr) {
  QTimer::singleShot(0, &dialog, [&dialog, fileName, prepare] {
    if (prepare) {
      prepare(dialog);
    }
    const QString path = QDir(folder).filePath(QString::fromUtf8(fileName));
    if (!dialog.grab().save(path)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    } else {
      std::printf("%s\n", qPrintable(path));
    }
    dialog.reject();
  });
  dialog.Execute(item);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  folder = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(folder);

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
  return 0;
}
