#include "ProgramFolder.h"
#include "common/SettingsXml.h"
#include "common/SimProcess.h"
#include "common/TestFiles.h"
#include "platform/AbstractNamespaceSocket.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vx {

// The real program as a process: a copy of it in a temporary folder, beside its settings
// file, on the offscreen platform, driving a simulated chain.

namespace {

namespace fs = std::filesystem;

// The highest resident memory that process has had so far, from the kernel's account.
long PeakResidentKiB(const QProcess* process) {
  std::ifstream status("/proc/" + std::to_string(process->processId()) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmHWM:")) {
      return std::stol(line.substr(6));
    }
  }
  return -1;
}

// Kills and reaps a forked helper when the test ends, however it ends.
class ChildProcess {
 public:
  explicit ChildProcess(pid_t pid) : pid_(pid) {}
  ~ChildProcess() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

 private:
  pid_t pid_;
};

class ProgramSystem : public ::testing::Test {
 protected:
  std::string LogFile() const { return program_.LogFile(); }
  std::string SettingsFile() const { return program_.SettingsFile(); }

  void WriteSettings(const std::string& device) const {
    std::ofstream(SettingsFile()) << KnightRiderSettings(device);
  }

  QProcess* Launch() { return program_.Launch(); }
  // The program's environment without a runtime folder: the guard's name is abstract.
  QProcess* LaunchWithoutRuntimeFolder() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("XDG_RUNTIME_DIR");
    return program_.Launch(environment);
  }
  bool WaitForLogText(const std::string& text, int limitMs = kWaitLimitMs) const {
    return program_.WaitForLogText(text, limitMs);
  }
  static int Terminate(QProcess* process, int signal = SIGTERM) {
    return ProgramFolder::Terminate(process, signal);
  }

  ProgramFolder program_;
};

