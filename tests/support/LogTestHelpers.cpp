#include "LogTestHelpers.h"

#include "base/Exceptions.h"
#include "support/Log.h"
#include "support/unLog.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string_view>

namespace vx {

namespace {

constexpr const char* kScenarioVariable = "VORLIXA_LOG_TEST_SCENARIO";
constexpr const char* kFileVariable = "VORLIXA_LOG_TEST_FILE";

// Destroyed after the program-wide log when constructed before it was started, as
// any static object made early in a program run.
struct LateLogger {
  LateLogger() = default;
  LateLogger(const LateLogger&) = delete;
  LateLogger& operator=(const LateLogger&) = delete;
  ~LateLogger() {
    LogMessage("late line");
    LogException(EConvertError("late error"));
    LogExceptionWarning(EConvertError("late warning"));
  }
};

// Exit codes: 0 as expected, anything else with the reason on standard error.
int PlayScenario(std::string_view scenario, const std::string& fileName) {
  if (scenario == "late-calls") {
    static LateLogger late;
    StartAppLog(fileName);
    LogMessage("running");
    return 0;  // ends through std::exit, which destroys the static objects
  }
  if (scenario == "second-log") {
    TLog log;
    log.Append = false;
    try {
      log.SetLogFile(fileName);
    } catch (const EInOutError& e) {
      std::fprintf(stderr, "%d %s\n", e.ErrorCode, e.what());
      return e.ErrorCode == EBUSY && e.Message() == "Device or resource busy" ? 0 : 1;
    }
    std::fprintf(stderr, "the second log opened the file\n");
    return 2;
  }
  if (scenario == "second-applog") {
    const bool opened = StartAppLog(fileName);
    LogMessage("second copy");
    const bool ranWithoutFile = AppLog() != nullptr && !AppLog()->IsOpen();
    StopAppLog();
    return !opened && ranWithoutFile ? 0 : 2;
  }
  if (scenario == "one-line") {
    TLog log;
    log.SetLogFile(fileName);
    log.Log("line");
    return 0;
  }
  std::fprintf(stderr, "unknown scenario %s\n", std::string(scenario).c_str());
  return 99;
}

// A child started by RunLogChild plays its scenario before main, as a program run of
// its own, and never reaches the tests.
[[maybe_unused]] const bool childPlayed = [] {
  const char* scenario = std::getenv(kScenarioVariable);
  const char* fileName = std::getenv(kFileVariable);
  if (scenario == nullptr || fileName == nullptr) {
    return false;
  }
  std::exit(PlayScenario(scenario, fileName));
}();

}  // namespace

void WriteTextFile(const std::string& fileName, const std::string& content) {
  std::ofstream(fileName, std::ios::binary | std::ios::trunc) << content;
}

std::vector<std::string> CrLfLines(const std::string& content) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < content.size()) {
    const size_t end = content.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(content.substr(start));
      break;
    }
    lines.push_back(content.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

LogChildResult RunLogChild(const std::string& scenario, const std::string& fileName,
                           const std::vector<std::pair<std::string, std::string>>& environment) {
  QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
  variables.insert(kScenarioVariable, QString::fromStdString(scenario));
  variables.insert(kFileVariable, QString::fromStdString(fileName));
  // The English stamps that the tests read, whatever the locale they run under.
  variables.insert("LC_ALL", "C.UTF-8");
  for (const auto& [name, value] : environment) {
    variables.insert(QString::fromStdString(name), QString::fromStdString(value));
  }
  QProcess child;
  child.setProcessEnvironment(variables);
  child.start(QCoreApplication::applicationFilePath(), {});
  LogChildResult result;
  if (!child.waitForFinished(60000) || child.exitStatus() != QProcess::NormalExit) {
    child.kill();
    child.waitForFinished();
  } else {
    result.ExitCode = child.exitCode();
  }
  result.Errors = child.readAllStandardError().toStdString();
  return result;
}

}  // namespace vx
