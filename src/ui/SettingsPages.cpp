#include "ui/SettingsPages.h"

#include "base/Format.h"
#include "config/PortStatus.h"
#include "config/unAutoLoad.h"
#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "config/unSettings.h"
#include "device/LEDController.h"
#include "platform/Prompter.h"
#include "support/unLog.h"
#include "support/unUpdate.h"
#include "ui/Application.h"
#include "ui/ChainView.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QShowEvent>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <exception>
#include <optional>
#include <utility>

namespace vx {

namespace {

constexpr int kPortColumn = 0;
constexpr int kStatusColumn = 1;
constexpr auto kStatusPeriod = std::chrono::seconds(1);
// Around the lists and the live view: the window's default size is small for all three.
constexpr int kTightMargin = 4;
constexpr int kOuterMargin = 6;

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

QTreeWidget* CreateList(QWidget* parent, const char* name, const QStringList& columns) {
  auto* list = new QTreeWidget(parent);
  list->setObjectName(QString::fromLatin1(name));
  list->setHeaderLabels(columns);
  list->setRootIsDecorated(false);
  list->setItemsExpandable(false);
  list->setUniformRowHeights(true);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // The selection stays visible when the list loses the focus.
  QPalette palette = list->palette();
  for (const auto role : {QPalette::Highlight, QPalette::HighlightedText}) {
    palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
  }
  list->setPalette(palette);
  return list;
}

QToolButton* CreateSpeedButton(QWidget* parent, const char* name, QAction* action) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setDefaultAction(action);
  button->setToolButtonStyle(Qt::ToolButtonTextOnly);
  button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  return button;
}

// The width of a column whose cells show text.
int CellWidth(const QTreeWidget& list, const QString& text) {
  const int margin = list.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &list) + 1;
  return list.fontMetrics().horizontalAdvance(text) + 2 * margin;
}

int SelectedRow(const QTreeWidget& list) {
  const QList<QTreeWidgetItem*> selected = list.selectedItems();
  return selected.isEmpty() ? -1 : list.indexOfTopLevelItem(selected.first());
}

// Selects row, or nothing for a row outside the list.
void SelectRow(QTreeWidget& list, int row) {
  QTreeWidgetItem* item = list.topLevelItem(row);
  if (item == nullptr) {
    list.clearSelection();
    list.setCurrentItem(nullptr);
    return;
  }
  list.setCurrentItem(item);
  item->setSelected(true);
}

}  // namespace

// ---------------------------------------------------------------------------------------

TSettingsPages::TSettingsPages(TPortCfgList& ports, TSettings& settings, Autostart& autostart,
                               TSettingsPagesHooks hooks, QWidget* parent)
    : QWidget(parent),
      ports_(ports),
      settings_(settings),
      autostart_(autostart),
      hooks_(std::move(hooks)) {
  setObjectName(QStringLiteral("SettingsPages"));
  CreateActions();
  CreatePages();
  cbAutoLoadUser->setText(Text(AutoLoadUserCaption()));
  pcConfig->setCurrentWidget(tsBars);
  tmrStatus.setInterval(kStatusPeriod);
  connect(&tmrStatus, &QTimer::timeout, this, [this] { DisplayPortStatus(); });
}

TSettingsPages::~TSettingsPages() = default;

