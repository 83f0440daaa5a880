#include "LogTestHelpers.h"
#include "base/Exceptions.h"
#include "common/ScopedEnvironment.h"
#include "common/TestFiles.h"
#include "platform/SystemError.h"
#include "support/Log.h"

#include <QDir>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

namespace vx {

namespace {

// Stamps with the separators of the C locale, which the fixtures use.
const std::string kDate = R"(\d{4}/\d{2}/\d{2})";
const std::string kTime = R"(\d{2}:\d{2}:\d{2}\.\d{3})";
const std::string kStamp = kDate + " - " + kTime + " - ";

std::string OpenedBanner() {
  return "========--- Log opened --- " + kDate + " --- " + kTime + " ---========";
}
std::string ClosedBanner() {
  return "========--- Log closed --- " + kDate + " --- " + kTime + " ---========";
}

bool Matches(const std::string& text, const std::string& pattern) {
  return std::regex_match(text, std::regex(pattern));
}

// Every line of the file, checked to end in CR LF (no bare LF, no unterminated last line).
std::vector<std::string> FileLines(const std::string& fileName) {
  const std::string content = ReadText(fileName);
  EXPECT_TRUE(content.empty() || content.ends_with("\r\n")) << content;
  for (size_t i = content.find('\n'); i != std::string::npos; i = content.find('\n', i + 1)) {
    EXPECT_TRUE(i > 0 && content[i - 1] == '\r') << "bare LF at " << i;
  }
  return CrLfLines(content);
}

const TDateTimeParts kSample{2026, 12, 6, 21, 37, 30, 123};
const TDateTimeParts kEarly{2026, 3, 4, 5, 6, 7, 8};

class TLogTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& name) const {
    return dir_.filePath(QString::fromStdString(name)).toStdString();
  }

  QTemporaryDir dir_;
  ScopedDefaultLocale locale_{QLocale::c()};
};

}  // namespace

// --- Date and time patterns -------------------------------------------------------

TEST(FormatDateTime, DefaultPatternsWriteTheGivenSeparators) {
  const TDateTimeSeparators english{"/", ":"};
  EXPECT_EQ(FormatDateTime("yyyy/mm/dd", kSample, english), "2026/12/06");
  EXPECT_EQ(FormatDateTime("hh:mm:ss.zzz", kSample, english), "21:37:30.123");
  const TDateTimeSeparators dots{".", "."};
  EXPECT_EQ(FormatDateTime("yyyy/mm/dd", kSample, dots), "2026.12.06");
  EXPECT_EQ(FormatDateTime("hh:mm:ss.zzz", kSample, dots), "21.37.30.123");
  // Only "/" and ":" follow the locale; other characters stand for themselves.
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh.nn", kSample, dots), "2026-12-06 21.37");
}

TEST(FormatDateTime, ShortFormsCaseAndMinutesAfterTheHour) {
  const TDateTimeSeparators english{"/", ":"};
  EXPECT_EQ(FormatDateTime("d/m/yy h:m:s.z", kEarly, english), "4/3/26 5:6:7.8");
  EXPECT_EQ(FormatDateTime("DD.MM.YYYY HH:NN:SS.ZZZ", kEarly, english), "04.03.2026 05:06:07.008");
  // "mm" is the month unless an hour came right before it.
  EXPECT_EQ(FormatDateTime("mm hh mm", kEarly, english), "03 05 06");
  EXPECT_EQ(FormatDateTime("hh ss mm", kEarly, english), "05 07 03");
  // Letter runs that are no field are written as they stand.
  EXPECT_EQ(FormatDateTime("yyy ddd [x]", kEarly, english), "yyy ddd [x]");
  EXPECT_EQ(FormatDateTime("", kEarly, english), "");
}

struct LocaleSeparatorCase {
  const char* Locale;
  const char* Date;
  const char* Time;
};

void PrintTo(const LocaleSeparatorCase& c, std::ostream* out) {
  *out << c.Locale;
}

class LocaleSeparators : public ::testing::TestWithParam<LocaleSeparatorCase> {};

TEST_P(LocaleSeparators, ComeFromTheShortFormats) {
  const TDateTimeSeparators separators = DateTimeSeparators(QLocale(GetParam().Locale));
  EXPECT_EQ(separators.Date, GetParam().Date);
  EXPECT_EQ(separators.Time, GetParam().Time);
}

