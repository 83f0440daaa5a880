#include "common/FakePrompter.h"
#include "common/TestFiles.h"
#include "config/ConfigTestSupport.h"
#include "config/unAutoLoad.h"
#include "platform/XdgAutostart.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>

namespace vx {

namespace {

constexpr const char* kProgram = "/opt/vorlixa/bin/vorlixa";

bool Exists(const std::string& fileName) {
  struct stat info {};
  return ::stat(fileName.c_str(), &info) == 0;
}

std::string EntryWithExec(const std::string& exec, const std::string& extra = "") {
  return "[Desktop Entry]\nType=Application\nName=Vorlixa\nExec=" + exec + "\n" + extra;
}

class AutoLoadTest : public ::testing::Test {
 protected:
  TempFolder folder_;
  // The user's folder does not exist yet, as on a fresh account.
  XdgAutostart autostart_{folder_.Path("etc-xdg-autostart"), folder_.Path("home/.config/autostart"),
                          kProgram};
  std::string allUsersEntry_ = folder_.Path("etc-xdg-autostart/vorlixa.desktop");
  std::string userEntry_ = folder_.Path("home/.config/autostart/vorlixa.desktop");
};

}  // namespace

TEST_F(AutoLoadTest, SavedBoxesAreReadBackAndClearedBoxesSwitchTheEntriesOff) {
  FakePrompter prompter;
  CapturedLog log;
  SaveAutoLoad(autostart_, true, true);
  ASSERT_TRUE(Exists(allUsersEntry_));
  ASSERT_TRUE(Exists(userEntry_));
  EXPECT_NE(ReadText(userEntry_).find("\nExec=/opt/vorlixa/bin/vorlixa\n"), std::string::npos);
  EXPECT_NE(ReadText(userEntry_).find("[Desktop Entry]\n"), std::string::npos);

  bool allUsers = false;
  bool user = false;
  LoadAutoLoad(autostart_, allUsers, user);
  EXPECT_TRUE(allUsers);
  EXPECT_TRUE(user);

  SaveAutoLoad(autostart_, false, true);
  EXPECT_FALSE(Exists(allUsersEntry_));
  EXPECT_TRUE(Exists(userEntry_));
  LoadAutoLoad(autostart_, allUsers, user);
  EXPECT_FALSE(allUsers);
  EXPECT_TRUE(user);

  // The user's entry is switched off, not removed: it still hides an all-users entry.
  // Clearing again, or what is already gone, is no error.
  SaveAutoLoad(autostart_, false, false);
  const std::string off = ReadText(userEntry_);
  EXPECT_NE(off.find("\nHidden=true\n"), std::string::npos) << off;
  EXPECT_NE(off.find("\nX-GNOME-Autostart-enabled=false\n"), std::string::npos) << off;
  SaveAutoLoad(autostart_, false, false);
  EXPECT_EQ(ReadText(userEntry_), off);
  LoadAutoLoad(autostart_, allUsers, user);
  EXPECT_FALSE(allUsers);
  EXPECT_FALSE(user);
  EXPECT_TRUE(prompter.Messages.empty());
  EXPECT_TRUE(std::none_of(log.Lines.begin(), log.Lines.end(),
                           [](const std::string& line) { return line.starts_with("warning"); }));
}

TEST_F(AutoLoadTest, AnEntryOfAnotherCopyIsClearAndSavingReplacesOrRemovesIt) {
  SaveAutoLoad(autostart_, false, false);  // makes no folder
  ASSERT_EQ(::mkdir(folder_.Path("etc-xdg-autostart").c_str(), 0755), 0);
  WriteFile(allUsersEntry_, EntryWithExec("/usr/local/bin/vorlixa --tray"));
  bool allUsers = true;
  bool user = true;
  LoadAutoLoad(autostart_, allUsers, user);
  EXPECT_FALSE(allUsers);
  EXPECT_FALSE(user);

  SaveAutoLoad(autostart_, true, false);
  EXPECT_TRUE(autostart_.IsEnabled(TAutostartScope::AllUsers));
  EXPECT_EQ(ReadText(allUsersEntry_).find("/usr/local/bin"), std::string::npos);

  WriteFile(allUsersEntry_, EntryWithExec("/usr/local/bin/vorlixa"));
  SaveAutoLoad(autostart_, false, false);
  EXPECT_FALSE(Exists(allUsersEntry_));
}

TEST_F(AutoLoadTest, OnlyAnActiveEntryThatNamesThisProgramCounts) {
  SaveAutoLoad(autostart_, true, false);
  // A program whose name merely starts like ours.
  WriteFile(allUsersEntry_, EntryWithExec("/opt/vorlixa/bin/vorlixa2"));
  EXPECT_FALSE(autostart_.IsEnabled(TAutostartScope::AllUsers));
  WriteFile(allUsersEntry_, EntryWithExec("\"/opt/vorlixa/bin/vorlixa\" --start"));
  EXPECT_TRUE(autostart_.IsEnabled(TAutostartScope::AllUsers));
  WriteFile(allUsersEntry_, EntryWithExec(kProgram, "Hidden=true\n"));
  EXPECT_FALSE(autostart_.IsEnabled(TAutostartScope::AllUsers));
  WriteFile(allUsersEntry_, EntryWithExec(kProgram, "X-GNOME-Autostart-enabled=false\n"));
  EXPECT_FALSE(autostart_.IsEnabled(TAutostartScope::AllUsers));
  // Exec of another group is not the entry's command.
  WriteFile(allUsersEntry_, "[Desktop Entry]\nName=Vorlixa\n[Desktop Action x]\nExec=" +
                                std::string(kProgram) + "\n");
  EXPECT_FALSE(autostart_.IsEnabled(TAutostartScope::AllUsers));
}

TEST_F(AutoLoadTest, AProgramPathWithSpacesAndSpecialCharactersSurvivesTheEntry) {
  for (const std::string path :
       {"/home/a b/Vorlixa Test/vorlixa", "/opt/100%/vor\"lixa$x", "/opt/back\\slash/vorlixa"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(AutostartEntryProgram(AutostartEntryText(path)), path);
    XdgAutostart autostart(folder_.Path("a"), folder_.Path("u"), path);
    autostart.SetEnabled(TAutostartScope::CurrentUser, true);
    EXPECT_TRUE(autostart.IsEnabled(TAutostartScope::CurrentUser));
  }
  EXPECT_NE(AutostartEntryText("/home/a b/x").find("Exec=\"/home/a b/x\"\n"), std::string::npos);
  EXPECT_NE(AutostartEntryText("/opt/100%/x").find("Exec=/opt/100%%/x\n"), std::string::npos);
}

TEST_F(AutoLoadTest, AnUnwritableLocationIsSkippedWithAWarningAndNoMessage) {
  // A plain file where the all-users folder's parent should be: nothing can be created
  // there, whoever runs the test.
  WriteFile(folder_.Path("etc"), "");
  XdgAutostart autostart(folder_.Path("etc/xdg/autostart"), folder_.Path("user"), kProgram);
  FakePrompter prompter;
  CapturedLog log;
  SaveAutoLoad(autostart, true, true);
  EXPECT_TRUE(prompter.Messages.empty());
  EXPECT_TRUE(autostart.IsEnabled(TAutostartScope::CurrentUser));
  ASSERT_EQ(std::count_if(log.Lines.begin(), log.Lines.end(),
                          [](const std::string& line) { return line.starts_with("warning"); }),
            1);
  const auto warning =
      std::find_if(log.Lines.begin(), log.Lines.end(),
                   [](const std::string& line) { return line.starts_with("warning"); });
  EXPECT_NE(warning->find("EInOutError - Cannot create"), std::string::npos) << *warning;

  // Reading it finds no entry; the box shows clear.
  bool allUsers = true;
  bool user = false;
  LoadAutoLoad(autostart, allUsers, user);
  EXPECT_FALSE(allUsers);
  EXPECT_TRUE(user);
}

TEST_F(AutoLoadTest, AnEntryThatCannotBeReadKeepsItsBoxAndIsLogged) {
  // A folder in the entry's place: it exists but holds no text.
  ASSERT_EQ(::mkdir(folder_.Path("etc-xdg-autostart").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(allUsersEntry_.c_str(), 0755), 0);
  CapturedLog log;
  bool allUsers = true;
  bool user = true;
  LoadAutoLoad(autostart_, allUsers, user);
  EXPECT_TRUE(allUsers);
  EXPECT_FALSE(user);
  EXPECT_EQ(std::count_if(log.Lines.begin(), log.Lines.end(),
                          [](const std::string& line) { return line.starts_with("warning"); }),
            1);
}

TEST(AutoLoadCaption, NamesTheLoginUser) {
  const std::string name = LoginUserName();
  EXPECT_FALSE(name.empty());
  EXPECT_EQ(AutoLoadUserCaption(), "Load at login (" + name + ")");
}

}  // namespace vx
