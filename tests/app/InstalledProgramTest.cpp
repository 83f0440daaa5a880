#include "ProgramFolder.h"
#include "common/SettingsXml.h"
#include "common/SimProcess.h"
#include "common/TestFiles.h"
#include "common/XvfbDesktop.h"
#include "config/unPortCfg.h"
#include "config/unSettings.h"
#include "device/LEDController.h"
#include "ui/AppIcon.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace vx {

// The program as a system installs it: "cmake --install" of this build into a temporary
// root with the prefix /usr, checked as a desktop checks it, and run from a folder that
// the user cannot write, as /usr/bin is.

namespace {

namespace fs = std::filesystem;

// Runs a tool to its end (bounded); its exit code, or -1; its output in output.
int RunTool(const QString& program, const QStringList& arguments, std::string& output,
            const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
  QProcess tool;
  tool.setProcessEnvironment(environment);
  tool.setProcessChannelMode(QProcess::MergedChannels);
  tool.start(program, arguments);
  const bool ended = tool.waitForFinished(kWaitLimitMs);
  output = tool.readAll().toStdString();
  if (!ended || tool.exitStatus() != QProcess::NormalExit) {
    output += tool.errorString().toStdString();
    return -1;
  }
  return tool.exitCode();
}

void WriteFile(const std::string& fileName, const std::string& text) {
  fs::create_directories(fs::path(fileName).parent_path());
  std::ofstream(fileName) << text;
}

// The installed files under a temporary root, and the user's home beside it; the
// environment points the user's folders there. Everything goes away with the object.
class InstalledTree {
 public:
  InstalledTree() {
    std::string pattern = (fs::temp_directory_path() / "vorlixa-install-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("cannot make a folder for the installation");
    }
    folder_ = pattern;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DESTDIR", QString::fromStdString(folder_ + "/root"));
    std::string output;
    if (RunTool(VORLIXA_CMAKE_COMMAND, {"--install", VORLIXA_BINARY_DIR, "--prefix", "/usr"},
                output, environment) != 0) {
      throw std::runtime_error("cmake --install failed: " + output);
    }
    userFolders_.insert("HOME", QString::fromStdString(Home()));
    userFolders_.insert("XDG_CONFIG_HOME", QString::fromStdString(Home() + "/config"));
    userFolders_.insert("XDG_STATE_HOME", QString::fromStdString(StateHome()));
  }
  ~InstalledTree() {
    std::error_code ignored;
    fs::permissions(Bin(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(folder_, ignored);
  }
  InstalledTree(const InstalledTree&) = delete;
  InstalledTree& operator=(const InstalledTree&) = delete;

  std::string Path(const std::string& relative) const { return folder_ + "/root/" + relative; }
  std::string Bin() const { return Path("usr/bin"); }
  std::string Program() const { return Path("usr/bin/vorlixa"); }
  std::string Home() const { return folder_ + "/home"; }
  std::string StateHome() const { return Home() + "/state/not/there/yet"; }
  std::string UserSettings() const { return Home() + "/config/vorlixa/vorlixa.xml"; }
  std::string UserLog() const { return StateHome() + "/vorlixa/vorlixa.log"; }

  // Every installed file, relative to the root, in order.
  std::vector<std::string> Files() const {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(Path(""))) {
      if (!entry.is_directory()) {
        files.push_back(fs::relative(entry.path(), Path("")).string());
      }
    }
    std::sort(files.begin(), files.end());
    return files;
  }

  // Starts the program with the user's folders of this tree.
  void Start(QProcess& process) const {
    UseUserFolders(process);
    process.start(QString::fromStdString(Program()), {});
  }

  // Starts the program with its folder closed to writing, as /usr/bin is. Root may write
  // anywhere: a mount namespace of the program's own makes the folder read-only for it
  // alone, and lays an empty folder over the machine's all-users autostart folder, which
  // saving the settings touches.
  void StartReadOnly(QProcess& process) const {
    if (::geteuid() != 0) {
      fs::permissions(Bin(), fs::perms::owner_write, fs::perm_options::remove);
      Start(process);
      return;
    }
    const std::string allUsers = Home() + "/all-users-autostart";
    fs::create_directories(allUsers);
    UseUserFolders(process);
    const QString script =
        "mount --bind -o ro \"$1\" \"$1\" && { [ ! -d /etc/xdg/autostart ] || "
        "mount --bind \"$2\" /etc/xdg/autostart; } && exec \"$3\"";
    process.start("unshare", {"--mount", "--propagation", "private", "--", "/bin/sh", "-c", script,
                              "sh", QString::fromStdString(Bin()), QString::fromStdString(allUsers),
                              QString::fromStdString(Program())});
  }

 private:
  void UseUserFolders(QProcess& process) const {
    QProcessEnvironment environment = process.processEnvironment();
    if (environment.isEmpty()) {
      environment = QProcessEnvironment::systemEnvironment();
    }
    environment.insert(userFolders_);
    process.setProcessEnvironment(environment);
  }

  std::string folder_;
  QProcessEnvironment userFolders_;
};

bool LogHas(const std::string& logFile, const std::string& text) {
  return Contains(LogTexts(logFile), text);
}

// Whether the chain receives frames with lit LEDs after the first skip units.
bool WaitForLitFrames(const SimProcess& sim, std::size_t skip) {
  return WaitFor([&] {
    const std::vector<SimBytes> units = sim.Units();
    return units.size() > skip + 5 && NonZero(units.back()) > 0;
  });
}

// A system user of the test's own, removed again at the end; Valid() is false where
// none can be made (not root, or no useradd).
class TestUser {
 public:
  TestUser() {
    if (::geteuid() != 0) {
      problem_ = "needs root to make a user of its own";
      return;
    }
    name_ = "vxtest" + std::to_string(::getpid());
    std::string output;
    if (RunTool("useradd",
                {"--system", "--no-create-home", "--no-user-group", "--gid", "nogroup", "--shell",
                 "/usr/sbin/nologin", QString::fromStdString(name_)},
                output) != 0) {
      problem_ = "useradd failed: " + output;
      name_.clear();
      return;
    }
    const passwd* entry = ::getpwnam(name_.c_str());
    if (entry == nullptr) {
      problem_ = "the new user " + name_ + " is not found";
      return;
    }
    uid_ = entry->pw_uid;
    gid_ = entry->pw_gid;
  }
  ~TestUser() {
    if (!name_.empty()) {
      std::string output;
      RunTool("userdel", {QString::fromStdString(name_)}, output);
    }
  }
  TestUser(const TestUser&) = delete;
  TestUser& operator=(const TestUser&) = delete;