void TSettingsPages::CreateActions() {
  auto make = [this](QAction*& action, const char* name, const char* caption,
                     void (TSettingsPages::*handler)()) {
    action = new QAction(QString::fromUtf8(caption), this);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    addAction(action);
  };
  make(actBarCtrlAdd, "actBarCtrlAdd", "&Add bar...", &TSettingsPages::actBarCtrlAddExecute);
  make(actBarCtrlDel, "actBarCtrlDel", "&Delete bar", &TSettingsPages::actBarCtrlDelExecute);
  make(actBarCtrlEdit, "actBarCtrlEdit", "&Edit bar...", &TSettingsPages::actBarCtrlEditExecute);
  make(actBarCtrlUp, "actBarCtrlUp", "&Up", &TSettingsPages::actBarCtrlUpExecute);
  make(actBarCtrlDown, "actBarCtrlDown", "Do&wn", &TSettingsPages::actBarCtrlDownExecute);
  make(actPortAdd, "actPortAdd", "&Add", &TSettingsPages::actPortAddExecute);
  make(actPortDel, "actPortDel", "&Del", &TSettingsPages::actPortDelExecute);
  make(actPortEdit, "actPortEdit", "&Edit", &TSettingsPages::actPortEditExecute);
  make(actRefresh, "actRefresh", "Refresh", &TSettingsPages::actRefreshExecute);
  actRefresh->setShortcut(QKeySequence(Qt::Key_F5));
}

