#include "ui/BarSetupPage.h"

#include "base/Format.h"
#include "config/PortStatus.h"
#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "device/LEDController.h"
#include "platform/Prompter.h"
#include "support/unLog.h"
#include "ui/Application.h"
#include "ui/ChainView.h"

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QScrollArea>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <string>

namespace vx {

namespace {

constexpr int kPortColumn = 0;
constexpr int kStatusColumn = 1;
constexpr auto kStatusPeriod = std::chrono::seconds(1);
// Around the lists and the live view: the window's default size is small for all three.
constexpr int kTightMargin = 4;

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

TBarSetupPage::TBarSetupPage(TPortCfgList& ports, QWidget* parent)
    : QWidget(parent), ports_(ports) {
  setObjectName(QStringLiteral("tsBars"));
  CreateActions();
  CreateControls();
  tmrStatus.setInterval(kStatusPeriod);
  connect(&tmrStatus, &QTimer::timeout, this, [this] { DisplayPortStatus(); });
}

TBarSetupPage::~TBarSetupPage() = default;

void TBarSetupPage::CreateActions() {
  auto make = [this](QAction*& action, const char* name, const char* caption,
                     void (TBarSetupPage::*handler)()) {
    action = new QAction(QString::fromUtf8(caption), this);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    addAction(action);
  };
  make(actBarCtrlAdd, "actBarCtrlAdd", "&Add bar...", &TBarSetupPage::actBarCtrlAddExecute);
  make(actBarCtrlDel, "actBarCtrlDel", "&Delete bar", &TBarSetupPage::actBarCtrlDelExecute);
  make(actBarCtrlEdit, "actBarCtrlEdit", "&Edit bar...", &TBarSetupPage::actBarCtrlEditExecute);
  make(actBarCtrlUp, "actBarCtrlUp", "&Up", &TBarSetupPage::actBarCtrlUpExecute);
  make(actBarCtrlDown, "actBarCtrlDown", "Do&wn", &TBarSetupPage::actBarCtrlDownExecute);
  make(actPortAdd, "actPortAdd", "&Add", &TBarSetupPage::actPortAddExecute);
  make(actPortDel, "actPortDel", "&Del", &TBarSetupPage::actPortDelExecute);
  make(actPortEdit, "actPortEdit", "&Edit", &TBarSetupPage::actPortEditExecute);
  make(actRefresh, "actRefresh", "Refresh", &TBarSetupPage::actRefreshExecute);
  actRefresh->setShortcut(QKeySequence(Qt::Key_F5));
}

void TBarSetupPage::CreateControls() {
  // Ports left, controllers right, each with its buttons beside it.
  pnlPorts = new QGroupBox(QStringLiteral("Ports"), this);
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

  pnlBars = new QGroupBox(QStringLiteral("LED bars"), this);
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
  gbLive = new QGroupBox(QStringLiteral("Live view"), this);
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
  auto* barsPage = new QVBoxLayout(this);
  barsPage->setContentsMargins(kTightMargin, kTightMargin, kTightMargin, kTightMargin);
  barsPage->addLayout(lists, 3);
  barsPage->addWidget(gbLive, 2);

  connect(lvPorts, &QTreeWidget::itemSelectionChanged, this, [this] { lvPortsSelectItem(); });
  connect(lvBars, &QTreeWidget::itemSelectionChanged, this, [this] { lvBarsSelectItem(); });
  connect(lvPorts, &QTreeWidget::itemDoubleClicked, this, [this] { actPortEditExecute(); });
  connect(lvBars, &QTreeWidget::itemDoubleClicked, this, [this] { actBarCtrlEditExecute(); });
}

// ---- Display -----------------------------------------------------------------------

void TBarSetupPage::UpdateActions() {
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

void TBarSetupPage::DisplaySettings() {
  LogMessage("Display settings");
  lvPorts->clear();
  DisplayPorts();
  if (lvPorts->topLevelItemCount() > 0) {
    SelectRow(*lvPorts, 0);
  } else {
    lvPortsSelectItem();  // no port: no controllers from an earlier showing either
  }
}

void TBarSetupPage::DisplayPorts() {
  LogMessage("Display settings - ports");
  lvPorts->clear();
  for (int i = 0; i < ports_.Count(); ++i) {
    auto* row = new QTreeWidgetItem(lvPorts);
    ShowPortRow(*row, ports_.Items(i));
  }
}

void TBarSetupPage::DisplayBars() {
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

void TBarSetupPage::DisplayPortStatus() {
  const int rows = std::min(lvPorts->topLevelItemCount(), ports_.Count());
  for (int i = 0; i < rows; ++i) {
    ShowPortStatus(*lvPorts->topLevelItem(i), ports_.Items(i));
  }
}

void TBarSetupPage::ShowPortRow(QTreeWidgetItem& row, const TPortCfg& port) {
  row.setText(kPortColumn, Text(port.Controller().Port));
  row.setToolTip(kPortColumn, row.text(kPortColumn));  // a long device name is shortened
  ShowPortStatus(row, port);
}

void TBarSetupPage::ShowPortStatus(QTreeWidgetItem& row, const TPortCfg& port) {
  const QString status = Text(PortStatusText(PortStatusOf(port)));
  row.setText(kStatusColumn, status);
  row.setToolTip(kStatusColumn, status);  // the column is narrower than most reasons
}

void TBarSetupPage::ShowBarRow(QTreeWidgetItem& row, const TLEDBarCfg& cfg) {
  row.setText(1, Text(Format("2x%d", cfg.BarSize)));
  row.setText(2, Text(cfg.InputName(0)));
  row.setText(3, Text(cfg.InputName(1)));
}

TPortCfg* TBarSetupPage::SelectedPort() const {
  const int row = SelectedRow(*lvPorts);
  return row >= 0 && row < ports_.Count() ? &ports_.Items(row) : nullptr;
}

TLEDBarCfg* TBarSetupPage::SelectedBarCfg() const {
  TPortCfg* port = SelectedPort();
  const int row = SelectedRow(*lvBars);
  if (port == nullptr || row < 0 || row >= port->Controllers().Count()) {
    return nullptr;
  }
  return &port->Controllers().Items(row);
}

void TBarSetupPage::FormShow() {
  UpdateActions();
  DisplaySettings();
}

void TBarSetupPage::lvPortsSelectItem() {
  DisplayBars();
  UpdateActions();
}

void TBarSetupPage::lvBarsSelectItem() {
  UpdateActions();
  // The board of the selected row comes into sight in the live view.
  if (const int row = SelectedRow(*lvBars); row >= 0) {
    const QRect board = pbChain->BoardRect(row);
    sbChain->ensureVisible(0, board.center().y(), 0, board.height() / 2 + 1);
  }
}

// ---- Setup actions -------------------------------------------------------------------

void TBarSetupPage::Act(const std::function<void()>& action) {
  try {
    action();
  } catch (...) {
    HandleCurrentException();
  }
  UpdateActions();
}

void TBarSetupPage::actPortAddExecute() {
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

void TBarSetupPage::actPortEditExecute() {
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

void TBarSetupPage::actPortDelExecute() {
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

void TBarSetupPage::actBarCtrlAddExecute() {
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

void TBarSetupPage::actBarCtrlEditExecute() {
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

void TBarSetupPage::actBarCtrlDelExecute() {
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

void TBarSetupPage::actBarCtrlUpExecute() {
  MoveBarCtrl(-1);
}

void TBarSetupPage::actBarCtrlDownExecute() {
  MoveBarCtrl(1);
}

void TBarSetupPage::MoveBarCtrl(int by) {
  if (SelectedBarCfg() == nullptr) {
    return;
  }
  const int row = SelectedRow(*lvBars);
  const int to = row + by;
  if (to < 0 || to >= lvBars->topLevelItemCount()) {
    return;
  }
  Act([this, row, to] {
    TLEDBarCfgList& cfgs = SelectedPort()->Controllers();
    cfgs.Exchange(row, to);
    ShowBarRow(*lvBars->topLevelItem(row), cfgs.Items(row));
    SelectRow(*lvBars, to);
    ShowBarRow(*lvBars->topLevelItem(to), cfgs.Items(to));
  });
}

void TBarSetupPage::actRefreshExecute() {
  QWidget* focused = QApplication::focusWidget();
  if (focused == lvBars) {
    DisplayBars();
  } else if (focused == lvPorts) {
    DisplayPorts();
  }
}

}  // namespace vx
