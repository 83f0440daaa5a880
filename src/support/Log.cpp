#include "support/Log.h"

#include "base/Exceptions.h"
#include "base/Text.h"
#include "platform/SystemError.h"

#include <QLocale>
#include <QString>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <utility>

namespace vx {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The first character of a locale format that is neither a field letter, a digit, a
// blank nor quoted text.
std::string SeparatorOf(const QString& format, const char* fallback) {
  bool quoted = false;
  for (const QChar c : format) {
    if (c == QLatin1Char('\'')) {
      quoted = !quoted;
    } else if (!quoted && !c.isLetterOrNumber() && !c.isSpace() && !c.isSurrogate()) {
      return QString(c).toStdString();
    }
  }
  return fallback;
}

std::string Padded(int value, int width) {
  return Format("%0*d", width, value);
}

void CreateFolders(const std::filesystem::path& folder) {
  if (folder.empty()) {
    return;
  }
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    RaiseInOutError(error.value());
  }
}

}  // namespace

std::string LimitText(std::uint64_t maxSize) {
  constexpr std::uint64_t kMiB = std::uint64_t{1024} * 1024;
  const std::string size =
      maxSize % kMiB == 0 ? Format("%d MiB", maxSize / kMiB) : Format("%d bytes", maxSize);
  return Format("[-WARNING-] The log stops here: it has reached its limit of %s", size);
}

TDateTimeSeparators DateTimeSeparators(const QLocale& locale) {
  return {SeparatorOf(locale.dateFormat(QLocale::ShortFormat), "/"),
          SeparatorOf(locale.timeFormat(QLocale::ShortFormat), ":")};
}

TDateTimeParts CurrentLocalTime() {
  using std::chrono::system_clock;
  const system_clock::time_point now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const auto millisecond =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  // std::localtime shares its result buffer: fine, every log writer runs on the GUI thread.
  const std::tm* local = std::localtime(&seconds);
  if (local == nullptr) {
    return {};
  }
  return {local->tm_year + 1900,
          local->tm_mon + 1,
          local->tm_mday,
          local->tm_hour,
          local->tm_min,
          local->tm_sec,
          static_cast<int>(millisecond)};
}

std::string FormatDateTime(std::string_view pattern, const TDateTimeParts& when,
                           const TDateTimeSeparators& separators) {
  std::string out;
  bool afterHour = false;  // "mm" right after an hour means the minutes
  size_t i = 0;
  while (i < pattern.size()) {
    const char c = pattern[i];
    if (!IsAsciiLetter(c)) {
      if (c == '/') {
        out += separators.Date;
      } else if (c == ':') {
        out += separators.Time;
      } else {
        out += c;
      }
      ++i;
      continue;
    }
    const char letter = AsciiLower(c);
    size_t run = 1;
    while (i + run < pattern.size() && AsciiLower(pattern[i + run]) == letter) {
      ++run;
    }
    const bool single = run == 1;
    const bool pair = run == 2;
    const bool wasAfterHour = std::exchange(afterHour, false);
    if (letter == 'y' && run == 4) {
      out += Padded(when.Year, 4);
    } else if (letter == 'y' && pair) {
      out += Padded(when.Year % 100, 2);
    } else if (letter == 'm' && (single || pair)) {
      out += Padded(wasAfterHour ? when.Minute : when.Month, pair ? 2 : 1);
    } else if (letter == 'd' && (single || pair)) {
      out += Padded(when.Day, pair ? 2 : 1);
    } else if (letter == 'h' && (single || pair)) {
      out += Padded(when.Hour, pair ? 2 : 1);
      afterHour = true;
    } else if (letter == 'n' && (single || pair)) {
      out += Padded(when.Minute, pair ? 2 : 1);
    } else if (letter == 's' && (single || pair)) {
      out += Padded(when.Second, pair ? 2 : 1);
    } else if (letter == 'z' && (single || run == 3)) {
      out += Padded(when.Millisecond, single ? 1 : 3);
    } else {
      out.append(pattern.substr(i, run));
      afterHour = wasAfterHour;
    }
    i += run;
  }
  return out;
}

TLog::TLog(QObject* Owner) : QObject(Owner) {}

