#include "ui/unMain.h"

#include "config/PortStatus.h"
#include "config/SettingsFile.h"
#include "config/unAutoLoad.h"
#include "config/unSettings.h"
#include "loop/UpdateLoop.h"
#include "platform/Prompter.h"
#include "platform/XdgAutostart.h"
#include "support/VersionInfo.h"
#include "support/unLog.h"
#include "support/unUpdate.h"
#include "ui/AppIcon.h"
#include "ui/Application.h"
#include "ui/BarSetupPage.h"
#include "ui/ConfigDialogs.h"
#include "ui/ImageList.h"
#include "ui/OptionsPage.h"
#include "ui/TrayIcon.h"
#include "ui/frmUpdate.h"
#include "ui/unAbout.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRect>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <cstdio>
#include <exception>
#include <optional>
#include <utility>

namespace vx {

namespace {

constexpr int kClientWidth = 595;
constexpr int kClientHeight = 341;
constexpr int kOuterMargin = 6;

const char* const kTrayUnavailableText =
    "No notification area on this desktop: start Vorlixa again to reopen this window.";
const char* const kBesideServiceText =
    "The Vorlixa service drives the ports: OK saves these settings and the service loads them.";

}  // namespace

TfrmMain::TfrmMain(TMainOptions options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)) {
  setWindowTitle(QStringLiteral("Tremanic Vorlixa"));
  setWindowIcon(AppIcon());
  // The default size; the lists and the live view grow with the window.
  resize(kClientWidth, kClientHeight);

  loop_ = new TUpdateLoop(options_.Clock, this);
  connect(loop_, &TUpdateLoop::StatusChanged, this, [this] { UpdateTrayHint(); });
  connect(loop_, &TUpdateLoop::Reported, this, [](const std::string& text) { ShowMessage(text); });
  // An error that stopped the loop goes the way of every error that escapes a handler.
  connect(loop_, &TUpdateLoop::TickFailed, this, [](const std::exception_ptr& error) {
    try {
      std::rethrow_exception(error);
    } catch (...) {
      HandleCurrentException();
    }
  });

  vi = new TVersionInfo(this);
  InstallConfigDialogs();
  CreateActions();
  CreateNoTrayNote();
  CreateTrayIcon();
  if (BesideService()) {
    // Cancel ends the program as Exit would.
    lblNoTray->setText(QString::fromUtf8(kBesideServiceText));
    lblNoTray->setWordWrap(true);
    btnExit->hide();
    pnlNoTray->show();
  }

  try {
    FormCreate();
  } catch (...) {
    HandleCurrentException();
  }
}

TfrmMain::~TfrmMain() {
  FormDestroy();
}

// ---- Running side --------------------------------------------------------------------

void TfrmMain::FormCreate() {
  LogMessage("Initializing");
  ports_ = std::make_unique<TPortCfgList>(options_.PortFactory);
  loop_->SetPorts(ports_.get());
  settingsFile_ = options_.SettingsFile.empty() ? vx::SettingsFileName() : options_.SettingsFile;
  settings_ = std::make_unique<TSettings>(*ports_, settingsFile_);
  autostart_ = options_.StartAtLogin ? options_.StartAtLogin : std::make_shared<XdgAutostart>();
  vi->SetApplication(true);
  LoadSettings();
  Start();
}

void TfrmMain::FormDestroy() {
  Stop();
  tiTrayer->SetActive(false);
  // The pages edit the port list: they go first.
  delete pages_;
  pages_ = nullptr;
  pcConfig = nullptr;
  tsBars = nullptr;
  tsOptions = nullptr;
  btnAbout = nullptr;
  btnOk = nullptr;
  btnCancel = nullptr;
  settings_.reset();
  loop_->SetPorts(nullptr);
  ports_.reset();
}

void TfrmMain::FormClose() {
  Stop();
  try {
    LoadSettings();
    hide();
  } catch (...) {
    // The loop comes back whatever the reload did.
    Start();
    throw;
  }
  Start();
}

void TfrmMain::Start() {
  // Beside the service the ports are its own.
  if (!BesideService()) {
    loop_->Start();
  }
}

void TfrmMain::Stop() {
  loop_->Stop();
}

void TfrmMain::Restart() {
  if (!BesideService()) {
    loop_->Restart();
  }
}

