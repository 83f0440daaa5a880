#pragma once

#include <string>

namespace vx {

// Where the program keeps the files it writes. A program in a folder of its own that the
// user may write, and no one else but root, keeps them all beside itself, named after its
// program file. An installed program (in a system folder, such as /usr/bin) keeps them in
// the user's folders: the settings in $XDG_CONFIG_HOME/vorlixa, the rest in
// $XDG_STATE_HOME/vorlixa.
struct TFilePlaces {
  std::string SettingsFile;   // the settings: vorlixa.xml
  std::string LogFile;        // the program-wide log: vorlixa.log
  std::string VersionRecord;  // the update check's record of the own version: vorlixa.ini
  std::string UpdateFolder;   // where the update check keeps what it downloads
};

// What the choice rests on, as the system tells it.
struct TFilePlaceFacts {
  std::string ProgramFile;      // full path of the running program file
  bool FolderWritable = false;  // the user may create files in the program's folder, which
                                // belongs to the user or root and is closed to others
  std::string ConfigHome;       // $XDG_CONFIG_HOME as set (maybe empty or relative)
  std::string StateHome;        // $XDG_STATE_HOME as set
  std::string Home;             // the user's home folder; empty when unknown
};

// Every file beside programFile: its path with ".xml", ".log" and ".ini", and its folder.
TFilePlaces FilePlacesBeside(const std::string& programFile);

// Beside the program when its folder may be written, so that portable copies keep their
// files; otherwise the user's folders, even when the folder holds a settings file: one that
// root saved beside an installed program can be neither replaced nor logged beside. The
// user's folders follow the base directory rules: a variable that is unset, empty or not
// an absolute path counts as missing, and the home folder's ".config" and ".local/state"
// take its place. Without a home folder to fall back on, beside the program.
TFilePlaces ChooseFilePlaces(const TFilePlaceFacts& facts);

// The facts of the running program and this user.
TFilePlaceFacts SystemFilePlaceFacts();

// The places of this run: chosen from SystemFilePlaceFacts at the first call (at start),
// then kept, so that the settings and the log never part ways while the program runs.
// Raises EOSError when the program file cannot be told.
const TFilePlaces& ProgramFilePlaces();

}  // namespace vx