TLog::~TLog() {
  try {
    CloseLog();
  } catch (...) {
    // Nobody to tell: the file is closed either way.
  }
}

void TLog::SetLogFile(const std::string& value) {
  if (value == logFile_) {
    return;
  }
  CloseLog();
  logFile_ = value;
  OpenLog();
}

void TLog::SetEnabled(bool value) {
  if (value == enabled_) {
    return;
  }
  enabled_ = value;
  if (enabled_) {
    OpenLog();
  } else {
    CloseLog();
  }
}

void TLog::SetPutInTemp(bool value) {
  if (value == putInTemp_) {
    return;
  }
  CloseLog();
  putInTemp_ = value;
  OpenLog();
}

void TLog::Loaded() {
  loading_ = false;
  OpenLog();
}

std::string TLog::GetLogFileName() const {
  namespace fs = std::filesystem;
  if (logFile_.empty()) {
    return {};
  }
  const fs::path name(logFile_);
  std::error_code error;
  if (!putInTemp_ || name.is_absolute()) {
    const fs::path full = fs::absolute(name, error);
    if (error) {
      RaiseInOutError(error.value());
    }
    return full.lexically_normal().string();
  }
  const fs::path temp = fs::temp_directory_path(error);
  if (error || temp.empty()) {
    throw Exception("Unable to determine temp directory");
  }
  return (temp / name).lexically_normal().string();
}

void TLog::Log(const std::string& text) {
  WriteLine(text);
  if (OnMessage) {
    OnMessage(*this, text);
  }
}

void TLog::Warning(const std::string& text) {
  WriteLine("[-WARNING-] " + text);
  if (OnWarning) {
    OnWarning(*this, text);
  }
}

void TLog::Error(const std::string& text) {
  WriteLine("[-ERROR-] " + text);
  if (OnError) {
    OnError(*this, text);
  }
}

void TLog::OpenLog() {
  if (!enabled_ || loading_ || logFile_.empty()) {
    return;
  }
  CloseLog();
  separators_ = DateTimeSeparators(QLocale());
  const std::filesystem::path fileName(GetLogFileName());
  CreateFolders(fileName.parent_path());
  LockedFile file;
  size_ = 0;
  if (file.Open(fileName.string(), Append)) {
    file.Write(kLineEnd);  // keeps the runs apart
    size_ = file.Size();
  }
  file_ = std::move(file);
  open_ = true;
  maxSize_ = MaxSize;
  full_ = false;
  Put(Banner("Log opened") + std::string(kLineEnd));
}

void TLog::CloseLog() {
  if (!open_) {
    return;
  }
  // Closed and released even when the banner cannot be written.
  open_ = false;
  LockedFile file = std::move(file_);
  file.Write(Banner("Log closed") + std::string(kLineEnd));
  file.Close();
}

void TLog::WriteLine(const std::string& text) {
  if (!open_ || full_) {
    return;
  }
  std::string stamp;
  if (!DateFormat.empty()) {
    stamp += FormattedNow(DateFormat) + " - ";
  }
  if (!TimeFormat.empty()) {
    stamp += FormattedNow(TimeFormat) + " - ";
  }
  std::string line = stamp + PrintableText(text) + std::string(kLineEnd);
  if (maxSize_ != 0 && size_ + line.size() > maxSize_) {
    // A source that fails every second must not fill the disk over a long run.
    full_ = true;
    line = stamp + LimitText(maxSize_) + std::string(kLineEnd);
  }
  Put(line);
}

void TLog::Put(const std::string& bytes) {
  file_.Write(bytes);
  size_ += bytes.size();
}

// Each call reads the clock anew: a line's date and time are two readings.
std::string TLog::FormattedNow(const std::string& pattern) const {
  return FormatDateTime(pattern, CurrentLocalTime(), separators_);
}

std::string TLog::Banner(const char* what) const {
  std::string text = what;
  if (!DateFormat.empty()) {
    text += " --- " + FormattedNow(DateFormat);
  }
  if (!TimeFormat.empty()) {
    text += " --- " + FormattedNow(TimeFormat);
  }
  return "========--- " + text + " ---========";
}

}  // namespace vx
