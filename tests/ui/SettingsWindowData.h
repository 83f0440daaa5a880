#pragma once

#include "common/SettingsXml.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vx {

// What the tests of the settings window's pages share: sample ports, the rows of a list
// as text, and answers to the setup dialogs. Ports are not enabled, so nothing is opened.

inline std::string Board(int index, int size, const char* bar0, const char* bar1) {
  return BoardXml(index, TwoBarsXml(bar0, bar1), size);
}

inline std::string Port(const std::string& name, const std::string& boards) {
  return PortXml(name, boards, false, std::nullopt);
}

// Two ports: three boards on the first, one on the second.
inline std::string TwoPorts() {
  return Port("/dev/ttyUSB0", Board(0, 32, "KnightRider", "Nothing") +
                                  Board(1, 40, "CPUUsage", "KnightRider") +
                                  Board(2, 16, "Nothing", "KnightRider")) +
         Port("/dev/ttyACM1", Board(0, 8, "KnightRider", "KnightRider"));
}

// A settings file with the automatic update option and the ports.
inline void WriteSettingsFile(const std::string& fileName, const std::string& portsXml,
                              bool autoUpdate = false) {
  QFile file(QString::fromStdString(fileName));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  const std::string text = SettingsXml("<AutoUpdate>" + std::string(autoUpdate ? "-1" : "0") +
                                       "</AutoUpdate><Ports>" + portsXml + "</Ports>");
  file.write(text.data(), static_cast<qint64>(text.size()));
}

// Each row's cells joined with "|".
inline std::vector<std::string> Rows(const QTreeWidget& list) {
  std::vector<std::string> rows;
  for (int i = 0; i < list.topLevelItemCount(); ++i) {
    QStringList texts;
    for (int c = 0; c < list.columnCount(); ++c) {
      texts << list.topLevelItem(i)->text(c);
    }
    rows.push_back(texts.join(QLatin1Char('|')).toStdString());
  }
  return rows;
}

inline int Selected(const QTreeWidget& list) {
  const auto selected = list.selectedItems();
  return selected.isEmpty() ? -1 : list.indexOfTopLevelItem(selected.first());
}

inline void Select(QTreeWidget& list, int row) {
  list.setCurrentItem(list.topLevelItem(row));
}

inline QAction* FindAction(const QWidget& page, const char* name) {
  auto* action = page.findChild<QAction*>(QString::fromLatin1(name));
  EXPECT_NE(action, nullptr) << name;
  return action;
}

// Answers the next modal dialog of type Dialog: act fills it in, then OK or Cancel.
template <typename Dialog>
void AnswerDialog(bool ok, std::function<void(Dialog&)> act = nullptr) {
  QTimer::singleShot(0, [ok, act] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    if (act) {
      act(*dialog);
    }
    (ok ? dialog->btnOk : dialog->btnCancel)->click();
    if (dialog->isVisible()) {
      ADD_FAILURE() << "the dialog stayed open";
      dialog->reject();
    }
  });
}

}  // namespace vx
