#pragma once

#include <QTimer>
#include <QWidget>

#include <functional>

class QAction;
class QGroupBox;
class QScrollArea;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace vx {

class TLEDChainView;
class TLEDBarCfg;
class TPortCfg;
class TPortCfgList;

// The page "Bar setup" of the settings window: the ports left, the selected port's
// controllers right, buttons beside each list, and under them the live view of the
// selected port's chain with the selected controller's board marked. The lists and the
// live view grow with the window. It edits the live port list, so the running loop shows
// every confirmed change at once; writing the settings is the window's.
//
// The window fills the lists (FormShow) each time it is shown afresh, and runs tmrStatus
// while it is in sight: the page's own show events also come with every change of tab.
class TBarSetupPage : public QWidget {
  Q_OBJECT

 public:
  // ports is not owned and must outlive the page.
  explicit TBarSetupPage(TPortCfgList& ports, QWidget* parent = nullptr);
  ~TBarSetupPage() override;
  TBarSetupPage(const TBarSetupPage&) = delete;
  TBarSetupPage& operator=(const TBarSetupPage&) = delete;

  void UpdateActions();
  void DisplaySettings();
  void DisplayPorts();
  void DisplayBars();
  void FormShow();  // UpdateActions, then DisplaySettings
  // Rewrites the "Status" column from the links' present state.
  void DisplayPortStatus();

  TPortCfg* SelectedPort() const;
  TLEDBarCfg* SelectedBarCfg() const;

  void actPortAddExecute();
  void actPortDelExecute();
  void actPortEditExecute();
  void actBarCtrlAddExecute();
  void actBarCtrlDelExecute();
  void actBarCtrlEditExecute();
  void actBarCtrlUpExecute();
  void actBarCtrlDownExecute();
  void actRefreshExecute();

  QGroupBox* pnlPorts{};
  QTreeWidget* lvPorts{};
  QToolButton* sbPortAdd{};
  QToolButton* sbPortDel{};
  QToolButton* sbPortEdit{};
  QGroupBox* pnlBars{};
  QTreeWidget* lvBars{};
  QToolButton* sbBarCtrlAdd{};
  QToolButton* sbBarCtrlDel{};
  QToolButton* sbBarCtrlEdit{};
  QToolButton* sbBarCtrlUp{};
  QToolButton* sbBarCtrlDown{};
  QGroupBox* gbLive{};
  QScrollArea* sbChain{};
  TLEDChainView* pbChain{};  // the selected port's chain as its link wrote it last

  QAction* actPortAdd{};
  QAction* actPortDel{};
  QAction* actPortEdit{};
  QAction* actBarCtrlAdd{};
  QAction* actBarCtrlDel{};
  QAction* actBarCtrlEdit{};
  QAction* actBarCtrlUp{};
  QAction* actBarCtrlDown{};
  QAction* actRefresh{};

  // Refreshes the "Status" column while the window is in sight.
  QTimer tmrStatus;

 private:
  void CreateActions();
  void CreateControls();
  void lvPortsSelectItem();
  void lvBarsSelectItem();
  void ShowPortRow(QTreeWidgetItem& row, const TPortCfg& port);
  void ShowBarRow(QTreeWidgetItem& row, const TLEDBarCfg& cfg);
  void ShowPortStatus(QTreeWidgetItem& row, const TPortCfg& port);
  // Swaps the selected controller with its neighbour by rows away (-1 up, 1 down); the
  // moved controller stays selected.
  void MoveBarCtrl(int by);
  // Runs a setup action: an error is shown; UpdateActions runs in any case.
  void Act(const std::function<void()>& action);

  TPortCfgList& ports_;
};

}  // namespace vx
