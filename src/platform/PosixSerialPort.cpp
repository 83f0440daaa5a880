#include "platform/PosixSerialPort.h"

#include "platform/SystemError.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <limits>

namespace vx {

namespace {

using Clock = std::chrono::steady_clock;

constexpr short kGone = POLLHUP | POLLERR | POLLNVAL;

// Milliseconds left until deadline, at least 0, rounded up so that a wait never ends early.
int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<std::int64_t>(left, 0, std::numeric_limits<int>::max()));
}

Clock::time_point Deadline(std::uint32_t multiplier, std::uint32_t constant, std::size_t count) {
  const auto ms = std::uint64_t{multiplier} * count + constant;
  return Clock::now() + std::chrono::milliseconds(static_cast<std::int64_t>(ms));
}

// Errors of an open terminal whose device has gone: unplugged, or hung up.
bool MeansGone(int errorCode) {
  return errorCode == EIO || errorCode == ENXIO || errorCode == ENODEV;
}

// The slave side of a pseudo-terminal (Unix 98 or the old BSD kind): the bytes go
// straight to the other side's buffer, and TIOCOUTQ says 0 however much waits there.
bool IsPseudoTerminal(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) {
    return false;
  }
  const unsigned int kind = major(info.st_rdev);
  return (kind >= 136 && kind <= 143) || kind == 3;
}

SerialFailure OpenFailure(int errorCode) {
  switch (errorCode) {
    case ENOENT:
    case ENOTDIR:
    case ENODEV:
    case ENXIO:
      return SerialFailure::Missing;
    case EACCES:
    case EPERM:
      return SerialFailure::Denied;
    default:
      return SerialFailure::Other;
  }
}

}  // namespace

std::unique_ptr<SerialPort> CreateSerialPort() {
  return std::make_unique<PosixSerialPort>();
}

std::string SerialDeviceName(std::string_view port) {
  constexpr std::string_view kPrefix = "COM";
  if (port.size() <= kPrefix.size() || port[3] == '0') {
    return std::string(port);
  }
  for (std::size_t i = 0; i < kPrefix.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(port[i])) != kPrefix[i]) {
      return std::string(port);
    }
  }
  const std::string_view digits = port.substr(kPrefix.size());
  unsigned long number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (error != std::errc() || end != digits.data() + digits.size()) {
    return std::string(port);
  }
  return "/dev/ttyS" + std::to_string(number - 1);
}

PosixSerialPort::~PosixSerialPort() {
  Close();
}

bool PosixSerialPort::Open(const std::string& name) {
  Close();
  failure_ = SerialFailure::None;
  const std::string device = SerialDeviceName(name);
  // Not our controlling terminal, and never blocking on carrier detect; every wait
  // happens in poll with a time-out.
  UniqueFd fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.IsValid()) {
    failure_ = OpenFailure(errno);
    errorString_ = InOutErrorMessage(errno);
    return false;
  }
  // Exclusive, as the device was opened without sharing; also refuses what is no
  // terminal at all.
  if (::ioctl(fd.Get(), TIOCEXCL) != 0 || ::tcgetattr(fd.Get(), &found_) != 0) {
    failure_ = SerialFailure::Other;
    errorString_ = InOutErrorMessage(errno);
    return false;
  }
  pseudoTerminal_ = IsPseudoTerminal(fd.Get());
  fd_ = std::move(fd);
  // Set at once, so that the line never runs at another speed.
  if (!SetLine()) {
    const int error = errno;
    fd_.Reset();
    failure_ = SerialFailure::Other;
    errorString_ = InOutErrorMessage(error);
    return false;
  }
  return true;
}

bool PosixSerialPort::IsOpen() const {
  return fd_.IsValid();
}

void PosixSerialPort::Close() {
  CloseBy(SerialDeadline::max());
}

void PosixSerialPort::CloseBy(SerialDeadline deadline) {
  if (!fd_.IsValid()) {
    return;
  }
  CloseAfter(failure_ != SerialFailure::Lost && Drain(deadline));
}