void TSettingsPages::CreatePages() {
  pcConfig = new QTabWidget(this);
  pcConfig->setObjectName(QStringLiteral("pcConfig"));

  // ---- Bar setup: ports left, controllers right, each with its buttons beside it.
  tsBars = new QWidget;
  tsBars->setObjectName(QStringLiteral("tsBars"));
  pcConfig->addTab(tsBars, QStringLiteral("Bar setup"));

  pnlPorts = new QGroupBox(QStringLiteral("Ports"), tsBars);
  pnlPorts->setObjectName(QStringLiteral("pnlPorts"));
  lvPorts = CreateList(pnlPorts, "lvPorts", {QStringLiteral("Port"), QStringLiteral("Status")});
  // Room for a name such as /dev/ttyUSB0; the status takes the rest. A longer text ends in
  // "..." and has its whole text as tip.
  lvPorts->setColumnWidth(kPortColumn,
                          std::max(CellWidth(*lvPorts, QStringLiteral("/dev/ttyUSB0")),
                                   CellWidth(*lvPorts, QStringLiteral("/dev/ttyACM0"))));
  lvPorts->header()->setStretchLastSection(false);
  lvPorts->header()->setSectionResizeMode(kStatusColumn, QHeaderView::Stretch);
  sbPortAdd = CreateSpeedButton(pnlPorts, "sbPortAdd", actPortAdd);
  sbPortDel = CreateSpeedButton(pnlPorts, "sbPortDel", actPortDel);
  sbPortEdit = CreateSpeedButton(pnlPorts, "sbPortEdit", actPortEdit);
  auto* portButtons = new QVBoxLayout;
  portButtons->addWidget(sbPortAdd);
  portButtons->addWidget(sbPortDel);
  portButtons->addWidget(sbPortEdit);
  portButtons->addStretch();
  auto* portsLayout = new QHBoxLayout(pnlPorts);
  portsLayout->setContentsMargins(kTightMargin, 0, kTightMargin, kTightMargin);
  portsLayout->setSpacing(kTightMargin);
  portsLayout->addWidget(lvPorts, 1);
  portsLayout->addLayout(portButtons);

  pnlBars = new QGroupBox(QStringLiteral("LED bars"), tsBars);
  pnlBars->setObjectName(QStringLiteral("pnlBars"));
  lvBars = CreateList(pnlBars, "lvBars",
                      {QStringLiteral("Ctrl"), QStringLiteral("Size"), QStringLiteral("Bar 1"),
                       QStringLiteral("Bar 2")});
  // "#n" and "2xn" as wide as they need, the two input names share the rest.
  lvBars->header()->setStretchLastSection(false);
  lvBars->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  lvBars->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  lvBars->header()->setSectionResizeMode(2, QHeaderView::Stretch);
  lvBars->header()->setSectionResizeMode(3, QHeaderView::Stretch);
  sbBarCtrlAdd = CreateSpeedButton(pnlBars, "sbBarCtrlAdd", actBarCtrlAdd);
  sbBarCtrlDel = CreateSpeedButton(pnlBars, "sbBarCtrlDel", actBarCtrlDel);
  sbBarCtrlEdit = CreateSpeedButton(pnlBars, "sbBarCtrlEdit", actBarCtrlEdit);
  sbBarCtrlUp = CreateSpeedButton(pnlBars, "sbBarCtrlUp", actBarCtrlUp);
  sbBarCtrlDown = CreateSpeedButton(pnlBars, "sbBarCtrlDown", actBarCtrlDown);
  auto* barButtons = new QVBoxLayout;
  barButtons->addWidget(sbBarCtrlAdd);
  barButtons->addWidget(sbBarCtrlDel);
  barButtons->addWidget(sbBarCtrlEdit);
  barButtons->addStretch();
  // Up and Down side by side: the window's default height leaves no room for a row each.
  auto* moveButtons = new QHBoxLayout;
  moveButtons->addWidget(sbBarCtrlUp);
  moveButtons->addWidget(sbBarCtrlDown);
  barButtons->addLayout(moveButtons);
  auto* barsLayout = new QHBoxLayout(pnlBars);
  barsLayout->setContentsMargins(kTightMargin, 0, kTightMargin, kTightMargin);
  barsLayout->setSpacing(kTightMargin);
  barsLayout->addWidget(lvBars, 1);
  barsLayout->addLayout(barButtons);

  // The live view of the selected port's chain, under the lists, so that the board of the
  // selected controller row is marked in sight of the row.
  gbLive = new QGroupBox(QStringLiteral("Live view"), tsBars);
  gbLive->setObjectName(QStringLiteral("gbLive"));
  pbChain = new TLEDChainView([this] {
    const TPortCfg* port = SelectedPort();
    return TChainViewSource{port, port != nullptr ? SelectedRow(*lvBars) : -1};
  });
  sbChain = new QScrollArea(gbLive);
  sbChain->setObjectName(QStringLiteral("sbChain"));
  sbChain->setFrameShape(QFrame::NoFrame);
  sbChain->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  sbChain->setWidgetResizable(true);
  sbChain->setWidget(pbChain);
  auto* liveLayout = new QVBoxLayout(gbLive);
  liveLayout->setContentsMargins(kTightMargin, 0, kTightMargin, kTightMargin);
  liveLayout->addWidget(sbChain);

  auto* lists = new QHBoxLayout;
  lists->setSpacing(kTightMargin);
  // Two fifths for the ports: a port's name and "Connected" read whole, and the bars keep
  // room for two input names.
  lists->addWidget(pnlPorts, 2);
  lists->addWidget(pnlBars, 3);
  auto* barsPage = new QVBoxLayout(tsBars);
  barsPage->setContentsMargins(kTightMargin, kTightMargin, kTightMargin, kTightMargin);
  barsPage->addLayout(lists, 3);
  barsPage->addWidget(gbLive, 2);

  // ---- Options: start at login and automatic update.
  tsOptions = new QWidget;
  tsOptions->setObjectName(QStringLiteral("tsOptions"));
  pcConfig->addTab(tsOptions, QStringLiteral("Options"));

  gbStartup = new QGroupBox(QStringLiteral("Startup"), tsOptions);
  gbStartup->setObjectName(QStringLiteral("gbStartup"));
  cbAutoLoadAll = new QCheckBox(QStringLiteral("Load at login (All Users)"), gbStartup);
  cbAutoLoadAll->setObjectName(QStringLiteral("cbAutoLoadAll"));
  cbAutoLoadUser = new QCheckBox(gbStartup);
  cbAutoLoadUser->setObjectName(QStringLiteral("cbAutoLoadUser"));
  lblStartupNote = new QLabel(
      QStringLiteral("Note: Checking both boxes won't result in starting program twice."),
      gbStartup);
  lblStartupNote->setObjectName(QStringLiteral("lblStartupNote"));
  lblStartupNote->setWordWrap(true);
  auto* startupLayout = new QVBoxLayout(gbStartup);
  startupLayout->addWidget(cbAutoLoadAll);
  startupLayout->addWidget(cbAutoLoadUser);
  startupLayout->addWidget(lblStartupNote);

  gbUpdate = new QGroupBox(QStringLiteral("Auto update"), tsOptions);
  gbUpdate->setObjectName(QStringLiteral("gbUpdate"));
  cbAutoUpdate = new QCheckBox(QStringLiteral("Enable"), gbUpdate);
  cbAutoUpdate->setObjectName(QStringLiteral("cbAutoUpdate"));
  lblUpdateNote = new QLabel(QStringLiteral("Note: For security reasons, you will always have "
                                            "to confirm before updates are applied."),
                             gbUpdate);
  lblUpdateNote->setObjectName(QStringLiteral("lblUpdateNote"));
  lblUpdateNote->setWordWrap(true);
  btnUpdate = new QToolButton(gbUpdate);
  btnUpdate->setObjectName(QStringLiteral("btnUpdate"));
  btnUpdate->setText(QStringLiteral("Check for &updates"));
  btnUpdate->setEnabled(false);  // until BindMenuActions gives it its action
  // A build for a system package has no update check of its own: the box, its note and
  // the button give way to a line that says where updates come from.
  lblUpdatePackages =
      new QLabel(QStringLiteral("Updates come with your system's packages."), gbUpdate);
  lblUpdatePackages->setObjectName(QStringLiteral("lblUpdatePackages"));
  lblUpdatePackages->setWordWrap(true);
  const bool fromPackages = UpdatesFromPackages();
  lblUpdatePackages->setHidden(!fromPackages);
  cbAutoUpdate->setHidden(fromPackages);
  lblUpdateNote->setHidden(fromPackages);
  btnUpdate->setHidden(fromPackages);
  auto* updateLayout = new QVBoxLayout(gbUpdate);
  updateLayout->addWidget(cbAutoUpdate);
  updateLayout->addWidget(lblUpdatePackages);
  updateLayout->addWidget(lblUpdateNote);
  updateLayout->addWidget(btnUpdate, 0, Qt::AlignLeft);

  auto* optionsPage = new QHBoxLayout(tsOptions);
  optionsPage->addWidget(gbStartup, 1, Qt::AlignTop);
  optionsPage->addWidget(gbUpdate, 1, Qt::AlignTop);

  // ---- About, OK and Cancel along the bottom right.
  btnAbout = new QToolButton(this);
  btnAbout->setObjectName(QStringLiteral("btnAbout"));
  btnAbout->setText(QStringLiteral("&About"));
  btnAbout->setEnabled(false);
  btnOk = new QPushButton(QStringLiteral("OK"), this);
  btnOk->setObjectName(QStringLiteral("btnOk"));
  btnOk->setDefault(true);
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
  connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
  // A main window has no dialog keys of its own: Enter is OK, Escape is Cancel.
  for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
    auto* shortcut = new QShortcut(QKeySequence(key), this);
    shortcut->setContext(Qt::WidgetWithChildrenShortcut);
    connect(shortcut, &QShortcut::activated, btnOk, &QPushButton::click);
  }
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  escape->setContext(Qt::WidgetWithChildrenShortcut);
  connect(escape, &QShortcut::activated, btnCancel, &QPushButton::click);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnAbout);
  buttons->addWidget(btnOk);
  buttons->addWidget(btnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(kOuterMargin, kOuterMargin, kOuterMargin, kOuterMargin);
  layout->addWidget(pcConfig, 1);
  layout->addLayout(buttons);

  connect(lvPorts, &QTreeWidget::itemSelectionChanged, this, [this] { lvPortsSelectItem(); });
  connect(lvBars, &QTreeWidget::itemSelectionChanged, this, [this] { lvBarsSelectItem(); });
  connect(lvPorts, &QTreeWidget::itemDoubleClicked, this, [this] { actPortEditExecute(); });
  connect(lvBars, &QTreeWidget::itemDoubleClicked, this, [this] { actBarCtrlEditExecute(); });
}

