#include <QProcess>

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ProgramFolder.h"
#include "support/SimProcess.h"

namespace vx {

// The real program as a process: a copy of it in a temporary folder, beside its settings
// file, on the offscreen platform, driving a simulated chain.

namespace {

namespace fs = std::filesystem;

constexpr int kWaitMs = kProgramWaitMs;

class ProgramTest : public ::testing::Test {
 protected:
  std::string LogFile() const { return program_.LogFile(); }
  std::string SettingsFile() const { return program_.SettingsFile(); }

  void WriteSettings(const std::string& device) const {
    std::ofstream(SettingsFile()) << KnightRiderSettings(device);
  }

  QProcess* Launch() { return program_.Launch(); }
  bool WaitForLogText(const std::string& text) const { return program_.WaitForLogText(text); }
  static int Terminate(QProcess* process, int signal = SIGTERM) {
    return ProgramFolder::Terminate(process, signal);
  }

  ProgramFolder program_;
};

TEST_F(ProgramTest, ANormalStartLogsItsStepsInOrderAndSigtermBlanksTheChain) {
  SimProcess sim;
  WriteSettings(sim.LinkPath());
  QProcess* program = Launch();
  ASSERT_TRUE(program->waitForStarted(kWaitMs));
  ASSERT_TRUE(WaitForLogText("Run application")) << ReadText(LogFile());
  // The bar moves: frames with lit LEDs arrive.
  ASSERT_TRUE(sim.WaitForUnits(10));
  EXPECT_GT(NonZero(sim.Units().back()), 0U);

  EXPECT_EQ(Terminate(program), 0) << program->readAllStandardError().toStdString();
  const std::vector<std::string> texts = LogTexts(LogFile());
  const std::vector<std::string> start{"========--- Log opened",
                                       "Create mutex",
                                       "Check for updates",
                                       "Update: Get version",
                                       "Update: check if automatic is set",
                                       "Init application",
                                       "Create mainform",
                                       "Initializing",
                                       "Loading config from " + SettingsFile(),
                                       "Starting",
                                       "Run application"};
  ASSERT_GE(texts.size(), start.size());
  EXPECT_EQ(std::vector<std::string>(texts.begin(),
                                     texts.begin() + static_cast<std::ptrdiff_t>(start.size())),
            start)
      << ReadText(LogFile());
  ASSERT_GE(texts.size(), 2U);
  EXPECT_EQ(texts[texts.size() - 2], "Stopping");
  EXPECT_EQ(texts.back(), "========--- Log closed");

  // The chain is dark at the end.
  EXPECT_TRUE(WaitForDarkChain(sim, 1));
}

TEST_F(ProgramTest, ASecondCopySignalsTheFirstAndLeavesItsLogAlone) {
  SimProcess sim;
  WriteSettings(sim.LinkPath());
  QProcess* first = Launch();
  ASSERT_TRUE(WaitForLogText("Run application")) << ReadText(LogFile());
  ASSERT_TRUE(sim.WaitForUnits(2));

  QProcess* second = Launch();
  ASSERT_TRUE(second->waitForFinished(kWaitMs));
  EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second->exitCode(), 0);
  // The first copy opens its settings window.
  ASSERT_TRUE(WaitForLogText("Display settings")) << ReadText(LogFile());

  // Ctrl-C in a terminal ends it as SIGTERM does.
  EXPECT_EQ(Terminate(first, SIGINT), 0);
  const std::vector<std::string> texts = LogTexts(LogFile());
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.front(), "========--- Log opened");
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "========--- Log opened"), 1);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Create mutex"), 1);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Initializing"), 1);
  EXPECT_EQ(texts.back(), "========--- Log closed");
  EXPECT_TRUE(WaitForDarkChain(sim, 1));
}

TEST_F(ProgramTest, WithoutALogFileTheProgramRunsOnAndSaysSoOnce) {
  SimProcess sim;
  WriteSettings(sim.LinkPath());
  fs::create_directory(LogFile());  // the log's name is taken by a folder
  QProcess* program = Launch();
  ASSERT_TRUE(program->waitForStarted(kWaitMs));
  // It drives the chain all the same.
  ASSERT_TRUE(sim.WaitForUnits(10));
  EXPECT_EQ(Terminate(program), 0);
  const std::string errors = program->readAllStandardError().toStdString();
  const std::string notice = "Log file " + LogFile();
  std::size_t mentions = 0;
  for (std::size_t at = errors.find(notice); at != std::string::npos;
       at = errors.find(notice, at + 1)) {
    ++mentions;
  }
  EXPECT_EQ(mentions, 1U) << errors;
  EXPECT_TRUE(WaitForDarkChain(sim, 1));
}

}  // namespace

}  // namespace vx
