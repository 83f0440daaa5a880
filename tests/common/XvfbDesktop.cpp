#include "common/XvfbDesktop.h"

#include "common/Wait.h"

#include <gtest/gtest.h>

namespace vx {

namespace {

enum Tool { kXvfb, kTrayer, kXdotool, kXwininfo };

}  // namespace

XvfbDesktop::XvfbDesktop()
    : environment_(QProcessEnvironment::systemEnvironment()),
      processes_({"Xvfb", "trayer", "xdotool", "xwininfo"}) {}

bool XvfbDesktop::StartDisplay(QString& error) {
  if (!runtimeDir_.isValid()) {
    error = QStringLiteral("no temporary runtime folder");
    return false;
  }
  QProcess& xvfb = NewProcess();
  // -displayfd: the server picks a free display number and writes it once it is ready.
  // -noreset: by default the server starts over whenever its last client leaves, and a
  // client that connects meanwhile (the tray host, right after the readiness check) is
  // turned away with "cannot open display".
  xvfb.start(processes_.Tool(kXvfb),
             {"-displayfd", "1", "-noreset", "-screen", "0", "640x480x24", "-nolisten", "tcp"});
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
  trayer.start(processes_.Tool(kTrayer), {"--edge", "top", "--align", "right", "--widthtype",
                                          "request", "--height", "24", "--SetDockType", "true"});
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
  return processes_.NewProcess(environment_);
}

QString XvfbDesktop::Xdotool(const QStringList& arguments) {
  return Run(processes_.Tool(kXdotool), arguments);
}

QStringList XvfbDesktop::TrayHostTrees() {
  QStringList trees;
  const QStringList hosts =
      Xdotool({"search", "--class", "trayer"}).split('\n', Qt::SkipEmptyParts);
  for (const QString& host : hosts) {
    trees << Run(processes_.Tool(kXwininfo), {"-tree", "-id", host});
  }
  return trees;
}

QString XvfbDesktop::Run(const QString& program, const QStringList& arguments) {
  return RunToEnd(NewProcess(), program, arguments);
}

}  // namespace vx
