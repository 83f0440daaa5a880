#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "device/LEDController.h"
#include "inputs/unBarIO.h"
#include "platform/XdgAutostart.h"
#include "ui/BarSetupPage.h"
#include "ui/OptionsPage.h"
#include "ui/frmBarSetup.h"
#include "ui/frmPortSetup.h"
#include "ui/unMain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vx {

// Every text of the settings window and of both setup dialogs gets the room it needs at
// the default font: labels, check boxes, buttons, group titles, column headers and list
// cells. Each text that does not fit is reported with the room it needs and gets.
namespace {

class TextFit {
 public:
  // Every widget under root that root shows.
  void Walk(QWidget& root) {
    QApplication::processEvents();
    for (QWidget* widget : root.findChildren<QWidget*>()) {
      if (widget->isVisibleTo(&root)) {
        Check(*widget);
      }
    }
  }

  void CellFits(const QTreeWidget& list, int column, const QString& text) {
    Report(list, text, CellNeeds(list, text), Room(list, column));
  }

  std::vector<std::string> Cut;

 private:
  void Report(const QWidget& widget, const QString& text, int needs, int gets) {
    if (!text.isEmpty() && needs > gets) {
      Cut.push_back(widget.objectName().toStdString() + " (" + widget.metaObject()->className() +
                    ") \"" + text.toStdString() + "\" needs " + std::to_string(needs) +
                    " px, gets " + std::to_string(gets));
    }
  }

  static int CellNeeds(const QTreeWidget& list, const QString& text) {
    const int margin = list.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &list) + 1;
    return list.fontMetrics().horizontalAdvance(text) + 2 * margin;
  }

  // What lies beyond the list's right edge is hidden until the user scrolls.
  static int Room(const QTreeWidget& list, int column) {
    const QHeaderView& header = *list.header();
    return std::min(header.sectionSize(column),
                    list.viewport()->width() - header.sectionViewportPosition(column));
  }

  void Check(const QWidget& widget) {
    if (const auto* label = qobject_cast<const QLabel*>(&widget)) {
      if (label->wordWrap()) {
        Report(widget, label->text(), label->heightForWidth(label->width()), label->height());
      } else {
        Report(widget, label->text(), label->sizeHint().width(), label->width());
        Report(widget, label->text(), label->sizeHint().height(), label->height());
      }
    } else if (const auto* push = qobject_cast<const QPushButton*>(&widget)) {
      // A push button asks for more than its text needs; its text gets all but the margins.
      const int margin = push->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, push);
      Report(widget, push->text(), push->fontMetrics().horizontalAdvance(push->text()) + 2 * margin,
             push->width());
    } else if (qobject_cast<const QCheckBox*>(&widget) != nullptr ||
               qobject_cast<const QToolButton*>(&widget) != nullptr) {
      const auto& button = dynamic_cast<const QAbstractButton&>(widget);
      Report(widget, button.text(), button.sizeHint().width(), button.width());
      Report(widget, button.text(), button.sizeHint().height(), button.height());
    } else if (const auto* box = qobject_cast<const QGroupBox*>(&widget)) {
      Report(widget, box->title(), box->minimumSizeHint().width(), box->width());
    } else if (const auto* list = qobject_cast<const QTreeWidget*>(&widget)) {
      for (int column = 0; column < list->columnCount(); ++column) {
        const int room = Room(*list, column);
        Report(widget, list->headerItem()->text(column), list->header()->sectionSizeHint(column),
               room);
        for (int row = 0; row < list->topLevelItemCount(); ++row) {
          const QTreeWidgetItem& item = *list->topLevelItem(row);
          // A cell whose whole text is its tip may end in "..." on purpose, but may not run
          // past the list's edge, which cuts it without a sign.
          if (item.toolTip(column) != item.text(column) || room < list->columnWidth(column)) {
            Report(widget, item.text(column), CellNeeds(*list, item.text(column)), room);
          }
        }
      }
    }
  }
};

