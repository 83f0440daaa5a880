#pragma once

#include "platform/UniqueFd.h"

#include <termios.h>

#include <optional>
#include <string>

namespace vxsim {

// A pseudo-terminal pair in raw mode. The master is non-blocking. The simulator keeps a
// slave descriptor of its own open, so the master reads nothing (instead of failing)
// while no program has the line open, and so it can see the settings programs make.
class Pty {
 public:
  // Raises std::system_error when the system has no pseudo-terminal to give.
  static Pty Open();

  int Master() const { return master_.Get(); }
  const std::string& SlaveName() const { return slaveName_; }
  // The line settings as a program on the slave side last set them.
  std::optional<termios> Settings() const;

 private:
  vx::UniqueFd master_;
  vx::UniqueFd slave_;
  std::string slaveName_;
};

// Points the symlink link at target, replacing an older symlink in one step. Raises
// std::system_error, or std::runtime_error when link exists and is not a symlink.
void PublishLink(const std::string& target, const std::string& link);
// Removes link if it is a symlink to target; leaves anything else alone.
void WithdrawLink(const std::string& target, const std::string& link);

}  // namespace vxsim