// C has blanks only in its short date and fr_CA quotes its time letters: both fall back.
INSTANTIATE_TEST_SUITE_P(Locales, LocaleSeparators,
                         ::testing::Values(LocaleSeparatorCase{"C", "/", ":"},
                                           LocaleSeparatorCase{"en_US", "/", ":"},
                                           LocaleSeparatorCase{"de_DE", ".", ":"},
                                           LocaleSeparatorCase{"fi_FI", ".", "."},
                                           LocaleSeparatorCase{"nl_NL", "-", ":"},
                                           LocaleSeparatorCase{"fr_CA", "-", ":"}),
                         [](const auto& testCase) { return std::string(testCase.param.Locale); });

TEST_F(TLogTest, LinesFollowTheDefaultLocale) {
  ScopedDefaultLocale german(QLocale(QLocale::German, QLocale::Germany));
  const std::string fileName = PathOf("de.log");
  {
    TLog log;
    log.SetLogFile(fileName);
    log.Log("Zeile");
  }
  const auto lines = FileLines(fileName);
  ASSERT_EQ(lines.size(), 3U);
  EXPECT_TRUE(Matches(lines[0], R"(========--- Log opened --- \d{4}\.\d{2}\.\d{2} --- )"
                                R"(\d{2}:\d{2}:\d{2}\.\d{3} ---========)"))
      << lines[0];
  EXPECT_TRUE(Matches(lines[1], R"(\d{4}\.\d{2}\.\d{2} - \d{2}:\d{2}:\d{2}\.\d{3} - Zeile)"))
      << lines[1];
}

// The cases that start a process (see tests/CMakeLists.txt).
using TLogSystem = TLogTest;

TEST_F(TLogSystem, LinesFollowTheUsersLocaleFromTheEnvironment) {
  // A program run of its own, so that the system locale is read from LC_ALL afresh.
  const std::string fileName = PathOf("env.log");
  const LogChildResult child = RunLogChild("one-line", fileName, {{"LC_ALL", "fi_FI.UTF-8"}});
  ASSERT_EQ(child.ExitCode, 0) << child.Errors;
  const auto lines = FileLines(fileName);
  ASSERT_EQ(lines.size(), 3U);
  EXPECT_TRUE(Matches(lines[1], R"(\d{4}\.\d{2}\.\d{2} - \d{2}\.\d{2}\.\d{2}\.\d{3} - line)"))
      << lines[1];
}

// --- Lines and banners --------------------------------------------------------------

TEST_F(TLogTest, DefaultLinesCarryStampPrefixAndCrLf) {
  const std::string fileName = PathOf("app.log");
  {
    TLog log;
    log.SetLogFile(fileName);
    EXPECT_TRUE(log.IsOpen());
    log.Log("Update: Get version");
    log.Warning("low");
    log.Error("EConvertError - '$' is not a valid integer value");
    log.LogFmt("%s %d of %.2f", "step", 3, 4.5);
  }
  const auto lines = FileLines(fileName);
  ASSERT_EQ(lines.size(), 6U);
  EXPECT_TRUE(Matches(lines[0], OpenedBanner())) << lines[0];
  EXPECT_TRUE(Matches(lines[1], kStamp + "Update: Get version")) << lines[1];
  EXPECT_TRUE(Matches(lines[2], kStamp + R"(\[-WARNING-\] low)")) << lines[2];
  EXPECT_TRUE(Matches(lines[3], kStamp + R"(\[-ERROR-\] EConvertError - '\$' is not a valid )"
                                         "integer value"))
      << lines[3];
  EXPECT_TRUE(Matches(lines[4], kStamp + "step 3 of 4.50")) << lines[4];
  EXPECT_TRUE(Matches(lines[5], ClosedBanner())) << lines[5];
}