void TSettingsPages::BindMenuActions(QAction* update, QAction* about) {
  btnUpdate->setDefaultAction(update);
  btnAbout->setDefaultAction(about);
}

// ---- Settings ----------------------------------------------------------------------

void TSettingsPages::LoadSettings() {
  LoadStartAtLogin();
  // A file without settings leaves the box as the user set it.
  settings_.AutoUpdate = cbAutoUpdate->isChecked();
  settings_.LoadSettings();
  cbAutoUpdate->setChecked(settings_.AutoUpdate);
}

void TSettingsPages::ShowStoredOptions() {
  LoadStartAtLogin();
  cbAutoUpdate->setChecked(settings_.AutoUpdate);
}

void TSettingsPages::LoadStartAtLogin() {
  bool allUsers = cbAutoLoadAll->isChecked();
  bool user = cbAutoLoadUser->isChecked();
  LoadAutoLoad(autostart_, allUsers, user);
  cbAutoLoadAll->setChecked(allUsers);
  cbAutoLoadUser->setChecked(user);
  autoLoadAllShown_ = allUsers;
  autoLoadUserShown_ = user;
}

void TSettingsPages::SaveSettings() {
  // Only a box that the user changed is written: an entry that the box cannot show as
  // this program's (made by other tools) stays as it is.
  const bool allUsers = cbAutoLoadAll->isChecked();
  const bool user = cbAutoLoadUser->isChecked();
  SaveAutoLoad(autostart_, allUsers != autoLoadAllShown_ ? std::optional(allUsers) : std::nullopt,
               user != autoLoadUserShown_ ? std::optional(user) : std::nullopt);
  autoLoadAllShown_ = allUsers;
  autoLoadUserShown_ = user;
  settings_.AutoUpdate = cbAutoUpdate->isChecked();
  settings_.SaveSettings();
}

