#pragma once

#include "config/unPortCfg.h"
#include "support/unUpdate.h"

#include <QMainWindow>

#include <functional>
#include <memory>
#include <string>

class QAction;
class QCloseEvent;
class QLabel;
class QHideEvent;
class QMenu;
class QPushButton;
class QShowEvent;
class QTabWidget;
class QToolButton;

namespace vx {

class Autostart;
class SuspendClock;
class TBarSetupPage;
class TImageList;
class TOptionsPage;
class TSettings;
class TTrayIcon;
class TUpdateLoop;
class TVersionInfo;

// How a main window is made; the program uses the defaults, tests a settings file of
// their own.
struct TMainOptions {
  // Empty: the program file's path with ".xml".
  std::string SettingsFile;
  // The serial port of every link; empty: the platform's.
  TSerialPortFactory PortFactory;
  // Runs the "&Exit" action (and a manual update that has started a setup); empty:
  // quit the event loop.
  std::function<void()> Terminate;
  // Where the start-at-login choice is kept; empty: the machine's XDG autostart folders.
  std::shared_ptr<Autostart> StartAtLogin;
  // The clocks that tell a sleep of the machine; empty: the system's.
  std::shared_ptr<SuspendClock> Clock;
  // Set while the service drives the ports from SettingsFile: the window only edits the
  // file, without a tray icon and without running the loop. OK saves the file and then
  // calls this; closing the window ends the program.
  std::function<void()> ServiceReload;
  // The manual update check's options: the build's address and key, and the program's
  // download window. With no address or no key the window offers no update check.
  TUpdateOptions Update;
};

// The main window. It stays hidden while the program runs its update loop (TUpdateLoop),
// whose states it shows in the tray icon and whose reports and errors in message boxes. It
// owns the port list, the loop that drives it, the settings store, the tray icon and its
// menu, and doubles as the settings window, which the tray menu opens.
class TfrmMain : public QMainWindow {
  Q_OBJECT

 public:
  // Runs FormCreate: loads the settings and starts the loop. An error is shown and the
  // window remains, without the steps that did not run.
  explicit TfrmMain(TMainOptions options = {}, QWidget* parent = nullptr);
  // Runs FormDestroy: stops the loop (blanking every chain), removes the tray icon and
  // frees the port list.
  ~TfrmMain() override;
  TfrmMain(const TfrmMain&) = delete;
  TfrmMain& operator=(const TfrmMain&) = delete;

  // ---- Running side: the update loop ---------------------------------------------------

  TUpdateLoop& Loop() const { return *loop_; }
  // The loop's operations (TUpdateLoop).
  void Start();
  void Stop();
  void Restart();
  // Logs "Apply settings", then Restart. Virtual for the tests of OK, which make it fail.
  virtual void ApplySettings();
  bool Active() const;
  void SetActive(bool value);
  void LEDUpdateExecute();
  // The tray icon's tooltip: one line per driven port with its state.
  void UpdateTrayHint();

  // With the pages made: the start-at-login boxes from the autostart entries, then the
  // settings file with cbAutoUpdate; without them, the file alone. Neither raises:
  // failures are logged or shown.
  void LoadSettings();
  // With the pages made: the start-at-login entries from the boxes, then cbAutoUpdate
  // and the port list into the settings file; without them, the file alone.
  void SaveSettings();

  TPortCfgList& Ports() const { return *ports_; }
  TSettings& Settings() const { return *settings_; }
  const std::string& SettingsFileName() const { return settingsFile_; }

  // ---- Tray menu actions -------------------------------------------------------------

  // Centres the window on the screen and shows it restored and raised.
  void actConfigExecute();
  // A manual update check, run beside the loop (one at a time): "No updates available!"
  // when nothing is newer; a started setup saves the settings and ends the program.
  void actUpdateExecute();
  void actAboutExecute();
  void actExitExecute();

  QAction* actConfig{};
  QAction* actUpdate{};
  QAction* actAbout{};
  QAction* actExit{};
  QMenu* pmTray{};
  TImageList* ilTray{};
  TTrayIcon* tiTrayer{};
  // The note at the top of the window on a desktop without a notification area, with
  // the one way left to end the program.
  QWidget* pnlNoTray{};
  QLabel* lblNoTray{};
  QPushButton* btnExit{};
  TVersionInfo* vi;

  // ---- Settings side -----------------------------------------------------------------
  // The settings body (the page control pcConfig with the pages "Bar setup" and
  // "Options", and About, OK and Cancel along the bottom right), made by the first call;
  // the lists are filled each time the window is shown afresh. Null when creation failed.
  QWidget* Pages();

  // OK: the hourglass; ApplySettings, SaveSettings, the service's reload beside the
  // service, close. An error is shown, the steps after it do not run.
  void btnOkClick();
  // Cancel: close, which reloads the settings and so discards the unsaved edits.
  void btnCancelClick();

  QTabWidget* pcConfig{};
  TBarSetupPage* tsBars{};
  TOptionsPage* tsOptions{};
  QToolButton* btnAbout{};
  QPushButton* btnOk{};
  QPushButton* btnCancel{};

  void setVisible(bool visible) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void FormCreate();
  void FormClose();
  void FormDestroy();
  void CreateActions();
  void CreateNoTrayNote();
  void CreateTrayIcon();
  void TrayUnavailable();
  void CreatePages();
  void LoadStartAtLogin();
  // Shows the error of the manual check, then what its result means.
  void UpdateChecked(TUpdateResult result, const std::string& error);
  bool BesideService() const { return static_cast<bool>(options_.ServiceReload); }

  TMainOptions options_;
  TUpdateLoop* loop_ = nullptr;  // child; made with the window, given the ports by FormCreate
  std::unique_ptr<TPortCfgList> ports_;
  std::unique_ptr<TSettings> settings_;
  std::shared_ptr<Autostart> autostart_;
  QWidget* pages_ = nullptr;  // child widget; made when the window first shows
  // The start-at-login boxes as last read from the entries or written to them.
  bool autoLoadAllShown_ = false;
  bool autoLoadUserShown_ = false;
  std::string settingsFile_;
  bool terminating_ = false;             // the application ends: closing is no longer hiding
  TUpdateCheck* updateCheck_ = nullptr;  // child; the manual check while it runs
};

}  // namespace vx
