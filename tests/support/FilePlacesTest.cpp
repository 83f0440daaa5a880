#include "support/FilePlaces.h"

#include <gtest/gtest.h>

#include <string>

namespace vx {

// Where the program's files go, decided from what the system tells.

namespace {

// An installed program: a folder it may not write, without a settings file.
TFilePlaceFacts Installed() {
  TFilePlaceFacts facts;
  facts.ProgramFile = "/usr/bin/vorlixa";
  facts.Home = "/home/ann";
  return facts;
}

std::string Settings(const TFilePlaceFacts& facts) {
  return ChooseFilePlaces(facts).SettingsFile;
}

}  // namespace

TEST(ChooseFilePlacesTest, AnInstalledProgramUsesTheUsersFoldersAndEveryOtherStaysBeside) {
  const TFilePlaces installed = ChooseFilePlaces(Installed());
  EXPECT_EQ(installed.SettingsFile, "/home/ann/.config/vorlixa/vorlixa.xml");
  EXPECT_EQ(installed.LogFile, "/home/ann/.local/state/vorlixa/vorlixa.log");
  EXPECT_EQ(installed.VersionRecord, "/home/ann/.local/state/vorlixa/vorlixa.ini");
  EXPECT_EQ(installed.UpdateFolder, "/home/ann/.local/state/vorlixa");

  TFilePlaceFacts xdg = Installed();
  xdg.ConfigHome = "/cfg";
  xdg.StateHome = "/var/state/";
  EXPECT_EQ(Settings(xdg), "/cfg/vorlixa/vorlixa.xml");
  EXPECT_EQ(ChooseFilePlaces(xdg).LogFile, "/var/state/vorlixa/vorlixa.log");
  // The base directory rules ignore a relative path: the home folder's defaults stand.
  xdg.ConfigHome = "cfg";
  xdg.StateHome = "";
  EXPECT_EQ(Settings(xdg), "/home/ann/.config/vorlixa/vorlixa.xml");
  EXPECT_EQ(ChooseFilePlaces(xdg).LogFile, "/home/ann/.local/state/vorlixa/vorlixa.log");

  // A portable copy in a folder that the user may write: every file beside the program,
  // named after it.
  TFilePlaceFacts portable = Installed();
  portable.ProgramFile = "/media/stick/vorlixa.bin";
  portable.FolderWritable = true;
  const TFilePlaces beside = ChooseFilePlaces(portable);
  EXPECT_EQ(beside.SettingsFile, "/media/stick/vorlixa.xml");
  EXPECT_EQ(beside.LogFile, "/media/stick/vorlixa.log");
  EXPECT_EQ(beside.VersionRecord, "/media/stick/vorlixa.ini");
  EXPECT_EQ(beside.UpdateFolder, "/media/stick");

  TFilePlaceFacts homeless = Installed();
  homeless.Home.clear();
  homeless.StateHome = "/state";
  EXPECT_EQ(Settings(homeless), "/usr/bin/vorlixa.xml")
      << "no place for the settings: none for the rest either";
}

}  // namespace vx
