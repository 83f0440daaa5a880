#pragma once

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QTabBar;

namespace vx {

class TLBInput;
class TLBInputProp;
class TLEDBarCfg;

// The dialog in which the user edits one bar controller configuration: the bar size and,
// per bar tab, the input source, the display flags and the input's properties, whose rows
// are built from the input's property list. It edits a working copy, which goes back into
// the configuration only on OK.
class TfrmBarSetup : public QDialog {
  Q_OBJECT

 public:
  // FormCreate.
  explicit TfrmBarSetup(QWidget* parent = nullptr);
  ~TfrmBarSetup() override;
  Q_DISABLE_COPY_MOVE(TfrmBarSetup)

  // The working copy takes item's settings, the dialog runs modally, and OK copies the
  // whole working copy back. True exactly when closed with OK.
  bool Execute(TLEDBarCfg& item);

  TLEDBarCfg& WorkingCopy() const { return *workingCopy_; }
  // The editor of property row row (nullptr for a kind without editor).
  QWidget* RowEditor(int row) const;
  int RowCount() const { return static_cast<int>(rows_.size()); }

  QGroupBox* gbOptions;
  QLabel* lblBarSize;
  QComboBox* cbBarSize;
  QLabel* Label1;
  QTabBar* tcBars;
  QFrame* pnlBar;  // the tab's page
  QGroupBox* gbSource;
  QComboBox* cbBarSource;
  QGroupBox* gbProps;
  QCheckBox* cbReversed;
  QCheckBox* cbInverted;
  QCheckBox* cbFallOff;
  QScrollArea* sbOptions;
  QPushButton* btnOk;
  QPushButton* btnCancel;

 private:
  struct TRow {
    std::string PropName;
    QWidget* Editor;  // nullptr for a kind without editor
  };

  void FormShow();
  void SettingChange();
  bool tcBarsChanging();
  void tcBarsChange();
  void cbBarSourceChange();
  void BarSettingChange(QCheckBox* box);
  void btnOkClick();
  void OnCtrlChange();

  int CurrentBar() const { return currentBar_; }
  void ShowBar();
  bool StoreBar();
  void AddRow(QWidget& page, int row, TLBInputProp& prop);
  TLBInputProp& RowProp(const QWidget& editor) const;
  // Checks the row of editor and stores its value; message receives the reason of a fail.
  bool ValidateRow(QWidget* editor, std::string& message);
  void UpdateOkButton();
  // The property name as its row's caption shows it.
  static QString Caption(const TLBInputProp& prop);
  // Widens the caption and unit columns, and the dialog with them, so that every caption
  // and unit of input's properties fits; never narrows them.
  void FitCaptions(const TLBInput& input);

  std::unique_ptr<TLEDBarCfg> workingCopy_;
  std::vector<TRow> rows_;
  bool loading_ = true;
  int currentBar_ = 0;         // the bar whose values the rows show
  int captionWidth_ = 0;       // of the property captions
  int unitWidth_ = 0;          // of their units
  bool revertingTab_ = false;  // the tab bar is being put back after a refused switch
};

}  // namespace vx
