#pragma once

#include <optional>
#include <string>

namespace vx {

class Autostart;

// The start-at-login check boxes of the settings window (cbAutoLoadAll for every user,
// cbAutoLoadUser for this user) and the autostart entries behind them. The main window
// calls LoadAutoLoad first in LoadSettings and SaveAutoLoad first in SaveSettings, with
// its XdgAutostart.

// The caption of cbAutoLoadUser: "Load at login (%s)" with the user's login name.
std::string AutoLoadUserCaption();

// Sets allUsers and user from the entries. An entry that cannot be read leaves its box as
// it is and is logged as a warning; the other box is still read.
void LoadAutoLoad(const Autostart& autostart, bool& allUsers, bool& user);

// Writes the entries of checked boxes and switches off those of clear ones; a box given
// as nullopt (one the user left as the window showed it) leaves its entry as it is (the all-users
// entry is removed; the user's entry says off, so that it also keeps an all-users entry
// from starting the program for this user alone). A box left clear over a user's entry
// that is off changes nothing there, so an opt-out made with the desktop's tools stays. A
// location that cannot be written (the all-users folder for an ordinary user) is skipped
// without a message and logged as a warning; the other one is still written.
void SaveAutoLoad(Autostart& autostart, std::optional<bool> allUsers, std::optional<bool> user);

}  // namespace vx
