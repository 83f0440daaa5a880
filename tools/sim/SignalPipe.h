#pragma once

#include "platform/UniqueFd.h"

namespace vxsim {

// Signals as bytes on a pipe, so a poll loop sees them as input: SIGINT, SIGTERM, SIGHUP,
// SIGUSR1, SIGUSR2 and SIGWINCH write their number into it; SIGPIPE is ignored. One at a
// time per process; default handling is restored when it goes.
class SignalPipe {
 public:
  SignalPipe();  // raises std::system_error when the pipe cannot be made
  ~SignalPipe();
  SignalPipe(const SignalPipe&) = delete;
  SignalPipe& operator=(const SignalPipe&) = delete;

  // The non-blocking read end: one byte per signal, the signal's number.
  int Fd() const { return read_.Get(); }

 private:
  vx::UniqueFd read_;
  vx::UniqueFd write_;
};

}  // namespace vxsim
