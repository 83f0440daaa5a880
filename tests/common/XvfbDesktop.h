#pragma once

#include "common/TestProcesses.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace vx {

// A private X display for tests that need a real desktop: Xvfb, Debian's trayer as the
// notification area, and xdotool and xwininfo acting as the user. Every process started
// on it ends with it, clients first and the display last, each within a bound.
class XvfbDesktop {
 public:
  XvfbDesktop();
  ~XvfbDesktop() = default;
  XvfbDesktop(const XvfbDesktop&) = delete;
  XvfbDesktop& operator=(const XvfbDesktop&) = delete;

  // The tools that are not installed, by name; empty when all are there.
  QStringList MissingTools() const { return processes_.MissingTools(); }
  // Starts the display; false, with the reason in error, when it does not come up.
  bool StartDisplay(QString& error);
  // trayer, docked at the top right and ready to take icons; nullptr when it does not
  // start.
  QProcess* StartTrayHost();

  // A process with the display's environment, not started yet; the desktop owns it.
  QProcess& NewProcess();
  // Ends a process: asked first, killed when it does not end in time.
  static void Stop(QProcess& process) { TestProcesses::Stop(process); }

  // Runs xdotool to its end (bounded) and gives its output.
  QString Xdotool(const QStringList& arguments);
  // The window trees of the notification areas (xwininfo -tree), one text per trayer
  // window; a tray icon is a child window named after its program.
  QStringList TrayHostTrees();

 private:
  QString Run(const QString& program, const QStringList& arguments);

  QTemporaryDir runtimeDir_;
  QProcessEnvironment environment_;
  TestProcesses processes_;  // Xvfb, trayer, xdotool, xwininfo; last, so they end first
};

}  // namespace vx
