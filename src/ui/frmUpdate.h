#pragma once

#include "support/unUpdate.h"

#include <QDialog>

#include <cstdint>
#include <memory>
#include <string>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace vx {

// The download window of the update check: shows the setup's download with its progress
// and lets the user cancel it. It runs no event loop of its own: the check drives it from
// the program's loop, which goes on beside it.
class TfrmUpdate : public QDialog, public TDownloadView {
  Q_OBJECT

 public:
  explicit TfrmUpdate(QWidget* parent = nullptr);
  ~TfrmUpdate() override;
  Q_DISABLE_COPY_MOVE(TfrmUpdate)

  void Show() override;
  void Downloading() override;
  void WorkBegin(std::int64_t size) override;
  void Work(std::int64_t received) override;
  void Ended(const std::string& text) override;

  QLabel* lblUpdate;
  QProgressBar* pbUpdate;
  QPushButton* btnCancel;
  QTimer* tmrStart;

 protected:
  void showEvent(QShowEvent* event) override;
  // Esc and the window manager's close press btnCancel.
  void reject() override;

 private:
  void FormShow();
  void tmrStartTimer();
  void btnCancelClick();

  bool ended_ = false;  // btnCancel says "Close"
};

// A download window for the update check (TUpdateOptions::NewDownloadView).
std::unique_ptr<TDownloadView> NewDownloadWindow();

// Has check's question asked in a message box (the installed Prompter) and the answer
// given back to it, unless the check is gone by then.
void AskUpdateQuestion(TUpdateCheck& check);

}  // namespace vx