TEST_F(TLogTest, EmptyPatternsLeaveDateOrTimeAndTheirSeparatorOut) {
  const std::string fileName = PathOf("app.log");
  TLog log;
  log.DateFormat = "";
  log.SetLogFile(fileName);
  log.Log("no date");
  // Patterns are read per line: no re-opening, the next line already differs.
  log.TimeFormat = "";
  log.DateFormat = "dd";
  log.Log("day only");
  log.DateFormat = "";
  log.Warning("bare");
  log.SetEnabled(false);
  const auto lines = FileLines(fileName);
  ASSERT_EQ(lines.size(), 5U);
  EXPECT_TRUE(Matches(lines[0], "========--- Log opened --- " + kTime + " ---========"))
      << lines[0];
  EXPECT_TRUE(Matches(lines[1], kTime + " - no date")) << lines[1];
  EXPECT_TRUE(Matches(lines[2], R"(\d{2} - day only)")) << lines[2];
  EXPECT_EQ(lines[3], "[-WARNING-] bare");
  EXPECT_EQ(lines[4], "========--- Log closed ---========");
}

// Text from outside (a server's reply, a device name) may hold line breaks, terminal
// escapes, bidi overrides and bytes that are not UTF-8. In the file each becomes "?", so no line
// can be forged and nothing reaches the terminal that shows the log; the listeners get the text as
// it came.
TEST_F(TLogTest, ControlCharactersFromOutsideBecomeQuestionMarks) {
  const std::string fileName = PathOf("app.log");
  const std::string reply =
      "Build=1\r\n2026/12/06 - 21:37:30.123 - forged\x1b]0;title\x07\t"
      "\xc2\x9b"
      "2J \x9b"
      "2J \x7f \xc0\xaf \xed\xa0\x80 Gr\xc3\xbc\xc3\x9f"
      "e \xe2\x82\xac "
      "\xf0\x9f\x92\xa1 "
      // a right-to-left override, an isolate, the line and paragraph separators, a
      // zero-width no-break space and a language tag; the narrow no-break space stays
      "\xe2\x80\xaetxt\xe2\x81\xa6\xe2\x80\xa8\xe2\x80\xa9\xef\xbb\xbf\xf3\xa0\x80\x81\xe2\x80\xaf"
      " \xe2\x82";
  std::vector<std::string> heard;
  {
    TLog log;
    log.DateFormat = "";
    log.TimeFormat = "";
    log.OnWarning = [&](TLog&, const std::string& sMsg) { heard.push_back(sMsg); };
    log.SetLogFile(fileName);
    log.Warning(reply);
  }
  const auto lines = FileLines(fileName);
  ASSERT_EQ(lines.size(), 3U);
  EXPECT_EQ(lines[1],
            "[-WARNING-] Build=1??2026/12/06 - 21:37:30.123 - forged?]0;title??"
            "?2J ?2J ? ?? ??? Gr\xc3\xbc\xc3\x9f"
            "e \xe2\x82\xac \xf0\x9f\x92\xa1 ?txt?????\xe2\x80\xaf ??");
  EXPECT_EQ(heard, std::vector<std::string>{reply});
}

// A source that fails every second writes a line a second for as long as the program
// runs. The file stops at its limit with one line that says so; the closing banner still
// follows, and the listeners still hear every line.
TEST_F(TLogTest, TheFileStopsAtItsLimitWithALineThatSaysSo) {
  const std::string fileName = PathOf("app.log");
  int heard = 0;
  {
    TLog log;
    log.MaxSize = 4096;
    log.OnMessage = [&](TLog&, const std::string&) { ++heard; };
    log.SetLogFile(fileName);
    for (int i = 0; i < 200; ++i) {
      log.LogFmt("Port COM3 lost %d", i);
    }
  }
  EXPECT_EQ(heard, 200);
  const std::string text = ReadText(fileName);
  const auto lines = CrLfLines(text);
  ASSERT_GE(lines.size(), 3U);
  EXPECT_TRUE(Matches(lines[lines.size() - 2],
                      kStamp + R"(\[-WARNING-\] The log stops here: it has reached its limit )"
                               "of 4096 bytes"))
      << lines[lines.size() - 2];
  EXPECT_TRUE(Matches(lines.back(), ClosedBanner())) << lines.back();
  EXPECT_TRUE(Matches(lines[lines.size() - 3], kStamp + R"(Port COM3 lost \d+)"));
  // Every line before the last one fits: the file ends below the limit plus those two.
  EXPECT_LE(text.size() - lines[lines.size() - 2].size() - lines.back().size() - 4, 4096U);
  EXPECT_GT(text.size(), 4096U - 64);
}

