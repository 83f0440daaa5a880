#include "ui/frmPortSetup.h"

#include "base/Exceptions.h"
#include "base/Numbers.h"
#include "config/unPortCfg.h"
#include "device/LEDController.h"
#include "device/StripAddress.h"
#include "device/StripColours.h"
#include "platform/Prompter.h"
#include "ui/UpDown.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItem>
#include <QStandardItemModel>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>

namespace vx {

namespace {

// The largest interval that the interval box shows.
constexpr std::uint32_t kMaxShownInterval = 32767;

// A port in the drop-down list: the list shows name and description, while choosing it
// puts only the name into the box.
class TPortItem : public QStandardItem {
 public:
  explicit TPortItem(const TSerialPortChoice& port)
      : QStandardItem(QString::fromStdString(port.Name)),
        shown_(port.Description.empty() ? QString::fromStdString(port.Name)
                                        : QStringLiteral("%1  (%2)")
                                              .arg(QString::fromStdString(port.Name),
                                                   QString::fromStdString(port.Description))) {
    setToolTip(QString::fromStdString(port.Description));
  }
  QVariant data(int role) const override {
    return role == Qt::DisplayRole ? QVariant(shown_) : QStandardItem::data(role);
  }

 private:
  QString shown_;
};

QLabel* NewLabel(const char* name, const char* caption, QWidget* parent) {
  auto* label = new QLabel(QString::fromUtf8(caption), parent);
  label->setObjectName(QString::fromUtf8(name));
  return label;
}

QLineEdit* NewEdit(const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromUtf8(name));
  return edit;
}

TUpDown* NewUpDown(const char* name, QLineEdit* associate, int min, int max, int position) {
  auto* upDown = new TUpDown(associate, min, max, position, associate->parentWidget());
  upDown->setObjectName(QString::fromUtf8(name));
  const QRect box = associate->geometry();
  upDown->setGeometry(box.right() + 1, box.top(), 15, box.height());
  upDown->SetPosition(position);
  return upDown;
}

}  // namespace

TfrmPortSetup::TfrmPortSetup(QWidget* parent, const std::vector<TSerialPortChoice>& ports)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint),
      gbOptions(new QGroupBox(QStringLiteral("Port options"), this)),
      Label3(NewLabel("Label3", "Port:", gbOptions)),
      cbPort(new QComboBox(gbOptions)),
      Label4(NewLabel("Label4", "Interval:", gbOptions)),
      ebInterval(NewEdit("ebInterval", gbOptions)),
      Label1(NewLabel("Label1", "milliseconds", gbOptions)),
      Label2(NewLabel("Label2", "LED min:", gbOptions)),
      ebLEDmin(NewEdit("ebLEDmin", gbOptions)),
      Label5(NewLabel("Label5", "LED max:", gbOptions)),
      ebLEDmax(NewEdit("ebLEDmax", gbOptions)),
      lblColour(NewLabel("lblColour", "Colour:", this)),
      cbColour(new QComboBox(this)),
      btnOk(new QPushButton(QStringLiteral("OK"), this)),
      btnCancel(new QPushButton(QStringLiteral("Cancel"), this)),
      workingCopy_(std::make_unique<TPortCfg>()) {
  setObjectName(QStringLiteral("frmPortSetup"));
  setWindowTitle(QStringLiteral("Port setup"));
  setFixedSize(336, 144);

  gbOptions->setObjectName(QStringLiteral("gbOptions"));
  gbOptions->setGeometry(8, 4, 320, 101);
  Label3->setGeometry(12, 22, 64, 23);
  cbPort->setObjectName(QStringLiteral("cbPort"));
  cbPort->setGeometry(80, 22, 228, 23);
  cbPort->setEditable(true);
  cbPort->setInsertPolicy(QComboBox::NoInsert);
  auto* model = new QStandardItemModel(cbPort);
  for (const TSerialPortChoice& port : ports) {
    model->appendRow(new TPortItem(port));
  }
  cbPort->setModel(model);
  Label4->setGeometry(12, 48, 64, 21);
  ebInterval->setGeometry(80, 48, 50, 21);
  Label1->setGeometry(152, 48, 100, 21);
  Label2->setGeometry(12, 74, 64, 21);
  ebLEDmin->setGeometry(80, 74, 50, 21);
  Label5->setGeometry(170, 74, 60, 21);
  ebLEDmax->setGeometry(236, 74, 50, 21);
  // Beside the buttons, so that the dialog keeps its size.
  lblColour->setGeometry(12, 114, 46, 21);
  cbColour->setObjectName(QStringLiteral("cbColour"));
  cbColour->setGeometry(60, 112, 100, 25);
  cbColour->setEditable(true);
  cbColour->setInsertPolicy(QComboBox::NoInsert);
  cbColour->addItems({QStringLiteral("Meter"), QStringLiteral("#FFFFFF"), QStringLiteral("#FF0000"),
                      QStringLiteral("#00FF00"), QStringLiteral("#0000FF")});
  cbColour->setToolTip(
      QStringLiteral("The colour of a network strip's LEDs: Meter (green, yellow, red) or "
                     "#RRGGBB"));

  btnOk->setObjectName(QStringLiteral("btnOk"));
  btnOk->setGeometry(170, 112, 75, 25);
  btnOk->setDefault(true);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setGeometry(253, 112, 75, 25);
  btnCancel->setAutoDefault(false);
  connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  // FormCreate
  cbPort->setEditText(QString());
  udInterval = NewUpDown("udInterval", ebInterval, 1, 1000, 25);
  udLEDmin = NewUpDown("udLEDmin", ebLEDmin, 0, 255, 0);
  udLEDmax = NewUpDown("udLEDmax", ebLEDmax, 0, 255, 255);
  loading_ = true;

  connect(cbPort, &QComboBox::editTextChanged, this, [this] { cbPortChange(); });
  connect(ebInterval, &QLineEdit::textChanged, this,
          [this] { Changed([this] { ebIntervalChange(); }); });
  connect(ebLEDmin, &QLineEdit::textChanged, this, [this] { Changed([this] { LEDminChange(); }); });
  connect(ebLEDmax, &QLineEdit::textChanged, this, [this] { Changed([this] { LEDmaxChange(); }); });
}

