#pragma once

#include <string>

namespace vx {

class TFileCalls;
class TPortCfgList;

// Loads and saves the settings file: the automatic-update option and the port list.
// Everything else that the file holds survives a save. Failures are shown as a message
// and logged; neither operation raises.
class TSettings {
 public:
  // ports is not owned; fileName is normally SettingsFileName().
  TSettings(TPortCfgList& ports, std::string fileName);
  // As above, with the file calls that saving uses (tests make them fail).
  TSettings(TPortCfgList& ports, std::string fileName, TFileCalls& fileCalls);

  const std::string& FileName() const { return fileName_; }
  TPortCfgList& Ports() const { return ports_; }

  // Reads the option and the ports. A file without a "Vorlixa" root (missing, another
  // root) changes nothing. So does a file that exists but cannot be read or parsed: that
  // is logged as an error each time and shown once, until a load or save succeeds.
  void LoadSettings();
  // Writes the option and the ports into the file, replacing it whole or not at all. A
  // file that cannot be read or parsed is first kept beside it (KeepBadSettingsFile).
  void SaveSettings();

  // The "Enable" box of the "Auto update" group: LoadSettings sets it from the file,
  // SaveSettings writes it.
  bool AutoUpdate = false;

 private:
  TPortCfgList& ports_;
  std::string fileName_;
  TFileCalls& fileCalls_;
  bool unreadableShown_ = false;  // the message about an unreadable file has been shown
};

// The "AutoUpdate" value of the settings file fileName as the automatic update check reads
// it: false for a missing or malformed file, a file without a "Vorlixa" root or without the
// value; an error while reading the value is logged and counts as false. A file that
// cannot be loaded at all (too large) raises.
bool ReadAutoUpdateSetting(const std::string& fileName);

}  // namespace vx
