#include "common/ComboChoice.h"
#include "common/FakePrompter.h"
#include "common/ScopedLocale.h"
#include "common/SettingsXml.h"
#include "common/TestFiles.h"
#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "config/unSettings.h"
#include "device/LEDController.h"
#include "inputs/unBarIO.h"
#include "inputs/unMachine.h"
#include "platform/SensorList.h"
#include "ui/ConfigDialogs.h"
#include "ui/UpDown.h"
#include "ui/frmBarSetup.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScrollArea>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <string>

namespace vx {

namespace {

// Runs the dialog modally on item; act works on the shown dialog and closes it. A dialog
// that act leaves open is cancelled, so that a failing test ends.
bool RunDialog(TfrmBarSetup& dialog, TLEDBarCfg& item,
               const std::function<void(TfrmBarSetup&)>& act) {
  QTimer::singleShot(0, &dialog, [&dialog, act] {
    act(dialog);
    if (dialog.isVisible()) {
      ADD_FAILURE() << "the dialog stayed open";
      dialog.reject();
    }
  });
  return dialog.Execute(item);
}

QLineEdit* RowEdit(const TfrmBarSetup& dialog, int row) {
  return qobject_cast<QLineEdit*>(dialog.RowEditor(row));
}

QString RowCaption(const TfrmBarSetup& dialog, int row) {
  auto* label =
      dialog.sbOptions->widget()->findChild<QLabel*>(QStringLiteral("lblProp%1").arg(row));
  return label != nullptr ? label->text() : QString();
}

bool IsRed(const QWidget& editor) {
  return editor.palette().color(QPalette::Text) == QColor(Qt::red);
}

// An input with the two kinds that the built-in inputs do not use.
class TLBLabelled final : public TLBInput {
 public:
  TLBLabelled() {
    AddProp("Label", pkString, "").Value = std::string("CPU");
    TLBInputProp& mode = AddProp("Mode", pkChoice, "");
    mode.Choices = {"Dot", "Bar", "Peak"};
    mode.SetInteger(1);
  }
  static const TLBInputClass ClassInfo;
  const TLBInputClass& Class() const override { return ClassInfo; }
  void Activate(TLEDBar& /*bar*/) override {}
  void UpdateBar(TLEDBar& /*bar*/) override {}
  void Deactivate(TLEDBar& /*bar*/) override {}
};
const TLBInputClass TLBLabelled::ClassInfo{
    "TLBLabelled", []() -> std::unique_ptr<TLBInput> { return std::make_unique<TLBLabelled>(); }};

void RegisterLabelled() {
  static const bool registered = [] {
    InputList().Register(TLBLabelled::ClassInfo);
    return true;
  }();
  (void)registered;
}

// KnightRider rows: Offset (integer), Fading_percentage (integer), Moving_step (float).
constexpr int kOffsetRow = 0;
constexpr int kFadingRow = 1;
constexpr int kStepRow = 2;

}  // namespace

TEST(BarSetup, ShowsTheConfigurationWithRowsBuiltFromTheInputsProperties) {
  TLEDBarCfg item;
  item.BarSize = 40;
  item.SetInput(0, "knightrider");
  item.Input(0)->PropByName("Moving_step")->SetFloat(2.5);
  item.Reversed(0) = true;
  item.SetInput(1, "CPUUsage");
  TfrmBarSetup dialog;
  RunDialog(dialog, item, [](TfrmBarSetup& d) {
    EXPECT_EQ(d.windowTitle(), "Bar setup");
    EXPECT_EQ(d.cbBarSize->currentText(), "40 LEDs");
    EXPECT_EQ(d.tcBars->currentIndex(), 0);
    EXPECT_EQ(d.cbBarSource->currentText(), "KnightRider");  // letter case ignored
    EXPECT_TRUE(d.cbReversed->isChecked());
    EXPECT_FALSE(d.cbInverted->isChecked());
    ASSERT_EQ(d.RowCount(), 3);
    EXPECT_EQ(RowCaption(d, kFadingRow), "Fading percentage");
    EXPECT_EQ(RowCaption(d, kStepRow), "Moving step");
    EXPECT_EQ(RowEdit(d, kFadingRow)->text(), "5");
    EXPECT_EQ(RowEdit(d, kStepRow)->text(), "2.5");
    // As far right as the dialog had to grow for the widest caption.
    EXPECT_EQ(RowEdit(d, kStepRow)->geometry(),
              QRect(118 + d.width() - 336, 8 + 32 * kStepRow, 129, 21));
    EXPECT_TRUE(RowEdit(d, kStepRow)->isVisible());
    EXPECT_TRUE(d.sbOptions->widget()->rect().contains(RowEdit(d, kStepRow)->geometry()));
    auto* unit = d.sbOptions->widget()->findChild<QLabel*>(QStringLiteral("lblUnit1"));
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(unit->text(), "%");
    d.tcBars->setCurrentIndex(1);
    EXPECT_EQ(d.cbBarSource->currentText(), "CPUUsage");
    ASSERT_EQ(d.RowCount(), 2);
    EXPECT_EQ(RowCaption(d, 0), "Processor");
    EXPECT_EQ(RowEdit(d, 0)->text(), "1");
    EXPECT_TRUE(RowEdit(d, 0)->isVisible());
    d.btnCancel->click();
  });
}

TEST(BarSetup, CancelLeavesTheItemUnchangedEvenAfterInputsWereSwitched) {
  TLEDBarCfg item;
  item.BarSize = 32;
  item.SetInput(0, "KnightRider");
  item.Input(0)->PropByName("Offset")->SetInteger(7);
  TfrmBarSetup dialog;
  const bool confirmed = RunDialog(dialog, item, [](TfrmBarSetup& d) {
    Choose(*d.cbBarSource, "WaveInput");
    d.cbFallOff->click();
    Choose(*d.cbBarSize, "40 LEDs");
    d.tcBars->setCurrentIndex(1);
    Choose(*d.cbBarSource, "CPUUsage");
    d.btnCancel->click();
  });
  EXPECT_FALSE(confirmed);
  EXPECT_EQ(item.BarSize, 32);
  EXPECT_EQ(item.InputName(0), "KnightRider");
  EXPECT_EQ(item.Input(0)->PropByName("Offset")->AsInteger(), 7);
  EXPECT_FALSE(item.FallOff(0));
  EXPECT_EQ(item.InputName(1), "Nothing");
}

TEST(BarSetup, OkCopiesBothBarsFlagsAndSizeBack) {
  TLEDBarCfg item;
  item.BarSize = 32;
  TfrmBarSetup dialog;
  const bool confirmed = RunDialog(dialog, item, [](TfrmBarSetup& d) {
    Choose(*d.cbBarSize, "40 LEDs");
    Choose(*d.cbBarSource, "KnightRider");
    RowEdit(d, kOffsetRow)->setText("-3");
    d.cbInverted->click();
    d.tcBars->setCurrentIndex(1);
    Choose(*d.cbBarSource, "CPUUsage");
    RowEdit(d, 0)->setText("2");
    d.cbFallOff->click();
    d.btnOk->click();
  });
  EXPECT_TRUE(confirmed);
  EXPECT_EQ(item.BarSize, 40);
  EXPECT_EQ(item.InputName(0), "KnightRider");
  EXPECT_EQ(item.Input(0)->PropByName("Offset")->AsInteger(), -3);
  EXPECT_TRUE(item.Inverted(0));
  EXPECT_FALSE(item.FallOff(0));
  EXPECT_EQ(item.InputName(1), "CPUUsage");
  EXPECT_EQ(item.Input(1)->PropByName("Processor")->AsInteger(), 2);
  EXPECT_TRUE(item.FallOff(1));
  EXPECT_FALSE(item.Inverted(1));
}

TEST(BarSetup, LettersInAnIntegerTurnItRedBlockOkAndTheTabSwitch) {
  FakePrompter prompter;
  TLEDBarCfg item;
  item.BarSize = 32;
  item.SetInput(0, "KnightRider");
  TfrmBarSetup dialog;
  const bool confirmed = RunDialog(dialog, item, [&prompter](TfrmBarSetup& d) {
    QLineEdit* fading = RowEdit(d, kFadingRow);
    fading->setText("5x");
    EXPECT_TRUE(IsRed(*fading));
    EXPECT_EQ(fading->toolTip(), "'5x' is not a valid numeric Fading_percentage value.");
    EXPECT_FALSE(IsRed(*RowEdit(d, kOffsetRow)));
    EXPECT_TRUE(prompter.Messages.empty());  // typing only colours the text

    d.btnOk->click();
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(prompter.Messages,
              std::vector<std::string>{"'5x' is not a valid numeric Fading_percentage value."});
    EXPECT_EQ(d.focusWidget(), fading);

    d.tcBars->setCurrentIndex(1);
    EXPECT_EQ(d.tcBars->currentIndex(), 0);
    EXPECT_EQ(prompter.Messages.size(), 2U);
    EXPECT_EQ(RowEdit(d, kFadingRow), fading);  // still the rows of bar 1

    fading->setText("12");
    EXPECT_FALSE(IsRed(*fading));
    EXPECT_TRUE(fading->toolTip().isEmpty());
    d.tcBars->setCurrentIndex(1);
    EXPECT_EQ(d.tcBars->currentIndex(), 1);
    d.btnOk->click();
  });
  EXPECT_TRUE(confirmed);
  EXPECT_EQ(item.Input(0)->PropByName("Fading_percentage")->AsInteger(), 12);
}

TEST(BarSetup, TheArrowsOfAnIntegerRowStartFromItsValue) {
  TLEDBarCfg item;
  item.BarSize = 32;
  item.SetInput(0, "KnightRider");
  item.Input(0)->PropByName("Offset")->SetAsText("abc");  // as a file may hold it
  TfrmBarSetup dialog;
  RunDialog(dialog, item, [](TfrmBarSetup& d) {
    const auto arrows = [&d](int row) {
      return d.sbOptions->widget()->findChild<TUpDown*>(QStringLiteral("udProp%1").arg(row));
    };
    ASSERT_NE(arrows(kOffsetRow), nullptr);
    arrows(kOffsetRow)->btnUp->click();
    EXPECT_EQ(RowEdit(d, kOffsetRow)->text(), "1");  // no number counts as 0
    RowEdit(d, kOffsetRow)->setText("x");
    arrows(kOffsetRow)->btnDown->click();
    EXPECT_EQ(RowEdit(d, kOffsetRow)->text(), "0");
    d.btnCancel->click();
  });
}

TEST(BarSetup, EveryFailingRowIsReportedOnOk) {
  FakePrompter prompter;
  TLEDBarCfg item;
  item.BarSize = 32;
  item.SetInput(0, "KnightRider");
  TfrmBarSetup dialog;
  RunDialog(dialog, item, [&prompter](TfrmBarSetup& d) {
    RowEdit(d, kOffsetRow)->setText("");
    RowEdit(d, kStepRow)->setText("fast");
    // Checking while typing stops at the first failing row.
    EXPECT_TRUE(RowEdit(d, kStepRow)->toolTip().isEmpty());
    d.btnOk->click();
    EXPECT_EQ(prompter.Messages, (std::vector<std::string>{
                                     "'' is not a valid numeric Offset value.",
                                     "'fast' is not a valid floating point Moving_step value."}));
    EXPECT_TRUE(IsRed(*RowEdit(d, kStepRow)));
    d.btnCancel->click();
  });
}

TEST(BarSetup, FloatsTakeAPointWhateverTheLocaleSays) {
  ScopedNumericLocale german("de_DE.UTF-8");
  ASSERT_TRUE(german.Active());
  const QLocale previous;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  FakePrompter prompter;
  TLEDBarCfg item;
  item.BarSize = 32;
  item.SetInput(0, "KnightRider");
  item.Input(0)->PropByName("Moving_step")->SetFloat(1.25);
  TfrmBarSetup dialog;
  const bool confirmed = RunDialog(dialog, item, [](TfrmBarSetup& d) {
    QLineEdit* step = RowEdit(d, kStepRow);
    EXPECT_EQ(step->text(), "1.25");
    step->setText("0,5");
    EXPECT_TRUE(IsRed(*step));
    EXPECT_EQ(step->toolTip(), "'0,5' is not a valid floating point Moving_step value.");
    step->setText("0.5");
    EXPECT_FALSE(IsRed(*step));
    d.btnOk->click();
  });
  QLocale::setDefault(previous);
  EXPECT_TRUE(confirmed);
  EXPECT_TRUE(prompter.Messages.empty());
  EXPECT_DOUBLE_EQ(item.Input(0)->PropByName("Moving_step")->AsFloat(), 0.5);
}

TEST(BarSetup, ChoosingAnotherInputDiscardsTheValuesOfTheOldOne) {
  TLEDBarCfg item;
  item.BarSize = 32;
  item.SetInput(0, "KnightRider");
  item.Input(0)->PropByName("Offset")->SetInteger(9);
  TfrmBarSetup dialog;
  const bool confirmed = RunDialog(dialog, item, [](TfrmBarSetup& d) {
    RowEdit(d, kFadingRow)->setText("40");
    Choose(*d.cbBarSource, "CPUUsage");
    ASSERT_EQ(d.RowCount(), 2);
    EXPECT_EQ(RowCaption(d, 1), "Fade perc");
    Choose(*d.cbBarSource, "KnightRider");
    EXPECT_EQ(RowEdit(d, kOffsetRow)->text(), "0");
    EXPECT_EQ(RowEdit(d, kFadingRow)->text(), "5");
    d.btnOk->click();
  });
  EXPECT_TRUE(confirmed);
  EXPECT_EQ(item.Input(0)->PropByName("Offset")->AsInteger(), 0);
  EXPECT_EQ(item.Input(0)->PropByName("Fading_percentage")->AsInteger(), 5);
}

TEST(BarSetup, AnUnknownInputOpensWithNoSourceAndOkStoresNothing) {
  TLEDBarCfg item;
  item.BarSize = 32;
  item.SetInput(0, "Equalizer");
  item.SetInput(1, "Equalizer");
  TfrmBarSetup dialog;
  const bool confirmed = RunDialog(dialog, item, [](TfrmBarSetup& d) {
    EXPECT_EQ(d.cbBarSource->currentIndex(), -1);
    EXPECT_EQ(d.RowCount(), 0);
    d.btnOk->click();
  });
  EXPECT_TRUE(confirmed);
  EXPECT_EQ(item.InputName(0), "");
  EXPECT_STREQ(item.Input(0)->ClassName(), "TLBNothing");
  EXPECT_EQ(item.InputName(1), "Equalizer");  // its tab was never visited
}

TEST(BarSetup, TheBarSizeBoxShowsOnlySizesItKnows) {
  TLEDBarCfg item;
  item.BarSize = 20;
  TfrmBarSetup dialog;
  EXPECT_TRUE(RunDialog(dialog, item, [](TfrmBarSetup& d) {
    EXPECT_EQ(d.cbBarSize->currentText(), "32 LEDs");
    d.btnOk->click();
  }));
  EXPECT_EQ(item.BarSize, 20);

  item.BarSize = 0;  // a new configuration
  TfrmBarSetup fresh;
  EXPECT_TRUE(RunDialog(fresh, item, [](TfrmBarSetup& d) {
    EXPECT_EQ(d.cbBarSize->currentIndex(), -1);
    EXPECT_FALSE(d.btnOk->isEnabled());
    Choose(*d.cbBarSize, "40 LEDs");
    EXPECT_TRUE(d.btnOk->isEnabled());
    d.btnOk->click();
  }));
  EXPECT_EQ(item.BarSize, 40);
}

TEST(BarSetup, EditAppliesTheListOnlyWhenConfirmed) {
  InstallConfigDialogs();
  TLEDBarController link;
  TLEDBarCfgList list(link);
  TLEDBarCfg& item = list.Add();
  auto answer = [](bool ok) {
    QTimer::singleShot(0, [ok] {
      auto* dialog = qobject_cast<TfrmBarSetup*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      Choose(*dialog->cbBarSize, "40 LEDs");
      (ok ? dialog->btnOk : dialog->btnCancel)->click();
    });
  };
  answer(false);
  EXPECT_FALSE(item.Edit());
  EXPECT_EQ(item.BarSize, 0);
  answer(true);
  EXPECT_TRUE(item.Edit());
  EXPECT_EQ(item.BarSize, 40);
  EXPECT_EQ(link.LEDBarCtrls(0).BarSize(), 40);
  SetPortCfgDialog(nullptr);
  SetLEDBarCfgDialog(nullptr);
}

TEST(BarSetup, TextAndChoicePropertiesGetTheirOwnEditors) {
  RegisterLabelled();
  FakePrompter prompter;
  TLEDBarCfg item;
  item.BarSize = 32;
  item.SetInput(1, "Labelled");
  TfrmBarSetup dialog;
  const bool confirmed = RunDialog(dialog, item, [&prompter](TfrmBarSetup& d) {
    d.tcBars->setCurrentIndex(1);
    ASSERT_EQ(d.RowCount(), 2);
    QLineEdit* label = RowEdit(d, 0);
    auto* mode = qobject_cast<QComboBox*>(d.RowEditor(1));
    ASSERT_NE(label, nullptr);
    ASSERT_NE(mode, nullptr);
    EXPECT_EQ(label->width(), 145);
    EXPECT_EQ(label->text(), "CPU");
    EXPECT_EQ(mode->count(), 3);
    EXPECT_EQ(mode->currentText(), "Bar");
    label->setText("");
    EXPECT_TRUE(IsRed(*label));
    EXPECT_EQ(label->toolTip(), "Please fill enter a Label value.");
    d.btnOk->click();
    EXPECT_EQ(prompter.Messages, std::vector<std::string>{"Please fill enter a Label value."});
    label->setText("GPU");
    mode->setCurrentIndex(2);
    d.btnOk->click();
  });
  EXPECT_TRUE(confirmed);
  EXPECT_EQ(item.Input(1)->PropByName("Label")->AsText(), "GPU");
  EXPECT_EQ(item.Input(1)->PropByName("Mode")->AsInteger(), 2);
}

namespace {

class TwoSensors final : public SensorList {
 public:
  std::vector<std::string> Names() const override {
    return {"acpitz-acpi-0/temp1", "coretemp-isa-0000/Package id 0"};
  }
  std::string ProcessorSensor() const override { return Names()[1]; }
  double ReadCelsius(const std::string& /*name*/) const override { return 50.0; }
};

}  // namespace

TEST(BarSetup, TheMachineInputsOfASettingsFileShowWithTheirEditorsAndSaveBack) {
  const std::shared_ptr<SensorList> previous = SetSensorList(std::make_shared<TwoSensors>());
  FakePrompter prompter;
  QTemporaryDir folder;
  const std::string fileName = folder.filePath("vorlixa.xml").toStdString();
  const std::string boards =
      BoardXml(0, BarXml(0, "NetworkTraffic",
                         "<Prop.Interface>eth0</Prop.Interface><Prop.Direction>2</Prop.Direction>"
                         "<Prop.Full_scale>1000</Prop.Full_scale>") +
                      BarXml(1, "Temperature", "<Prop.High>80</Prop.High>")) +
      BoardXml(1, BarXml(0, "MemoryUsage", "<Prop.Fade_perc>25</Prop.Fade_perc>") +
                      BarXml(1, "DiskActivity", "<Prop.Device>nvme0n1</Prop.Device>"));
  std::ofstream(fileName) << SettingsXml(
      "<Ports>" + PortXml("/dev/x", boards, false, std::nullopt) + "</Ports>");
  TPortCfgList ports;
  TSettings settings(ports, fileName);
  settings.LoadSettings();
  ASSERT_EQ(ports.Count(), 1);
  ASSERT_EQ(ports.Items(0).Controllers().Count(), 2);
  TLEDBarCfg& item = ports.Items(0).Controllers().Items(0);

  TfrmBarSetup dialog;
  const bool confirmed = RunDialog(dialog, item, [](TfrmBarSetup& d) {
    EXPECT_EQ(d.cbBarSource->currentText(), "NetworkTraffic");
    ASSERT_EQ(d.RowCount(), 4);
    EXPECT_EQ(RowCaption(d, 2), "Full scale");
    EXPECT_EQ(RowEdit(d, 2)->text(), "1000");
    auto* direction = qobject_cast<QComboBox*>(d.RowEditor(1));
    ASSERT_NE(direction, nullptr);
    EXPECT_EQ(direction->currentText(), "Both");
    // An empty interface stands for every one but lo: no refusal.
    RowEdit(d, 0)->setText("");
    EXPECT_FALSE(IsRed(*RowEdit(d, 0)));

    d.tcBars->setCurrentIndex(1);
    EXPECT_EQ(d.cbBarSource->currentText(), "Temperature");
    ASSERT_EQ(d.RowCount(), 4);
    auto* sensor = qobject_cast<QComboBox*>(d.RowEditor(0));
    ASSERT_NE(sensor, nullptr);
    EXPECT_TRUE(sensor->isEditable());
    EXPECT_EQ(sensor->count(), 2);
    EXPECT_EQ(sensor->itemText(1), "coretemp-isa-0000/Package id 0");
    EXPECT_EQ(sensor->currentText(), "");
    EXPECT_EQ(RowEdit(d, 2)->text(), "80");
    auto* unit = d.sbOptions->widget()->findChild<QLabel*>(QStringLiteral("lblUnit1"));
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(unit->text(), QString::fromUtf8("\xC2\xB0"
                                              "C"));
    sensor->setCurrentIndex(1);
    d.btnOk->click();
  });
  EXPECT_TRUE(confirmed);
  EXPECT_TRUE(prompter.Messages.empty());
  settings.SaveSettings();

  const std::string saved = ReadText(fileName);
  EXPECT_NE(saved.find("<Prop.Sensor>coretemp-isa-0000/Package id 0</Prop.Sensor>"),
            std::string::npos)
      << saved;
  TPortCfgList reloaded;
  TSettings(reloaded, fileName).LoadSettings();
  const TLEDBarCfg& network = reloaded.Items(0).Controllers().Items(0);
  EXPECT_EQ(network.Input(0)->PropByName("Interface")->AsText(), "");
  EXPECT_EQ(network.Input(0)->PropByName("Direction")->AsInteger(), 2);
  EXPECT_EQ(network.Input(1)->PropByName("Sensor")->AsText(), "coretemp-isa-0000/Package id 0");
  EXPECT_EQ(network.Input(1)->PropByName("Low")->AsInteger(), 30);
  const TLEDBarCfg& other = reloaded.Items(0).Controllers().Items(1);
  EXPECT_EQ(other.InputName(0), "MemoryUsage");
  EXPECT_EQ(other.Input(0)->PropByName("Fade_perc")->AsInteger(), 25);
  EXPECT_EQ(other.Input(1)->PropByName("Device")->AsText(), "nvme0n1");
  SetSensorList(previous);
}

// The meter rows of a sound bar: the choices in their boxes, the limits refused with a
// reason, and a pair of frequencies mended from either of its rows.
TEST(BarSetup, SoundBarsOfferTheirMeterRowsAndRefuseValuesOutsideTheLimits) {
  FakePrompter prompter;
  TLEDBarCfg item;
  item.BarSize = 40;
  item.SetInput(0, "WaveInput");
  TfrmBarSetup dialog;
  const bool confirmed = RunDialog(dialog, item, [&prompter](TfrmBarSetup& d) {
    ASSERT_EQ(d.RowCount(), 8);
    QStringList captions;
    for (int row = 2; row < 8; ++row) {
      captions << RowCaption(d, row);
    }
    EXPECT_EQ(captions, (QStringList{"Channel", "Scale", "Range", "Band", "Low frequency",
                                     "High frequency"}));
    auto* band = qobject_cast<QComboBox*>(d.RowEditor(5));
    ASSERT_NE(band, nullptr);
    EXPECT_EQ(band->currentText(), "Full");
    EXPECT_EQ(band->count(), 6);
    QLineEdit* range = RowEdit(d, 4);
    QLineEdit* low = RowEdit(d, 6);
    QLineEdit* high = RowEdit(d, 7);
    range->setText("121");
    EXPECT_TRUE(IsRed(*range));
    EXPECT_EQ(range->toolTip(), "The range must lie between 6 and 120 dB.");
    range->setText("6");
    EXPECT_FALSE(IsRed(*range));

    low->setText("300");  // above the high frequency of 250 Hz
    EXPECT_FALSE(IsRed(*low));
    EXPECT_TRUE(IsRed(*high));
    d.btnOk->click();
    EXPECT_EQ(prompter.Messages,
              std::vector<std::string>{
                  "The high frequency must be above the low frequency and at most 20000 Hz."});
    high->setText("20001");
    EXPECT_TRUE(IsRed(*high));
    high->setText("2000");
    EXPECT_FALSE(IsRed(*high));
    low->setText("19");
    EXPECT_EQ(low->toolTip(), "The low frequency must be at least 20 Hz and below 20000 Hz.");
    low->setText("300");
    band->setCurrentIndex(5);
    d.btnOk->click();
  });
  EXPECT_TRUE(confirmed);
  const TLBInput& input = *item.Input(0);
  EXPECT_EQ(input.PropByName("Band")->AsInteger(), 5);
  EXPECT_EQ(input.PropByName("Range")->AsInteger(), 6);
  EXPECT_EQ(input.PropByName("Low_frequency")->AsInteger(), 300);
  EXPECT_EQ(input.PropByName("High_frequency")->AsInteger(), 2000);
}

}  // namespace vx