// FormDestroy: the working copy goes with the dialog.
TfrmPortSetup::~TfrmPortSetup() = default;

bool TfrmPortSetup::Execute(TPortCfg& item) {
  workingCopy_->Assign(item);
  FormShow();
  if (exec() != QDialog::Accepted) {
    return false;
  }
  item.Assign(*workingCopy_);
  return true;
}

void TfrmPortSetup::FormShow() {
  try {
    const TLEDBarController& link = workingCopy_->Controller();
    cbPort->setEditText(QString::fromStdString(link.Port));
    if (link.UpdateInterval() > kMaxShownInterval) {
      throw ERangeError(kRangeCheckError);
    }
    udInterval->SetPosition(static_cast<int>(link.UpdateInterval()));
    udLEDmin->SetPosition(link.MinValue);
    udLEDmax->SetPosition(link.MaxValue);
    cbColour->setEditText(QString::fromStdString(StripColourText(link.Colour)));
  } catch (...) {
    loading_ = false;
    throw;
  }
  loading_ = false;
  UpdateOkButton();
  UpdateColourBox();
}

template <typename Handler>
void TfrmPortSetup::Changed(Handler handler) {
  if (loading_) {
    return;
  }
  try {
    handler();
  } catch (const Exception& e) {
    ShowMessage(e.Message());
  }
}

void TfrmPortSetup::cbPortChange() {
  // The OK button keeps the state it got when the dialog opened.
  if (!loading_) {
    workingCopy_->Controller().Port = cbPort->currentText().toStdString();
  }
  UpdateColourBox();
}

void TfrmPortSetup::UpdateColourBox() {
  const bool strip = IsStripAddress(cbPort->currentText().toStdString());
  lblColour->setEnabled(strip);
  cbColour->setEnabled(strip);
}

void TfrmPortSetup::btnOkClick() {
  const std::string port = cbPort->currentText().toStdString();
  if (IsStripAddress(port)) {
    try {
      ParseStripAddress(port);
    } catch (const Exception& e) {
      ShowMessage(e.Message());
      return;
    }
  }
  const std::string colour = cbColour->currentText().trimmed().toStdString();
  const std::optional<TStripColour> parsed = ParseStripColour(colour);
  if (!parsed) {
    ShowMessage("\"" + colour + "\" is not a colour: Meter or #RRGGBB");
    return;
  }
  workingCopy_->Controller().Colour = *parsed;
  accept();
}

void TfrmPortSetup::ebIntervalChange() {
  const std::int32_t value = DecimalToInt(ebInterval->text().toStdString());
  if (value < 0) {
    throw ERangeError(kRangeCheckError);
  }
  workingCopy_->Controller().SetUpdateInterval(static_cast<std::uint32_t>(value));
}

void TfrmPortSetup::LEDminChange() {
  workingCopy_->Controller().MinValue = DecimalToByte(ebLEDmin->text().toStdString());
}

void TfrmPortSetup::LEDmaxChange() {
  workingCopy_->Controller().MaxValue = DecimalToByte(ebLEDmax->text().toStdString());
}

void TfrmPortSetup::UpdateOkButton() {
  btnOk->setEnabled(!cbPort->currentText().isEmpty());
}

}  // namespace vx
