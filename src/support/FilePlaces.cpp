#include "support/FilePlaces.h"

#include "platform/ProgramFile.h"
#include "platform/UserFolders.h"

#include <filesystem>
#include <string_view>

namespace vx {

namespace {

namespace fs = std::filesystem;

constexpr const char* kFolderName = "vorlixa";

// A base folder of the user: variable when it holds an absolute path, else fallback below
// home; empty when neither gives one.
std::string BaseFolder(const std::string& variable, const std::string& home,
                       std::string_view fallback) {
  if (variable.starts_with('/')) {
    return variable;
  }
  if (home.starts_with('/')) {
    return (fs::path(home) / fallback).string();
  }
  return {};
}

}  // namespace

TFilePlaces FilePlacesBeside(const std::string& programFile) {
  TFilePlaces places;
  places.SettingsFile = ChangeFileExt(programFile, ".xml");
  places.LogFile = ChangeFileExt(programFile, ".log");
  places.VersionRecord = ChangeFileExt(programFile, ".ini");
  places.UpdateFolder = fs::absolute(fs::path(programFile)).parent_path().string();
  return places;
}

TFilePlaces ChooseFilePlaces(const TFilePlaceFacts& facts) {
  const std::string config = BaseFolder(facts.ConfigHome, facts.Home, ".config");
  const std::string state = BaseFolder(facts.StateHome, facts.Home, ".local/state");
  if (facts.FolderWritable || config.empty() || state.empty()) {
    return FilePlacesBeside(facts.ProgramFile);
  }
  const fs::path configFolder = fs::path(config) / kFolderName;
  const fs::path stateFolder = fs::path(state) / kFolderName;
  TFilePlaces places;
  places.SettingsFile = (configFolder / "vorlixa.xml").string();
  places.LogFile = (stateFolder / "vorlixa.log").string();
  places.VersionRecord = (stateFolder / "vorlixa.ini").string();
  places.UpdateFolder = stateFolder.string();
  return places;
}

TFilePlaceFacts SystemFilePlaceFacts() {
  TFilePlaceFacts facts;
  facts.ProgramFile = ProgramFilePath();
  const std::string folder = fs::path(facts.ProgramFile).parent_path().string();
  // A folder that others may write could hold their links and files in the place of ours.
  facts.FolderWritable = CanCreateFilesIn(folder) && IsClosedToOthers(folder);
  facts.ConfigHome = EnvironmentText("XDG_CONFIG_HOME");
  facts.StateHome = EnvironmentText("XDG_STATE_HOME");
  facts.Home = HomeFolder();
  return facts;
}

const TFilePlaces& ProgramFilePlaces() {
  static const TFilePlaces places = ChooseFilePlaces(SystemFilePlaceFacts());
  return places;
}

}  // namespace vx
