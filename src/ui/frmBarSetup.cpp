#include "ui/frmBarSetup.h"

#include "base/Format.h"
#include "base/Numbers.h"
#include "base/Text.h"
#include "config/SettingsFile.h"
#include "config/unBarCfg.h"
#include "inputs/unBarIO.h"
#include "platform/Prompter.h"
#include "ui/UpDown.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTabBar>

#include <algorithm>
#include <array>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <memory>

namespace vx {

namespace {

// Bar sizes by the size box's entries; no entry stands for 0.
constexpr std::array<std::int32_t, 2> kBarSizes = {32, 40};

constexpr const char* kRowProperty = "vorlixaRow";
constexpr int kRowTop = 8;
constexpr int kRowHeight = 32;
constexpr int kRowWidth = 300;  // up to the right end of the unit caption
constexpr int kCaptionLeft = 8;
constexpr int kCaptionWidth = 106;  // a longer caption widens the dialog
constexpr int kEditorGap = 4;       // between the caption and the editor
constexpr int kUnitOffset = 149;    // from the editor's left to the unit caption's
constexpr int kUnitWidth = 32;      // a longer unit widens the dialog

int BarSizeIndex(std::int32_t barSize) {
  for (std::size_t i = 0; i < kBarSizes.size(); ++i) {
    if (kBarSizes[i] == barSize) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

// The whole text as a signed 32-bit decimal number.
void SetTextColour(QWidget& editor, const QColor& colour) {
  QPalette palette = editor.palette();
  palette.setColor(QPalette::Text, colour);
  palette.setColor(QPalette::ButtonText, colour);
  editor.setPalette(palette);
}

QLabel* RowLabel(const QString& text, int left, int top, int width, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(left, top, width, 21);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

}  // namespace

TfrmBarSetup::TfrmBarSetup(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint),
      gbOptions(new QGroupBox(QStringLiteral("Bar set options"), this)),
      lblBarSize(new QLabel(QStringLiteral("Bar size:"), gbOptions)),
      cbBarSize(new QComboBox(gbOptions)),
      Label1(new QLabel(QStringLiteral("LEDs per bar"), gbOptions)),
      tcBars(new QTabBar(this)),
      pnlBar(new QFrame(this)),
      gbSource(new QGroupBox(QStringLiteral("Source"), pnlBar)),
      cbBarSource(new QComboBox(gbSource)),
      gbProps(new QGroupBox(QStringLiteral("Properties"), pnlBar)),
      cbReversed(new QCheckBox(QStringLiteral("Reversed"), gbProps)),
      cbInverted(new QCheckBox(QStringLiteral("Inverted"), gbProps)),
      cbFallOff(new QCheckBox(QStringLiteral("Fall off"), gbProps)),
      sbOptions(new QScrollArea(gbProps)),
      btnOk(new QPushButton(QStringLiteral("OK"), this)),
      btnCancel(new QPushButton(QStringLiteral("Cancel"), this)),
      workingCopy_(std::make_unique<TLEDBarCfg>()) {
  setObjectName(QStringLiteral("frmBarSetup"));
  setWindowTitle(QStringLiteral("Bar setup"));
  setFixedSize(336, 385);
  captionWidth_ = kCaptionWidth;
  unitWidth_ = kUnitWidth;

  gbOptions->setObjectName(QStringLiteral("gbOptions"));
  gbOptions->setGeometry(8, 4, 320, 52);
  lblBarSize->setObjectName(QStringLiteral("lblBarSize"));
  lblBarSize->setGeometry(12, 22, 60, 23);
  cbBarSize->setObjectName(QStringLiteral("cbBarSize"));
  cbBarSize->setGeometry(80, 22, 100, 23);
  cbBarSize->addItems({QStringLiteral("32 LEDs"), QStringLiteral("40 LEDs")});
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(188, 22, 110, 23);

  tcBars->setObjectName(QStringLiteral("tcBars"));
  tcBars->setGeometry(8, 62, 320, 26);
  tcBars->setDrawBase(false);
  tcBars->setExpanding(false);
  tcBars->addTab(QStringLiteral("Bar 1"));
  tcBars->addTab(QStringLiteral("Bar 2"));
  pnlBar->setObjectName(QStringLiteral("pnlBar"));
  pnlBar->setGeometry(8, 87, 320, 259);
  pnlBar->setFrameShape(QFrame::StyledPanel);
  gbSource->setObjectName(QStringLiteral("gbSource"));
  gbSource->setGeometry(6, 4, 308, 52);
  cbBarSource->setObjectName(QStringLiteral("cbBarSource"));
  cbBarSource->setGeometry(8, 22, 292, 23);
  gbProps->setObjectName(QStringLiteral("gbProps"));
  gbProps->setGeometry(6, 60, 308, 193);
  cbReversed->setObjectName(QStringLiteral("cbReversed"));
  cbReversed->setGeometry(8, 22, 96, 21);
  cbInverted->setObjectName(QStringLiteral("cbInverted"));
  cbInverted->setGeometry(108, 22, 96, 21);
  cbFallOff->setObjectName(QStringLiteral("cbFallOff"));
  cbFallOff->setGeometry(208, 22, 96, 21);
  sbOptions->setObjectName(QStringLiteral("sbOptions"));
  sbOptions->setGeometry(2, 46, 304, 145);
  sbOptions->setFrameShape(QFrame::NoFrame);
  sbOptions->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  sbOptions->setWidgetResizable(false);

  btnOk->setObjectName(QStringLiteral("btnOk"));
  btnOk->setGeometry(170, 353, 75, 25);
  btnOk->setDefault(true);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setGeometry(253, 353, 75, 25);
  btnCancel->setAutoDefault(false);

  connect(cbBarSize, &QComboBox::activated, this, [this] { SettingChange(); });
  connect(tcBars, &QTabBar::currentChanged, this, [this] {
    if (loading_ || revertingTab_ || tcBars->currentIndex() == currentBar_) {
      return;
    }
    if (!tcBarsChanging()) {
      revertingTab_ = true;
      tcBars->setCurrentIndex(currentBar_);
      revertingTab_ = false;
      return;
    }
    tcBarsChange();
  });
  connect(cbBarSource, &QComboBox::activated, this, [this] { cbBarSourceChange(); });
  for (QCheckBox* box : {cbReversed, cbInverted, cbFallOff}) {
    connect(box, &QCheckBox::clicked, this, [this, box] { BarSettingChange(box); });
  }
  connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  // FormCreate
  std::vector<std::string> names;
  InputList().GetNames(names);
  for (const std::string& name : names) {
    cbBarSource->addItem(QString::fromStdString(name));
  }
  cbBarSize->setCurrentIndex(0);
}

QString TfrmBarSetup::Caption(const TLBInputProp& prop) {
  return QString::fromStdString(prop.Name).replace(QLatin1Char('_'), QLatin1Char(' '));
}

void TfrmBarSetup::FitCaptions(const TLBInput& input) {
  // Measured as a label lays out its text, which may take a pixel more than its advance.
  const auto textWidth = [this](const QString& text) {
    return fontMetrics()
        .boundingRect(QRect(0, 0, QWIDGETSIZE_MAX, kRowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                      text)
        .width();
  };
  int widest = captionWidth_;
  int widestUnit = unitWidth_;
  for (int r = 0; r < input.PropCount(); ++r) {
    widest = std::max(widest, textWidth(Caption(*input.Props(r))));
    widestUnit = std::max(widestUnit, textWidth(QString::fromStdString(input.Props(r)->Unit)));
  }
  const int delta = widest - captionWidth_ + widestUnit - unitWidth_;
  if (delta <= 0) {
    return;
  }
  // The dialog grows by what the caption column lacks; everything keeps its place, the
  // parts that span the dialog get wider and the buttons stay at the right.
  captionWidth_ = widest;
  unitWidth_ = widestUnit;
  setFixedSize(width() + delta, height());
  for (QWidget* part : std::initializer_list<QWidget*>{gbOptions, tcBars, pnlBar, gbSource,
                                                       cbBarSource, gbProps, sbOptions}) {
    part->resize(part->width() + delta, part->height());
  }
  for (QWidget* button : {btnOk, btnCancel}) {
    button->move(button->x() + delta, button->y());
  }
}

// FormDestroy: the rows' controls go with the scroll box, the working copy with the dialog.
TfrmBarSetup::~TfrmBarSetup() = default;

bool TfrmBarSetup::Execute(TLEDBarCfg& item) {
  workingCopy_->Assign(item);
  FormShow();
  if (exec() != QDialog::Accepted) {
    return false;
  }
  item.Assign(*workingCopy_);
  return true;
}

QWidget* TfrmBarSetup::RowEditor(int row) const {
  return rows_.at(static_cast<std::size_t>(row)).Editor;
}

void TfrmBarSetup::FormShow() {
  try {
    FitCaptions(*workingCopy_->Input(0));
    FitCaptions(*workingCopy_->Input(1));
    const int sizeIndex = BarSizeIndex(workingCopy_->BarSize);
    if (workingCopy_->BarSize == 0) {
      cbBarSize->setCurrentIndex(-1);
    } else if (sizeIndex >= 0) {
      cbBarSize->setCurrentIndex(sizeIndex);
    }
    ShowBar();
  } catch (...) {
    loading_ = false;
    throw;
  }
  loading_ = false;
  UpdateOkButton();
}

void TfrmBarSetup::SettingChange() {
  if (loading_) {
    return;
  }
  const int index = cbBarSize->currentIndex();
  workingCopy_->BarSize = index < 0 ? 0 : kBarSizes.at(static_cast<std::size_t>(index));
  UpdateOkButton();
}

bool TfrmBarSetup::tcBarsChanging() {
  return loading_ || StoreBar();
}

void TfrmBarSetup::tcBarsChange() {
  if (!loading_) {
    ShowBar();
  }
}

void TfrmBarSetup::cbBarSourceChange() {
  workingCopy_->SetInput(CurrentBar(), cbBarSource->currentText().toStdString());
  FitCaptions(*workingCopy_->Input(CurrentBar()));
  ShowBar();
  UpdateOkButton();
}

void TfrmBarSetup::BarSettingChange(QCheckBox* box) {
  if (loading_) {
    return;
  }
  const int bar = CurrentBar();
  if (box == cbReversed) {
    workingCopy_->Reversed(bar) = box->isChecked();
  } else if (box == cbInverted) {
    workingCopy_->Inverted(bar) = box->isChecked();
  } else if (box == cbFallOff) {
    workingCopy_->FallOff(bar) = box->isChecked();
  }
}

void TfrmBarSetup::btnOkClick() {
  if (StoreBar()) {
    accept();
  }
}

void TfrmBarSetup::OnCtrlChange() {
  for (const TRow& row : rows_) {
    std::string message;
    if (!ValidateRow(row.Editor, message)) {
      break;
    }
  }
  UpdateOkButton();
}

void TfrmBarSetup::ShowBar() {
  currentBar_ = tcBars->currentIndex() < 0 ? 0 : tcBars->currentIndex();
  const int bar = currentBar_;
  rows_.clear();
  // A fresh page drops every row control of the previous input at once.
  auto page = std::make_unique<QWidget>();
  page->setObjectName(QStringLiteral("sbOptionsPage"));

  cbBarSource->setCurrentIndex(-1);
  const std::string& inputName = workingCopy_->InputName(bar);
  for (int i = 0; i < cbBarSource->count(); ++i) {
    if (SameText(cbBarSource->itemText(i).toStdString(), inputName)) {
      cbBarSource->setCurrentIndex(i);
      break;
    }
  }
  cbReversed->setChecked(workingCopy_->Reversed(bar));
  cbInverted->setChecked(workingCopy_->Inverted(bar));
  cbFallOff->setChecked(workingCopy_->FallOff(bar));

  const TLBInput& input = *workingCopy_->Input(bar);
  for (int r = 0; r < input.PropCount(); ++r) {
    AddRow(*page, r, *input.Props(r));
  }
  page->resize(kRowWidth + captionWidth_ - kCaptionWidth + unitWidth_ - kUnitWidth,
               kRowTop + kRowHeight * input.PropCount());
  // Set once complete: the scroll box shows the page with every row on it.
  sbOptions->setWidget(page.release());
  UpdateOkButton();
}

void TfrmBarSetup::AddRow(QWidget& page, int row, TLBInputProp& prop) {
  const int top = kRowTop + kRowHeight * row;
  const int editorLeft = kCaptionLeft + captionWidth_ + kEditorGap;
  QLabel* caption = RowLabel(Caption(prop), kCaptionLeft, top, captionWidth_, &page);
  caption->setObjectName(QStringLiteral("lblProp%1").arg(row));
  QLabel* unit =
      RowLabel(QString::fromStdString(prop.Unit), editorLeft + kUnitOffset, top, unitWidth_, &page);
  unit->setObjectName(QStringLiteral("lblUnit%1").arg(row));

  QWidget* editor = nullptr;
  switch (prop.Kind) {
    case pkString:
      if (!prop.Choices.empty()) {
        // What the input found on this machine, offered beside free text.
        auto* box = new QComboBox(&page);
        box->setGeometry(editorLeft, top, 145, 21);
        box->setEditable(true);
        for (const std::string& choice : prop.Choices) {
          box->addItem(QString::fromStdString(choice));
        }
        box->setEditText(QString::fromStdString(prop.AsText()));
        // The list shows whole names, wider than the box when it has to.
        box->view()->setMinimumWidth(box->view()->sizeHintForColumn(0));
        connect(box, &QComboBox::editTextChanged, this, [this] { OnCtrlChange(); });
        editor = box;
        break;
      }
      [[fallthrough]];
    case pkInteger:
    case pkFloat: {
      auto* edit = new QLineEdit(QString::fromStdString(prop.AsText()), &page);
      edit->setGeometry(editorLeft, top, prop.Kind == pkString ? 145 : 129, 21);
      if (prop.Kind == pkInteger) {
        // The arrows go on from the row's value (0 for a text that is no number).
        auto* upDown = new TUpDown(edit, -32768, 32767, prop.AsInteger(), &page);
        upDown->setObjectName(QStringLiteral("udProp%1").arg(row));
        upDown->setGeometry(editorLeft + 129, top, 15, 21);
      }
      connect(edit, &QLineEdit::textChanged, this, [this] { OnCtrlChange(); });
      editor = edit;
      break;
    }
    case pkChoice: {
      auto* box = new QComboBox(&page);
      box->setGeometry(editorLeft, top, 145, 21);
      for (const std::string& choice : prop.Choices) {
        box->addItem(QString::fromStdString(choice));
      }
      box->setCurrentIndex(prop.AsInteger() < box->count() ? prop.AsInteger() : -1);
      connect(box, &QComboBox::currentIndexChanged, this, [this] { OnCtrlChange(); });
      editor = box;
      break;
    }
  }
  if (editor != nullptr) {
    editor->setObjectName(QStringLiteral("edProp%1").arg(row));
    editor->setProperty(kRowProperty, row);
  }
  rows_.push_back({prop.Name, editor});
}

TLBInputProp& TfrmBarSetup::RowProp(const QWidget& editor) const {
  return *workingCopy_->Input(CurrentBar())->Props(editor.property(kRowProperty).toInt());
}

bool TfrmBarSetup::ValidateRow(QWidget* editor, std::string& message) {
  if (editor == nullptr) {
    return true;
  }
  TLBInputProp& prop = RowProp(*editor);
  message.clear();
  try {
    auto* box = qobject_cast<QComboBox*>(editor);
    if (auto* edit = qobject_cast<QLineEdit*>(editor);
        edit != nullptr || (box != nullptr && box->isEditable())) {
      const std::string text = (edit != nullptr ? edit->text() : box->currentText()).toStdString();
      switch (prop.Kind) {
        case pkString:
          if (text.empty() && !prop.EmptyAllowed) {
            message = Format("Please fill enter a %s value.", prop.Name);
          } else {
            prop.Value = text;
          }
          break;
        case pkInteger:
          if (std::int32_t value = 0; TryTextToInt(text, value)) {
            prop.SetInteger(value);
          } else {
            message = Format("'%s' is not a valid numeric %s value.", text, prop.Name);
          }
          break;
        default:
          if (double value = 0.0;
              TryTextToFloat(text, value, FixedFormatSettings().DecimalSeparator)) {
            prop.SetFloat(value);
          } else {
            message = Format("'%s' is not a valid floating point %s value.", text, prop.Name);
          }
      }
    } else if (box != nullptr) {
      prop.SetInteger(box->currentIndex());
    }
  } catch (const std::exception&) {
    message = Format("'%s' is not a valid %s value.",
                     editor->property("currentText").toString().toStdString(), prop.Name);
  }
  if (message.empty()) {
    // Limits that the input sets on the values it takes.
    message = workingCopy_->Input(CurrentBar())->PropError(prop);
  }
  const bool passed = message.empty();
  SetTextColour(*editor,
                passed ? QApplication::palette(editor).color(QPalette::Text) : QColor(Qt::red));
  editor->setToolTip(QString::fromStdString(message));
  return passed;
}

bool TfrmBarSetup::StoreBar() {
  const int bar = CurrentBar();
  workingCopy_->SetInput(bar, cbBarSource->currentText().toStdString());
  workingCopy_->Reversed(bar) = cbReversed->isChecked();
  workingCopy_->Inverted(bar) = cbInverted->isChecked();
  workingCopy_->FallOff(bar) = cbFallOff->isChecked();
  bool passed = true;
  for (const TRow& row : rows_) {
    std::string message;
    if (!ValidateRow(row.Editor, message)) {
      passed = false;
      setResult(0);
      ShowMessage(message);
      row.Editor->setFocus();
    }
  }
  UpdateOkButton();
  return passed;
}

void TfrmBarSetup::UpdateOkButton() {
  btnOk->setEnabled(cbBarSize->currentIndex() >= 0);
}

}  // namespace vx
