#pragma once

#include <QTimer>
#include <QWidget>

#include <functional>
#include <string>

class QAction;
class QCheckBox;
class QGroupBox;
class QHideEvent;
class QLabel;
class QPushButton;
class QScrollArea;
class QShowEvent;
class QTabWidget;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace vx {

class Autostart;
class TLEDChainView;
class TLEDBarCfg;
class TPortCfg;
class TPortCfgList;
class TSettings;

// What the settings body asks of the main window.
struct TSettingsPagesHooks {
  // OK, after the hourglass appears: TfrmMain::ApplySettings (restarts the loop when it
  // runs). Empty: nothing.
  std::function<void()> ApplySettings;
  // OK (last step), Cancel: close the window, which runs the close sequence (stop,
  // LoadSettings, hide, start), so unsaved edits are discarded. Empty: nothing.
  std::function<void()> Close;
  // OK, once the settings file is written, before Close. Empty: nothing.
  std::function<void()> Saved;
};

// The settings body of the main window: the page control pcConfig with the page
// "Bar setup" (ports left, the selected port's controllers right, buttons beside each
// list, and under them the live view of the selected port's chain with the selected
// controller's board marked) and the page "Options" (start at login, automatic update),
// and OK / Cancel along the bottom. The lists and the live view grow with the window. It edits the
// live port list, so the running loop shows every confirmed change at once; only OK writes the
// settings.
//
// TfrmMain embeds it with a few lines:
//   pages_ = new TSettingsPages(*ports_, *settings_, autostart_, {[this] { ApplySettings(); },
//                                                             [this] { close(); }}, this);
//   setCentralWidget(pages_);
//   pages_->BindMenuActions(actUpdate, actAbout);
// (autostart_ being an XdgAutostart member of the window), and InstallConfigDialogs() once, so that
// the port and controller edits open dialogs. TfrmMain::LoadSettings and SaveSettings call
// pages_->LoadSettings() / SaveSettings() (they read and write the check boxes along with the
// file). The pages fill their lists themselves each time the window is shown (FormShow), so
// TfrmMain must not call FormShow or DisplaySettings on show as well. The window keeps its caption,
// size and close handling; the close box must run the same close sequence as Close.
class TSettingsPages : public QWidget {
  Q_OBJECT

 public:
  // ports, settings and autostart are not owned and must outlive the pages. Sets the
  // caption of cbAutoLoadUser with the user's login name; shows the "Bar setup" page.
  TSettingsPages(TPortCfgList& ports, TSettings& settings, Autostart& autostart,
                 TSettingsPagesHooks hooks, QWidget* parent = nullptr);
  ~TSettingsPages() override;
  TSettingsPages(const TSettingsPages&) = delete;
  TSettingsPages& operator=(const TSettingsPages&) = delete;

  // The buttons btnUpdate (options page) and btnAbout (bottom row) run these actions of
  // the window's tray menu.
  void BindMenuActions(QAction* update, QAction* about);

  // The start-at-login boxes from the autostart entries, then the settings file with
  // cbAutoUpdate. Neither raises: failures are logged or shown.
  void LoadSettings();
  // The start-at-login entries from the boxes, then cbAutoUpdate and the port list into
  // the settings file.
  void SaveSettings();
  // The boxes from the autostart entries and the loaded settings, without reading the
  // file again: for pages made after the settings were loaded.
  void ShowStoredOptions();

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
  void btnOkClick();
  void btnCancelClick();

  QTabWidget* pcConfig{};
  QWidget* tsBars{};
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
  QWidget* tsOptions{};
  QGroupBox* gbStartup{};
  QCheckBox* cbAutoLoadAll{};
  QCheckBox* cbAutoLoadUser{};
  QLabel* lblStartupNote{};
  QGroupBox* gbUpdate{};
  QCheckBox* cbAutoUpdate{};
  QLabel* lblUpdateNote{};
  QLabel* lblUpdatePackages{};  // shown instead of cbAutoUpdate when UpdatesFromPackages
  QToolButton* btnUpdate{};
  QToolButton* btnAbout{};
  QPushButton* btnOk{};
  QPushButton* btnCancel{};

  QAction* actPortAdd{};
  QAction* actPortDel{};
  QAction* actPortEdit{};
  QAction* actBarCtrlAdd{};
  QAction* actBarCtrlDel{};
  QAction* actBarCtrlEdit{};
  QAction* actBarCtrlUp{};
  QAction* actBarCtrlDown{};
  QAction* actRefresh{};

  // Refreshes the "Status" column while the pages are visible.
  QTimer tmrStatus;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void CreatePages();
  void CreateActions();
  void LoadStartAtLogin();
  void lvPortsSelectItem();
  void lvBarsSelectItem();
  void ShowPortRow(QTreeWidgetItem& row, const TPortCfg& port);
  void ShowBarRow(QTreeWidgetItem& row, const TLEDBarCfg& cfg);
  void ShowPortStatus(QTreeWidgetItem& row, const TPortCfg& port);
  // Runs a setup action: an error is shown; UpdateActions runs in any case.
  void Act(const std::function<void()>& action);

  TPortCfgList& ports_;
  TSettings& settings_;
  Autostart& autostart_;
  TSettingsPagesHooks hooks_;
  // The start-at-login boxes as last read from the entries or written to them.
  bool autoLoadAllShown_ = false;
  bool autoLoadUserShown_ = false;
};

}  // namespace vx
