#include "sim/SignalPipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <system_error>

namespace vxsim {

namespace {

constexpr std::array<int, 6> kSignals{SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2, SIGWINCH};

// The write end; the handler only writes the signal number into it. A global, because
// that is all a signal handler can reach.
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables)
int gSignalPipe = -1;

extern "C" void OnSignal(int signal) {
  const int savedErrno = errno;
  const auto byte = static_cast<unsigned char>(signal);
  [[maybe_unused]] const ssize_t ignored = ::write(gSignalPipe, &byte, 1);
  errno = savedErrno;
}

}  // namespace

SignalPipe::SignalPipe() {
  std::array<int, 2> fds{};
  if (::pipe2(fds.data(), O_NONBLOCK | O_CLOEXEC) != 0) {
    throw std::system_error(errno, std::generic_category(), "pipe2");
  }
  read_ = vx::UniqueFd(fds[0]);
  write_ = vx::UniqueFd(fds[1]);
  gSignalPipe = write_.Get();
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : kSignals) {
    ::sigaction(signal, &action, nullptr);
  }
  // A reader that went away (display pipe) is an error on write, not a reason to die.
  ::signal(SIGPIPE, SIG_IGN);
}

SignalPipe::~SignalPipe() {
  for (const int signal : kSignals) {
    ::signal(signal, SIG_DFL);
  }
  gSignalPipe = -1;
}

}  // namespace vxsim
