#include "SwayDesktop.h"

#include "common/Wait.h"

#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QVariant>

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

namespace vx {

namespace {

enum Tool { kSway, kSwaymsg, kWaybar, kDbusDaemon, kGrim };

const char* const kUser = "vorlixa-desktop";
constexpr int kCallMs = 5000;

// Every connection, the test's (root's, when root) among them, may use the bus.
const char* const kBusConfig = R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
)";

const char* const kSwayConfig = "output * bg #30506a solid_color\n";
const char* const kWaybarConfig =
    R"({"layer": "top", "position": "top", "height": 28, "modules-right": ["tray"],)"
    R"( "tray": {"icon-size": 20, "spacing": 6}})";

bool WriteFile(const QString& name, const QByteArray& text) {
  QFile file(name);
  return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() &&
         file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                             QFile::ReadOther);
}

}  // namespace

SwayDesktop::SwayDesktop()
    : environment_(QProcessEnvironment::systemEnvironment()),
      busName_(QStringLiteral("sway-desktop-%1").arg(reinterpret_cast<quintptr>(this))),
      processes_({"sway", "swaymsg", "waybar", "dbus-daemon", "grim"}) {}

SwayDesktop::~SwayDesktop() {
  // Off the bus before it goes.
  QDBusConnection::disconnectFromBus(busName_);
}

bool SwayDesktop::PickUser(QString& reason) {
  if (::geteuid() != 0) {
    uid_ = ::geteuid();
    gid_ = ::getegid();
    return true;
  }
  if (::getpwnam(kUser) == nullptr) {
    QProcess useradd;
    useradd.start(QStringLiteral("useradd"), {"--system", "--create-home", kUser});
    if (!useradd.waitForFinished(kWaitLimitMs) || useradd.exitCode() != 0) {
      reason = QStringLiteral("sway refuses to run as root, and the user %1 could not be made: %2")
                   .arg(kUser, QString::fromLocal8Bit(useradd.readAllStandardError()).trimmed());
      return false;
    }
  }
  const passwd* user = ::getpwnam(kUser);
  if (user == nullptr) {
    reason = QStringLiteral("sway refuses to run as root, and the user %1 is missing").arg(kUser);
    return false;
  }
  uid_ = user->pw_uid;
  gid_ = user->pw_gid;
  switchUser_ = true;
  environment_.insert("HOME", QString::fromLocal8Bit(user->pw_dir));
  environment_.insert("USER", kUser);
  environment_.insert("LOGNAME", kUser);
  return true;
}