void PosixSerialPort::CloseNow() {
  if (fd_.IsValid()) {
    CloseAfter(false);
  }
}

void PosixSerialPort::CloseAfter(bool drained) {
  if (drained) {
    // TCSADRAIN: the device may still hold the end of the dark frame after the driver's
    // queue is empty, and it must go out at our speed.
    ::tcsetattr(fd_.Get(), TCSADRAIN, &found_);
  } else {
    // Nothing more leaves a line that stopped taking bytes; what it still holds is
    // dropped, or closing would wait for it up to the driver's own limit (half a minute).
    // The speed stays: changing it under unsent bytes would garble them.
    ::tcflush(fd_.Get(), TCOFLUSH);
  }
  // The device stays open elsewhere (a pseudo-terminal's other side): let the next
  // opening in again.
  ::ioctl(fd_.Get(), TIOCNXCL);
  fd_.Reset();
}

// What was handed over last (the dark frame) may take the time it needs on the line,
// and a little more for the adapter; a device that stopped taking bytes without hanging
// up must not hold the program longer.
bool PosixSerialPort::Drain(SerialDeadline limit) {
  int queued = 0;
  if (::ioctl(fd_.Get(), TIOCOUTQ, &queued) != 0) {
    return false;
  }
  const auto needed = std::chrono::microseconds(std::int64_t{queued} * 10 * 1'000'000 / kLineSpeed);
  const auto deadline = std::min(limit, Clock::now() + needed + std::chrono::milliseconds(100));
  while (queued > 0 && Clock::now() < deadline) {
    ::usleep(2000);
    if (::ioctl(fd_.Get(), TIOCOUTQ, &queued) != 0) {
      return false;
    }
  }
  return queued <= 0;
}

bool PosixSerialPort::SetLine() {
  termios tio = found_;
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
  // Reads return what is there; waiting is poll's.
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  ::cfsetispeed(&tio, B115200);
  ::cfsetospeed(&tio, B115200);
  return ::tcsetattr(fd_.Get(), TCSANOW, &tio) == 0;
}

void PosixSerialPort::Configure(const SerialTimeouts& timeouts) {
  if (!Usable()) {
    return;
  }
  timeouts_ = timeouts;
  if (!SetLine()) {
    Failed(errno);
    return;
  }
  // A device without modem lines (a pseudo-terminal) refuses these; the data still flows.
  int dtr = TIOCM_DTR;
  int rts = TIOCM_RTS;
  ::ioctl(fd_.Get(), TIOCMBIS, &dtr);
  ::ioctl(fd_.Get(), TIOCMBIC, &rts);
}

std::size_t PosixSerialPort::Read(std::uint8_t* buffer, std::size_t count) {
  if (!Usable() || count == 0) {
    return 0;
  }
  const bool totalLimit = timeouts_.ReadTotalMultiplier != 0 || timeouts_.ReadTotalConstant != 0;
  const bool intervalLimit = timeouts_.ReadInterval != 0;
  const bool noLimit = !totalLimit && !intervalLimit;
  const auto deadline = Deadline(timeouts_.ReadTotalMultiplier, timeouts_.ReadTotalConstant, count);
  std::size_t received = 0;
  while (received < count) {
    const ssize_t n = ::read(fd_.Get(), buffer + received, count - received);
    if (n > 0) {
      received += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 && errno != EAGAIN) {
      Failed(errno);
      break;
    }
    // Nothing more there now.
    if (noLimit) {
      break;
    }
    int wait = totalLimit ? MillisecondsLeft(deadline) : -1;
    if (received > 0 && intervalLimit) {
      const int interval = static_cast<int>(
          std::min<std::uint32_t>(timeouts_.ReadInterval, std::numeric_limits<int>::max()));
      wait = wait < 0 ? interval : std::min(wait, interval);
    }
    if (wait == 0) {
      break;
    }
    pollfd ready{fd_.Get(), POLLIN, 0};
    const int result = ::poll(&ready, 1, wait);
    if (result < 0 && errno == EINTR) {
      continue;
    }
    if (result < 0) {
      Failed(errno);
      break;
    }
    if (result == 0) {
      break;
    }
    if ((ready.revents & kGone) != 0) {
      // Whatever the device sent before it went is still worth having.
      const ssize_t last = ::read(fd_.Get(), buffer + received, count - received);
      received += last > 0 ? static_cast<std::size_t>(last) : 0;
      MarkLost(EIO);
      break;
    }
  }
  return received;
}