// ---- Display -----------------------------------------------------------------------

void TSettingsPages::UpdateActions() {
  const int barRow = SelectedRow(*lvBars);
  const bool barSelected = barRow >= 0;
  actBarCtrlEdit->setEnabled(barSelected);
  actBarCtrlDel->setEnabled(barSelected);
  actBarCtrlDown->setEnabled(barSelected && barRow < lvBars->topLevelItemCount() - 1);
  actBarCtrlUp->setEnabled(barSelected && barRow > 0);
  const bool portSelected = SelectedRow(*lvPorts) >= 0;
  actBarCtrlAdd->setEnabled(portSelected);
  actPortEdit->setEnabled(portSelected);
  actPortDel->setEnabled(portSelected);
}

void TSettingsPages::DisplaySettings() {
  LogMessage("Display settings");
  lvPorts->clear();
  DisplayPorts();
  if (lvPorts->topLevelItemCount() > 0) {
    SelectRow(*lvPorts, 0);
  } else {
    lvPortsSelectItem();  // no port: no controllers from an earlier showing either
  }
}

void TSettingsPages::DisplayPorts() {
  LogMessage("Display settings - ports");
  lvPorts->clear();
  for (int i = 0; i < ports_.Count(); ++i) {
    auto* row = new QTreeWidgetItem(lvPorts);
    ShowPortRow(*row, ports_.Items(i));
  }
}

void TSettingsPages::DisplayBars() {
  LogMessage("Display settings - bars");
  lvBars->clear();
  if (TPortCfg* port = SelectedPort()) {
    const TLEDBarCfgList& cfgs = port->Controllers();
    for (int i = 0; i < cfgs.Count(); ++i) {
      auto* row = new QTreeWidgetItem(lvBars);
      row->setText(0, Text(Format("#%d", i + 1)));
      ShowBarRow(*row, cfgs.Items(i));
    }
  }
}

void TSettingsPages::DisplayPortStatus() {
  const int rows = std::min(lvPorts->topLevelItemCount(), ports_.Count());
  for (int i = 0; i < rows; ++i) {
    ShowPortStatus(*lvPorts->topLevelItem(i), ports_.Items(i));
  }
}

