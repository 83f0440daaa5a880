#include "ProgramFolder.h"
#include "common/SimProcess.h"
#include "common/XvfbDesktop.h"

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>

namespace vx {

// The real program on a private Xvfb display with trayer as the notification area, driven
// by xdotool as a user would: its icon appears, a double click opens the settings window,
// the right button opens the menu, and "&Exit" ends the program with the chain dark.

namespace {

class ProgramTrayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const QStringList missing = desktop_.MissingTools();
    if (!missing.isEmpty()) {
      GTEST_SKIP() << "needs Xvfb, trayer, xdotool and xwininfo; missing: "
                   << missing.join(", ").toStdString();
    }
    QString error;
    ASSERT_TRUE(desktop_.StartDisplay(error)) << error.toStdString();
    ASSERT_NE(desktop_.StartTrayHost(), nullptr);
  }

  // The centre of the program's icon inside trayer, from xwininfo's tree.
  std::optional<QStringList> IconCentre() {
    static const QRegularExpression iconLine(
        R"(\("vorlixa" "[^"]*"\)\s+(\d+)x(\d+)[+-]\d+[+-]\d+\s+\+(-?\d+)\+(-?\d+))");
    for (const QString& tree : desktop_.TrayHostTrees()) {
      const QRegularExpressionMatch match = iconLine.match(tree);
      if (match.hasMatch() && match.captured(1).toInt() > 1) {
        return QStringList{
            QString::number(match.captured(3).toInt() + match.captured(1).toInt() / 2),
            QString::number(match.captured(4).toInt() + match.captured(2).toInt() / 2)};
      }
    }
    return std::nullopt;
  }

  int VisibleProgramWindows() {
    return static_cast<int>(desktop_.Xdotool({"search", "--onlyvisible", "--classname", "vorlixa"})
                                .split('\n', Qt::SkipEmptyParts)
                                .size());
  }

  bool LogHas(const std::string& text) const {
    return ReadText(program_.LogFile()).find(" - " + text + "\r\n") != std::string::npos;
  }

  // The folder outlives the desktop, which ends the program it started there.
  ProgramFolder program_;
  XvfbDesktop desktop_;
};

TEST_F(ProgramTrayTest, TheTrayIconOpensTheSettingsAndItsMenuEndsTheProgram) {
  SimProcess sim;
  std::ofstream(program_.SettingsFile())
      << OneBoardSettings(sim.LinkPath(), "<Bar Index=\"0\"><Input>KnightRider</Input></Bar>");
  QProcess& program = desktop_.NewProcess();
  program.setWorkingDirectory(QString::fromStdString(program_.Folder()));
  program.start(QString::fromStdString(program_.Program()), {});
  ASSERT_TRUE(program.waitForStarted(kWaitLimitMs));
  ASSERT_TRUE(WaitFor([&] { return LogHas("Run application"); }));

  std::optional<QStringList> centre;
  ASSERT_TRUE(WaitFor([&] { return (centre = IconCentre()).has_value(); }))
      << "the icon did not appear in the tray";
  EXPECT_FALSE(LogHas("Display settings"));

  desktop_.Xdotool(QStringList{"mousemove", "--sync"} + *centre +
                   QStringList{"click", "--repeat", "2", "--delay", "80", "1"});
  ASSERT_TRUE(WaitFor([&] { return LogHas("Display settings"); })) << ReadText(program_.LogFile());
  ASSERT_TRUE(WaitFor([&] { return VisibleProgramWindows() >= 1; }));
  const int windows = VisibleProgramWindows();

  // The pointer is still on the icon.
  desktop_.Xdotool({"click", "3"});
  ASSERT_TRUE(WaitFor([&] { return VisibleProgramWindows() > windows; }))
      << "the menu did not open";
  EXPECT_TRUE(program.state() == QProcess::Running);
  // "&Exit" by its accelerator in the open menu.
  desktop_.Xdotool({"key", "e"});
  ASSERT_TRUE(program.waitForFinished(kWaitLimitMs)) << "the program did not end";
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0);
  EXPECT_TRUE(LogHas("Stopping"));
  EXPECT_NE(ReadText(program_.LogFile()).find("Log closed"), std::string::npos);
  EXPECT_TRUE(WaitForDarkChain(sim, 1));
}

}  // namespace

}  // namespace vx
