#pragma once

#include "platform/Autostart.h"

#include <string>

namespace vx {

// Start at login through XDG autostart entries: a desktop entry "vorlixa.desktop" whose
// Exec names the program file. The desktop session reads the all-users folder and the
// user's folder; an entry of the user's folder hides one of the same name in the
// all-users folder, so both scopes together still start the program once.
class XdgAutostart final : public Autostart {
 public:
  static constexpr const char* kEntryName = "vorlixa.desktop";

  // The system folders ("/etc/xdg/autostart" and $XDG_CONFIG_HOME/autostart, by default
  // ~/.config/autostart) and the running program file.
  XdgAutostart();
  // Given folders and program path (tests, and a program that knows better).
  XdgAutostart(std::string allUsersFolder, std::string userFolder, std::string programPath);

  // The entry exists, is not hidden, and its Exec command runs this program file: by its
  // path, through a link, or by a name that the PATH finds, with or without "env".
  bool IsEnabled(TAutostartScope scope) const override;
  // Enabled: writes the entry (creating the folder when missing) in one piece. Otherwise
  // removes the all-users entry, and replaces a user's entry that is on with one that is
  // off (a user's entry that is off already, or none, is left as it is).
  void SetEnabled(TAutostartScope scope, bool enabled) override;

  std::string EntryFileName(TAutostartScope scope) const;
  const std::string& ProgramPath() const { return programPath_; }

 private:
  std::string allUsersFolder_;
  std::string userFolder_;
  std::string programPath_;
};

// The all-users and the user's autostart folder of this system.
std::string XdgAllUsersAutostartFolder();
std::string XdgUserAutostartFolder();

// The desktop entry that starts programPath (its Exec quoted as desktop entries need), or,
// with enabled false, one that is switched off (Hidden=true and
// X-GNOME-Autostart-enabled=false): in the user's folder it keeps an all-users entry of
// the same name from starting the program for that user.
std::string AutostartEntryText(const std::string& programPath, bool enabled = true);
// The program that a desktop entry's Exec line runs (after "env" and its settings, when
// it starts with env), quoting and escapes removed; empty when the text holds no Exec in
// its "Desktop Entry" group. *hidden tells whether the entry
// is switched off (Hidden=true or X-GNOME-Autostart-enabled=false).
std::string AutostartEntryProgram(const std::string& entryText, bool* hidden = nullptr);

}  // namespace vx