std::size_t PosixSerialPort::Write(const std::uint8_t* data, std::size_t count,
                                   SerialDeadline deadline) {
  if (!Usable() || count == 0) {
    return 0;
  }
  if (timeouts_.WriteTotalMultiplier != 0 || timeouts_.WriteTotalConstant != 0) {
    deadline = std::min(
        deadline, Deadline(timeouts_.WriteTotalMultiplier, timeouts_.WriteTotalConstant, count));
  }
  std::size_t written = 0;
  while (HandOver(data, count, written)) {
    // The output queue is full: wait for room until the deadline. What does not fit in
    // time is never queued, as a timed-out write on the device drops its rest.
    const int wait = deadline == SerialDeadline::max() ? -1 : MillisecondsLeft(deadline);
    pollfd ready{fd_.Get(), POLLOUT, 0};
    const int result = wait == 0 ? 0 : ::poll(&ready, 1, wait);
    if (result < 0 && errno == EINTR) {
      continue;
    }
    if (result == 0 && written == 0) {
      // A device that takes nothing for a frame's time and more has stopped taking bytes
      // without hanging up (stuck adapter firmware, a radio link out of range): as good
      // as gone, and waiting for it again every frame would hold the caller.
      MarkLost(ETIMEDOUT);
      break;
    }
    if (result <= 0) {
      errorString_ = InOutErrorMessage(result == 0 ? ETIMEDOUT : errno);
      break;
    }
    if ((ready.revents & kGone) != 0) {
      MarkLost(EIO);
      break;
    }
  }
  return written;
}

std::size_t PosixSerialPort::WriteNow(const std::uint8_t* data, std::size_t count) {
  if (!Usable() || count == 0) {
    return 0;
  }
  std::size_t written = 0;
  HandOver(data, count, written);  // a full queue: the caller tries again later
  return written;
}

bool PosixSerialPort::HandOver(const std::uint8_t* data, std::size_t count, std::size_t& written) {
  while (written < count) {
    const ssize_t n = ::write(fd_.Get(), data + written, count - written);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return true;
    }
    Failed(n == 0 ? EIO : errno);
    return false;
  }
  return false;
}

void PosixSerialPort::GiveUp() {
  if (fd_.IsValid()) {
    MarkLost(ETIMEDOUT);
  }
}

std::optional<std::size_t> PosixSerialPort::QueuedBytes() const {
  int queued = 0;
  if (!Usable() || pseudoTerminal_ || ::ioctl(fd_.Get(), TIOCOUTQ, &queued) != 0) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(std::max(queued, 0));
}

void PosixSerialPort::DropOutput() {
  if (Usable()) {
    ::tcflush(fd_.Get(), TCOFLUSH);
  }
}

void PosixSerialPort::Purge() {
  // Output is not flushed: it is the frame the chain is still receiving, and on a
  // pseudo-terminal (which never holds output back) flushing would destroy bytes that
  // the other end has not read yet. A write that timed out dropped its rest itself.
  if (Usable() && ::tcflush(fd_.Get(), TCIFLUSH) != 0) {
    Failed(errno);
  }
}

void PosixSerialPort::Failed(int errorCode) {
  if (MeansGone(errorCode)) {
    MarkLost(errorCode);
    return;
  }
  errorString_ = InOutErrorMessage(errorCode);
}

void PosixSerialPort::MarkLost(int errorCode) {
  failure_ = SerialFailure::Lost;
  errorString_ = InOutErrorMessage(errorCode);
}

}  // namespace vx