void TSettingsPages::ShowPortRow(QTreeWidgetItem& row, const TPortCfg& port) {
  row.setText(kPortColumn, Text(port.Controller().Port));
  row.setToolTip(kPortColumn, row.text(kPortColumn));  // a long device name is shortened
  ShowPortStatus(row, port);
}

void TSettingsPages::ShowPortStatus(QTreeWidgetItem& row, const TPortCfg& port) {
  const QString status = Text(PortStatusText(PortStatusOf(port)));
  row.setText(kStatusColumn, status);
  row.setToolTip(kStatusColumn, status);  // the column is narrower than most reasons
}

void TSettingsPages::ShowBarRow(QTreeWidgetItem& row, const TLEDBarCfg& cfg) {
  row.setText(1, Text(Format("2x%d", cfg.BarSize)));
  row.setText(2, Text(cfg.InputName(0)));
  row.setText(3, Text(cfg.InputName(1)));
}

TPortCfg* TSettingsPages::SelectedPort() const {
  const int row = SelectedRow(*lvPorts);
  return row >= 0 && row < ports_.Count() ? &ports_.Items(row) : nullptr;
}

TLEDBarCfg* TSettingsPages::SelectedBarCfg() const {
  TPortCfg* port = SelectedPort();
  const int row = SelectedRow(*lvBars);
  if (port == nullptr || row < 0 || row >= port->Controllers().Count()) {
    return nullptr;
  }
  return &port->Controllers().Items(row);
}

void TSettingsPages::FormShow() {
  UpdateActions();
  DisplaySettings();
}

void TSettingsPages::lvPortsSelectItem() {
  DisplayBars();
  UpdateActions();
}

void TSettingsPages::lvBarsSelectItem() {
  UpdateActions();
  // The board of the selected row comes into sight in the live view.
  if (const int row = SelectedRow(*lvBars); row >= 0) {
    const QRect board = pbChain->BoardRect(row);
    sbChain->ensureVisible(0, board.center().y(), 0, board.height() / 2 + 1);
  }
}

void TSettingsPages::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // A window restored from the taskbar (a spontaneous show) keeps its lists and the
  // user's selection; only showing it afresh fills them.
  if (!event->spontaneous()) {
    FormShow();
  }
  tmrStatus.start();
}

void TSettingsPages::hideEvent(QHideEvent* event) {
  tmrStatus.stop();
  QWidget::hideEvent(event);
}

// ---- Setup actions -------------------------------------------------------------------

void TSettingsPages::Act(const std::function<void()>& action) {
  try {
    action();
  } catch (...) {
    HandleCurrentException();
  }
  UpdateActions();
}

void TSettingsPages::actPortAddExecute() {
  Act([this] {
    TPortCfg& port = ports_.Add();
    if (port.Edit()) {
      auto* row = new QTreeWidgetItem(lvPorts);
      ShowPortRow(*row, port);
    } else {
      ports_.Delete(port.Index());
    }
  });
}

void TSettingsPages::actPortEditExecute() {
  TPortCfg* port = SelectedPort();
  if (port == nullptr) {
    return;
  }
  Act([this, port] {
    if (port->Edit()) {
      ShowPortRow(*lvPorts->topLevelItem(SelectedRow(*lvPorts)), *port);
    }
  });
}

void TSettingsPages::actPortDelExecute() {
  const int row = SelectedRow(*lvPorts);
  if (row < 0) {
    return;
  }
  Act([this, row] {
    if (!CurrentPrompter().AskYesNo("Are you sure you want to delete the selected port?")) {
      return;
    }
    ports_.Delete(row);
    delete lvPorts->takeTopLevelItem(row);
    SelectRow(*lvPorts, std::min(lvPorts->topLevelItemCount() - 1, row));
    if (lvPorts->topLevelItemCount() == 0) {
      DisplayBars();  // no port left whose controllers could be shown
    }
  });
}