TEST_F(TLogTest, ListenersGetTheBareTextWhetherOpenOrNot) {
  TLog log;
  std::vector<std::string> heard;
  const auto listener = [&](const char* kind) {
    return [&heard, &log, kind](TLog& Sender, const std::string& sMsg) {
      EXPECT_EQ(&Sender, &log);
      heard.push_back(std::string(kind) + sMsg);
    };
  };
  log.OnMessage = listener("M:");
  log.OnWarning = listener("W:");
  log.OnError = listener("E:");
  log.Log("closed");  // no file name: nothing written, still reported
  log.SetLogFile(PathOf("app.log"));
  log.Log("plain");
  log.WarningFmt("%s=%d", "a", 1);
  log.ErrorFmt("%s", "bad");
  log.SetEnabled(false);
  log.Error("disabled");
  EXPECT_EQ(heard,
            (std::vector<std::string>{"M:closed", "M:plain", "W:a=1", "E:bad", "E:disabled"}));
  EXPECT_EQ(FileLines(PathOf("app.log")).size(), 5U);  // banner, three lines, banner
}

TEST_F(TLogTest, FormatErrorsReachTheCallerAndWriteNothing) {
  TLog log;
  int events = 0;
  log.OnWarning = [&](TLog&, const std::string&) { ++events; };
  log.SetLogFile(PathOf("app.log"));
  EXPECT_ANY_THROW(log.WarningFmt("%d", "not a number"));
  EXPECT_ANY_THROW(log.LogFmt("%s %s", "one"));
  EXPECT_EQ(events, 0);
  EXPECT_EQ(FileLines(PathOf("app.log")).size(), 1U);
}

// --- Opening and re-opening ---------------------------------------------------------

TEST_F(TLogTest, SettingTheSameNameKeepsTheFileAndANewNameMovesTheLog) {
  const std::string first = PathOf("first.log");
  const std::string second = PathOf("second.log");
  TLog log;
  log.SetLogFile(first);
  log.SetLogFile(first);
  ASSERT_EQ(FileLines(first).size(), 1U);
  log.SetLogFile(second);
  const auto old = FileLines(first);
  ASSERT_EQ(old.size(), 2U);
  EXPECT_TRUE(Matches(old[1], ClosedBanner()));
  const auto fresh = FileLines(second);
  ASSERT_EQ(fresh.size(), 1U);
  EXPECT_TRUE(Matches(fresh[0], OpenedBanner()));
  // An empty name closes the log for good.
  log.SetLogFile("");
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(FileLines(second).size(), 2U);
}

TEST_F(TLogTest, SwitchingOffAndOnAppendsASeparatedRun) {
  const std::string fileName = PathOf("app.log");
  TLog log;
  log.SetLogFile(fileName);
  log.Log("first run");
  log.SetEnabled(false);
  log.Log("dropped");
  log.SetEnabled(true);
  const auto lines = FileLines(fileName);
  ASSERT_EQ(lines.size(), 5U);
  EXPECT_TRUE(Matches(lines[2], ClosedBanner()));
  EXPECT_EQ(lines[3], "");
  EXPECT_TRUE(Matches(lines[4], OpenedBanner()));
}

TEST_F(TLogTest, WithoutAppendReopeningStartsFromEmpty) {
  const std::string fileName = PathOf("app.log");
  WriteTextFile(fileName, "previous run\r\n");
  TLog log;
  log.Append = false;
  log.SetLogFile(fileName);
  log.Log("line");
  log.SetEnabled(false);
  log.SetEnabled(true);
  const auto lines = FileLines(fileName);
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_TRUE(Matches(lines[0], OpenedBanner()));
}

TEST_F(TLogTest, AppendKeepsAnExistingFileAndTakesEffectAtTheNextOpening) {
  const std::string fileName = PathOf("app.log");
  WriteTextFile(fileName, "previous run\r\n");
  TLog log;
  log.SetLogFile(fileName);
  const std::string appended = ReadText(fileName);
  const auto lines = CrLfLines(appended);
  ASSERT_EQ(lines.size(), 3U);
  EXPECT_EQ(lines[0], "previous run");
  EXPECT_EQ(lines[1], "");
  EXPECT_TRUE(Matches(lines[2], OpenedBanner()));
  // Stored only: the open file is left as it is.
  log.Append = false;
  EXPECT_EQ(ReadText(fileName), appended);
  log.SetEnabled(false);
  log.SetEnabled(true);
  EXPECT_EQ(FileLines(fileName).size(), 1U);
}

