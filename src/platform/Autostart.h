#pragma once

#include <string>

namespace vx {

// Where a start-at-login entry is kept: for every user of the machine, or for the user
// running the program.
enum class TAutostartScope { AllUsers, CurrentUser };

// Starting the program at login. The settings window shows one check box per scope.
class Autostart {
 public:
  virtual ~Autostart() = default;
  // True when an entry of that scope starts this program file. Raises EInOutError when an
  // entry exists but cannot be read.
  virtual bool IsEnabled(TAutostartScope scope) const = 0;
  // Writes an entry that starts this program file, replacing one that starts another
  // copy, or stops the entry of that scope from starting anything (a missing entry is no
  // error; a user's entry that is switched off already stays as it is). Raises
  // EInOutError when the location cannot be written.
  virtual void SetEnabled(TAutostartScope scope, bool enabled) = 0;
};

// The login name of the user running the program (the effective user), or the empty text
// when the system cannot tell.
std::string LoginUserName();

}  // namespace vx
