#include "common/XvfbDesktop.h"

#include "common/Wait.h"

#include <QStandardPaths>

#include <gtest/gtest.h>

namespace vx {

namespace {

const char* const kTools[] = {"Xvfb", "trayer", "xdotool", "xwininfo"};
enum Tool { kXvfb, kTrayer, kXdotool, kXwininfo };

}  // namespace

XvfbDesktop::XvfbDesktop() : environment_(QProcessEnvironment::systemEnvironment()) {
  for (const char* tool : kTools) {
    tools_ << QStandardPaths::findExecutable(QString::fromLatin1(tool));
  }
}

XvfbDesktop::~XvfbDesktop() {
  for (auto it = processes_.rbegin(); it != processes_.rend(); ++it) {
    Stop(**it);
  }
}

QStringList XvfbDesktop::MissingTools() const {
  QStringList missing;
  for (qsizetype i = 0; i < tools_.size(); ++i) {
    if (tools_[i].isEmpty()) {
      missing << QString::fromLatin1(kTools[i]);
    }
  }
  return missing;
}

bool XvfbDesktop::StartDisplay(QString& error) {
  if (!runtimeDir_.isValid()) {
    error = QStringLiteral("no temporary runtime folder");
    return false;
  }
  QProcess& xvfb = NewProcess();
  // -displayfd: the server picks a free display number and writes it once it is ready.
  xvfb.start(tools_[kXvfb], {"-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"});
  if (!xvfb.waitForStarted(kWaitLimitMs) || !xvfb.waitForReadyRead(kWaitLimitMs)) {
    error = QStringLiteral("Xvfb did not start: ") + xvfb.errorString();
    return false;
  }
  const QString number = QString::fromLocal8Bit(xvfb.readLine()).trimmed();
  if (number.isEmpty()) {
    error = QStringLiteral("Xvfb named no display");
    return false;
  }
  environment_.insert("DISPLAY", ":" + number);
  environment_.insert("QT_QPA_PLATFORM", "xcb");
  environment_.insert("XDG_RUNTIME_DIR", runtimeDir_.path());
  // No session bus: tray icons go to the X11 tray protocol, and no bus gets launched.
  environment_.insert("DBUS_SESSION_BUS_ADDRESS", "disabled:");
  environment_.remove("WAYLAND_DISPLAY");
  // A client that connects right after the server named its display was seen to be turned
  // away now and then: the display counts as started once a client is served.
  if (!WaitFor([&] { return !Xdotool({"getdisplaygeometry"}).trimmed().isEmpty(); })) {
    error = QStringLiteral("Xvfb does not serve display :") + number;
    return false;
  }
  return true;
}

QProcess* XvfbDesktop::StartTrayHost() {
  QProcess& trayer = NewProcess();
  trayer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  trayer.start(tools_[kTrayer], {"--edge", "top", "--align", "right", "--widthtype", "request",
                                 "--height", "24", "--SetDockType", "true"});
  if (!trayer.waitForStarted(kWaitLimitMs)) {
    return nullptr;
  }
  // trayer holds the tray selection before it maps its window: a program started after
  // this finds a notification area.
  const bool shown = WaitFor([&] {
    return trayer.state() != QProcess::Running ||
           !Xdotool({"search", "--onlyvisible", "--class", "trayer"}).trimmed().isEmpty();
  });
  return shown && trayer.state() == QProcess::Running ? &trayer : nullptr;
}

QProcess& XvfbDesktop::NewProcess() {
  processes_.push_back(std::make_unique<QProcess>());
  QProcess& process = *processes_.back();
  process.setProcessEnvironment(environment_);
  return process;
}

void XvfbDesktop::Stop(QProcess& process) {
  if (process.state() == QProcess::NotRunning) {
    return;
  }
  process.terminate();
  if (!process.waitForFinished(3000)) {
    process.kill();
    process.waitForFinished(3000);
  }
}

QString XvfbDesktop::Xdotool(const QStringList& arguments) {
  return Run(tools_[kXdotool], arguments);
}

QStringList XvfbDesktop::TrayHostTrees() {
  QStringList trees;
  const QStringList hosts =
      Xdotool({"search", "--class", "trayer"}).split('\n', Qt::SkipEmptyParts);
  for (const QString& host : hosts) {
    trees << Run(tools_[kXwininfo], {"-tree", "-id", host});
  }
  return trees;
}

QString XvfbDesktop::Run(const QString& program, const QStringList& arguments) {
  QProcess& process = NewProcess();
  process.start(program, arguments);
  if (!process.waitForFinished(kWaitLimitMs)) {
    ADD_FAILURE() << program.toStdString() << " did not finish";
    return {};
  }
  return QString::fromLocal8Bit(process.readAllStandardOutput());
}

}  // namespace vx
