#pragma once

#include "base/Format.h"
#include "platform/LockedFile.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class QLocale;

namespace vx {

class TLog;

// Sender is the log; sMsg the text as the caller gave it or as formatted, without the
// stamp and without a prefix.
using TLogMessageEvent = std::function<void(TLog& Sender, const std::string& sMsg)>;

// What "/" and ":" in a date or time pattern write.
struct TDateTimeSeparators {
  std::string Date;
  std::string Time;
};

// The separators of locale, taken from its short date and time formats; "/" and ":"
// where a format has none (the C locale writes its short date with blanks).
TDateTimeSeparators DateTimeSeparators(const QLocale& locale);

// A local date and time, as the clock gave it.
struct TDateTimeParts {
  int Year = 0;
  int Month = 1;  // 1..12
  int Day = 1;    // 1..31
  int Hour = 0;   // 0..23
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;
};

// One reading of the clock in local time.
TDateTimeParts CurrentLocalTime();

// The text of a log's last line when it reaches maxSize bytes.
std::string LimitText(std::uint64_t maxSize);

// Formats when by pattern: yyyy and yy the year, mm and m the month (the minutes right
// after an hour), dd and d the day, hh and h the hour 0..23, nn and n the minutes, ss and
// s the seconds, zzz and z the milliseconds; the doubled forms are zero-padded, letters
// match in either case. "/" and ":" write the separators; every other character, and a
// letter run not listed here, stands for itself.
std::string FormatDateTime(std::string_view pattern, const TDateTimeParts& when,
                           const TDateTimeSeparators& separators);

// A text log file: time-stamped lines, each handed to the system at once, every
// opening and closing framed by a banner. "/" and ":" in the patterns write the
// separators of QLocale() as they were when the log was opened. Control characters and
// bytes that are not UTF-8 in a line's text are written as "?" (PrintableText); the
// events get the text as it was given. The file is held for writing by this log alone
// and can be read by anyone while it is open; a symbolic link in its place is not
// followed. File errors are raised as EInOutError to whoever set the property or wrote
// the line.
class TLog : public QObject {
  Q_OBJECT

 public:
  // Sets the defaults; does not open.
  explicit TLog(QObject* Owner = nullptr);
  // Writes the "Log closed" banner first; a failure to do so is lost, as a destructor
  // cannot report it.
  ~TLog() override;
  TLog(const TLog&) = delete;
  TLog& operator=(const TLog&) = delete;

  // Add to an existing file on the next opening instead of emptying it.
  bool Append = true;
  std::string DateFormat = "yyyy/mm/dd";    // empty: no date in lines and banners
  std::string TimeFormat = "hh:mm:ss.zzz";  // empty: no time in lines and banners
  // The file's limit in bytes, 0 for none: the line that would pass it is replaced by one
  // that says the log stops here (LimitText), and only the closing banner follows it.
  // Takes effect on the next opening.
  std::uint64_t MaxSize = 0;
  TLogMessageEvent OnMessage;
  TLogMessageEvent OnWarning;
  TLogMessageEvent OnError;

  const std::string& LogFile() const { return logFile_; }
  // A different name closes the log and opens it under the new one.
  void SetLogFile(const std::string& value);
  bool Enabled() const { return enabled_; }
  // On opens the file, off closes it.
  void SetEnabled(bool value);
  bool PutInTemp() const { return putInTemp_; }
  // Puts a relative LogFile into the temporary folder; a change re-opens the log.
  void SetPutInTemp(bool value);

  // Between BeginLoad and Loaded the properties are only stored, as while a component
  // is read from a description; Loaded then opens the log once.
  void BeginLoad() { loading_ = true; }
  void Loaded();

  bool IsOpen() const { return open_; }
  // The full name of the file that opening uses.
  std::string GetLogFileName() const;

  void Log(const std::string& text);
  void Warning(const std::string& text);
  void Error(const std::string& text);

  template <typename... Args>
  void LogFmt(std::string_view pattern, const Args&... args) {
    Log(Format(pattern, args...));
  }
  template <typename... Args>
  void WarningFmt(std::string_view pattern, const Args&... args) {
    Warning(Format(pattern, args...));
  }
  template <typename... Args>
  void ErrorFmt(std::string_view pattern, const Args&... args) {
    Error(Format(pattern, args...));
  }

 private:
  void OpenLog();
  void CloseLog();
  void WriteLine(const std::string& text);
  // Writes bytes to the open file and counts them.
  void Put(const std::string& bytes);
  std::string Banner(const char* what) const;
  std::string FormattedNow(const std::string& pattern) const;

  std::string logFile_;
  bool enabled_ = true;
  bool putInTemp_ = false;
  bool loading_ = false;
  bool open_ = false;
  std::uint64_t maxSize_ = 0;  // MaxSize as it was at the opening
  std::uint64_t size_ = 0;     // of the open file, as far as we know
  bool full_ = false;          // the limit's line has been written: nothing more
  // Read when opening, so that closing needs no locale data: the program-wide log
  // closes while the program's static objects, Qt's among them, are destroyed.
  TDateTimeSeparators separators_;
  LockedFile file_;
};

}  // namespace vx
