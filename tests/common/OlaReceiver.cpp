#include "common/OlaReceiver.h"

#include "platform/UniqueFd.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <grp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <set>
#include <utility>

namespace vx {

namespace {

const char* const kUser = "vorlixa-ola";
// Debian's interpreter: ola-python installs the module for it only, and a python3 found
// first on the PATH (pyenv, a virtual environment) does not see it.
const char* const kPython = "/usr/bin/python3";
constexpr quint16 kE131Port = 5568;
constexpr quint16 kArtNetPort = 6454;
// Every input port of one Art-Net device shares its net and sub-net.
constexpr int kArtNetPorts = 4;
constexpr int kE131Last = 63999;
// Another test's receiver holds the machine's lock for as long as that test runs.
constexpr int kLockWaitMs = 4 * kWaitLimitMs;
// The reader allows olad that long to open its RPC port, and as long again to patch.
constexpr int kReadyWaitMs = 2 * kWaitLimitMs + 5000;
// The free RPC port picked can be taken by someone else before olad binds it.
constexpr int kStartAttempts = 3;

// Every plugin of OLA 0.10.9 but E1.31 and Art-Net, by configuration prefix.
const std::array<const char*, 20> kOtherPlugins = {
    "dummy",   "dmx4linux", "espnet",           "ftdidmx", "gpio",     "karate",   "kinet",
    "milinst", "opendmx",   "openpixelcontrol", "osc",     "pathport", "renard",   "sandnet",
    "shownet", "spi",       "stageprofi",       "uartdmx", "usbdmx",   "usbserial"};

// OLA's plugin ids in ola-port.conf keys ("<plugin>-<device>-I-<port>").
constexpr int kArtNetPlugin = 2;
constexpr int kE131Plugin = 11;

bool WriteFile(const QString& name, const QByteArray& text) {
  QFile file(name);
  return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// A TCP port on 127.0.0.1 that nobody listens on now; 0 when none is found.
quint16 FreeTcpPort() {
  UniqueFd probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (!probe.IsValid() ||
      ::bind(probe.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(probe.Get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    return 0;
  }
  return ntohs(address.sin_port);
}

// The UDP ports of ports that a socket of this network is bound to (IPv4 or IPv6): such a
// program shares them with olad (SO_REUSEPORT) and takes some of the packets unnoticed.
std::set<quint16> BoundUdpPorts(const std::set<quint16>& ports) {
  std::set<quint16> bound;
  for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
    QFile file(QString::fromLatin1(table));
    if (!file.open(QIODevice::ReadOnly)) {
      continue;
    }
    file.readLine();  // the heading
    // "  sl  local_address rem_address ...", the local address as "<hex ip>:<hex port>".
    for (QByteArray line = file.readLine(); !line.isEmpty(); line = file.readLine()) {
      const QList<QByteArray> fields = line.simplified().split(' ');
      if (fields.size() < 2) {
        continue;
      }
      bool ok = false;
      const auto port =
          static_cast<quint16>(fields[1].mid(fields[1].indexOf(':') + 1).toUInt(&ok, 16));
      if (ok && ports.contains(port)) {
        bound.insert(port);
      }
    }
  }
  return bound;
}

}  // namespace

OlaReceiver::OlaReceiver(std::vector<int> e131Universes, std::vector<int> artNetPortAddresses)
    : e131Universes_(std::move(e131Universes)),
      artNetPortAddresses_(std::move(artNetPortAddresses)),
      environment_(QProcessEnvironment::systemEnvironment()),
      lock_(QDir::temp().filePath("vorlixa-ola.lock")),
      processes_({"olad"}) {}

OlaReceiver::~OlaReceiver() = default;

bool OlaReceiver::Start(QString& reason) {
  if (!CheckSetup(reason) || !PickUser(reason)) {
    return false;
  }
  if (!lock_.tryLock(kLockWaitMs)) {
    reason = QStringLiteral("another test's OLA receiver held %1 for %2 ms")
                 .arg(QDir::temp().filePath("vorlixa-ola.lock"))
                 .arg(kLockWaitMs);
    return false;
  }
  const std::set<quint16> taken = BoundUdpPorts({kE131Port, kArtNetPort});
  if (!taken.empty()) {
    reason =
        QStringLiteral(
            "another program receives on UDP port %1 and would take packets: stop it (a system "
            "olad: /etc/init.d/olad stop)")
            .arg(*taken.begin());
    return false;
  }
  return WriteConfig(reason) && StartProcesses(reason);
}

bool OlaReceiver::CheckSetup(QString& reason) const {
  if (!processes_.MissingTools().isEmpty() || !QFileInfo(kPython).isExecutable()) {
    reason = QStringLiteral(
                 "OLA is missing: olad and %1 are needed (scripts/install-deps.sh installs ola and "
                 "ola-python)")
                 .arg(kPython);
    return false;
  }
  std::set<int> universes;
  for (int universe : e131Universes_) {
    if (universe < 1 || universe > kE131Last || !universes.insert(universe).second) {
      reason = QStringLiteral("E1.31 universe %1 is out of range or repeated").arg(universe);
      return false;
    }
  }
  if (artNetPortAddresses_.size() > kArtNetPorts) {
    reason = QStringLiteral("OLA's Art-Net device has %1 input ports").arg(kArtNetPorts);
    return false;
  }
  for (int address : artNetPortAddresses_) {
    if (address < 0 || address > 15 || !universes.insert(ArtNetUniverse(address)).second) {
      reason = QStringLiteral(
                   "Art-Net Port-Address %1 is out of 0-15, repeated, or its OLA universe %2 "
                   "is an E1.31 universe as well")
                   .arg(address)
                   .arg(ArtNetUniverse(address));
      return false;
    }
  }
  return true;
}

bool OlaReceiver::PickUser(QString& reason) {
  if (::geteuid() != 0) {
    uid_ = ::geteuid();
    gid_ = ::getegid();
    return true;
  }
  if (::getpwnam(kUser) == nullptr) {
    QProcess useradd;
    useradd.start(QStringLiteral("useradd"), {"--system", "--no-create-home", kUser});
    // Another test may make the same user at the same time: it counts as made.
    if ((!useradd.waitForFinished(kWaitLimitMs) || useradd.exitCode() != 0) &&
        ::getpwnam(kUser) == nullptr) {
      reason = QStringLiteral("olad refuses to run as root, and the user %1 could not be made: %2")
                   .arg(kUser, QString::fromLocal8Bit(useradd.readAllStandardError()).trimmed());
      return false;
    }
  }
  const passwd* user = ::getpwnam(kUser);
  if (user == nullptr) {
    reason = QStringLiteral("olad refuses to run as root, and the user %1 is missing").arg(kUser);
    return false;
  }
  uid_ = user->pw_uid;
  gid_ = user->pw_gid;
  switchUser_ = true;
  environment_.insert("USER", kUser);
  environment_.insert("LOGNAME", kUser);
  return true;
}

bool OlaReceiver::WriteConfig(QString& reason) const {
  if (!configDir_.isValid()) {
    reason = QStringLiteral("no temporary configuration folder");
    return false;
  }
  const QDir dir(configDir_.path());
  bool written = true;
  const auto write = [&](const QString& name, const QByteArray& text) {
    written = WriteFile(dir.filePath(name), text) && written;
  };
  for (const char* plugin : kOtherPlugins) {
    write(QStringLiteral("ola-%1.conf").arg(plugin), "enabled = false\n");
  }
  // ip only picks the interface for multicast; the socket takes unicast on 0.0.0.0:5568.
  write("ola-e131.conf", QStringLiteral("enabled = true\nip = 127.0.0.1\ninput_ports = %1\n"
                                        "output_ports = 0\n")
                             .arg(e131Universes_.size())
                             .toLatin1());
  // Without use_loopback the node never takes the loopback interface.
  write("ola-artnet.conf",
        "enabled = true\nip = 127.0.0.1\nuse_loopback = true\nnet = 0\n"
        "subnet = 0\noutput_ports = 0\n");
  // Input ports patched before start. An E1.31 input port patched to OLA universe X takes
  // E1.31 universe X. An Art-Net input port patched to OLA universe X takes Port-Address
  // X % 16 (with the device's net and sub-net, 0 here), so Port-Address p goes to OLA
  // universe 16 + p: apart from E1.31 universes 1-15, since a universe fed by both
  // protocols would merge them and hide which one delivered the slots.
  QByteArray ports;
  for (std::size_t i = 0; i < e131Universes_.size(); ++i) {
    ports += QStringLiteral("%1-1-I-%2 = %3\n")
                 .arg(kE131Plugin)
                 .arg(i)
                 .arg(e131Universes_[i])
                 .toLatin1();
  }
  for (std::size_t i = 0; i < artNetPortAddresses_.size(); ++i) {
    ports += QStringLiteral("%1-1-I-%2 = %3\n")
                 .arg(kArtNetPlugin)
                 .arg(i)
                 .arg(ArtNetUniverse(artNetPortAddresses_[i]))
                 .toLatin1();
  }
  write("ola-port.conf", ports);
  if (!written) {
    reason = QStringLiteral("cannot write OLA's configuration into ") + dir.path();
    return false;
  }
  // olad writes the files back with its defaults filled in.
  if (switchUser_) {
    const QStringList names = dir.entryList(QDir::Files);
    for (const QString& name : names) {
      written =
          ::chown(QFile::encodeName(dir.filePath(name)).constData(), uid_, gid_) == 0 && written;
    }
    written = ::chown(QFile::encodeName(dir.path()).constData(), uid_, gid_) == 0 && written;
  }
  if (!written) {
    reason = QStringLiteral("cannot hand OLA's configuration to ") + kUser;
  }
  return written;
}

bool OlaReceiver::StartProcesses(QString& reason) {
  QStringList universes;
  for (int universe : e131Universes_) {
    universes << QString::number(universe);
  }
  for (int address : artNetPortAddresses_) {
    universes << QString::number(ArtNetUniverse(address));
  }
  for (int attempt = 1; attempt <= kStartAttempts; ++attempt) {
    const quint16 rpcPort = FreeTcpPort();
    if (rpcPort == 0) {
      reason = QStringLiteral("no free TCP port for olad's RPC");
      return false;
    }
    olad_ = &NewProcess(true);
    // DNS-SD off: without an Avahi daemon olad retries its client in a busy loop.
    olad_->start(processes_.Tool(0),
                 {"--config-dir", configDir_.path(), "--no-http", "--no-register-with-dns-sd",
                  "--rpc-port", QString::number(rpcPort), "--log-level", "3"});
    reader_ = &NewProcess(false);
    reader_->start(kPython,
                   QStringList{VORLIXA_OLA_READER_PATH, QString::number(rpcPort)} + universes);
    WaitFor(
        [&] {
          ReadLines(0, nullptr);
          return ready_ || !Running();
        },
        kReadyWaitMs);
    if (ready_ && Running()) {
      return true;
    }
    const QString olad = olad_->error() == QProcess::FailedToStart ? olad_->errorString()
                         : olad_->state() == QProcess::NotRunning
                             ? QStringLiteral("ended with exit status %1").arg(olad_->exitCode())
                             : QStringLiteral("still running");
    TestProcesses::Stop(*reader_);
    TestProcesses::Stop(*olad_);
    const QString messages = Messages();
    if (!messages.contains("Could not listen on the RPC port") || attempt == kStartAttempts) {
      reason = QStringLiteral("OLA did not come up (olad %1): %2").arg(olad, messages);
      return false;
    }
    olaLog_.clear();
    readerLog_.clear();
  }
  return false;
}

QProcess& OlaReceiver::NewProcess(bool asOlaUser) {
  QProcessEnvironment environment = environment_;
  if (asOlaUser) {
    environment.insert("HOME", configDir_.path());
  } else {
    // Debian's interpreter with its own modules only.
    environment.remove("PYTHONHOME");
    environment.remove("PYTHONPATH");
    environment.insert("PYTHONDONTWRITEBYTECODE", "1");
  }
  QProcess& process = processes_.NewProcess(environment);
  if (asOlaUser && switchUser_) {
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

std::optional<QByteArray> OlaReceiver::WaitForFrame(
    int universe, const std::function<bool(const QByteArray&)>& condition, int limitMs) {
  ReadLines(universe, nullptr);
  const auto latest = latest_.find(universe);
  if (latest != latest_.end() && condition(latest->second)) {
    return latest->second;
  }
  std::optional<QByteArray> found;
  WaitFor(
      [&] {
        found = ReadLines(universe, &condition);
        return found.has_value() || !Running();
      },
      limitMs);
  if (!found && !Running()) {
    ADD_FAILURE() << "the OLA receiver ended: " << Messages().toStdString();
  }
  return found;
}

QByteArray OlaReceiver::Latest(int universe) {
  ReadLines(universe, nullptr);
  const auto latest = latest_.find(universe);
  return latest == latest_.end() ? QByteArray() : latest->second;
}

int OlaReceiver::Updates(int universe) {
  ReadLines(universe, nullptr);
  const auto updates = updates_.find(universe);
  return updates == updates_.end() ? 0 : updates->second;
}

QString OlaReceiver::Messages() {
  if (olad_ != nullptr) {
    olaLog_ += QString::fromLocal8Bit(olad_->readAllStandardError());
  }
  if (reader_ != nullptr) {
    readerLog_ += QString::fromLocal8Bit(reader_->readAllStandardError());
  }
  return QStringLiteral("olad:\n%1\nreader:\n%2").arg(olaLog_, readerLog_);
}

std::optional<QByteArray> OlaReceiver::ReadLines(
    int universe, const std::function<bool(const QByteArray&)>* condition) {
  if (reader_ == nullptr) {
    return std::nullopt;
  }
  while (reader_->canReadLine()) {
    const QByteArray line = reader_->readLine().trimmed();
    if (line == "ready") {
      ready_ = true;
      continue;
    }
    // "<universe> <hex of the slots>"; no slots leave the hex empty.
    const qsizetype space = line.indexOf(' ');
    bool ok = false;
    const int number = line.left(space < 0 ? line.size() : space).toInt(&ok);
    if (!ok) {
      ADD_FAILURE() << "the OLA reader wrote: " << line.toStdString();
      continue;
    }
    const QByteArray dmx = space < 0 ? QByteArray() : QByteArray::fromHex(line.mid(space + 1));
    latest_[number] = dmx;
    ++updates_[number];
    if (condition != nullptr && number == universe && (*condition)(dmx)) {
      return dmx;
    }
  }
  return std::nullopt;
}

bool OlaReceiver::Running() const {
  return olad_ != nullptr && reader_ != nullptr && olad_->state() != QProcess::NotRunning &&
         reader_->state() != QProcess::NotRunning;
}

}  // namespace vx
