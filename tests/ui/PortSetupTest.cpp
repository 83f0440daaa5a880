#include "base/Exceptions.h"
#include "common/FakePrompter.h"
#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "device/LEDController.h"
#include "device/StripColours.h"
#include "ui/ConfigDialogs.h"
#include "ui/UpDown.h"
#include "ui/frmPortSetup.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <array>
#include <functional>
#include <string>

namespace vx {

namespace {

const std::vector<TSerialPortChoice> kPorts = {
    {"/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0", "/dev/ttyUSB0, FT232R USB UART"},
    {"/dev/ttyUSB0", "FT232R USB UART"}};

void SetPort(TPortCfg& port, const std::string& name, std::uint32_t interval, int min, int max) {
  port.Controller().Port = name;
  port.Controller().SetUpdateInterval(interval);
  port.Controller().MinValue = static_cast<std::uint8_t>(min);
  port.Controller().MaxValue = static_cast<std::uint8_t>(max);
}

// Runs the dialog modally on port; act works on the shown dialog and closes it. A dialog
// that act leaves open is cancelled, so that a failing test ends.
bool RunDialog(TfrmPortSetup& dialog, TPortCfg& port,
               const std::function<void(TfrmPortSetup&)>& act) {
  QTimer::singleShot(0, &dialog, [&dialog, act] {
    act(dialog);
    if (dialog.isVisible()) {
      ADD_FAILURE() << "the dialog stayed open";
      dialog.reject();
    }
  });
  return dialog.Execute(port);
}

}  // namespace

TEST(PortSetup, ShowsThePortAndCancelLeavesItUnchanged) {
  TPortCfg port;
  SetPort(port, "/dev/ttyACM3", 50, 3, 200);
  port.Enabled = true;
  port.Controllers().Add().BarSize = 40;
  TfrmPortSetup dialog(nullptr, kPorts);
  const bool confirmed = RunDialog(dialog, port, [](TfrmPortSetup& d) {
    EXPECT_EQ(d.windowTitle(), "Port setup");
    EXPECT_EQ(d.cbPort->currentText(), "/dev/ttyACM3");
    EXPECT_EQ(d.ebInterval->text(), "50");
    EXPECT_EQ(d.ebLEDmin->text(), "3");
    EXPECT_EQ(d.ebLEDmax->text(), "200");
    EXPECT_TRUE(d.btnOk->isEnabled());
    d.cbPort->setEditText("/dev/ttyUSB7");
    d.ebInterval->setText("100");
    d.ebLEDmin->setText("10");
    d.btnCancel->click();
  });
  EXPECT_FALSE(confirmed);
  EXPECT_EQ(port.Controller().Port, "/dev/ttyACM3");
  EXPECT_EQ(port.Controller().UpdateInterval(), 50U);
  EXPECT_EQ(port.Controller().MinValue, 3);
  EXPECT_EQ(port.Controller().MaxValue, 200);
}

TEST(PortSetup, OkStoresTheEditsAsTypedAndLeavesEnabledAndControllers) {
  TPortCfg port;
  SetPort(port, "/dev/ttyS0", 25, 0, 255);
  port.Controllers().Add().BarSize = 32;
  port.Controllers().Add().BarSize = 40;
  TfrmPortSetup dialog(nullptr, kPorts);
  const bool confirmed = RunDialog(dialog, port, [](TfrmPortSetup& d) {
    d.cbPort->setEditText("COM15");  // not offered: taken as typed
    d.ebInterval->setText("0");
    d.ebLEDmin->setText("12");
    d.udLEDmax->btnDown->click();
    d.btnOk->click();
  });
  EXPECT_TRUE(confirmed);
  EXPECT_EQ(port.Controller().Port, "COM15");
  EXPECT_EQ(port.Controller().UpdateInterval(), 0U);
  EXPECT_EQ(port.Controller().MinValue, 12);
  EXPECT_EQ(port.Controller().MaxValue, 254);
  EXPECT_FALSE(port.Enabled);
  ASSERT_EQ(port.Controllers().Count(), 2);
  EXPECT_EQ(port.Controllers().Items(1).BarSize, 40);
}

TEST(PortSetup, InvalidNumbersAreReportedAndKeepTheLastValidValue) {
  FakePrompter prompter;
  TPortCfg port;
  SetPort(port, "/dev/ttyUSB0", 40, 5, 100);
  TfrmPortSetup dialog(nullptr, kPorts);
  const bool confirmed = RunDialog(dialog, port, [&prompter](TfrmPortSetup& d) {
    d.ebLEDmax->setText("300");
    d.ebLEDmin->setText("-1");
    d.ebInterval->setText("-5");
    d.ebInterval->setText("x");
    // Decimal digits only, as the settings file holds them.
    d.ebLEDmax->setText("$FF");
    d.ebInterval->setText(" 30");
    EXPECT_EQ(prompter.Messages,
              (std::vector<std::string>{"Range check error", "Range check error",
                                        "Range check error", "'x' is not a valid integer value",
                                        "'$FF' is not a valid integer value",
                                        "' 30' is not a valid integer value"}));
    d.ebLEDmax->setText("300");
    EXPECT_EQ(d.ebLEDmax->text(), "300");  // the text stays as typed
    d.ebLEDmin->setText("6");
    d.btnOk->click();
  });
  EXPECT_TRUE(confirmed);
  EXPECT_EQ(port.Controller().MaxValue, 100);
  EXPECT_EQ(port.Controller().MinValue, 6);
  EXPECT_EQ(port.Controller().UpdateInterval(), 40U);
}

TEST(PortSetup, AStripTakesItsColourAndAFaultyAddressOrColourKeepsTheDialogOpen) {
  FakePrompter prompter;
  TPortCfg port;
  SetPort(port, "/dev/ttyUSB0", 25, 0, 254);
  TfrmPortSetup dialog(nullptr, kPorts);
  const bool confirmed = RunDialog(dialog, port, [&prompter](TfrmPortSetup& d) {
    // A serial chain has no colour to choose.
    EXPECT_EQ(d.cbColour->currentText(), "Meter");
    EXPECT_FALSE(d.cbColour->isEnabled());
    d.cbPort->setEditText("e131://192.0.2.7/0");  // universe 0 is no E1.31 universe
    EXPECT_TRUE(d.cbColour->isEnabled());
    d.cbColour->setEditText("orange");
    d.btnOk->click();
    ASSERT_EQ(prompter.Messages.size(), 1U);
    EXPECT_TRUE(d.isVisible());
    d.cbPort->setEditText("e131://192.0.2.7/2");
    d.btnOk->click();
    ASSERT_EQ(prompter.Messages.size(), 2U);
    EXPECT_EQ(prompter.Messages[1], "\"orange\" is not a colour: Meter or #RRGGBB");
    EXPECT_TRUE(d.isVisible());
    d.cbColour->setEditText("#ff8000");
    d.btnOk->click();
  });
  EXPECT_TRUE(confirmed);
  EXPECT_EQ(port.Controller().Port, "e131://192.0.2.7/2");
  EXPECT_EQ(StripColourText(port.Controller().Colour), "#FF8000");
}

TEST(PortSetup, ArrowsStepWithinTheirRangeButAStoredValueShowsAsItIs) {
  TPortCfg port;
  SetPort(port, "/dev/ttyUSB0", 5000, 0, 255);
  TfrmPortSetup dialog(nullptr, kPorts);
  RunDialog(dialog, port, [](TfrmPortSetup& d) {
    EXPECT_EQ(d.ebInterval->text(), "5000");
    d.udInterval->btnUp->click();
    EXPECT_EQ(d.ebInterval->text(), "1000");
    d.udLEDmax->btnUp->click();
    EXPECT_EQ(d.ebLEDmax->text(), "255");
    d.udLEDmin->btnDown->click();
    EXPECT_EQ(d.ebLEDmin->text(), "0");
    d.btnOk->click();
  });
  EXPECT_EQ(port.Controller().UpdateInterval(), 1000U);
}

TEST(PortSetup, ANewPortShowsTheLinksDefaultsAndOkIsSetOnceWhenTheDialogOpens) {
  TPortCfg port;
  TfrmPortSetup dialog(nullptr, kPorts);
  bool confirmed = RunDialog(dialog, port, [](TfrmPortSetup& d) {
    EXPECT_EQ(d.cbPort->currentText(), "COM1");
    EXPECT_EQ(d.ebInterval->text(), "50");
    EXPECT_EQ(d.ebLEDmin->text(), "0");
    EXPECT_EQ(d.ebLEDmax->text(), "0");
    EXPECT_TRUE(d.btnOk->isEnabled());
    d.cbPort->setEditText("");
    EXPECT_TRUE(d.btnOk->isEnabled());
    d.btnCancel->click();
  });
  EXPECT_FALSE(confirmed);

  // A port without a name can only be cancelled, whatever is typed.
  SetPort(port, "", 25, 0, 255);
  TfrmPortSetup nameless(nullptr, kPorts);
  confirmed = RunDialog(nameless, port, [](TfrmPortSetup& d) {
    EXPECT_FALSE(d.btnOk->isEnabled());
    d.cbPort->setEditText("/dev/ttyUSB1");
    d.cbPort->setCurrentIndex(0);  // a port chosen from the list
    EXPECT_FALSE(d.btnOk->isEnabled());
    d.btnOk->click();  // disabled: nothing happens
    EXPECT_TRUE(d.isVisible());
    d.btnCancel->click();
  });
  EXPECT_FALSE(confirmed);
  EXPECT_EQ(port.Controller().Port, "");
}

TEST(PortSetup, AnIntervalTheBoxCannotShowKeepsTheDialogClosed) {
  TPortCfg port;
  SetPort(port, "/dev/ttyUSB0", 32768, 0, 255);
  TfrmPortSetup dialog(nullptr, kPorts);
  bool shown = false;
  QTimer::singleShot(0, &dialog, [&dialog, &shown] {
    shown = true;
    dialog.reject();
  });
  EXPECT_THROW(
      {
        try {
          dialog.Execute(port);
        } catch (const ERangeError& e) {
          EXPECT_EQ(e.Message(), "Range check error");
          throw;
        }
      },
      ERangeError);
  QApplication::processEvents();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(port.Controller().UpdateInterval(), 32768U);
}

TEST(PortSetup, ThePortListOffersStableNamesFirstAndShowsDescriptions) {
  // A pseudo-terminal stands for the adapter the stable name points to.
  int master = -1;
  int slave = -1;
  std::array<char, 256> name{};
  ASSERT_EQ(::openpty(&master, &slave, name.data(), nullptr, nullptr), 0);
  QTemporaryDir byId;
  ASSERT_TRUE(byId.isValid());
  const std::string link = byId.path().toStdString() + "/usb-Maker_LEDBar_0042-if00-port0";
  ASSERT_EQ(::symlink(name.data(), link.c_str()), 0);
  const std::string dangling = byId.path().toStdString() + "/usb-Gone-if00";
  ASSERT_EQ(::symlink("/dev/no-such-tty", dangling.c_str()), 0);

  const std::vector<TSerialPortChoice> ports = SerialPortChoices(byId.path().toStdString());
  ::close(slave);
  ::close(master);
  ASSERT_GE(ports.size(), 1U);
  EXPECT_EQ(ports[0].Name, link);
  EXPECT_EQ(ports[0].Description.substr(0, std::string(name.data()).size()), name.data());
  for (const TSerialPortChoice& port : ports) {
    EXPECT_NE(port.Name, dangling);
  }

  TfrmPortSetup dialog(nullptr, kPorts);
  ASSERT_EQ(dialog.cbPort->count(), 2);
  EXPECT_EQ(dialog.cbPort->itemData(0, Qt::DisplayRole).toString().toStdString(),
            kPorts[0].Name + "  (" + kPorts[0].Description + ")");
  dialog.cbPort->setCurrentIndex(1);
  EXPECT_EQ(dialog.cbPort->currentText().toStdString(), "/dev/ttyUSB0");
}

TEST(PortSetup, EditOpensTheDialogAndAppliesOnlyWhatIsConfirmed) {
  InstallConfigDialogs();
  TPortCfgList ports;
  TPortCfg& port = ports.Add();
  port.Controller().Port = "/dev/ttyUSB0";
  auto answer = [](const char* text, bool ok) {
    QTimer::singleShot(0, [text, ok] {
      auto* dialog = qobject_cast<TfrmPortSetup*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      dialog->cbPort->setEditText(text);
      (ok ? dialog->btnOk : dialog->btnCancel)->click();
    });
  };
  answer("/dev/ttyUSB5", false);
  EXPECT_FALSE(port.Edit());
  EXPECT_EQ(port.Controller().Port, "/dev/ttyUSB0");
  answer("/dev/ttyUSB5", true);
  EXPECT_TRUE(port.Edit());
  EXPECT_EQ(port.Controller().Port, "/dev/ttyUSB5");
  SetPortCfgDialog(nullptr);
  SetLEDBarCfgDialog(nullptr);
  EXPECT_FALSE(port.Edit());
}

}  // namespace vx
