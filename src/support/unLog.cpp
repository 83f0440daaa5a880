#include "support/unLog.h"

#include "base/Exceptions.h"
#include "support/FilePlaces.h"
#include "support/Log.h"

#include <cstdio>
#include <memory>
#include <utility>

namespace vx {

namespace {

// A plain pointer, so that it still reads as "gone" for calls made while the program's
// static objects are destroyed.
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables): the program's one log
constinit TLog* appLog = nullptr;
// Whether a failed write has been reported in this run; later ones are dropped quietly.
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables): belongs to that log
constinit bool writeFailureReported = false;

// Stops AppLog when the program's static objects are destroyed, if nobody did before.
struct AppLogEnd {
  AppLogEnd() = default;
  AppLogEnd(const AppLogEnd&) = delete;
  AppLogEnd& operator=(const AppLogEnd&) = delete;
  ~AppLogEnd() { StopAppLog(); }
};

// Runs one write into AppLog; a failure is reported once and goes no further.
template <typename Write>
void Guarded(Write write) noexcept {
  if (appLog == nullptr) {
    return;
  }
  try {
    write(*appLog);
  } catch (const std::exception& e) {
    if (!writeFailureReported) {
      writeFailureReported = true;
      std::fprintf(stderr, "Log file %s not written: %s\n", appLog->LogFile().c_str(), e.what());
    }
  } catch (...) {
    // Nothing else comes from writing a line; whatever it was, the caller goes on.
  }
}

}  // namespace

TLog* AppLog() noexcept {
  return appLog;
}

std::string AppLogFileName() {
  return ProgramFilePlaces().LogFile;
}

bool StartAppLog(const std::string& fileName) {
  // Constructed at the first start, so it is destroyed after every static object made
  // later, which can thus still log from its destructor.
  static AppLogEnd end;
  StopAppLog();
  writeFailureReported = false;
  auto log = std::make_unique<TLog>();
  log->Append = false;
  log->MaxSize = kAppLogMaxSize;
  appLog = log.release();
  try {
    appLog->SetLogFile(fileName);
    appLog->SetEnabled(true);
  } catch (const EInOutError& e) {
    std::fprintf(stderr, "Log file %s not written: %s\n", fileName.c_str(), e.what());
    writeFailureReported = true;
    return false;
  }
  return true;
}

void StopAppLog() noexcept {
  std::unique_ptr<TLog> log(std::exchange(appLog, nullptr));
  if (!log) {
    return;
  }
  try {
    log->SetEnabled(false);
  } catch (...) {
    // At the end of the program nobody is left to show it to.
  }
}

void LogMessage(const std::string& text) {
  Guarded([&](TLog& log) { log.Log(text); });
}

void LogException(const std::exception& e) {
  Guarded([&](TLog& log) { log.ErrorFmt("%s - %s", ExceptionClassName(e), e.what()); });
}

void LogExceptionWarning(const std::exception& e) {
  Guarded([&](TLog& log) { log.WarningFmt("%s - %s", ExceptionClassName(e), e.what()); });
}

void LogWarning(const std::string& text) {
  Guarded([&](TLog& log) { log.Warning(text); });
}

void LogError(const std::string& text) {
  Guarded([&](TLog& log) { log.Error(text); });
}

}  // namespace vx
