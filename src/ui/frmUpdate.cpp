#include "ui/frmUpdate.h"

#include "ui/Application.h"

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <exception>

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
  connect(tmrStart, &QTimer::timeout, this, [this] { tmrStartTimer(); });

  // FormCreate
  HttpClient.FollowRedirects = true;
  HttpClient.ReadTimeout = 10000;
  HttpClient.OnWorkBegin = [this](std::int64_t size) { HttpClientWorkBegin(size); };
  HttpClient.OnWork = [this](std::int64_t received) { HttpClientWork(received); };
  HttpClient.OnWait = [this] { HttpClientWait(); };
}

TfrmUpdate::~TfrmUpdate() = default;

bool TfrmUpdate::Download(const std::string& URL, const std::string& FileName,
                          const TSetupCheck& Check) {
  bool downloaded = false;
  try {
    url_ = URL;
    fileName_ = FileName;
    partFileName_ = FileName + ".part";
    // Unbuffered, so that a failing write shows at once and ends the request.
    stream_ = std::make_unique<QFile>(QString::fromStdString(partFileName_));
    if (!stream_->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
      stream_.reset();
      return false;
    }
    const int result = exec();
    stream_->close();
    downloaded = result == QDialog::Accepted && stream_->error() == QFileDevice::NoError;
    stream_.reset();
  } catch (const std::exception&) {
    stream_.reset();
    downloaded = false;
  }
  const QString partName = QString::fromStdString(partFileName_);
  if (downloaded && Check) {
    try {
      Check(partFileName_);
    } catch (...) {
      QFile::remove(partName);
      throw;
    }
  }
  // A setup that is already there stays; the move does not replace it.
  if (downloaded && QFile::rename(partName, QString::fromStdString(FileName))) {
    return true;
  }
  QFile::remove(partName);
  return false;
}

void TfrmUpdate::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

void TfrmUpdate::reject() {
  btnCancel->click();
}

void TfrmUpdate::FormShow() {
  tmrStart->start();
}

void TfrmUpdate::tmrStartTimer() {
  tmrStart->stop();
  StartDownload();
}

void TfrmUpdate::StartDownload() {
  lblUpdate->setText(QStringLiteral("Downloading..."));
  try {
    HttpClient.Get(url_, *stream_);
    if (!cancel_) {
      done(QDialog::Accepted);
      return;
    }
    lblUpdate->setText(QStringLiteral("Download cancelled"));
  } catch (const std::exception& e) {
    lblUpdate->setText(cancel_ ? QStringLiteral("Download cancelled")
                               : QString::fromStdString(e.what()));
  }
  btnCancel->setText(QStringLiteral("Close"));
  btnCancelModalResult_ = kModalAbort;
}

void TfrmUpdate::btnCancelClick() {
  cancel_ = true;
  if (btnCancelModalResult_ != 0) {
    done(btnCancelModalResult_);
  }
}

void TfrmUpdate::HttpClientWorkBegin(std::int64_t size) {
  if (size >= 0) {
    pbUpdate->setMaximum(ProgressValue(size));
  }
}

void TfrmUpdate::HttpClientWork(std::int64_t received) {
  lblUpdate->setText(QStringLiteral("Downloaded %1 of %2 MB")
                         .arg(MegaBytes(received), MegaBytes(pbUpdate->maximum())));
  pbUpdate->setValue(std::min(ProgressValue(received), pbUpdate->maximum()));
  HttpClientWait();
}

// Lets the window repaint and the Cancel button work while the download blocks this
// thread; a cancel closes the connection.
void TfrmUpdate::HttpClientWait() {
  QCoreApplication::processEvents();
  if (cancel_) {
    HttpClient.Disconnect();
  }
}

bool DownloadSetupInWindow(const std::string& url, const std::string& fileName,
                           const TSetupCheck& check) {
  TfrmUpdate frmUpdate(DialogParent());
  return frmUpdate.Download(url, fileName, check);
}

}  // namespace vx
