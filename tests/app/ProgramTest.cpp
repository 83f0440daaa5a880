#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QThread>

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "support/SimProcess.h"

// The real program as a process: a copy of it in a temporary folder, beside its settings
// file, on the offscreen platform, driving a simulated chain.

namespace {

namespace fs = std::filesystem;

constexpr int kWaitMs = 15000;  // a bound for a busy machine, not a measurement

// Runs until done holds or the bound has passed.
bool WaitUntil(const std::function<bool()>& done) {
  QDeadlineTimer deadline(kWaitMs);
  while (!done()) {
    if (deadline.hasExpired()) {
      return false;
    }
    QThread::msleep(20);
  }
  return true;
}

std::string ReadText(const std::string& fileName) {
  std::ifstream in(fileName);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The texts of a log's lines, without date and time: "yyyy/mm/dd - hh:mm:ss.zzz - text".
// Banners are kept whole.
std::vector<std::string> LogTexts(const std::string& fileName) {
  std::vector<std::string> texts;
  std::istringstream in(ReadText(fileName));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (line.rfind("========", 0) == 0) {
      texts.push_back(line.substr(0, line.find(" --- ")));
      continue;
    }
    const std::size_t first = line.find(" - ");
    const std::size_t second = first == std::string::npos ? first : line.find(" - ", first + 3);
    texts.push_back(second == std::string::npos ? line : line.substr(second + 3));
  }
  return texts;
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

std::size_t NonZero(const SimBytes& unit) {
  return static_cast<std::size_t>(
      std::count_if(unit.begin() + 1, unit.end(), [](std::uint8_t b) { return b != 0; }));
}

// Waits until the last unit that the chain received is a frame of board count dark boards.
bool WaitForDarkChain(const SimProcess& sim, std::size_t boards) {
  return WaitUntil([&] {
    const std::vector<SimBytes> units = sim.Units();
    return !units.empty() && units.back().size() == 1 + 80 * boards && NonZero(units.back()) == 0;
  });
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vorlixa-program-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    // A copy, not a link: the program's folder is where its file really lies.
    fs::copy_file(VORLIXA_APP_PATH, Program());
  }
  void TearDown() override {
    for (QProcess* process : processes_) {
      if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(kWaitMs);
      }
      delete process;
    }
    fs::remove_all(folder_);
  }

  std::string Program() const { return folder_ + "/vorlixa"; }
  std::string LogFile() const { return folder_ + "/vorlixa.log"; }
  std::string SettingsFile() const { return folder_ + "/vorlixa.xml"; }

  void WriteSettings(const std::string& device) const {
    std::ofstream(SettingsFile())
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Vorlixa><AutoUpdate>0</AutoUpdate>"
           "<Ports><Port><Name>"
        << device
        << "</Name><Interval>25</Interval><Enabled>-1</Enabled><LEDmin>0</LEDmin>"
           "<LEDmax>254</LEDmax><Controllers><Controller Index=\"0\"><BarSize>40</BarSize>"
           "<Bars><Bar Index=\"0\"><Input>KnightRider</Input></Bar><Bar Index=\"1\">"
           "<Input>Nothing</Input></Bar></Bars></Controller></Controllers></Port></Ports>"
           "</Vorlixa>\n";
  }

  QProcess* Launch() {
    auto* process = new QProcess;
    processes_.push_back(process);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(QString::fromStdString(folder_));
    process->start(QString::fromStdString(Program()), QStringList());
    return process;
  }

  bool WaitForLogText(const std::string& text) const {
    return WaitUntil([&] { return Contains(LogTexts(LogFile()), text); });
  }

  // Sends signal and gives the exit code; -1 when it did not end in time.
  static int Terminate(QProcess* process, int signal = SIGTERM) {
    ::kill(static_cast<pid_t>(process->processId()), signal);
    if (!process->waitForFinished(kWaitMs)) {
      return -1;
    }
    return process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
  }

  std::string folder_;
  std::vector<QProcess*> processes_;
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
