#include "common/Wait.h"
#include "common/XvfbDesktop.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace vx {

// The tray icon in a real notification area: a private Xvfb display with Debian's
// trayer as the tray host, the probe program showing the icon, xdotool as the user.
namespace {

constexpr const char* kProbeName = "vorlixa-trayprobe";

// Lines that a process writes, read on demand with a bound on the wait.
class LineReader {
 public:
  explicit LineReader(QProcess& process) : process_(process) {}

  // The next line that starts with prefix (lines before it are passed over), or none
  // when it does not come in time.
  std::optional<QString> Expect(const QString& prefix, int limitMs = kWaitLimitMs) {
    std::optional<QString> found;
    WaitFor(
        [&] {
          while (process_.canReadLine()) {
            const QString line = QString::fromLocal8Bit(process_.readLine()).trimmed();
            seen_ << line;
            if (line.startsWith(prefix)) {
              found = line;
              return true;
            }
          }
          return process_.state() == QProcess::NotRunning;
        },
        limitMs);
    return found;
  }

  QString Seen() const { return seen_.join(" | "); }

 private:
  QProcess& process_;
  QStringList seen_;
};

class TrayHostSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    const QStringList missing = desktop_.MissingTools();
    if (!missing.isEmpty()) {
      GTEST_SKIP() << "needs Xvfb, trayer, xdotool and xwininfo; missing: "
                   << missing.join(", ").toStdString();
    }
    QString error;
    ASSERT_TRUE(desktop_.StartDisplay(error)) << error.toStdString();
  }

  void StartTrayHost() {
    trayer_ = desktop_.StartTrayHost();
    ASSERT_NE(trayer_, nullptr);
  }

  void StartProbe() {
    QProcess& probe = desktop_.NewProcess();
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.start(VORLIXA_TRAYPROBE_PATH, {});
    ASSERT_TRUE(probe.waitForStarted(kWaitLimitMs));
    probe_ = std::make_unique<LineReader>(probe);
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
    const QStringList trees = desktop_.TrayHostTrees();
    return std::any_of(trees.begin(), trees.end(), [](const QString& tree) {
      return tree.contains(QString("\"%1\"").arg(kProbeName));
    });
  }

  void Xdotool(const QStringList& arguments) { desktop_.Xdotool(arguments); }

  XvfbDesktop desktop_;
  QProcess* trayer_ = nullptr;
  std::unique_ptr<LineReader> probe_;
};

}  // namespace

TEST_F(TrayHostSystem, TheIconSitsInTheTrayAndAnswersTheMouse) {
  StartTrayHost();
  StartProbe();
  // trayer sits at the top right: an icon still at the screen's origin is not docked yet.
  std::optional<QString> embedded;
  do {
    embedded = probe_->Expect("embedded");
  } while (embedded.has_value() && embedded->startsWith("embedded 0 0 "));
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

TEST_F(TrayHostSystem, TheIconComesWhenTheTrayHostStartsLaterOrAgain) {
  StartProbe();
  ASSERT_TRUE(probe_->Expect("unavailable").has_value()) << probe_->Seen().toStdString();

  StartTrayHost();
  ASSERT_TRUE(probe_->Expect("embedded").has_value()) << probe_->Seen().toStdString();
  EXPECT_TRUE(IconInTrayHost());

  XvfbDesktop::Stop(*trayer_);
  ASSERT_TRUE(probe_->Expect("lost").has_value()) << probe_->Seen().toStdString();
  StartTrayHost();
  ASSERT_TRUE(probe_->Expect("embedded").has_value()) << probe_->Seen().toStdString();
  EXPECT_TRUE(IconInTrayHost());
}

}  // namespace vx