  bool Valid() const { return problem_.empty(); }
  const std::string& Problem() const { return problem_; }
  uid_t Uid() const { return uid_; }

  // Makes process run as this user, with no other groups.
  void RunAs(QProcess& process) const {
    const uid_t uid = uid_;
    const gid_t gid = gid_;
    process.setChildProcessModifier([uid, gid] {
      if (::setgroups(0, nullptr) != 0 || ::setresgid(gid, gid, gid) != 0 ||
          ::setresuid(uid, uid, uid) != 0) {
        ::_exit(127);  // never run the program as root by mistake
      }
    });
  }

  // A folder for this user alone.
  bool MakeOwnFolder(const std::string& folder) const {
    std::error_code error;
    fs::create_directories(folder, error);
    return !error && ::chown(folder.c_str(), uid_, gid_) == 0 && ::chmod(folder.c_str(), 0700) == 0;
  }

 private:
  std::string name_;
  std::string problem_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
};

}  // namespace

TEST(InstallSystem, PutsTheProgramItsMenuEntryIconsAndMetadataInPlace) {
  const InstalledTree tree;
  const std::string entry = "usr/share/applications/vorlixa.desktop";
  const std::string metainfo = "usr/share/metainfo/example.tremanic.Vorlixa.metainfo.xml";
  std::vector<std::string> expected = {"usr/bin/vorlixa",
                                       "usr/bin/vorlixa-level",
                                       "usr/bin/vorlixa-sim",
                                       "usr/bin/vorlixad",
                                       "usr/lib/systemd/user/vorlixa.service",
                                       entry,
                                       "usr/share/doc/vorlixa/changelog.gz",
                                       "usr/share/doc/vorlixa/copyright",
                                       "usr/share/man/man1/vorlixa-level.1.gz",
                                       "usr/share/man/man1/vorlixa-sim.1.gz",
                                       "usr/share/man/man1/vorlixa.1.gz",
                                       "usr/share/man/man1/vorlixad.1.gz",
                                       metainfo};
  // The icon theme gets the program's own icon in every size it draws.
  for (const int size : kAppIconSizes) {
    const std::string icon = "usr/share/icons/hicolor/" + std::to_string(size) + "x" +
                             std::to_string(size) + "/apps/vorlixa.png";
    expected.push_back(icon);
    EXPECT_EQ(QImage(QString::fromStdString(tree.Path(icon))).size(), QSize(size, size)) << icon;
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(tree.Files(), expected);

  // The menu entry starts the installed program with its icon; the validators' hints count.
  const std::string text = ReadText(tree.Path(entry));
  EXPECT_NE(text.find("\nExec=vorlixa\nIcon=vorlixa\n"), std::string::npos) << text;
  std::string output;
  EXPECT_EQ(RunTool("desktop-file-validate", {QString::fromStdString(tree.Path(entry))}, output),
            0);
  EXPECT_EQ(output, "");
  EXPECT_EQ(RunTool("appstreamcli",
                    {"validate", "--no-net", QString::fromStdString(tree.Path(metainfo))}, output),
            0)
      << output;
}

// An installed program in a folder that the user cannot write: the log goes to
// $XDG_STATE_HOME/vorlixa and the settings to $XDG_CONFIG_HOME/vorlixa, folders made as
// needed. The settings window's OK (Enter, on a real X display) saves them there, and the
// next start reads them back and drives the chain with them.
TEST(InstalledProgramSystem, FromAFolderItCannotWriteItKeepsItsFilesInTheUsersFolders) {
  // The desktop goes first, ending the programs it started, then the chain and the tree.
  const InstalledTree tree;
  SimProcess::Options chain;
  chain.Boards = 1;
  SimProcess sim(chain);
  XvfbDesktop desktop;
  if (!desktop.MissingTools().isEmpty()) {
    GTEST_SKIP() << "needs " << desktop.MissingTools().join(", ").toStdString();
  }
  QString error;
  ASSERT_TRUE(desktop.StartDisplay(error)) << error.toStdString();
  // With a notification area the window stays hidden until the second start.
  ASSERT_NE(desktop.StartTrayHost(), nullptr);
  // The user's settings from an earlier run.
  WriteFile(tree.UserSettings(), KnightRiderSettings(sim.LinkPath()));

  QProcess& first = desktop.NewProcess();
  tree.StartReadOnly(first);
  ASSERT_TRUE(WaitFor([&] { return LogHas(tree.UserLog(), "Run application"); }))
      << first.readAllStandardError().toStdString();
  EXPECT_TRUE(LogHas(tree.UserLog(), "Loading config from " + tree.UserSettings()));
  ASSERT_TRUE(WaitForLitFrames(sim, 0));

  // The settings are gone, folder and all: OK must make them anew. A second start opens
  // the first copy's settings window.
  fs::remove_all(fs::path(tree.UserSettings()).parent_path());
  EXPECT_FALSE(LogHas(tree.UserLog(), "Display settings"));
  QProcess& second = desktop.NewProcess();
  tree.Start(second);
  ASSERT_TRUE(second.waitForFinished(kWaitLimitMs));
  ASSERT_TRUE(WaitFor([&] { return LogHas(tree.UserLog(), "Display settings"); }));
  const QString window =
      desktop.Xdotool({"search", "--sync", "--onlyvisible", "--name", "^Tremanic Vorlixa$"})
          .split('\n', Qt::SkipEmptyParts)
          .value(0);
  ASSERT_FALSE(window.isEmpty());
  desktop.Xdotool({"windowfocus", "--sync", window});
  desktop.Xdotool({"key", "Return"});
  ASSERT_TRUE(
      WaitFor([&] { return LogHas(tree.UserLog(), "Saving settings to " + tree.UserSettings()); }));
  EXPECT_EQ(ProgramFolder::Terminate(&first), 0);
  EXPECT_TRUE(WaitForDarkChain(sim, 1));
  {
    TPortCfgList saved;
    TSettings settings(saved, tree.UserSettings());
    settings.LoadSettings();
    ASSERT_EQ(saved.Count(), 1) << ReadText(tree.UserSettings());
    EXPECT_EQ(saved.Items(0).Controller().Port, sim.LinkPath());
  }
  // A build without an update key has no update check, so no record of the own version;
  // nothing failed.
  EXPECT_FALSE(fs::exists(tree.StateHome() + "/vorlixa/vorlixa.ini"));
  EXPECT_EQ(ReadText(tree.UserLog()).find("[-"), std::string::npos) << ReadText(tree.UserLog());

  // The next start reads back what OK saved.
  const std::size_t before = sim.Units().size();
  QProcess& again = desktop.NewProcess();
  tree.StartReadOnly(again);
  ASSERT_TRUE(WaitFor([&] { return LogHas(tree.UserLog(), "Run application"); }));
  EXPECT_TRUE(LogHas(tree.UserLog(), "Loading config from " + tree.UserSettings()));
  EXPECT_TRUE(WaitForLitFrames(sim, before));
  EXPECT_EQ(ProgramFolder::Terminate(&again), 0);
  EXPECT_TRUE(WaitForDarkChain(sim, 1));
}

// A copy in a folder of its own keeps its settings and log beside itself, even where the
// user's folders hold the settings of an installed copy.
TEST(InstalledProgramSystem, APortableCopyKeepsEverythingBesideItself) {
  const InstalledTree tree;
  SimProcess::Options chain;
  chain.Boards = 1;
  SimProcess sim(chain);
  WriteFile(tree.Bin() + "/vorlixa.xml", KnightRiderSettings(sim.LinkPath()));
  WriteFile(tree.UserSettings(), KnightRiderSettings("/dev/no-such-port"));
  const std::string log = tree.Bin() + "/vorlixa.log";

  QProcess program;
  QProcessEnvironment offscreen = QProcessEnvironment::systemEnvironment();
  offscreen.insert("QT_QPA_PLATFORM", "offscreen");
  program.setProcessEnvironment(offscreen);
  tree.Start(program);
  ASSERT_TRUE(WaitFor([&] { return LogHas(log, "Run application"); }));
  EXPECT_TRUE(LogHas(log, "Loading config from " + tree.Bin() + "/vorlixa.xml"));
  EXPECT_TRUE(WaitForLitFrames(sim, 0));
  EXPECT_EQ(ProgramFolder::Terminate(&program), 0);
  EXPECT_FALSE(fs::exists(tree.StateHome())) << "nothing in the user's state folder";
}

// "sudo vorlixa" and OK once leave a root-owned vorlixa.xml (and log) beside a program in
// a folder that users cannot write. A user's program then keeps its files in the user's
// folders, as if the file were not there: it logs there, saves there, and leaves root's
// files alone.
TEST(InstalledProgramSystem, ASettingsFileThatRootWroteBesideTheProgramIsLeftToRoot) {
  const TestUser user;
  if (!user.Valid()) {
    GTEST_SKIP() << user.Problem();
  }
  const QTemporaryDir folder(QDir::tempPath() + "/vorlixa-rootfile-XXXXXX");
  ASSERT_TRUE(folder.isValid());
  const std::string base = folder.path().toStdString();
  ASSERT_EQ(::chmod(base.c_str(), 0755), 0);
  const std::string bin = base + "/bin";
  fs::create_directory(bin);
  fs::copy_file(VORLIXA_APP_PATH, bin + "/vorlixa");
  const std::string rootSettings = KnightRiderSettings("/dev/no-such-port");
  const std::string rootLog = "root's run\r\n";
  WriteFile(bin + "/vorlixa.xml", rootSettings);
  WriteFile(bin + "/vorlixa.log", rootLog);
  const std::string home = base + "/home";
  const std::string runtime = base + "/run";
  ASSERT_TRUE(user.MakeOwnFolder(home) && user.MakeOwnFolder(runtime));
  const std::string userSettings = home + "/config/vorlixa/vorlixa.xml";
  const std::string userLog = home + "/state/vorlixa/vorlixa.log";

  XvfbDesktop desktop;
  if (!desktop.MissingTools().isEmpty()) {
    GTEST_SKIP() << "needs " << desktop.MissingTools().join(", ").toStdString();
  }
  QString error;
  ASSERT_TRUE(desktop.StartDisplay(error)) << error.toStdString();
  // With a notification area the window stays hidden until the second start.
  ASSERT_NE(desktop.StartTrayHost(), nullptr);
  const auto startAsUser = [&](QProcess& process) {
    QProcessEnvironment environment = process.processEnvironment();
    environment.insert("HOME", QString::fromStdString(home));
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString(home + "/config"));
    environment.insert("XDG_STATE_HOME", QString::fromStdString(home + "/state"));
    environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(QString::fromStdString(home));
    user.RunAs(process);
    process.start(QString::fromStdString(bin + "/vorlixa"), {});
  };

  QProcess& first = desktop.NewProcess();
  startAsUser(first);
  ASSERT_TRUE(WaitFor([&] { return LogHas(userLog, "Run application"); }))
      << first.readAllStandardError().toStdString();
  EXPECT_TRUE(LogHas(userLog, "Loading config from " + userSettings)) << ReadText(userLog);

  // A second start of the same user opens the first copy's settings window; OK saves.
  QProcess& second = desktop.NewProcess();
  startAsUser(second);
  ASSERT_TRUE(second.waitForFinished(kWaitLimitMs));
  EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
  ASSERT_TRUE(WaitFor([&] { return LogHas(userLog, "Display settings"); })) << ReadText(userLog);
  const QString window =
      desktop.Xdotool({"search", "--sync", "--onlyvisible", "--name", "^Tremanic Vorlixa$"})
          .split('\n', Qt::SkipEmptyParts)
          .value(0);
  ASSERT_FALSE(window.isEmpty());
  desktop.Xdotool({"windowfocus", "--sync", window});
  desktop.Xdotool({"key", "Return"});
  ASSERT_TRUE(WaitFor([&] { return LogHas(userLog, "Saving settings to " + userSettings); }))
      << ReadText(userLog);
  ASSERT_TRUE(WaitFor([&] { return fs::exists(userSettings); }));
  EXPECT_EQ(ProgramFolder::Terminate(&first), 0);

  struct stat info {};
  ASSERT_EQ(::stat(userSettings.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, user.Uid());
  EXPECT_EQ(ReadText(bin + "/vorlixa.xml"), rootSettings);
  EXPECT_EQ(ReadText(bin + "/vorlixa.log"), rootLog);
  EXPECT_FALSE(fs::exists(bin + "/vorlixa.ini"));
  EXPECT_EQ(ReadText(userLog).find("[-"), std::string::npos) << ReadText(userLog);
  EXPECT_TRUE(LogHas(userLog, "========--- Log closed"));
}

}  // namespace vx