TEST_F(ProgramSystem, ANormalStartLogsItsStepsInOrderAndSigtermBlanksTheChain) {
  SimProcess sim;
  WriteSettings(sim.LinkPath());
  QProcess* program = Launch();
  ASSERT_TRUE(program->waitForStarted(kWaitLimitMs));
  ASSERT_TRUE(WaitForLogText("Run application")) << ReadText(LogFile());
  // The bar moves: frames with lit LEDs arrive.
  ASSERT_TRUE(sim.WaitForUnits(10));
  EXPECT_GT(NonZero(sim.Units().back()), 0U);

  EXPECT_EQ(Terminate(program), 0) << program->readAllStandardError().toStdString();
  const std::vector<std::string> texts = LogTexts(LogFile());
  const std::vector<std::string> start{
      "========--- Log opened", "Create mutex", "Check for updates",
      // A build without a key has no update check.
      "Update: off, this build has no key to check updates with", "Init application",
      "Create mainform", "Initializing", "Loading config from " + SettingsFile(), "Starting",
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

TEST_F(ProgramSystem, WithoutALogFileTheProgramRunsOnAndSaysSoOnce) {
  SimProcess sim;
  WriteSettings(sim.LinkPath());
  fs::create_directory(LogFile());  // the log's name is taken by a folder
  QProcess* program = Launch();
  ASSERT_TRUE(program->waitForStarted(kWaitLimitMs));
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

// ---- Hostile files and neighbours, failing disks ----

// A portable copy in a folder that other users may write (group-writable, or a shared
// folder such as /tmp) keeps its files in the user's folders: a neighbour could otherwise
// put links or a settings file of theirs beside it. Closed again, the folder is used.
TEST_F(ProgramSystem, AFolderOthersMayWriteIsNotWhereTheFilesGo) {
  SimProcess sim;
  WriteSettings(sim.LinkPath());
  const std::string home = program_.Folder() + "/home";
  ASSERT_TRUE(fs::create_directory(home));
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("XDG_CONFIG_HOME", QString::fromStdString(home + "/config"));
  environment.insert("XDG_STATE_HOME", QString::fromStdString(home + "/state"));
  const std::string userLog = home + "/state/vorlixa/vorlixa.log";

  for (const fs::perms open : {fs::perms::group_write, fs::perms::others_write}) {
    fs::remove_all(home + "/state");
    fs::permissions(program_.Folder(), open, fs::perm_options::add);
    QProcess* program = program_.Launch(environment);
    ASSERT_TRUE(WaitFor([&] { return Contains(LogTexts(userLog), "Run application"); }))
        << ReadText(userLog) << program->readAllStandardError().toStdString();
    EXPECT_TRUE(
        Contains(LogTexts(userLog), "Loading config from " + home + "/config/vorlixa/vorlixa.xml"));
    EXPECT_EQ(Terminate(program), 0);
    EXPECT_FALSE(fs::exists(LogFile()));
    fs::permissions(program_.Folder(), open, fs::perm_options::remove);
  }
  QProcess* program = program_.Launch(environment);
  ASSERT_TRUE(WaitForLogText("Run application")) << ReadText(LogFile());
  EXPECT_TRUE(Contains(LogTexts(LogFile()), "Loading config from " + SettingsFile()));
  EXPECT_EQ(Terminate(program), 0);
}

// A 400 KB settings file whose document type declares one entity of 10,000 characters and
// refers to it throughout: expanded, it would be more than a gigabyte of text.
TEST_F(ProgramSystem, ASettingsFileThatDeclaresEntitiesIsRefusedAndTheStartGoesOn) {
  std::string bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE Vorlixa [<!ENTITY e \"" +
                     std::string(10000, 'x') + "\">]>\n<Vorlixa><Ports><Port><Name>";
  while (bomb.size() < 400 * 1024) {
    bomb += "&e;";
  }
  bomb += "</Name><Interval>25</Interval><Enabled>0</Enabled></Port></Ports></Vorlixa>\n";
  std::ofstream(SettingsFile()) << bomb;

  QProcess* program = Launch();
  // Refused at once: the program runs within 2 s, as with a harmless file.
  ASSERT_TRUE(WaitForLogText("Run application", 2000)) << ReadText(LogFile());
  const long peak = PeakResidentKiB(program);
  EXPECT_GT(peak, 0);
  // Expanded, the entities would take gigabytes. Under the address sanitizer its shadow
  // memory comes on top of the program's own.
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(peak, 300 * 1024);
#else
  EXPECT_LT(peak, 100 * 1024);
#endif
  EXPECT_TRUE(Contains(LogTexts(LogFile()),
                       "[-ERROR-] The settings file " + SettingsFile() +
                           " cannot be read: its document type declares entities, which are not "
                           "accepted."))
      << ReadText(LogFile());
  EXPECT_EQ(Terminate(program), 0);
}

// Without a runtime folder, any local user can bind the guard's abstract name first.
// Taking that stranger for the first copy would end every start silently.
TEST_F(ProgramSystem, AGuardNameHeldByAnotherUserDoesNotStopTheStart) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root to listen under another user id";
  }
  const std::string socketName = AbstractNamespaceSocketName("FirstApp@Vorlixa", ::geteuid());
  std::array<int, 2> ready{};
  ASSERT_EQ(::pipe(ready.data()), 0);
  const pid_t stranger = ::fork();
  ASSERT_GE(stranger, 0);
  if (stranger == 0) {
    // nobody's ids; holds the name until it is killed.
    ::close(ready[0]);
    UniqueFd listener;
    const bool listening = ::setresgid(65534, 65534, 65534) == 0 &&
                           ::setresuid(65534, 65534, 65534) == 0 &&
                           ListenOnAbstractName(socketName, listener) == 0;
    const char told = listening ? 1 : 0;
    if (::write(ready[1], &told, 1) != 1) {
      ::_exit(1);
    }
    ::pause();
    ::_exit(0);
  }
  const ChildProcess guard(stranger);
  ::close(ready[1]);
  char listening = 0;
  ASSERT_EQ(::read(ready[0], &listening, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(listening, 1);

  QProcess* program = LaunchWithoutRuntimeFolder();
  ASSERT_TRUE(WaitForLogText("Run application"))
      << program->readAllStandardError().toStdString() << ReadText(LogFile());
  EXPECT_TRUE(Contains(LogTexts(LogFile()),
                       "[-WARNING-] faAppStart (TFirstApp): the event FirstApp@Vorlixa is held by "
                       "a program of another user; this copy runs as the first one"))
      << ReadText(LogFile());
  EXPECT_EQ(Terminate(program), 0);
}

// A first copy that has hung accepts no one: its queue fills up and the guard can neither
// signal it nor take its place. The error names the program's guard.
TEST_F(ProgramSystem, AGuardThatCannotBeSetUpIsReportedByItsName) {
  UniqueFd holder;
  ASSERT_EQ(
      ListenOnAbstractName(AbstractNamespaceSocketName("FirstApp@Vorlixa", ::geteuid()), holder),
      0);
  std::vector<UniqueFd> queued;
  for (int i = 0; i < 100; ++i) {
    UniqueFd connection;
    if (ConnectToAbstractName(AbstractNamespaceSocketName("FirstApp@Vorlixa", ::geteuid()),
                              connection) != 0) {
      break;
    }
    queued.push_back(std::move(connection));
  }
  QProcess* program = LaunchWithoutRuntimeFolder();
  ASSERT_TRUE(program->waitForFinished(kWaitLimitMs));
  EXPECT_EQ(program->exitCode(), 1);
  const std::string errors = program->readAllStandardError().toStdString();
  EXPECT_NE(errors.find("EFirstApp: faAppStart (TFirstApp) could not set up an event: Address "
                        "already in use (#98)\n"),
            std::string::npos)
      << errors;
}

// The disk under the log fills up while the program runs. The exit still blanks the
// chain, and says once on standard error that the log is not written.
// With a runtime folder, the guard and the start-up mutex are sockets there that only the
// user can reach, and a second start finds the first there, signals it and leaves its log
// alone. A copy that is killed leaves its sockets behind; the next start takes their place.
TEST_F(ProgramSystem, TheGuardLivesInTheRuntimeFolderAndOutlivesAKilledCopy) {
  SimProcess sim;
  WriteSettings(sim.LinkPath());
  const QTemporaryDir folder(QDir::tempPath() + "/vorlixa-run-XXXXXX");
  ASSERT_TRUE(folder.isValid());
  const std::string runtime = folder.path().toStdString();
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime));
  const std::string user = std::to_string(::geteuid());
  const std::vector<std::string> sockets{runtime + "/FirstApp@Vorlixa-" + user,
                                         runtime + "/TremanicVorlixaMutex-" + user};

  QProcess* first = program_.Launch(environment);
  ASSERT_TRUE(WaitForLogText("Run application")) << ReadText(LogFile());
  ASSERT_TRUE(sim.WaitForUnits(2));
  // Offscreen there is no notification area: the first copy shows its settings window at
  // start. (That a second start opens it is seen on a desktop with a tray.)
  ASSERT_TRUE(WaitForLogText("Display settings")) << ReadText(LogFile());
  for (const std::string& socket : sockets) {
    struct stat info {};
    ASSERT_EQ(::stat(socket.c_str(), &info), 0) << socket;
    EXPECT_TRUE(S_ISSOCK(info.st_mode)) << socket;
    EXPECT_EQ(info.st_mode & 07777, 0600U) << socket;
  }
  QProcess* second = program_.Launch(environment);
  ASSERT_TRUE(second->waitForFinished(kWaitLimitMs));
  EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second->exitCode(), 0) << second->readAllStandardError().toStdString();
  const std::vector<std::string> texts = LogTexts(LogFile());
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.front(), "========--- Log opened");
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "========--- Log opened"), 1);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Create mutex"), 1);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Initializing"), 1);

  EXPECT_EQ(Terminate(first, SIGKILL), -1);
  ASSERT_TRUE(fs::exists(sockets[0]));
  fs::remove(LogFile());
  const std::size_t before = sim.Units().size();
  QProcess* third = program_.Launch(environment);
  ASSERT_TRUE(WaitForLogText("Run application"))
      << third->readAllStandardError().toStdString() << ReadText(LogFile());
  EXPECT_TRUE(sim.WaitForUnits(before + 10));
  // Ctrl-C in a terminal ends it as SIGTERM does.
  EXPECT_EQ(Terminate(third, SIGINT), 0);
  EXPECT_EQ(ReadText(LogFile()).find("[-"), std::string::npos) << ReadText(LogFile());
  const std::vector<std::string> closing = LogTexts(LogFile());
  ASSERT_FALSE(closing.empty());
  EXPECT_EQ(closing.back(), "========--- Log closed");
  EXPECT_TRUE(WaitForDarkChain(sim, 1));
  for (const std::string& socket : sockets) {
    EXPECT_FALSE(fs::exists(socket)) << "a copy that ends removes " << socket;
  }
}