void TSettingsPages::actBarCtrlAddExecute() {
  TPortCfg* port = SelectedPort();
  if (port == nullptr) {
    return;
  }
  Act([this, port] {
    TLEDBarCfgList& cfgs = port->Controllers();
    TLEDBarCfg& cfg = cfgs.Add();
    if (cfg.Edit()) {
      auto* row = new QTreeWidgetItem(lvBars);
      row->setText(0, Text(Format("#%d", lvBars->topLevelItemCount())));
      ShowBarRow(*row, cfg);
    } else {
      cfgs.Delete(cfg.Index());
      cfgs.Apply();  // the link drops the board it got for the new configuration
    }
  });
}

void TSettingsPages::actBarCtrlEditExecute() {
  TLEDBarCfg* cfg = SelectedBarCfg();
  if (cfg == nullptr) {
    return;
  }
  Act([this, cfg] {
    if (cfg->Edit()) {
      ShowBarRow(*lvBars->topLevelItem(SelectedRow(*lvBars)), *cfg);
    }
  });
}

void TSettingsPages::actBarCtrlDelExecute() {
  TPortCfg* port = SelectedPort();
  const int row = SelectedRow(*lvBars);
  if (port == nullptr || row < 0) {
    return;
  }
  Act([this, port, row] {
    if (!CurrentPrompter().AskYesNo(
            "Are you sure you want to delete the selected LEDBar controller?")) {
      return;
    }
    port->Controllers().Delete(row);
    delete lvBars->takeTopLevelItem(row);
    SelectRow(*lvBars, std::min(lvBars->topLevelItemCount() - 1, row));
  });
}

void TSettingsPages::actBarCtrlUpExecute() {
  if (SelectedBarCfg() == nullptr) {
    return;
  }
  const int row = SelectedRow(*lvBars);
  if (row <= 0) {
    return;
  }
  Act([this, row] {
    TLEDBarCfgList& cfgs = SelectedPort()->Controllers();
    cfgs.Exchange(row, row - 1);
    ShowBarRow(*lvBars->topLevelItem(row), cfgs.Items(row));
    SelectRow(*lvBars, row - 1);
    ShowBarRow(*lvBars->topLevelItem(row - 1), cfgs.Items(row - 1));
  });
}

void TSettingsPages::actBarCtrlDownExecute() {
  if (SelectedBarCfg() == nullptr) {
    return;
  }
  const int row = SelectedRow(*lvBars);
  if (row + 1 >= lvBars->topLevelItemCount()) {
    return;
  }
  Act([this, row] {
    TLEDBarCfgList& cfgs = SelectedPort()->Controllers();
    cfgs.Exchange(row, row + 1);
    ShowBarRow(*lvBars->topLevelItem(row), cfgs.Items(row));
    SelectRow(*lvBars, row + 1);
    ShowBarRow(*lvBars->topLevelItem(row + 1), cfgs.Items(row + 1));
  });
}

void TSettingsPages::actRefreshExecute() {
  QWidget* focused = QApplication::focusWidget();
  if (focused == lvBars) {
    DisplayBars();
  } else if (focused == lvPorts) {
    DisplayPorts();
  }
}

// ---- OK and Cancel -------------------------------------------------------------------

void TSettingsPages::btnOkClick() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  try {
    if (hooks_.ApplySettings) {
      hooks_.ApplySettings();
    }
    SaveSettings();
    if (hooks_.Saved) {
      hooks_.Saved();
    }
    if (hooks_.Close) {
      hooks_.Close();
    }
  } catch (...) {
    QApplication::restoreOverrideCursor();
    HandleCurrentException();
    return;
  }
  QApplication::restoreOverrideCursor();
}

void TSettingsPages::btnCancelClick() {
  if (hooks_.Close) {
    hooks_.Close();
  }
}

}  // namespace vx