bool SwayDesktop::Start(QString& error) {
  if (!runtimeDir_.isValid()) {
    error = QStringLiteral("no temporary runtime folder");
    return false;
  }
  const QString runtime = runtimeDir_.path();
  GiveToUser(runtime.toStdString());
  const QString busPath = runtime + "/bus";
  const QString busConfig = runtime + "/bus.conf";
  const QString swayConfig = runtime + "/sway.conf";
  const QString waybarConfig = runtime + "/waybar.json";
  if (!WriteFile(busConfig, QString::fromLatin1(kBusConfig).arg(busPath).toUtf8()) ||
      !WriteFile(swayConfig, kSwayConfig) || !WriteFile(waybarConfig, kWaybarConfig)) {
    error = QStringLiteral("cannot write the desktop's configuration");
    return false;
  }
  environment_.insert("XDG_RUNTIME_DIR", runtime);
  environment_.insert("XDG_CONFIG_HOME", runtime + "/config");
  environment_.insert("XDG_CACHE_HOME", runtime + "/cache");
  environment_.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + busPath);
  environment_.insert("NO_AT_BRIDGE", "1");
  environment_.remove("DISPLAY");
  environment_.remove("WAYLAND_DISPLAY");
  environment_.remove("SWAYSOCK");
  environment_.remove("QT_QPA_PLATFORM");

  QProcess& bus = NewProcess();
  bus.start(processes_.Tool(kDbusDaemon),
            {"--config-file=" + busConfig, "--nofork", "--print-address"});
  if (!bus.waitForStarted(kWaitLimitMs) || !bus.waitForReadyRead(kWaitLimitMs)) {
    error = QStringLiteral("dbus-daemon did not start: ") + bus.readAllStandardError();
    return false;
  }
  QDBusConnection test = QDBusConnection::connectToBus("unix:path=" + busPath, busName_);
  if (!test.isConnected()) {
    error = QStringLiteral("cannot connect to the private bus: ") + test.lastError().message();
    return false;
  }

  environment_.insert("WLR_BACKENDS", "headless");
  environment_.insert("WLR_LIBINPUT_NO_DEVICES", "1");
  // No GPU here: wlroots draws in software.
  environment_.insert("WLR_RENDERER", "pixman");
  QProcess& sway = NewProcess();
  sway.start(processes_.Tool(kSway), {"--config", swayConfig});
  const bool up =
      sway.waitForStarted(kWaitLimitMs) && WaitFor([&] {
        return sway.state() != QProcess::Running || (!RuntimeFile("wayland-", "").isEmpty() &&
                                                     !RuntimeFile("sway-ipc.", ".sock").isEmpty());
      });
  if (!up || sway.state() != QProcess::Running) {
    error = QStringLiteral("sway did not come up: ") + sway.readAllStandardError();
    return false;
  }
  environment_.insert("WAYLAND_DISPLAY", RuntimeFile("wayland-", ""));
  environment_.insert("SWAYSOCK", runtime + "/" + RuntimeFile("sway-ipc.", ".sock"));

  QProcess& waybar = NewProcess();
  waybar.start(processes_.Tool(kWaybar), {"--config", waybarConfig});
  if (!waybar.waitForStarted(kWaitLimitMs) || !WaitFor([&] {
        return waybar.state() != QProcess::Running ||
               Property("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                        "org.kde.StatusNotifierWatcher", "IsStatusNotifierHostRegistered")
                   .toBool();
      }) ||
      waybar.state() != QProcess::Running) {
    error = QStringLiteral("waybar registered no tray host: ") + waybar.readAllStandardError();
    return false;
  }
  return true;
}

QDBusConnection SwayDesktop::Bus() const {
  return QDBusConnection(busName_);
}

QVariant SwayDesktop::Property(const QString& service, const QString& path,
                               const QString& interface, const QString& name) const {
  QDBusMessage get =
      QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Properties", "Get");
  get << interface << name;
  const QDBusReply<QDBusVariant> reply = Bus().call(get, QDBus::Block, kCallMs);
  return reply.isValid() ? reply.value().variant() : QVariant();
}

QProcess& SwayDesktop::NewProcess() {
  QProcess& process = processes_.NewProcess(environment_);
  if (switchUser_) {
    const uid_t uid = uid_;
    const gid_t gid = gid_;
    // Runs in the child before exec: async-signal-safe calls only.
    process.setChildProcessModifier([uid, gid] {
      if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
        ::_exit(127);
      }
    });
  }
  return process;
}

void SwayDesktop::GiveToUser(const std::string& path) const {
  if (switchUser_ && ::chown(path.c_str(), uid_, gid_) != 0) {
    ADD_FAILURE() << "cannot hand " << path << " to " << kUser;
  }
}

QJsonObject SwayDesktop::Tree() {
  return QJsonDocument::fromJson(
             Run(processes_.Tool(kSwaymsg), {"--raw", "-t", "get_tree"}).toUtf8())
      .object();
}

bool SwayDesktop::Screenshot(const QString& path) {
  // grim writes as the desktop's user, into the desktop's own folder.
  const QString shot = runtimeDir_.filePath("screen.png");
  Run(processes_.Tool(kGrim), {shot});
  QFile::remove(path);
  return QFile::copy(shot, path);
}

QString SwayDesktop::Run(const QString& program, const QStringList& arguments) {
  return RunToEnd(NewProcess(), program, arguments);
}

// The name of the runtime folder's entry with that prefix and suffix ("wayland-1", not
// its lock file); empty when there is none.
QString SwayDesktop::RuntimeFile(const QString& prefix, const QString& suffix) const {
  const QStringList names = QDir(runtimeDir_.path()).entryList(QDir::System | QDir::Files);
  for (const QString& name : names) {
    if (name.startsWith(prefix) && name.endsWith(suffix) && !name.endsWith(".lock")) {
      return name;
    }
  }
  return {};
}

}  // namespace vx
