#include "ProgramFolder.h"

#include "common/LogText.h"

#include <QProcessEnvironment>
#include <QStringList>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace vx {

namespace fs = std::filesystem;

std::vector<std::string> LogTexts(const std::string& fileName) {
  return LogLineTexts(fileName, true);
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

std::size_t NonZero(const SimBytes& unit) {
  return static_cast<std::size_t>(
      std::count_if(unit.begin() + 1, unit.end(), [](std::uint8_t b) { return b != 0; }));
}

bool WaitForDarkChain(const SimProcess& sim, std::size_t boards) {
  return WaitFor([&] {
    const std::vector<SimBytes> units = sim.Units();
    return !units.empty() && units.back().size() == 1 + 80 * boards && NonZero(units.back()) == 0;
  });
}

ProgramFolder::ProgramFolder(const std::string& programFile) {
  std::string pattern = (fs::temp_directory_path() / "vorlixa-program-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a folder for the program");
  }
  folder_ = pattern;
  // A copy, not a link: the program's folder is where its file really lies.
  fs::copy_file(programFile, Program());
}

ProgramFolder::~ProgramFolder() {
  for (const auto& process : processes_) {
    if (process->state() != QProcess::NotRunning) {
      process->kill();
      process->waitForFinished(kWaitLimitMs);
    }
  }
  processes_.clear();
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

QProcess* ProgramFolder::Launch(QProcessEnvironment environment,
                                const std::function<void()>& childSetup,
                                const QStringList& wrapper) {
  processes_.push_back(std::make_unique<QProcess>());
  QProcess* process = processes_.back().get();
  if (childSetup) {
    process->setChildProcessModifier(childSetup);
  }
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  environment.remove("DISPLAY");
  environment.remove("WAYLAND_DISPLAY");
  process->setProcessEnvironment(environment);
  process->setWorkingDirectory(QString::fromStdString(folder_));
  if (wrapper.isEmpty()) {
    process->start(QString::fromStdString(Program()), QStringList());
  } else {
    process->start(wrapper.front(), wrapper.mid(1) << QString::fromStdString(Program()));
  }
  return process;
}

bool ProgramFolder::WaitForLogText(const std::string& text, int limitMs) const {
  return WaitFor([&] { return Contains(LogTexts(LogFile()), text); }, limitMs);
}

int ProgramFolder::Terminate(QProcess* process, int signal, int limitMs) {
  ::kill(static_cast<pid_t>(process->processId()), signal);
  if (!WaitFor([process] { return process->state() == QProcess::NotRunning; }, limitMs)) {
    return -1;
  }
  return process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
}

}  // namespace vx