void TfrmMain::ApplySettings() {
  LogMessage("Apply settings");
  Restart();
}

bool TfrmMain::Active() const {
  return loop_->Active();
}

void TfrmMain::SetActive(bool value) {
  loop_->SetActive(value);
}

void TfrmMain::LEDUpdateExecute() {
  loop_->LEDUpdateExecute();
}

void TfrmMain::UpdateTrayHint() {
  if (!ports_) {
    return;
  }
  ports_->TakeStatusChanged();
  const QString hint =
      QString::fromStdString(PortsTrayHint(*ports_, static_cast<std::size_t>(kTrayTipLength)));
  if (hint != tiTrayer->Hint()) {
    tiTrayer->SetHint(hint);
  }
}

// Without settings, creation failed before the port list existed: there is nothing to
// read into or write from. Without pages, the window has not been shown yet: the file
// alone holds what the user set.
void TfrmMain::LoadSettings() {
  if (!settings_) {
    return;
  }
  if (tsOptions == nullptr) {
    settings_->LoadSettings();
    return;
  }
  LoadStartAtLogin();
  // A file without settings leaves the box as the user set it.
  settings_->AutoUpdate = tsOptions->cbAutoUpdate->isChecked();
  settings_->LoadSettings();
  tsOptions->cbAutoUpdate->setChecked(settings_->AutoUpdate);
}

void TfrmMain::LoadStartAtLogin() {
  bool allUsers = tsOptions->cbAutoLoadAll->isChecked();
  bool user = tsOptions->cbAutoLoadUser->isChecked();
  LoadAutoLoad(*autostart_, allUsers, user);
  tsOptions->cbAutoLoadAll->setChecked(allUsers);
  tsOptions->cbAutoLoadUser->setChecked(user);
  autoLoadAllShown_ = allUsers;
  autoLoadUserShown_ = user;
}

void TfrmMain::SaveSettings() {
  if (!settings_) {
    return;
  }
  if (tsOptions != nullptr) {
    // Only a box that the user changed is written: an entry that the box cannot show as
    // this program's (made by other tools) stays as it is.
    const bool allUsers = tsOptions->cbAutoLoadAll->isChecked();
    const bool user = tsOptions->cbAutoLoadUser->isChecked();
    SaveAutoLoad(*autostart_,
                 allUsers != autoLoadAllShown_ ? std::optional(allUsers) : std::nullopt,
                 user != autoLoadUserShown_ ? std::optional(user) : std::nullopt);
    autoLoadAllShown_ = allUsers;
    autoLoadUserShown_ = user;
    settings_->AutoUpdate = tsOptions->cbAutoUpdate->isChecked();
  }
  settings_->SaveSettings();
}

// The pages are made when the window first shows: most runs live in the tray and never
// show it, and laying out its lists and texts loads the fonts and the text shaper.
QWidget* TfrmMain::Pages() {
  if (pages_ == nullptr && settings_) {
    CreatePages();
  }
  return pages_;
}

void TfrmMain::CreatePages() {
  pages_ = new QWidget(this);
  pages_->setObjectName(QStringLiteral("pnlSettings"));
  pcConfig = new QTabWidget(pages_);
  pcConfig->setObjectName(QStringLiteral("pcConfig"));
  tsBars = new TBarSetupPage(*ports_);
  pcConfig->addTab(tsBars, QStringLiteral("Bar setup"));
  tsOptions = new TOptionsPage(UpdatesFromPackages(options_.Update));
  pcConfig->addTab(tsOptions, QStringLiteral("Options"));
  pcConfig->setCurrentWidget(tsBars);

  // About, OK and Cancel along the bottom right.
  btnAbout = new QToolButton(pages_);
  btnAbout->setObjectName(QStringLiteral("btnAbout"));
  btnAbout->setText(QStringLiteral("&About"));
  btnOk = new QPushButton(QStringLiteral("OK"), pages_);
  btnOk->setObjectName(QStringLiteral("btnOk"));
  btnOk->setDefault(true);
  btnCancel = new QPushButton(QStringLiteral("Cancel"), pages_);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
  connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
  // A main window has no dialog keys of its own: Enter is OK, Escape is Cancel.
  for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
    auto* shortcut = new QShortcut(QKeySequence(key), pages_);
    shortcut->setContext(Qt::WidgetWithChildrenShortcut);
    connect(shortcut, &QShortcut::activated, btnOk, &QPushButton::click);
  }
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), pages_);
  escape->setContext(Qt::WidgetWithChildrenShortcut);
  connect(escape, &QShortcut::activated, btnCancel, &QPushButton::click);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnAbout);
  buttons->addWidget(btnOk);
  buttons->addWidget(btnCancel);
  auto* layout = new QVBoxLayout(pages_);
  layout->setContentsMargins(kOuterMargin, kOuterMargin, kOuterMargin, kOuterMargin);
  layout->addWidget(pcConfig, 1);
  layout->addLayout(buttons);
  setCentralWidget(pages_);

  tsOptions->BindUpdateAction(actUpdate);
  btnAbout->setDefaultAction(actAbout);
  // The settings were loaded before the boxes existed.
  LoadStartAtLogin();
  tsOptions->cbAutoUpdate->setChecked(settings_->AutoUpdate);
}

