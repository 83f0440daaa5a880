#pragma once

#include "common/SettingsXml.h"
#include "common/SimProcess.h"
#include "common/TestFiles.h"
#include "common/Wait.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <csignal>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vx {

// The texts of a log's lines, without date and time: "yyyy/mm/dd - hh:mm:ss.zzz - text".
// Banners are kept to their first words ("========--- Log opened").
std::vector<std::string> LogTexts(const std::string& fileName);

bool Contains(const std::vector<std::string>& texts, const std::string& text);

// The lit LEDs of a unit (its RESET byte left out).
std::size_t NonZero(const SimBytes& unit);

// Waits until the last unit that the chain received is a frame of board count dark boards.
bool WaitForDarkChain(const SimProcess& sim, std::size_t boards);

// The real program as a process: a copy of it in a temporary folder of its own (where
// the program keeps its settings file and log), started on the offscreen platform. Every
// process still running at the end is killed and the folder removed.
class ProgramFolder {
 public:
  // A copy of programFile (the program by default) as "vorlixa". Raises
  // std::runtime_error when the folder cannot be made.
  explicit ProgramFolder(const std::string& programFile = VORLIXA_APP_PATH);
  ~ProgramFolder();
  ProgramFolder(const ProgramFolder&) = delete;
  ProgramFolder& operator=(const ProgramFolder&) = delete;

  const std::string& Folder() const { return folder_; }
  std::string Program() const { return folder_ + "/vorlixa"; }
  std::string LogFile() const { return folder_ + "/vorlixa.log"; }
  std::string SettingsFile() const { return folder_ + "/vorlixa.xml"; }

  // Starts a copy of the program in environment (offscreen, without a display added); the
  // folder owns the process. childSetup runs in the new process just before the program
  // is started there. A wrapper (a command with its arguments, such as a tracer) runs the
  // program when given.
  QProcess* Launch(QProcessEnvironment environment = QProcessEnvironment::systemEnvironment(),
                   const std::function<void()>& childSetup = {}, const QStringList& wrapper = {});
  bool WaitForLogText(const std::string& text, int limitMs = kWaitLimitMs) const;

  // Sends signal and gives the exit code; -1 when it did not end within limitMs or crashed.
  static int Terminate(QProcess* process, int signal = SIGTERM, int limitMs = kWaitLimitMs);

 private:
  std::string folder_;
  std::vector<std::unique_ptr<QProcess>> processes_;
};

}  // namespace vx
