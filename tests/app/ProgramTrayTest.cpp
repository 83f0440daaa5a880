#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ProgramFolder.h"
#include "support/SimProcess.h"

// The real program on a private Xvfb display with trayer as the notification area, driven
// by xdotool as a user would: its icon appears, a double click opens the settings window,
// the right button opens the menu, and "&Exit" ends the program with the chain dark.

namespace {

namespace fs = std::filesystem;

constexpr int kWaitMs = kProgramWaitMs;

class ProgramTrayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QStringList missing;
    for (const char* tool : {"Xvfb", "trayer", "xdotool", "xwininfo"}) {
      const QString path = QStandardPaths::findExecutable(tool);
      if (path.isEmpty()) {
        missing << tool;
      }
      tools_ << path;
    }
    if (!missing.isEmpty()) {
      GTEST_SKIP() << "needs Xvfb, trayer, xdotool and xwininfo; missing: "
                   << missing.join(", ").toStdString();
    }
    ASSERT_TRUE(runtimeDir_.isValid());
    std::string pattern = (fs::temp_directory_path() / "vorlixa-tray-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    fs::copy_file(VORLIXA_APP_PATH, folder_ + "/vorlixa");

    QProcess& xvfb = NewProcess();
    // -displayfd: the server picks a free display number and writes it once it is ready.
    xvfb.start(tools_[0], {"-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"});
    ASSERT_TRUE(xvfb.waitForStarted(kWaitMs));
    ASSERT_TRUE(xvfb.waitForReadyRead(kWaitMs));
    const QString number = QString::fromLocal8Bit(xvfb.readLine()).trimmed();
    ASSERT_FALSE(number.isEmpty());
    environment_.insert("DISPLAY", ":" + number);
    environment_.insert("QT_QPA_PLATFORM", "xcb");
    environment_.insert("XDG_RUNTIME_DIR", runtimeDir_.path());
    // No session bus: the icon goes to the X11 tray protocol.
    environment_.insert("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    environment_.remove("WAYLAND_DISPLAY");

    QProcess& trayer = NewProcess();
    trayer.start(tools_[1], {"--edge", "top", "--align", "right", "--widthtype", "request",
                             "--height", "24", "--SetDockType", "true"});
    ASSERT_TRUE(trayer.waitForStarted(kWaitMs));
  }

  void TearDown() override {
    // Clients first, the display last.
    for (auto it = processes_.rbegin(); it != processes_.rend(); ++it) {
      if ((*it)->state() != QProcess::NotRunning) {
        (*it)->terminate();
        if (!(*it)->waitForFinished(3000)) {
          (*it)->kill();
          (*it)->waitForFinished(3000);
        }
      }
    }
    if (!folder_.empty()) {
      fs::remove_all(folder_);
    }
  }

  QProcess& NewProcess() {
    processes_.push_back(std::make_unique<QProcess>());
    processes_.back()->setProcessEnvironment(environment_);
    return *processes_.back();
  }

  QString Run(const QString& program, const QStringList& arguments) {
    QProcess& process = NewProcess();
    process.start(program, arguments);
    if (!process.waitForFinished(kWaitMs)) {
      ADD_FAILURE() << program.toStdString() << " did not finish";
      return {};
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput());
  }

  // The centre of the program's icon inside trayer, from xwininfo's tree.
  std::optional<QStringList> IconCentre() {
    static const QRegularExpression iconLine(
        R"("vorlixa"\)\s+(\d+)x(\d+)[+-]\d+[+-]\d+\s+\+(-?\d+)\+(-?\d+))");
    const QStringList hosts =
        Run(tools_[2], {"search", "--class", "trayer"}).split('\n', Qt::SkipEmptyParts);
    for (const QString& host : hosts) {
      const QRegularExpressionMatch match = iconLine.match(Run(tools_[3], {"-tree", "-id", host}));
      if (match.hasMatch() && match.captured(1).toInt() > 1) {
        return QStringList{
            QString::number(match.captured(3).toInt() + match.captured(1).toInt() / 2),
            QString::number(match.captured(4).toInt() + match.captured(2).toInt() / 2)};
      }
    }
    return std::nullopt;
  }

  int VisibleProgramWindows() {
    return static_cast<int>(Run(tools_[2], {"search", "--onlyvisible", "--class", "vorlixa"})
                                .split('\n', Qt::SkipEmptyParts)
                                .size());
  }

  bool LogHas(const std::string& text) const {
    return ReadText(folder_ + "/vorlixa.log").find(" - " + text + "\r\n") != std::string::npos;
  }

  QStringList tools_;  // Xvfb, trayer, xdotool, xwininfo
  QTemporaryDir runtimeDir_;
  QProcessEnvironment environment_ = QProcessEnvironment::systemEnvironment();
  std::vector<std::unique_ptr<QProcess>> processes_;
  std::string folder_;
};

TEST_F(ProgramTrayTest, TheTrayIconOpensTheSettingsAndItsMenuEndsTheProgram) {
  SimProcess sim;
  std::ofstream(folder_ + "/vorlixa.xml")
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Vorlixa><AutoUpdate>0</AutoUpdate>"
         "<Ports><Port><Name>"
      << sim.LinkPath()
      << "</Name><Interval>25</Interval><Enabled>-1</Enabled><LEDmin>0</LEDmin>"
         "<LEDmax>254</LEDmax><Controllers><Controller Index=\"0\"><BarSize>40</BarSize>"
         "<Bars><Bar Index=\"0\"><Input>KnightRider</Input></Bar></Bars></Controller>"
         "</Controllers></Port></Ports></Vorlixa>\n";
  QProcess& program = NewProcess();
  program.setWorkingDirectory(QString::fromStdString(folder_));
  program.start(QString::fromStdString(folder_ + "/vorlixa"), {});
  ASSERT_TRUE(program.waitForStarted(kWaitMs));
  ASSERT_TRUE(WaitUntil([&] { return LogHas("Run application"); }));

  std::optional<QStringList> centre;
  ASSERT_TRUE(WaitUntil([&] { return (centre = IconCentre()).has_value(); }))
      << "the icon did not appear in the tray";
  EXPECT_FALSE(LogHas("Display settings"));

  Run(tools_[2], QStringList{"mousemove", "--sync"} + *centre +
                     QStringList{"click", "--repeat", "2", "--delay", "80", "1"});
  ASSERT_TRUE(WaitUntil([&] { return LogHas("Display settings"); }))
      << ReadText(folder_ + "/vorlixa.log");
  ASSERT_TRUE(WaitUntil([&] { return VisibleProgramWindows() >= 1; }));
  const int windows = VisibleProgramWindows();

  // The pointer is still on the icon.
  Run(tools_[2], {"click", "3"});
  ASSERT_TRUE(WaitUntil([&] { return VisibleProgramWindows() > windows; }))
      << "the menu did not open";
  EXPECT_TRUE(program.state() == QProcess::Running);
  // "&Exit" by its accelerator in the open menu.
  Run(tools_[2], {"key", "e"});
  ASSERT_TRUE(program.waitForFinished(kWaitMs)) << "the program did not end";
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0);
  EXPECT_TRUE(LogHas("Stopping"));
  EXPECT_NE(ReadText(folder_ + "/vorlixa.log").find("Log closed"), std::string::npos);
  EXPECT_TRUE(WaitUntil([&] {
    const std::vector<SimBytes> units = sim.Units();
    return !units.empty() && units.back().size() == 81U &&
           std::all_of(units.back().begin() + 1, units.back().end(),
                       [](std::uint8_t b) { return b == 0; });
  }));
}

}  // namespace
