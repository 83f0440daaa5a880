#include "SoundServer.h"

#include "ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <csignal>
#include <fstream>
#include <functional>
#include <optional>

namespace vx {

namespace {

// Where the install script puts ALSA's PipeWire plugin (unpacked, not installed: its
// package would make PipeWire the ALSA default of the whole machine, and it conflicts
// with PulseAudio).
constexpr const char* kPipeWireAlsaPlugin =
    "/opt/vorlixa-test/pipewire-alsa/usr/lib/x86_64-linux-gnu/alsa-lib/"
    "libasound_module_pcm_pipewire.so";

}  // namespace

SoundServer::SoundServer(SoundServerKind kind, bool recordingHearsSpeakers)
    : kind_(kind), recordingHearsSpeakers_(recordingHearsSpeakers) {
  const QDir root(dir_.path());
  root.mkpath("run");
  QFile::setPermissions(root.filePath("run"),
                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  root.mkpath("home/.config/pulse");
  // No client may start a server of its own when this one is gone.
  std::ofstream(root.filePath("home/.config/pulse/client.conf").toStdString())
      << "autospawn = no\n";
  std::ofstream asoundrc(root.filePath("home/.asoundrc").toStdString());
  if (kind_ == SoundServerKind::PulseAudio) {
    asoundrc << "pcm.!default { type pulse }\nctl.!default { type pulse }\n";
  } else {
    asoundrc << "pcm_type.pipewire { lib \"" << kPipeWireAlsaPlugin << "\" }\n"
             << "pcm.!default { type pipewire playback_node \"-1\" capture_node \"-1\" }\n";
  }
  std::ofstream(root.filePath("server.pa").toStdString())
      << "load-module module-native-protocol-unix\n"
      << "load-module module-null-sink sink_name=speakers\n"
      << "load-module module-null-sink sink_name=mic\n";
}

SoundServer::~SoundServer() {
  KillAll(server_);
  KillAll(bus_);
}

QStringList SoundServer::Missing() const {
  QStringList programs{"pactl", "pacat"};
  if (kind_ == SoundServerKind::PulseAudio) {
    programs << "pulseaudio";
  } else {
    programs << "dbus-daemon"
             << "pipewire"
             << "wireplumber"
             << "pipewire-pulse"
             << "pw-cli";
  }
  QStringList missing;
  for (const QString& program : programs) {
    if (QStandardPaths::findExecutable(program).isEmpty()) {
      missing << program;
    }
  }
  if (kind_ == SoundServerKind::PipeWire && !QFile::exists(kPipeWireAlsaPlugin)) {
    missing << kPipeWireAlsaPlugin;
  }
  return missing;
}

QProcessEnvironment SoundServer::Environment() const {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  const QDir root(dir_.path());
  environment.insert("XDG_RUNTIME_DIR", root.filePath("run"));
  environment.insert("HOME", root.filePath("home"));
  environment.insert("XDG_CONFIG_HOME", root.filePath("home/.config"));
  environment.remove("PULSE_SERVER");
  environment.remove("ALSA_CONFIG_PATH");
  environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + root.filePath("run/bus"));
  return environment;
}

QProcess* SoundServer::Spawn(const QString& program, const QStringList& arguments,
                             const QString& input) {
  auto process = std::make_unique<QProcess>();
  if (!input.isEmpty()) {
    process->setStandardInputFile(input);
  }
  process->setProcessEnvironment(Environment());
  process->setStandardOutputFile(QProcess::nullDevice());
  process->setStandardErrorFile(QDir(dir_.path()).filePath("servers.log"), QIODevice::Append);
  process->start(program, arguments);
  server_.push_back(std::move(process));
  return server_.back().get();
}

std::optional<QString> SoundServer::Run(const QString& program, const QStringList& arguments) {
  QProcess client;
  client.setProcessEnvironment(Environment());
  client.start(program, arguments);
  if (!client.waitForFinished(kWaitLimitMs) || client.exitStatus() != QProcess::NormalExit ||
      client.exitCode() != 0) {
    return std::nullopt;
  }
  return QString::fromUtf8(client.readAllStandardOutput()).trimmed();
}

bool SoundServer::Pactl(const QStringList& arguments) {
  return Run("pactl", arguments).has_value();
}

bool SoundServer::WaitForServer() {
  if (!WaitFor([&] { return Pactl({"info"}); })) {
    error_ = "the sound server does not answer";
    return false;
  }
  return true;
}

bool SoundServer::Start() {
  player_ = nullptr;
  KillAll(server_);
  const QDir root(dir_.path());
  if (kind_ == SoundServerKind::PulseAudio) {
    Spawn("pulseaudio", {"-n", "-F", root.filePath("server.pa"), "--daemonize=no",
                         "--exit-idle-time=-1", "--use-pid-file=no"});
    if (!WaitForServer()) {
      return false;
    }
  } else {
    if (bus_.empty()) {
      auto bus = std::make_unique<QProcess>();
      bus->setProcessEnvironment(Environment());
      bus->start("dbus-daemon", {"--session", "--nofork", "--nopidfile",
                                 "--address=" + Environment().value("DBUS_SESSION_BUS_ADDRESS")});
      bus_.push_back(std::move(bus));
      if (!WaitFor([&] { return QFile::exists(root.filePath("run/bus")); })) {
        error_ = "the session bus does not start";
        return false;
      }
    }
    // The session manager and the pulse server give up at once when PipeWire is not there
    // yet; a session manager that gave up leaves every stream unlinked for good.
    Spawn("pipewire", {});
    // Its socket file shows before it listens: only an answer counts.
    if (!WaitFor([&] { return Run("pw-cli", {"info", "0"}).has_value(); })) {
      error_ = "PipeWire does not start";
      return false;
    }
    Spawn("wireplumber", {});
    Spawn("pipewire-pulse", {});
    if (!WaitForServer() || !Pactl({"load-module", "module-null-sink", "sink_name=speakers"}) ||
        !Pactl({"load-module", "module-null-sink", "sink_name=mic"})) {
      error_ = "the sound server does not answer";
      return false;
    }
  }
  // The defaults can be set only once the session manager is up: until then the server
  // refuses them.
  const QString sink = "speakers";
  const QString source = recordingHearsSpeakers_ ? "speakers.monitor" : "mic.monitor";
  if (!WaitFor([&] {
        Pactl({"set-default-sink", sink});
        Pactl({"set-default-source", source});
        return Run("pactl", {"get-default-sink"}) == sink &&
               Run("pactl", {"get-default-source"}) == source;
      })) {
    error_ = "the sound server does not take its default devices: " +
             Run("pactl", {"info"}).value_or("no answer").toStdString();
    return false;
  }
  player_ =
      Spawn("pacat", {"--raw", "--format=u8", "--channels=2", "--rate=44100", "--device=speakers"},
            played_);
  for (const auto& process : server_) {
    if (process->state() == QProcess::NotRunning) {
      error_ = process->program().toStdString() + " has ended";
      return false;
    }
  }
  return true;
}

bool SoundServer::Play(const QString& file) {
  played_ = file;
  if (player_ == nullptr) {
    return true;
  }
  player_->kill();
  player_->waitForFinished(kWaitLimitMs);
  player_ =
      Spawn("pacat", {"--raw", "--format=u8", "--channels=2", "--rate=44100", "--device=speakers"},
            played_);
  return player_->waitForStarted(kWaitLimitMs);
}

void SoundServer::Kill() {
  player_ = nullptr;
  KillAll(server_);
}

void SoundServer::Freeze(bool frozen) {
  for (const auto& process : server_) {
    if (process->state() != QProcess::NotRunning) {
      ::kill(static_cast<pid_t>(process->processId()), frozen ? SIGSTOP : SIGCONT);
    }
  }
}

void SoundServer::KillAll(std::vector<std::unique_ptr<QProcess>>& processes) {
  for (const auto& process : processes) {
    if (process->state() != QProcess::NotRunning) {
      process->kill();
    }
  }
  for (const auto& process : processes) {
    process->waitForFinished(kWaitLimitMs);
  }
  processes.clear();
}

}  // namespace vx
