#include "ProgramFolder.h"
#include "common/SettingsXml.h"
#include "common/SimProcess.h"
#include "common/TestFiles.h"
#include "common/XvfbDesktop.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
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

class ProgramTraySystem : public ::testing::Test {
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

TEST_F(ProgramTraySystem, TheTrayIconOpensTheSettingsAndItsMenuEndsTheProgram) {
  SimProcess sim;
  std::ofstream(program_.SettingsFile())
      << OneBoardSettings(sim.LinkPath(), BarXml(0, "KnightRider"));
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

// Without a notification area the settings window shows at start: a normal window, which
// a taskbar lists, so that a minimised window can be brought back. The start-at-login
// entry that the desktop's tools copied from the program's menu entry survives OK.
TEST(ProgramNoTraySystem, TheWindowIsANormalOneAndOkKeepsACopiedMenuEntry) {
  ProgramFolder folder;
  XvfbDesktop desktop;
  if (!desktop.MissingTools().isEmpty()) {
    GTEST_SKIP() << "needs Xvfb, xdotool and xwininfo";
  }
  QString error;
  ASSERT_TRUE(desktop.StartDisplay(error)) << error.toStdString();
  const std::string autostartFolder = folder.Folder() + "/config/autostart";
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(autostartFolder)));
  // The package's menu entry, as the desktop copies it.
  const std::string menuEntry =
      "[Desktop Entry]\nType=Application\nName=Vorlixa\nGenericName=LED Bar Display Driver\n"
      "Exec=vorlixa\nIcon=vorlixa\nTerminal=false\nCategories=Utility;\n";
  std::ofstream(autostartFolder + "/vorlixa.desktop") << menuEntry;

  QProcess& program = desktop.NewProcess();
  QProcessEnvironment environment = program.processEnvironment();
  environment.insert("XDG_CONFIG_HOME", QString::fromStdString(folder.Folder() + "/config"));
  environment.insert("PATH",
                     QString::fromStdString(folder.Folder()) + ":" + environment.value("PATH"));
  program.setProcessEnvironment(environment);
  program.setWorkingDirectory(QString::fromStdString(folder.Folder()));
  program.start(QString::fromStdString(folder.Program()), {});
  ASSERT_TRUE(program.waitForStarted(kWaitLimitMs));
  ASSERT_TRUE(folder.WaitForLogText("Display settings")) << ReadText(folder.LogFile());

  QString window;
  ASSERT_TRUE(WaitFor([&] {
    window = desktop.Xdotool({"search", "--onlyvisible", "--name", "Vorlixa"}).section('\n', 0, 0);
    if (window.isEmpty()) {
      return false;
    }
    QProcess& xprop = desktop.NewProcess();
    return RunToEnd(xprop, "xprop", {"-id", window, "_NET_WM_WINDOW_TYPE"})
        .contains("_NET_WM_WINDOW_TYPE_NORMAL");
  })) << "no normal settings window";

  // Without a window manager no widget has the focus until the keyboard gives it one.
  desktop.Xdotool({"windowfocus", "--sync", window});
  desktop.Xdotool({"key", "Tab", "Return"});
  ASSERT_TRUE(folder.WaitForLogText("Apply settings")) << ReadText(folder.LogFile());
  ASSERT_TRUE(WaitFor([&] {
    return desktop.Xdotool({"search", "--onlyvisible", "--name", "Vorlixa"}).trimmed().isEmpty();
  })) << "OK did not close the window";
  EXPECT_EQ(ReadText(autostartFolder + "/vorlixa.desktop"), menuEntry);
  EXPECT_EQ(program.state(), QProcess::Running);
}

}  // namespace

}  // namespace vx
