#pragma once

#include "platform/SerialPortChoices.h"

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vx {

class TPortCfg;
class TUpDown;

// The dialog in which the user edits one configured port: port name, update interval,
// lowest and highest LED value. It edits a working copy, which goes back into the port
// only on OK.
class TfrmPortSetup : public QDialog {
  Q_OBJECT

 public:
  // FormCreate.
  explicit TfrmPortSetup(QWidget* parent = nullptr,
                         const std::vector<TSerialPortChoice>& ports = SerialPortChoices());
  ~TfrmPortSetup() override;
  Q_DISABLE_COPY_MOVE(TfrmPortSetup)

  // The working copy takes item's settings, the dialog runs modally, and OK copies the
  // working copy back. True exactly when closed with OK. An interval above 32767 raises
  // ERangeError "Range check error" and the dialog does not open.
  bool Execute(TPortCfg& item);

  TPortCfg& WorkingCopy() const { return *workingCopy_; }

  QGroupBox* gbOptions;
  QLabel* Label3;
  QComboBox* cbPort;
  QLabel* Label4;
  QLineEdit* ebInterval;
  TUpDown* udInterval{};
  QLabel* Label1;
  QLabel* Label2;
  QLineEdit* ebLEDmin;
  TUpDown* udLEDmin{};
  QLabel* Label5;
  QLineEdit* ebLEDmax;
  TUpDown* udLEDmax{};
  QLabel* lblColour;
  QComboBox* cbColour;  // a network strip's colour: "Meter" or "#RRGGBB"
  QPushButton* btnOk;
  QPushButton* btnCancel;

 private:
  void FormShow();
  void cbPortChange();
  void ebIntervalChange();
  void LEDminChange();
  void LEDmaxChange();
  // OK: a network address or a colour that cannot be used is said, and the dialog stays.
  void btnOkClick();
  // The colour applies to network strips only.
  void UpdateColourBox();
  // Runs a change handler unless loading; its error is shown as a message and leaves the
  // working copy as it was.
  template <typename Handler>
  void Changed(Handler handler);
  void UpdateOkButton();

  std::unique_ptr<TPortCfg> workingCopy_;
  bool loading_ = false;
};

}  // namespace vx
