#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vx {

enum class SoundServerKind {
  PulseAudio,
  PipeWire,  // with its session manager and its pulse server, on a session bus of its own
};

// A sound server of the test's own, in a temporary folder that is its runtime folder and
// its clients' home: a null sink "speakers" as the default output, into which pacat plays
// noise at full scale in real time, and a null sink "mic" that nothing plays into. The
// default recording device is the monitor of one of them. ALSA's "default" goes to the
// server (type pulse, or type pipewire) through the home's ~/.asoundrc. Every process it
// started is killed and waited for when it goes.
class SoundServer {
 public:
  SoundServer(SoundServerKind kind, bool recordingHearsSpeakers);
  ~SoundServer();
  SoundServer(const SoundServer&) = delete;
  SoundServer& operator=(const SoundServer&) = delete;

  // The programs and libraries that are not installed; empty when all are.
  QStringList Missing() const;
  // Starts the server (again) and the player; false, with Error(), when it does not answer.
  bool Start();
  // Plays raw stereo 8-bit samples at 44100 Hz from file into the speakers instead of
  // noise, now and after every later Start; false when the player does not start.
  bool Play(const QString& file);
  // Makes a sink the default output, or a source the default recording device, as the
  // desktop's sound settings do; false when the server refuses.
  bool SetDefaultSink(const QString& sink) { return Pactl({"set-default-sink", sink}); }
  bool SetDefaultSource(const QString& source) { return Pactl({"set-default-source", source}); }
  // Kills the server and the player at once, as a crash of the server would.
  void Kill();
  // Stops the server's processes and the player where they are, as a hung server would
  // (frozen), or lets them go on.
  void Freeze(bool frozen);
  // For clients: the runtime folder, the home, the session bus.
  QProcessEnvironment Environment() const;
  const std::string& Error() const { return error_; }

 private:
  QProcess* Spawn(const QString& program, const QStringList& arguments, const QString& input = {});
  // A client's output, trimmed; none when it failed.
  std::optional<QString> Run(const QString& program, const QStringList& arguments);
  bool Pactl(const QStringList& arguments);
  bool WaitForServer();
  void KillAll(std::vector<std::unique_ptr<QProcess>>& processes);

  SoundServerKind kind_;
  bool recordingHearsSpeakers_;
  QTemporaryDir dir_;
  std::vector<std::unique_ptr<QProcess>> bus_;     // the session bus, for the whole life
  std::vector<std::unique_ptr<QProcess>> server_;  // server processes and the player
  QProcess* player_ = nullptr;                     // in server_
  QString played_ = "/dev/urandom";
  std::string error_;
};

}  // namespace vx