// Runs check while the modal dialog that execute opens is shown, then closes it.
void WhileShown(QDialog& dialog, const std::function<void()>& execute,
                const std::function<void()>& check) {
  QTimer::singleShot(0, &dialog, [&dialog, check] {
    check();
    dialog.reject();
  });
  execute();
}

TEST(TextFit, TheSettingsWindowAtItsDefaultSizeShowsEveryTextWhole) {
  QTemporaryDir folder;
  TMainOptions options;
  options.SettingsFile = folder.filePath("vorlixa.xml").toStdString();
  options.StartAtLogin =
      std::make_shared<XdgAutostart>(folder.filePath("all").toStdString(),
                                     folder.filePath("user").toStdString(), "/opt/vorlixa/vorlixa");
  TfrmMain window(options);
  // Two ports that are not open, and more controllers than the list shows without its
  // scroll bar, with the longest input name in both columns.
  TPortCfg& usb = window.Ports().Add();
  usb.Controller().Port = "/dev/ttyUSB0";
  for (int i = 0; i < 10; ++i) {
    TLEDBarCfg& cfg = usb.Controllers().Add();
    cfg.SetInput(0, "KnightRider");
    cfg.SetInput(1, "KnightRider");
  }
  window.Ports().Add().Controller().Port = "/dev/ttyACM0";
  window.actConfigExecute();
  EXPECT_EQ(window.size(), QSize(595, 341)) << "the default size";
  EXPECT_LE(window.minimumSize().width(), 595);
  EXPECT_LE(window.minimumSize().height(), 341);
  EXPECT_GT(window.maximumSize().width(), 595) << "the window can be resized";

  ASSERT_NE(window.Pages(), nullptr);
  TBarSetupPage& pages = *window.tsBars;
  ASSERT_EQ(pages.lvBars->topLevelItemCount(), 10);
  TextFit fit;
  fit.Walk(window);
  // A longer name or status ends in "..." with the whole text as its tip, but the usual
  // names, a connected port and a port that is not open read whole.
  fit.CellFits(*pages.lvPorts, 0, QStringLiteral("/dev/ttyACM0"));
  for (const char* state : {"Not open", "Connected"}) {
    fit.CellFits(*pages.lvPorts, 1, QString::fromLatin1(state));
  }
  window.pcConfig->setCurrentWidget(window.tsOptions);
  fit.Walk(window);
  EXPECT_EQ(fit.Cut, std::vector<std::string>{});
  window.actExitExecute();
}

TEST(TextFit, BothSetupDialogsShowEveryTextWholeForEveryInput) {
  TextFit fit;
  TPortCfg port;
  TfrmPortSetup portDialog(nullptr, {{"/dev/ttyUSB0", "FT232R USB UART, FTDI"}});
  WhileShown(
      portDialog, [&] { portDialog.Execute(port); }, [&] { fit.Walk(portDialog); });
  EXPECT_EQ(portDialog.size(), QSize(336, 144));

  std::vector<std::string> names;
  InputList().GetNames(names);
  for (const std::string& name : names) {
    TLEDBarCfg cfg;
    cfg.BarSize = 40;
    cfg.SetInput(0, name);
    cfg.SetInput(1, name);
    TfrmBarSetup dialog;
    WhileShown(
        dialog, [&] { dialog.Execute(cfg); },
        [&] {
          fit.Walk(dialog);
          dialog.tcBars->setCurrentIndex(1);
          fit.Walk(dialog);
        });
    // Only as much wider as a caption needs; never narrower or shorter.
    EXPECT_GE(dialog.width(), 336) << name;
    EXPECT_LE(dialog.width(), 336 + 100) << name;
    EXPECT_EQ(dialog.height(), 385) << name;
  }
  EXPECT_EQ(fit.Cut, std::vector<std::string>{});
}

}  // namespace

}  // namespace vx
