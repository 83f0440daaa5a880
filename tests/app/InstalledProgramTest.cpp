#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ProgramFolder.h"
#include "config/unPortCfg.h"
#include "config/unSettings.h"
#include "device/LEDController.h"
#include "support/SimProcess.h"
#include "support/XvfbDesktop.h"
#include "ui/AppIcon.h"

namespace vx {

// The program as a system installs it: "cmake --install" of this build into a temporary
// root with the prefix /usr, checked as a desktop checks it, and run from a folder that
// the user cannot write, as /usr/bin is.

namespace {

namespace fs = std::filesystem;

// Runs a tool to its end (bounded); its exit code, or -1 when it did not end normally.
int RunTool(const QString& program, const QStringList& arguments, std::string& output,
            const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
  QProcess tool;
  tool.setProcessEnvironment(environment);
  tool.setProcessChannelMode(QProcess::MergedChannels);
  tool.start(program, arguments);
  const bool ended = tool.waitForFinished(kProgramWaitMs);
  output = tool.readAll().toStdString();
  if (tool.error() != QProcess::UnknownError) {
    output += tool.errorString().toStdString();
  }
  if (!ended) {
    tool.kill();
    tool.waitForFinished();
    return -1;
  }
  return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}

void WriteFile(const std::string& fileName, const std::string& text) {
  fs::create_directories(fs::path(fileName).parent_path());
  std::ofstream(fileName) << text;
}

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The installed files under a temporary root, and a scratch folder beside it for the
// user's home. Everything goes away with the object.
class InstalledTree {
 public:
  InstalledTree() {
    std::string pattern = (fs::temp_directory_path() / "vorlixa-install-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("cannot make a folder for the installation");
    }
    folder_ = pattern;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DESTDIR", QString::fromStdString(Root()));
    std::string output;
    if (RunTool(VORLIXA_CMAKE_COMMAND, {"--install", VORLIXA_BINARY_DIR, "--prefix", "/usr"},
                output, environment) != 0) {
      throw std::runtime_error("cmake --install failed: " + output);
    }
  }
  ~InstalledTree() {
    std::error_code ignored;
    fs::permissions(Bin(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(folder_, ignored);
  }
  InstalledTree(const InstalledTree&) = delete;
  InstalledTree& operator=(const InstalledTree&) = delete;

  std::string Root() const { return folder_ + "/root"; }
  std::string Home() const { return folder_ + "/home"; }
  std::string Path(const std::string& relative) const { return Root() + "/" + relative; }
  std::string Bin() const { return Path("usr/bin"); }
  std::string Program() const { return Path("usr/bin/vorlixa"); }

  // The user's folders as an installed program finds them, through the environment.
  std::string ConfigHome() const { return Home() + "/config"; }
  std::string StateHome() const { return Home() + "/state/not/there/yet"; }
  std::string UserSettings() const { return ConfigHome() + "/vorlixa/vorlixa.xml"; }
  std::string UserLog() const { return StateHome() + "/vorlixa/vorlixa.log"; }
  void UseUserFolders(QProcess& process) const {
    QProcessEnvironment environment = process.processEnvironment();
    environment.insert("HOME", QString::fromStdString(Home()));
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString(ConfigHome()));
    environment.insert("XDG_STATE_HOME", QString::fromStdString(StateHome()));
    process.setProcessEnvironment(environment);
  }

  // Every installed file, relative to the root, in order.
  std::vector<std::string> Files() const {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(Root())) {
      if (!entry.is_directory()) {
        files.push_back(fs::relative(entry.path(), Root()).string());
      }
    }
    std::sort(files.begin(), files.end());
    return files;
  }

  // Starts the installed program with its folder closed to writing, as /usr/bin is. Root
  // may write anywhere: a mount namespace of the program's own makes the folder
  // read-only for it alone, and puts an empty folder over the machine's all-users
  // autostart folder, which saving the settings would otherwise touch.
  void StartReadOnly(QProcess& process) const {
    if (::geteuid() != 0) {
      fs::permissions(Bin(),
                      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                      fs::perm_options::remove);
      process.start(QString::fromStdString(Program()), {});
      return;
    }
    const std::string allUsers = Home() + "/all-users-autostart";
    fs::create_directories(allUsers);
    process.start("unshare",
                  {"--mount", "--propagation", "private", "--", "/bin/sh", "-c",
                   "mount --bind -o ro \"$1\" \"$1\" && { [ ! -d /etc/xdg/autostart ] || "
                   "mount --bind \"$2\" /etc/xdg/autostart; } && exec \"$3\"",
                   "sh", QString::fromStdString(Bin()), QString::fromStdString(allUsers),
                   QString::fromStdString(Program())});
  }