TEST_F(TLogTest, NothingOpensWhileLoadingDisabledOrWithoutAName) {
  const std::string fileName = PathOf("app.log");
  TLog log;
  log.SetEnabled(false);
  log.SetEnabled(true);  // no name yet
  log.BeginLoad();
  log.SetLogFile(fileName);
  log.SetEnabled(false);
  log.SetEnabled(true);
  log.SetPutInTemp(false);
  EXPECT_FALSE(std::filesystem::exists(fileName));
  log.Loaded();
  EXPECT_TRUE(log.IsOpen());

  TLog disabled;
  disabled.SetEnabled(false);
  disabled.SetLogFile(PathOf("disabled.log"));
  disabled.Log("dropped");
  EXPECT_FALSE(std::filesystem::exists(PathOf("disabled.log")));
  disabled.Loaded();
  EXPECT_FALSE(disabled.IsOpen());
}

TEST_F(TLogTest, RelativeNamesUseTheCurrentFolderAndMissingFoldersAreCreated) {
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir_.path()));
  std::string resolved;
  {
    TLog log;
    log.SetLogFile("a/b/../c/app.log");
    resolved = log.GetLogFileName();
  }
  QDir::setCurrent(previous);
  EXPECT_EQ(resolved, PathOf("a/c/app.log"));
  EXPECT_EQ(FileLines(PathOf("a/c/app.log")).size(), 2U);
}

TEST_F(TLogTest, PutInTempMovesRelativeNamesIntoTheTemporaryFolder) {
  const std::string temp = PathOf("temp");
  std::filesystem::create_directory(temp);
  ScopedEnvironment tmpdir("TMPDIR", temp);
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir_.path()));
  TLog log;
  log.SetLogFile("sub/app.log");
  log.SetPutInTemp(true);
  QDir::setCurrent(previous);
  EXPECT_EQ(log.GetLogFileName(), temp + "/sub/app.log");
  EXPECT_EQ(FileLines(temp + "/sub/app.log").size(), 1U);
  // Switching it on closed the log in the current folder.
  EXPECT_EQ(FileLines(PathOf("sub/app.log")).size(), 2U);
  // An absolute name is used as it stands.
  log.SetLogFile(PathOf("abs.log"));
  EXPECT_EQ(log.GetLogFileName(), PathOf("abs.log"));
  EXPECT_TRUE(std::filesystem::exists(PathOf("abs.log")));
}

TEST_F(TLogTest, PutInTempWithoutATemporaryFolderFails) {
  ScopedEnvironment tmpdir("TMPDIR", PathOf("missing"));
  TLog log;
  log.SetLogFile(PathOf("abs.log"));
  log.SetPutInTemp(true);  // absolute: the temporary folder is not asked
  EXPECT_TRUE(log.IsOpen());
  try {
    log.SetLogFile("app.log");
    FAIL() << "opened without a temporary folder";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Unable to determine temp directory");
  }
  EXPECT_EQ(log.LogFile(), "app.log");
  EXPECT_FALSE(log.IsOpen());
}

// --- Failing file operations ------------------------------------------------------

namespace {

// Runs action and returns the EInOutError it raises.
template <typename Action>
EInOutError InOutErrorOf(Action action) {
  try {
    action();
  } catch (const EInOutError& e) {
    return e;
  }
  ADD_FAILURE() << "no EInOutError";
  return EInOutError("", 0);
}

}  // namespace

TEST(InOutErrorMessage, SystemTextOrGenericText) {
  EXPECT_EQ(InOutErrorMessage(ENOSPC), "No space left on device");
  EXPECT_EQ(InOutErrorMessage(9999), "I/O error 9999");
  const EInOutError e = InOutErrorOf([] { RaiseInOutError(EACCES); });
  EXPECT_EQ(e.ErrorCode, EACCES);
  EXPECT_EQ(e.Message(), "Permission denied");
}

