#pragma once

#include "base/Format.h"

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace vx {

class TLog;

// The program-wide log, or nullptr before StartAppLog and after StopAppLog. All log
// routines run on the GUI thread.
TLog* AppLog() noexcept;

// The program-wide log's file of this run (ProgramFilePlaces): beside the program file,
// named like it with ".log", or the user's vorlixa.log for an installed program.
std::string AppLogFileName();

// The program-wide log stops at this size with a line that says so (TLog::MaxSize).
inline constexpr std::uint64_t kAppLogMaxSize = std::uint64_t{10} * 1024 * 1024;

// Creates AppLog writing to fileName, emptied first, limited to kAppLogMaxSize. If the file cannot
// be opened (no write permission, or held by a running copy of the program, whose log is then left
// untouched), the reason goes to standard error, AppLog runs without a file (its lines
// are dropped, its events still fire) and the result is false. A running AppLog is
// stopped first. Program end stops it by itself, after everything destroyed before it.
bool StartAppLog(const std::string& fileName = AppLogFileName());

// Writes the "Log closed" banner and destroys AppLog; the log routines drop their
// lines from then on.
void StopAppLog() noexcept;

// The routines below never raise: a line that cannot be written (a full disk, an I/O
// error) is dropped, and the first such failure of a run is reported on standard error.
// The program's stop and exit must not end half-way for the sake of a log line.

void LogMessage(const std::string& text);

template <typename... Args>
void LogMessageFmt(std::string_view pattern, const Args&... args) {
  LogMessage(Format(pattern, args...));
}

// An error line "<class name> - <message>".
void LogException(const std::exception& e);

// A warning line "<class name> - <message>".
void LogExceptionWarning(const std::exception& e);

// A warning line and an error line with text as it is.
void LogWarning(const std::string& text);
void LogError(const std::string& text);

}  // namespace vx