void TfrmMain::setVisible(bool visible) {
  if (visible) {
    Pages();
  }
  QMainWindow::setVisible(visible);
}

void TfrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (tsBars == nullptr) {
    return;
  }
  // A window restored from the taskbar (a spontaneous show) keeps its lists and the
  // user's selection; only showing it afresh fills them.
  if (!event->spontaneous()) {
    tsBars->FormShow();
  }
  tsBars->tmrStatus.start();
}

void TfrmMain::hideEvent(QHideEvent* event) {
  if (tsBars != nullptr) {
    tsBars->tmrStatus.stop();
  }
  QMainWindow::hideEvent(event);
}

void TfrmMain::btnOkClick() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  try {
    ApplySettings();
    SaveSettings();
    if (options_.ServiceReload) {
      options_.ServiceReload();
    }
    close();
  } catch (...) {
    QApplication::restoreOverrideCursor();
    HandleCurrentException();
    return;
  }
  QApplication::restoreOverrideCursor();
}

void TfrmMain::btnCancelClick() {
  close();
}

// ---- Tray menu actions ---------------------------------------------------------------

void TfrmMain::CreateActions() {
  ilTray = new TImageList(this);
  ilTray->Add(AppIcon());

  actConfig = new QAction(QStringLiteral("&Configure"), this);
  actUpdate = new QAction(QStringLiteral("Check for &updates"), this);
  actUpdate->setVisible(!UpdatesFromPackages(options_.Update));
  actAbout = new QAction(QStringLiteral("&About"), this);
  actExit = new QAction(QStringLiteral("&Exit"), this);
  connect(actConfig, &QAction::triggered, this, [this] { actConfigExecute(); });
  connect(actUpdate, &QAction::triggered, this, [this] { actUpdateExecute(); });
  connect(actAbout, &QAction::triggered, this, [this] { actAboutExecute(); });
  connect(actExit, &QAction::triggered, this, [this] { actExitExecute(); });

  pmTray = new QMenu(this);
  pmTray->addAction(actConfig);
  pmTray->addAction(actUpdate);
  pmTray->addAction(actAbout);
  pmTray->addSeparator();
  pmTray->addAction(actExit);
  pmTray->setDefaultAction(actConfig);
}

void TfrmMain::CreateTrayIcon() {
  tiTrayer = new TTrayIcon(this);
  tiTrayer->BeginLoad();
  tiTrayer->SetActive(!BesideService());
  // The tooltip tells how the chains are doing.
  tiTrayer->ShowHint = true;
  tiTrayer->SetPopUpMenu(pmTray);
  tiTrayer->Popup = true;
  tiTrayer->ComeToFront = false;
  tiTrayer->SetLocationMinimized(loSysTray);
  tiTrayer->SetLocationNormal(loSysTray);
  tiTrayer->ImageList = ilTray;
  tiTrayer->SetAnimateEnabled(false);
  tiTrayer->SetAnimateInterval(0);
  tiTrayer->SetAnimateIndex(0);
  connect(tiTrayer, &TTrayIcon::OnDblClick, this, [this] { actConfigExecute(); });
  // StatusNotifier hosts send no double click: their left click opens the settings.
  connect(tiTrayer, &TTrayIcon::OnClick, this, [this] { actConfigExecute(); });
  connect(tiTrayer, &TTrayIcon::OnTrayUnavailable, this, [this] { TrayUnavailable(); });
  tiTrayer->Loaded();
}

