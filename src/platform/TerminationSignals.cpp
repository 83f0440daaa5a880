#include "platform/TerminationSignals.h"

#include "base/Exceptions.h"
#include "platform/SystemError.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>

namespace vx {

namespace {

constexpr std::array<int, 3> kSignals = {SIGTERM, SIGINT, SIGHUP};

// The pipe's writing end for the handler; -1 while no object is installed.
// A signal handler reaches nothing but globals.
std::atomic<int> signalPipe{-1};  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables): restored on uninstall
std::array<struct sigaction, kSignals.size()> previousActions{};

void WriteSignalByte(int signal) {
  const int savedErrno = errno;
  const int fd = signalPipe.load();
  if (fd >= 0) {
    const auto byte = static_cast<std::uint8_t>(signal);
    // A full pipe already holds a wake-up; the byte may then be dropped.
    [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
  }
  errno = savedErrno;
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void(int signal)> onSignal)
    : onSignal_(std::move(onSignal)) {
  std::array<int, 2> fds{};
  if (::pipe2(fds.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
    throw EOSError(InOutErrorMessage(errno));
  }
  readEnd_ = UniqueFd(fds[0]);
  writeEnd_ = UniqueFd(fds[1]);
  signalPipe.store(writeEnd_.Get());
  notifier_ = std::make_unique<QSocketNotifier>(readEnd_.Get(), QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { Drain(); });

  struct sigaction action {};
  action.sa_handler = WriteSignalByte;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    if (::sigaction(kSignals[i], &action, &previousActions[i]) != 0) {
      const int error = errno;
      for (std::size_t j = 0; j < i; ++j) {
        ::sigaction(kSignals[j], &previousActions[j], nullptr);
      }
      signalPipe.store(-1);
      throw EOSError(InOutErrorMessage(error));
    }
  }
}

TerminationSignals::~TerminationSignals() {
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    ::sigaction(kSignals[i], &previousActions[i], nullptr);
  }
  signalPipe.store(-1);
}

void TerminationSignals::Drain() {
  std::array<std::uint8_t, 16> bytes{};
  for (;;) {
    const ssize_t count = ::read(readEnd_.Get(), bytes.data(), bytes.size());
    if (count <= 0) {
      return;
    }
    for (ssize_t i = 0; i < count; ++i) {
      if (onSignal_) {
        onSignal_(bytes[static_cast<std::size_t>(i)]);
      }
    }
  }
}

}  // namespace vx
