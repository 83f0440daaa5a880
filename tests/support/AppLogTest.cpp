#include "LogTestHelpers.h"
#include "base/Exceptions.h"
#include "base/Numbers.h"
#include "common/TestFiles.h"
#include "platform/ProgramFile.h"
#include "support/Log.h"
#include "support/unLog.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

namespace vx {

namespace {

const std::string kStamp = R"(\d{4}/\d{2}/\d{2} - \d{2}:\d{2}:\d{2}\.\d{3} - )";

bool Matches(const std::string& text, const std::string& pattern) {
  return std::regex_match(text, std::regex(pattern));
}

// Every test starts and ends without a program-wide log.
class AppLogTest : public ::testing::Test {
 protected:
  void SetUp() override { StopAppLog(); }
  void TearDown() override { StopAppLog(); }
  std::string PathOf(const std::string& name) const {
    return dir_.filePath(QString::fromStdString(name)).toStdString();
  }

  QTemporaryDir dir_;
  ScopedDefaultLocale locale_{QLocale::c()};
};

}  // namespace

TEST_F(AppLogTest, AFreshRunEmptiesTheFileAndStartsWithTheBanner) {
  const std::string fileName = PathOf("vorlixa.log");
  WriteTextFile(fileName, "the previous run\r\n");
  ASSERT_TRUE(StartAppLog(fileName));
  ASSERT_NE(AppLog(), nullptr);
  EXPECT_FALSE(AppLog()->Append);
  LogMessage("Starting");
  LogMessageFmt("%s %d", "Port", 2);
  StopAppLog();
  EXPECT_EQ(AppLog(), nullptr);
  const auto lines = CrLfLines(ReadText(fileName));
  ASSERT_EQ(lines.size(), 4U);
  EXPECT_TRUE(Matches(lines[0], R"(========--- Log opened --- .* ---========)")) << lines[0];
  EXPECT_TRUE(Matches(lines[1], kStamp + "Starting")) << lines[1];
  EXPECT_TRUE(Matches(lines[2], kStamp + "Port 2")) << lines[2];
  EXPECT_TRUE(Matches(lines[3], R"(========--- Log closed --- .* ---========)")) << lines[3];
}

TEST_F(AppLogTest, ExceptionsAreLoggedAsClassNameAndMessage) {
  const std::string fileName = PathOf("vorlixa.log");
  ASSERT_TRUE(StartAppLog(fileName));
  std::vector<std::string> errors;
  AppLog()->OnError = [&](TLog&, const std::string& sMsg) { errors.push_back(sMsg); };
  try {
    StrToInt("$");
  } catch (const std::exception& e) {
    LogException(e);
  }
  LogExceptionWarning(EInOutError("I/O error 32", 32));
  LogException(std::runtime_error("not one of ours"));
  StopAppLog();
  const auto lines = CrLfLines(ReadText(fileName));
  ASSERT_EQ(lines.size(), 5U);
  EXPECT_TRUE(Matches(lines[1], kStamp + R"(\[-ERROR-\] EConvertError - '\$' is not a valid )"
                                         "integer value"))
      << lines[1];
  EXPECT_TRUE(Matches(lines[2], kStamp + R"(\[-WARNING-\] EInOutError - I/O error 32)"))
      << lines[2];
  EXPECT_TRUE(Matches(lines[3], kStamp + R"(\[-ERROR-\] Exception - not one of ours)")) << lines[3];
  EXPECT_EQ(errors, (std::vector<std::string>{"EConvertError - '$' is not a valid integer value",
                                              "Exception - not one of ours"}));
}

// A run that goes on for weeks beside a source that keeps failing.
TEST_F(AppLogTest, AFloodStopsTheFileAtTenMiB) {
  const std::string fileName = PathOf("vorlixa.log");
  ASSERT_TRUE(StartAppLog(fileName));
  const std::string line(64 * 1024, 'x');
  for (int i = 0; i < 200; ++i) {
    LogMessage(line);
  }
  StopAppLog();
  const std::string text = ReadText(fileName);
  constexpr std::size_t kMiB = 1024 * 1024;
  EXPECT_LE(text.size(), 10 * kMiB + 256);
  EXPECT_GT(text.size(), 10 * kMiB - line.size() - 256);
  const auto lines = CrLfLines(text);
  ASSERT_GE(lines.size(), 2U);
  EXPECT_TRUE(Matches(lines[lines.size() - 2],
                      kStamp + R"(\[-WARNING-\] The log stops here: it has reached its limit of )"
                               "10 MiB"))
      << lines[lines.size() - 2].substr(0, 200);
  EXPECT_TRUE(Matches(lines.back(), R"(========--- Log closed --- .* ---========)"));
}

TEST_F(AppLogTest, CallsWithoutAProgramWideLogAreDropped) {
  LogMessage("before");
  const std::string fileName = PathOf("vorlixa.log");
  ASSERT_TRUE(StartAppLog(fileName));
  StopAppLog();
  const std::string closed = ReadText(fileName);
  LogMessage("after");
  LogMessageFmt("%d", 1);
  LogException(EConvertError("after"));
  LogExceptionWarning(EConvertError("after"));
  EXPECT_EQ(ReadText(fileName), closed);
  EXPECT_EQ(CrLfLines(closed).size(), 2U);
}

// The cases that start a process (see tests/CMakeLists.txt).
using AppLogSystem = AppLogTest;

TEST_F(AppLogSystem, LateCallsWhileTheProgramEndsAreDropped) {
  // A program run whose static objects log after the program-wide log has gone.
  const std::string fileName = PathOf("vorlixa.log");
  const LogChildResult child = RunLogChild("late-calls", fileName);
  ASSERT_EQ(child.ExitCode, 0) << child.Errors;
  const auto lines = CrLfLines(ReadText(fileName));
  ASSERT_EQ(lines.size(), 3U);
  EXPECT_TRUE(Matches(lines[1], kStamp + "running")) << lines[1];
  EXPECT_TRUE(Matches(lines[2], R"(========--- Log closed --- .* ---========)")) << lines[2];
}

TEST_F(AppLogSystem, ASecondCopyRunsWithoutAFileAndLeavesTheFirstOnesLog) {
  const std::string fileName = PathOf("vorlixa.log");
  ASSERT_TRUE(StartAppLog(fileName));
  LogMessage("first copy");
  const std::string before = ReadText(fileName);
  const LogChildResult child = RunLogChild("second-applog", fileName);
  EXPECT_EQ(child.ExitCode, 0) << child.Errors;
  EXPECT_NE(child.Errors.find("Device or resource busy"), std::string::npos) << child.Errors;
  EXPECT_EQ(ReadText(fileName), before);

  // The same within one process: the listeners still hear every line.
  TLog holder;
  holder.SetLogFile(PathOf("held.log"));
  std::vector<std::string> heard;
  EXPECT_FALSE(StartAppLog(PathOf("held.log")));
  ASSERT_NE(AppLog(), nullptr);
  EXPECT_FALSE(AppLog()->IsOpen());
  AppLog()->OnMessage = [&](TLog&, const std::string& sMsg) { heard.push_back(sMsg); };
  LogMessage("heard, not written");
  EXPECT_EQ(heard, std::vector<std::string>{"heard, not written"});
  EXPECT_EQ(CrLfLines(ReadText(PathOf("held.log"))).size(), 1U);
}

TEST(ProgramFile, TheLogLiesBesideTheProgramFile) {
  const std::string program = QCoreApplication::applicationFilePath().toStdString();
  EXPECT_EQ(ProgramFilePath(), program);
  // The test program has no extension of its own: ".log" is added.
  EXPECT_EQ(AppLogFileName(), program + ".log");
}

}  // namespace vx
