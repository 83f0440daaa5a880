#pragma once

#include "support/HttpClient.h"
#include "support/unUpdate.h"

#include <QDialog>

#include <cstdint>
#include <memory>
#include <string>

class QFile;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace vx {

// The download window of the update check: shows the setup's download with its
// progress, and lets the user cancel it.
class TfrmUpdate : public QDialog {
  Q_OBJECT

 public:
  // The modal result of btnCancel once the download has ended without the setup.
  static constexpr int kModalAbort = 3;

  explicit TfrmUpdate(QWidget* parent = nullptr);
  ~TfrmUpdate() override;
  Q_DISABLE_COPY_MOVE(TfrmUpdate)

  // Shows the window modally and downloads URL into FileName, through FileName + ".part"
  // while it runs. True only when the whole body arrived and was moved to FileName; the
  // part file is gone either way. Check, when given, runs on the whole part file before
  // the move; its error removes the part file and goes on to the caller.
  bool Download(const std::string& URL, const std::string& FileName, const TSetupCheck& Check = {});

  QLabel* lblUpdate;
  QProgressBar* pbUpdate;
  QPushButton* btnCancel;
  QTimer* tmrStart;
  THttpClient HttpClient;

 protected:
  void showEvent(QShowEvent* event) override;
  // Esc and the window manager's close press btnCancel.
  void reject() override;

 private:
  void FormShow();
  void tmrStartTimer();
  void StartDownload();
  void btnCancelClick();
  void HttpClientWorkBegin(std::int64_t size);
  void HttpClientWork(std::int64_t received);
  void HttpClientWait();

  std::string url_;
  std::string fileName_;
  std::string partFileName_;
  std::unique_ptr<QFile> stream_;
  bool cancel_ = false;
  int btnCancelModalResult_ = 0;  // none: the button only sets the cancel flag
};

// Downloads url into fileName in a download window of its own; the update check's
// DownloadSetup.
bool DownloadSetupInWindow(const std::string& url, const std::string& fileName,
                           const TSetupCheck& check);

}  // namespace vx