TEST_F(TLogTest, FailingCreationReportsTheSystemError) {
  TLog log;
  const EInOutError folder = InOutErrorOf([&] { log.SetLogFile(dir_.path().toStdString()); });
  EXPECT_EQ(folder.ErrorCode, EISDIR);
  EXPECT_EQ(folder.Message(), "Is a directory");
  EXPECT_FALSE(log.IsOpen());

  WriteTextFile(PathOf("plain"), "x");
  const EInOutError throughFile =
      InOutErrorOf([&] { log.SetLogFile(PathOf("plain/sub/app.log")); });
  EXPECT_EQ(throughFile.ErrorCode, ENOTDIR);
  EXPECT_EQ(throughFile.Message(), "Not a directory");
  EXPECT_FALSE(log.IsOpen());
}

TEST_F(TLogTest, FailingWritesReachTheWriter) {
  // /dev/full accepts the open and refuses every byte.
  TLog appending;
  const EInOutError separator = InOutErrorOf([&] { appending.SetLogFile("/dev/full"); });
  EXPECT_EQ(separator.ErrorCode, ENOSPC);
  EXPECT_EQ(separator.Message(), "No space left on device");
  EXPECT_FALSE(appending.IsOpen());

  TLog log;
  log.Append = false;
  EXPECT_EQ(InOutErrorOf([&] { log.SetLogFile("/dev/full"); }).ErrorCode, ENOSPC);
  EXPECT_TRUE(log.IsOpen());  // opened; only its banner was refused
  EXPECT_EQ(InOutErrorOf([&] { log.Log("line"); }).ErrorCode, ENOSPC);
  EXPECT_EQ(InOutErrorOf([&] { log.SetEnabled(false); }).ErrorCode, ENOSPC);
  EXPECT_FALSE(log.IsOpen());  // closed all the same
  EXPECT_NO_THROW(log.Log("dropped"));
}

// --- One writer at a time ---------------------------------------------------------

TEST_F(TLogTest, ASecondLogOnTheSameFileFailsAndLeavesTheFirstIntact) {
  const std::string fileName = PathOf("app.log");
  TLog first;
  first.SetLogFile(fileName);
  first.Log("first line");
  const std::string before = ReadText(fileName);
  {
    TLog second;
    second.Append = false;
    const EInOutError busy = InOutErrorOf([&] { second.SetLogFile(fileName); });
    EXPECT_EQ(busy.ErrorCode, EBUSY);
    EXPECT_EQ(busy.Message(), "Device or resource busy");
    EXPECT_FALSE(second.IsOpen());
  }
  EXPECT_EQ(ReadText(fileName), before);
  first.Log("still writing");
  EXPECT_EQ(FileLines(fileName).size(), 3U);
  // Closing releases the file for the next writer.
  first.SetEnabled(false);
  TLog third;
  third.Append = false;
  third.SetLogFile(fileName);
  EXPECT_EQ(FileLines(fileName).size(), 1U);
}

TEST_F(TLogSystem, ASecondProgramRunCannotTruncateTheLog) {
  const std::string fileName = PathOf("app.log");
  TLog first;
  first.SetLogFile(fileName);
  first.Log("first line");
  const std::string before = ReadText(fileName);
  const LogChildResult child = RunLogChild("second-log", fileName);
  EXPECT_EQ(child.ExitCode, 0) << child.Errors;
  EXPECT_EQ(ReadText(fileName), before);
}

TEST_F(TLogSystem, TheLockIsVisibleToOthersAndNotInheritedByStartedPrograms) {
  const std::string fileName = PathOf("app.log");
  const auto othersLockExitCode = [&] {
    // flock(1) exits with the conflict code while another holder has the lock.
    return QProcess::execute("flock", {"--nonblock", "--conflict-exit-code", "7",
                                       QString::fromStdString(fileName), "true"});
  };
  TLog log;
  log.SetLogFile(fileName);
  EXPECT_EQ(othersLockExitCode(), 7);
  QProcess started;  // stands for a program that we start, as a setup
  started.start("sleep", {"30"});
  ASSERT_TRUE(started.waitForStarted());
  log.SetEnabled(false);
  EXPECT_EQ(othersLockExitCode(), 0);
  started.kill();
  started.waitForFinished();
}

}  // namespace vx
