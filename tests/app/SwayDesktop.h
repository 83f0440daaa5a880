#pragma once

#include "common/TestProcesses.h"

#include <QDBusConnection>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <sys/types.h>

#include <string>

namespace vx {

// A private Wayland desktop for tests: a session bus of its own (dbus-daemon), headless
// sway, and waybar as the StatusNotifier host. sway refuses to run as root, so as root
// every process of the desktop runs as the system user "vorlixa-desktop", made when
// missing; otherwise as the user running the test. The test itself talks to the bus.
// Every process started here ends with the desktop, clients first.
class SwayDesktop {
 public:
  SwayDesktop();
  ~SwayDesktop();
  SwayDesktop(const SwayDesktop&) = delete;
  SwayDesktop& operator=(const SwayDesktop&) = delete;

  // The tools that are not installed, by name; empty when all are there.
  QStringList MissingTools() const { return processes_.MissingTools(); }
  // Picks the desktop's user; false, with the reason, when there is none to run as.
  bool PickUser(QString& reason);
  // Starts bus, sway and waybar, and waits until the tray host has registered with the
  // StatusNotifier watcher; false, with the reason, when the desktop does not come up.
  bool Start(QString& error);

  // The test's own connection to the desktop's session bus.
  QDBusConnection Bus() const;
  // A D-Bus property read through org.freedesktop.DBus.Properties; invalid when the call
  // fails (no such object yet).
  QVariant Property(const QString& service, const QString& path, const QString& interface,
                    const QString& name) const;
  // A process with the desktop's environment that runs as the desktop's user, not
  // started yet; the desktop owns it.
  QProcess& NewProcess();
  // Hands a file or folder to the desktop's user (nothing to do when not root).
  void GiveToUser(const std::string& path) const;

  // sway's window tree (swaymsg -t get_tree).
  QJsonObject Tree();
  // A picture of the whole screen (grim); false when none was taken.
  bool Screenshot(const QString& path);

 private:
  QString Run(const QString& program, const QStringList& arguments);
  QString RuntimeFile(const QString& prefix, const QString& suffix) const;

  uid_t uid_ = 0;
  gid_t gid_ = 0;
  bool switchUser_ = false;
  QTemporaryDir runtimeDir_;
  QProcessEnvironment environment_;
  QString busName_;
  // sway, swaymsg, waybar, dbus-daemon, grim; last, so that they end first.
  TestProcesses processes_;
};

}  // namespace vx
