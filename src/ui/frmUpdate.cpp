#include "ui/frmUpdate.h"

#include "platform/Prompter.h"
#include "ui/Application.h"

#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

#include <algorithm>
#include <climits>

namespace vx {

namespace {

constexpr double kBytesPerMB = 1048576.0;

// The progress bar counts in int; a setup beyond 2 GiB only stops its bar short.
int ProgressValue(std::int64_t bytes) {
  return static_cast<int>(std::clamp<std::int64_t>(bytes, 0, INT_MAX));
}

QString MegaBytes(std::int64_t bytes) {
  QLocale locale;
  locale.setNumberOptions(QLocale::OmitGroupSeparator);
  return locale.toString(static_cast<double>(bytes) / kBytesPerMB, 'f', 2);
}

}  // namespace

TfrmUpdate::TfrmUpdate(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      lblUpdate(new QLabel(QStringLiteral("Please wait..."), this)),
      pbUpdate(new QProgressBar(this)),
      btnCancel(new QPushButton(QStringLiteral("Cancel"), this)),
      tmrStart(new QTimer(this)) {
  setObjectName(QStringLiteral("frmUpdate"));
  setWindowTitle(QStringLiteral("Downloading..."));
  setFixedSize(313, 113);

  lblUpdate->setObjectName(QStringLiteral("lblUpdate"));
  // Status lines and errors can come from the server: never markup.
  lblUpdate->setTextFormat(Qt::PlainText);
  lblUpdate->setGeometry(8, 12, 297, 17);
  pbUpdate->setObjectName(QStringLiteral("pbUpdate"));
  pbUpdate->setGeometry(8, 36, 297, 17);
  pbUpdate->setRange(0, 20000000);
  pbUpdate->setValue(0);
  pbUpdate->setTextVisible(false);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setGeometry(119, 72, 75, 25);
  btnCancel->setAutoDefault(false);
  connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
  tmrStart->setObjectName(QStringLiteral("tmrStart"));
  tmrStart->setInterval(1000);
  tmrStart->setSingleShot(true);
  connect(tmrStart, &QTimer::timeout, this, [this] { tmrStartTimer(); });
}

TfrmUpdate::~TfrmUpdate() = default;

void TfrmUpdate::Show() {
  // Shown beside the settings window and the tray, which stay usable.
  setWindowModality(Qt::NonModal);
  QScreen* where = screen();
  show();
  if (where != nullptr) {
    QRect frame = frameGeometry();
    frame.moveCenter(where->availableGeometry().center());
    move(frame.topLeft());
  }
}

void TfrmUpdate::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) {
    FormShow();
  }
}

void TfrmUpdate::reject() {
  btnCancel->click();
}

void TfrmUpdate::FormShow() {
  tmrStart->start();
}

void TfrmUpdate::tmrStartTimer() {
  tmrStart->stop();
  if (OnStart) {
    OnStart();
  }
}

void TfrmUpdate::Downloading() {
  lblUpdate->setText(QStringLiteral("Downloading..."));
}

void TfrmUpdate::btnCancelClick() {
  if (ended_) {
    if (OnClose) {
      OnClose();
    }
  } else if (OnCancel) {
    OnCancel();
  }
}

void TfrmUpdate::WorkBegin(std::int64_t size) {
  if (size >= 0) {
    pbUpdate->setMaximum(ProgressValue(size));
  }
}

void TfrmUpdate::Work(std::int64_t received) {
  lblUpdate->setText(QStringLiteral("Downloaded %1 of %2 MB")
                         .arg(MegaBytes(received), MegaBytes(pbUpdate->maximum())));
  pbUpdate->setValue(std::min(ProgressValue(received), pbUpdate->maximum()));
}

void TfrmUpdate::Ended(const std::string& text) {
  tmrStart->stop();
  lblUpdate->setText(QString::fromStdString(text));
  btnCancel->setText(QStringLiteral("Close"));
  ended_ = true;
}

std::unique_ptr<TDownloadView> NewDownloadWindow() {
  return std::make_unique<TfrmUpdate>(DialogParent());
}

void AskUpdateQuestion(TUpdateCheck& check) {
  // The box runs the event loop, in which the program may end the check.
  check.OnQuestion = [asked = QPointer<TUpdateCheck>(&check)](const std::string& question) {
    const bool yes = CurrentPrompter().AskYesNo(question);
    if (asked) {
      asked->Answer(yes);
    }
  };
}

}  // namespace vx