void TfrmMain::CreateNoTrayNote() {
  pnlNoTray = new QWidget(this);
  pnlNoTray->setObjectName(QStringLiteral("pnlNoTray"));
  auto* layout = new QHBoxLayout(pnlNoTray);
  lblNoTray = new QLabel(QString::fromUtf8(kTrayUnavailableText), pnlNoTray);
  lblNoTray->setObjectName(QStringLiteral("lblNoTray"));
  lblNoTray->setTextFormat(Qt::PlainText);
  btnExit = new QPushButton(actExit->text(), pnlNoTray);
  btnExit->setObjectName(QStringLiteral("btnExit"));
  btnExit->setAutoDefault(false);
  connect(btnExit, &QPushButton::clicked, actExit, &QAction::trigger);
  layout->addWidget(lblNoTray, 1);
  layout->addWidget(btnExit);
  setMenuWidget(pnlNoTray);
  pnlNoTray->hide();
}

void TfrmMain::TrayUnavailable() {
  // Without a tray the window is the only way in: it shows once, and a second start
  // brings it back; closing it still only hides it.
  LogMessage(kTrayUnavailableText);
  std::fprintf(stderr, "%s\n", kTrayUnavailableText);
  pnlNoTray->show();
  // A normal window with a taskbar entry: minimised, it can still be brought back.
  tiTrayer->SetLocationNormal(loSysTray | loTaskBar);
  tiTrayer->SetLocationMinimized(loSysTray | loTaskBar);
  // Once the tray icon has applied its locations, which may make the window anew.
  QMetaObject::invokeMethod(
      this, [this] { actConfigExecute(); }, Qt::QueuedConnection);
}

void TfrmMain::actConfigExecute() {
  // Once a notification area has come up, the tray is the way back: the note goes.
  if (!BesideService() && !pnlNoTray->isHidden() && TTrayIcon::TrayAvailable()) {
    pnlNoTray->hide();
    tiTrayer->SetLocationNormal(loSysTray);
    tiTrayer->SetLocationMinimized(loSysTray);
  }
  if (const QScreen* where = screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(where->availableGeometry().center());
    move(frame.topLeft());
  }
  // A minimised window is restored, not only raised behind its icon.
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void TfrmMain::actUpdateExecute() {
  if (updateCheck_ != nullptr) {
    return;
  }
  updateCheck_ = new TUpdateCheck(true, options_.Update, this);
  AskUpdateQuestion(*updateCheck_);
  updateCheck_->OnFinished = [this](TUpdateResult result, const std::string& error) {
    std::exchange(updateCheck_, nullptr)->deleteLater();
    UpdateChecked(result, error);
  };
  updateCheck_->Start();
}

void TfrmMain::UpdateChecked(TUpdateResult result, const std::string& error) {
  if (!error.empty()) {
    ShowMessage(error);
  }
  switch (result) {
    case TUpdateResult::NoUpdate:
      ShowMessage("No updates available!");
      break;
    case TUpdateResult::UpdateStarted:
      SaveSettings();
      actExitExecute();
      break;
    case TUpdateResult::Failed:
      break;
  }
}

void TfrmMain::actAboutExecute() {
  TfrmAbout about(this);
  about.exec();
}

void TfrmMain::actExitExecute() {
  terminating_ = true;
  // A quit never starts a setup that is still on its way.
  if (updateCheck_ != nullptr) {
    updateCheck_->Cancel();
  }
  if (options_.Terminate) {
    options_.Terminate();
  } else {
    QApplication::quit();
  }
}

// ---- Settings side -------------------------------------------------------------------

void TfrmMain::closeEvent(QCloseEvent* event) {
  if (terminating_) {
    // The application ends; destruction stops the loop.
    event->accept();
    return;
  }
  // The window is all there is of a program beside the service.
  if (BesideService()) {
    event->accept();
    actExitExecute();
    return;
  }
  // The window only hides: it lives as long as the program.
  event->ignore();
  FormClose();
}

}  // namespace vx