// The log's place is taken by a link to another file (laid there by whoever may write the
// folder). The program neither empties nor writes that file, and runs on without a log.
TEST_F(ProgramSystem, ALinkInTheLogsPlaceIsNotFollowed) {
  SimProcess sim;
  WriteSettings(sim.LinkPath());
  const std::string target = program_.Folder() + "/precious.txt";
  std::ofstream(target) << "not a log\n";
  fs::create_symlink(target, LogFile());
  QProcess* program = Launch();
  ASSERT_TRUE(sim.WaitForUnits(10));
  EXPECT_EQ(Terminate(program), 0);
  EXPECT_EQ(ReadText(target), "not a log\n");
  const std::string errors = program->readAllStandardError().toStdString();
  EXPECT_NE(errors.find("Log file " + LogFile() + " not written: "), std::string::npos) << errors;
}

TEST_F(ProgramSystem, ALogThatCannotBeWrittenDoesNotStopTheExit) {
  SimProcess sim;
  WriteSettings(sim.LinkPath());
  // A file size limit stands for the full disk: writes fail with EFBIG instead of ENOSPC.
  QProcess* program =
      program_.Launch(QProcessEnvironment::systemEnvironment(), [] { ::signal(SIGXFSZ, SIG_IGN); });
  ASSERT_TRUE(WaitForLogText("Run application")) << ReadText(LogFile());
  ASSERT_TRUE(sim.WaitForUnits(10));
  const auto full = static_cast<rlim_t>(fs::file_size(LogFile()));
  const rlimit limit{full, full};
  ASSERT_EQ(::prlimit(static_cast<pid_t>(program->processId()), RLIMIT_FSIZE, &limit, nullptr), 0);

  EXPECT_EQ(Terminate(program), 0);
  EXPECT_TRUE(WaitForDarkChain(sim, 1));
  const std::string errors = program->readAllStandardError().toStdString();
  const std::string notice = "Log file " + LogFile() + " not written: ";
  EXPECT_NE(errors.find(notice), std::string::npos) << errors;
  EXPECT_EQ(errors.find(notice), errors.rfind(notice)) << errors;
  EXPECT_EQ(fs::file_size(LogFile()), full) << "nothing was written after the disk filled";
}

}  // namespace

}  // namespace vx
