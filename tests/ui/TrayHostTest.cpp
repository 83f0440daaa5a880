#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

// The tray icon in a real notification area: a private Xvfb display with Debian's
// trayer as the tray host, the probe program showing the icon, xdotool as the user.
namespace {

constexpr int kStartMs = 15000;  // bound for a process to come up
constexpr int kEventMs = 10000;  // bound for a reaction to a click
constexpr const char* kProbeName = "vorlixa-trayprobe";

// Lines that a process writes, read on demand with a bound on the wait.
class LineReader {
 public:
  explicit LineReader(QProcess& process) : process_(process) {}

  // The next line that starts with prefix (lines before it are passed over), or none
  // when it does not come in time.
  std::optional<QString> Expect(const QString& prefix, int ms = kEventMs) {
    QDeadlineTimer deadline(ms);
    for (;;) {
      while (process_.canReadLine()) {
        const QString line = QString::fromLocal8Bit(process_.readLine()).trimmed();
        seen_ << line;
        if (line.startsWith(prefix)) {
          return line;
        }
      }
      if (deadline.hasExpired() || process_.state() == QProcess::NotRunning) {
        return std::nullopt;
      }
      process_.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    }
  }

  QString Seen() const { return seen_.join(" | "); }

 private:
  QProcess& process_;
  QStringList seen_;
};

class TrayHostTest : public ::testing::Test {
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
    StartDisplay();
  }

  void TearDown() override {
    // Clients first, the display last; each bounded.
    for (auto it = processes_.rbegin(); it != processes_.rend(); ++it) {
      Stop(**it);
    }
  }

  static void Stop(QProcess& process) {
    if (process.state() == QProcess::NotRunning) {
      return;
    }
    process.terminate();
    if (!process.waitForFinished(3000)) {
      process.kill();
      process.waitForFinished(3000);
    }
  }

  QProcess& NewProcess() {
    processes_.push_back(std::make_unique<QProcess>());
    QProcess& process = *processes_.back();
    process.setProcessEnvironment(environment_);
    return process;
  }

  void StartDisplay() {
    QProcess& xvfb = NewProcess();
    // -displayfd: the server picks a free display number and writes it once it is ready.
    xvfb.start(tools_[0], {"-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"});
    ASSERT_TRUE(xvfb.waitForStarted(kStartMs));
    LineReader reader(xvfb);
    const std::optional<QString> number = reader.Expect("", kStartMs);
    ASSERT_TRUE(number.has_value()) << "Xvfb named no display";
    display_ = ":" + *number;
    environment_ = QProcessEnvironment::systemEnvironment();
    environment_.insert("DISPLAY", display_);
    environment_.insert("QT_QPA_PLATFORM", "xcb");
    environment_.insert("XDG_RUNTIME_DIR", runtimeDir_.path());
    // No session bus: the icon goes to the X11 tray protocol, and no bus gets launched.
    environment_.insert("DBUS_SESSION_BUS_ADDRESS", "disabled:");
  }

  void StartTrayHost() {
    QProcess& trayer = NewProcess();
    trayer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    trayer.start(tools_[1], {"--edge", "top", "--align", "right", "--widthtype", "request",
                             "--height", "24", "--SetDockType", "true"});
    ASSERT_TRUE(trayer.waitForStarted(kStartMs));
    trayer_ = &trayer;
  }

  void StartProbe() {
    QProcess& probe = NewProcess();
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.start(VORLIXA_TRAYPROBE_PATH, {});
    ASSERT_TRUE(probe.waitForStarted(kStartMs));
    probe_ = std::make_unique<LineReader>(probe);
  }

  // Runs an X client to its end (bounded) and gives its output.
  QString Run(const QString& program, const QStringList& arguments) {
    QProcess& process = NewProcess();
    process.start(program, arguments);
    if (!process.waitForFinished(kEventMs)) {
      ADD_FAILURE() << program.toStdString() << " did not finish";
      return {};
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput());
  }

  // The centre of the icon from the probe's "embedded X Y W H" line.
  static QStringList Centre(const QString& embedded) {
    const QStringList parts = embedded.split(' ');
    if (parts.size() != 5) {
      return {};
    }
    return {QString::number(parts[1].toInt() + parts[3].toInt() / 2),
            QString::number(parts[2].toInt() + parts[4].toInt() / 2)};
  }

  // True when the probe's icon window is inside one of trayer's windows.
  bool IconInTrayHost() {
    const QStringList hosts =
        Run(tools_[2], {"search", "--class", "trayer"}).split('\n', Qt::SkipEmptyParts);
    for (const QString& host : hosts) {
      if (Run(tools_[3], {"-tree", "-id", host}).contains(QString("\"%1\"").arg(kProbeName))) {
        return true;
      }
    }
    return false;
  }

  void Xdotool(const QStringList& arguments) { Run(tools_[2], arguments); }

  QStringList tools_;  // Xvfb, trayer, xdotool, xwininfo
  QTemporaryDir runtimeDir_;
  QProcessEnvironment environment_ = QProcessEnvironment::systemEnvironment();
  QString display_;
  std::vector<std::unique_ptr<QProcess>> processes_;
  QProcess* trayer_ = nullptr;
  std::unique_ptr<LineReader> probe_;
};

}  // namespace

TEST_F(TrayHostTest, TheIconSitsInTheTrayAndAnswersTheMouse) {
  StartTrayHost();
  StartProbe();
  const std::optional<QString> embedded = probe_->Expect("embedded", kStartMs);
  ASSERT_TRUE(embedded.has_value()) << probe_->Seen().toStdString();
  EXPECT_TRUE(IconInTrayHost());
  const QStringList centre = Centre(*embedded);
  ASSERT_EQ(centre.size(), 2);

  Xdotool(QStringList{"mousemove", "--sync"} + centre +
          QStringList{"click", "--repeat", "2", "--delay", "80", "1"});
  EXPECT_TRUE(probe_->Expect("click").has_value()) << probe_->Seen().toStdString();
  EXPECT_TRUE(probe_->Expect("dblclick").has_value()) << probe_->Seen().toStdString();

  Xdotool({"click", "3"});
  EXPECT_TRUE(probe_->Expect("rmouse").has_value()) << probe_->Seen().toStdString();
  EXPECT_TRUE(probe_->Expect("popup").has_value()) << probe_->Seen().toStdString();
  EXPECT_TRUE(probe_->Expect("menu-shown").has_value()) << probe_->Seen().toStdString();
  Xdotool({"key", "Escape"});
}

TEST_F(TrayHostTest, TheIconComesWhenTheTrayHostStartsLaterOrAgain) {
  StartProbe();
  ASSERT_TRUE(probe_->Expect("unavailable", kStartMs).has_value()) << probe_->Seen().toStdString();

  StartTrayHost();
  ASSERT_TRUE(probe_->Expect("embedded", kStartMs).has_value()) << probe_->Seen().toStdString();
  EXPECT_TRUE(IconInTrayHost());

  Stop(*trayer_);
  ASSERT_TRUE(probe_->Expect("lost", kStartMs).has_value()) << probe_->Seen().toStdString();
  StartTrayHost();
  ASSERT_TRUE(probe_->Expect("embedded", kStartMs).has_value()) << probe_->Seen().toStdString();
  EXPECT_TRUE(IconInTrayHost());
}