 private:
  std::string folder_;
};

bool LogHas(const std::string& logFile, const std::string& text) {
  return Contains(LogTexts(logFile), text);
}

std::vector<std::string> ErrorsAndWarnings(const std::string& logFile) {
  std::vector<std::string> found;
  for (const std::string& text : LogTexts(logFile)) {
    if (text.starts_with("[-ERROR-]") || text.starts_with("[-WARNING-]")) {
      found.push_back(text);
    }
  }
  return found;
}

// Whether the chain receives frames with lit LEDs after the first skip units.
bool WaitForLitFrames(const SimProcess& sim, std::size_t skip) {
  return WaitUntil([&] {
    const std::vector<SimBytes> units = sim.Units();
    return units.size() > skip + 5 && NonZero(units.back()) > 0;
  });
}

}  // namespace

TEST(InstallTest, PutsTheProgramItsMenuEntryIconsAndMetadataInPlace) {
  const InstalledTree tree;
  std::vector<std::string> expected = {
      "usr/bin/vorlixa",
      "usr/bin/vorlixa-sim",
      "usr/share/applications/vorlixa.desktop",
      "usr/share/doc/vorlixa/changelog.gz",
      "usr/share/doc/vorlixa/copyright",
      "usr/share/man/man1/vorlixa-sim.1.gz",
      "usr/share/man/man1/vorlixa.1.gz",
      "usr/share/metainfo/example.tremanic.Vorlixa.metainfo.xml",
  };
  for (const int size : kAppIconSizes) {
    const std::string icon = "usr/share/icons/hicolor/" + std::to_string(size) + "x" +
                             std::to_string(size) + "/apps/vorlixa.png";
    expected.push_back(icon);
    const QImage image(QString::fromStdString(tree.Path(icon)));
    EXPECT_EQ(image.width(), size) << icon;
    EXPECT_EQ(image.height(), size) << icon;
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(tree.Files(), expected);

  // The menu entry starts the installed program and shows its icon.
  const std::string entry = ReadText(tree.Path("usr/share/applications/vorlixa.desktop"));
  EXPECT_NE(entry.find("\nExec=vorlixa\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\nIcon=vorlixa\n"), std::string::npos) << entry;
  std::string output;
  EXPECT_EQ(RunTool("desktop-file-validate",
                    {QString::fromStdString(tree.Path("usr/share/applications/vorlixa.desktop"))},
                    output),
            0)
      << output;
  EXPECT_EQ(output, "") << "hints and warnings count too";
  EXPECT_EQ(RunTool("appstreamcli",
                    {"validate", "--no-net",
                     QString::fromStdString(
                         tree.Path("usr/share/metainfo/example.tremanic.Vorlixa.metainfo.xml"))},
                    output),
            0)
      << output;
  EXPECT_NE(ReadText(tree.Path("usr/share/metainfo/example.tremanic.Vorlixa.metainfo.xml"))
                .find("<launchable type=\"desktop-id\">vorlixa.desktop</launchable>"),
            std::string::npos);
}

// An installed program in a folder that the user cannot write: its log goes to
// $XDG_STATE_HOME/vorlixa and its settings to $XDG_CONFIG_HOME/vorlixa, both folders made
// as needed. The settings window's OK (Enter, on a real X display) saves them there, and
// the next start reads them back and drives the chain with them.
TEST(InstalledProgramTest, FromAFolderItCannotWriteItKeepsItsFilesInTheUsersFolders) {
  // The desktop goes first, ending the programs it started, then the chain and the tree.
  const InstalledTree tree;
  SimProcess::Options chain;
  chain.Boards = 1;
  SimProcess sim(chain);
  XvfbDesktop desktop;
  const QStringList missing = desktop.MissingTools();
  if (!missing.isEmpty()) {
    GTEST_SKIP() << "needs Xvfb and xdotool; missing: " << missing.join(", ").toStdString();
  }
  QString error;
  ASSERT_TRUE(desktop.StartDisplay(error)) << error.toStdString();
  // The user's settings from an earlier run.
  WriteFile(tree.UserSettings(), KnightRiderSettings(sim.LinkPath()));

  QProcess& first = desktop.NewProcess();
  tree.UseUserFolders(first);
  tree.StartReadOnly(first);
  ASSERT_TRUE(WaitUntil([&] { return LogHas(tree.UserLog(), "Run application"); }))
      << first.readAllStandardError().toStdString();
  EXPECT_TRUE(LogHas(tree.UserLog(), "Loading config from " + tree.UserSettings()));
  ASSERT_TRUE(WaitForLitFrames(sim, 0));

  // The settings are gone, folder and all: the window's OK must make them anew.
  fs::remove_all(fs::path(tree.UserSettings()).parent_path());
  QProcess& second = desktop.NewProcess();
  tree.UseUserFolders(second);
  second.start(QString::fromStdString(tree.Program()), {});
  ASSERT_TRUE(second.waitForFinished(kProgramWaitMs));
  EXPECT_EQ(second.exitCode(), 0);
  ASSERT_TRUE(WaitUntil([&] { return LogHas(tree.UserLog(), "Display settings"); }));
  const QString window =
      desktop.Xdotool({"search", "--sync", "--onlyvisible", "--name", "^Tremanic Vorlixa$"})
          .split('\n', Qt::SkipEmptyParts)
          .value(0);
  ASSERT_FALSE(window.isEmpty());
  desktop.Xdotool({"windowfocus", "--sync", window});
  desktop.Xdotool({"key", "Return"});
  ASSERT_TRUE(WaitUntil([&] {
    return LogHas(tree.UserLog(), "Saving settings to " + tree.UserSettings());
  })) << ReadText(tree.UserLog());
  EXPECT_EQ(ProgramFolder::Terminate(&first), 0) << first.readAllStandardError().toStdString();
  EXPECT_TRUE(WaitForDarkChain(sim, 1));

  {
    TPortCfgList saved;
    TSettings settings(saved, tree.UserSettings());
    settings.LoadSettings();
    ASSERT_EQ(saved.Count(), 1) << ReadText(tree.UserSettings());
    EXPECT_EQ(saved.Items(0).Controller().Port, sim.LinkPath());
  }
  // The update check's record of the own version lies beside the log; nothing was
  // written beside the program, and nothing failed on the way.
  EXPECT_TRUE(fs::exists(tree.StateHome() + "/vorlixa/vorlixa.ini"));
  EXPECT_EQ(Entries(tree.Bin()), (std::vector<std::string>{"vorlixa", "vorlixa-sim"}));
  EXPECT_EQ(ErrorsAndWarnings(tree.UserLog()), std::vector<std::string>{});

  // The next start reads back what OK saved.
  const std::size_t before = sim.Units().size();
  QProcess& again = desktop.NewProcess();
  tree.UseUserFolders(again);
  tree.StartReadOnly(again);
  ASSERT_TRUE(WaitUntil([&] { return LogHas(tree.UserLog(), "Run application"); }));
  EXPECT_TRUE(LogHas(tree.UserLog(), "Loading config from " + tree.UserSettings()));
  EXPECT_TRUE(WaitForLitFrames(sim, before)) << sim.Units().size() - before << " frames";
  EXPECT_EQ(ProgramFolder::Terminate(&again), 0) << again.readAllStandardError().toStdString();
  EXPECT_TRUE(WaitForDarkChain(sim, 1));
}

// A copy in a folder of its own keeps its settings and log beside itself, even where the
// user's folders hold the settings of an installed copy.
TEST(InstalledProgramTest, APortableCopyKeepsEverythingBesideItself) {
  const InstalledTree tree;
  SimProcess::Options chain;
  chain.Boards = 1;
  SimProcess sim(chain);
  const std::string beside = tree.Bin() + "/vorlixa.xml";
  WriteFile(beside, KnightRiderSettings(sim.LinkPath()));
  WriteFile(tree.UserSettings(), KnightRiderSettings("/dev/no-such-port"));
  const std::string log = tree.Bin() + "/vorlixa.log";

  QProcess program;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  program.setProcessEnvironment(environment);
  tree.UseUserFolders(program);
  program.start(QString::fromStdString(tree.Program()), {});
  ASSERT_TRUE(WaitUntil([&] { return LogHas(log, "Run application"); }))
      << program.readAllStandardError().toStdString();
  EXPECT_TRUE(LogHas(log, "Loading config from " + beside));
  EXPECT_TRUE(WaitForLitFrames(sim, 0));
  EXPECT_EQ(ProgramFolder::Terminate(&program), 0);
  EXPECT_TRUE(WaitForDarkChain(sim, 1));
  EXPECT_TRUE(fs::exists(tree.Bin() + "/vorlixa.ini"));
  EXPECT_FALSE(fs::exists(tree.StateHome())) << "nothing in the user's state folder";
  EXPECT_EQ(Entries(tree.ConfigHome() + "/vorlixa"), std::vector<std::string>{"vorlixa.xml"});
}

}  // namespace vx
