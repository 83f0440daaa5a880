#include "platform/QtSerialPort.h"

#include "platform/SystemError.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <limits>

#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace vx {

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline, at least 0, rounded up so that a wait never ends early.
int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<std::int64_t>(left, 0, std::numeric_limits<int>::max()));
}

Clock::time_point Deadline(std::uint32_t multiplier, std::uint32_t constant, std::size_t count) {
  const auto ms = std::uint64_t{multiplier} * count + constant;
  return Clock::now() + std::chrono::milliseconds(static_cast<std::int64_t>(ms));
}

}  // namespace

std::unique_ptr<SerialPort> CreateSerialPort() {
  return std::make_unique<QtSerialPort>();
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

QtSerialPort::~QtSerialPort() = default;

bool QtSerialPort::Open(const std::string& name) {
  if (port_.isOpen()) {
    port_.close();
  }
  port_.setPortName(QString::fromStdString(SerialDeviceName(name)));
  // Set before opening too, so that the line never runs at another speed.
  port_.setBaudRate(QSerialPort::Baud115200);
  port_.setDataBits(QSerialPort::Data8);
  port_.setParity(QSerialPort::NoParity);
  port_.setStopBits(QSerialPort::OneStop);
  port_.setFlowControl(QSerialPort::NoFlowControl);
  if (!port_.open(QIODevice::ReadWrite)) {
    RecordError();
    return false;
  }
  StopReadNotifications();
  return true;
}

bool QtSerialPort::IsOpen() const {
  return port_.isOpen();
}

void QtSerialPort::Close() {
  if (port_.isOpen()) {
    port_.close();
  }
}

void QtSerialPort::Configure(const SerialTimeouts& timeouts) {
  if (!port_.isOpen()) {
    return;
  }
  timeouts_ = timeouts;
  const bool lineSet =
      port_.setBaudRate(QSerialPort::Baud115200) && port_.setDataBits(QSerialPort::Data8) &&
      port_.setParity(QSerialPort::NoParity) && port_.setStopBits(QSerialPort::OneStop) &&
      port_.setFlowControl(QSerialPort::NoFlowControl);
  if (!lineSet) {
    RecordError();
  }
  // A device without modem lines (a pseudo-terminal) refuses these; the data still flows.
  const bool dtr = port_.setDataTerminalReady(true);
  const bool rts = port_.setRequestToSend(false);
  if (!dtr || !rts) {
    port_.clearError();
  }
}

std::size_t QtSerialPort::Read(std::uint8_t* buffer, std::size_t count) {
  if (!port_.isOpen() || count == 0) {
    return 0;
  }
  const bool totalLimit = timeouts_.ReadTotalMultiplier != 0 || timeouts_.ReadTotalConstant != 0;
  const bool intervalLimit = timeouts_.ReadInterval != 0;
  const auto deadline = Deadline(timeouts_.ReadTotalMultiplier, timeouts_.ReadTotalConstant, count);
  const bool noLimit = !totalLimit && !intervalLimit;
  std::size_t received = 0;
  bool fetched = false;  // the driver's input has been looked at
  for (;;) {
    if (port_.bytesAvailable() > 0) {
      const qint64 n = port_.read(reinterpret_cast<char*>(buffer + received),
                                  static_cast<qint64>(count - received));
      if (n > 0) {
        received += static_cast<std::size_t>(n);
      }
    }
    if (received == count || (noLimit && fetched)) {
      break;
    }
    int wait = 0;  // without limits: only what the driver holds already
    if (!noLimit) {
      wait = totalLimit ? MillisecondsLeft(deadline) : -1;
      if (received > 0 && intervalLimit) {
        const int interval = static_cast<int>(
            std::min<std::uint32_t>(timeouts_.ReadInterval, std::numeric_limits<int>::max()));
        wait = wait < 0 ? interval : std::min(wait, interval);
      }
      if (wait == 0) {
        break;
      }
    }
    fetched = true;
    if (!port_.waitForReadyRead(wait)) {
      if (port_.error() != QSerialPort::TimeoutError) {
        RecordError();
      }
      port_.clearError();
      break;
    }
  }
  StopReadNotifications();
  return received;
}

std::size_t QtSerialPort::Write(const std::uint8_t* data, std::size_t count) {
  if (!port_.isOpen() || count == 0) {
    return 0;
  }
  // Straight to the device: QSerialPort's buffered write switches its write notifier on
  // and off, and every switch wakes the event loop again, several times per frame.
  const int fd = port_.handle();
  const bool limited = timeouts_.WriteTotalMultiplier != 0 || timeouts_.WriteTotalConstant != 0;
  const auto deadline =
      Deadline(timeouts_.WriteTotalMultiplier, timeouts_.WriteTotalConstant, count);
  std::size_t written = 0;
  while (written < count) {
    const ssize_t n = ::write(fd, data + written, count - written);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      errorString_ = InOutErrorMessage(n == 0 ? EIO : errno);
      break;
    }
    // The output queue is full: wait for room as long as the time-out allows. What does
    // not fit in time is never queued, as a timed-out write on the device drops its rest.
    const int wait = limited ? MillisecondsLeft(deadline) : -1;
    pollfd ready{fd, POLLOUT, 0};
    const int result = wait == 0 ? 0 : ::poll(&ready, 1, wait);
    if (result < 0 && errno == EINTR) {
      continue;
    }
    if (result <= 0) {
      errorString_ = result == 0 ? InOutErrorMessage(ETIMEDOUT) : InOutErrorMessage(errno);
      break;
    }
    if ((ready.revents & POLLOUT) == 0) {  // hung up or failed: writing would never get on
      errorString_ = InOutErrorMessage(EIO);
      break;
    }
  }
  // The bytes are with the driver now; wait until they have left the line.
  ::tcdrain(fd);
  return written;
}

void QtSerialPort::Purge() {
  // Output is not flushed: Write has already waited until its bytes left, and on a
  // pseudo-terminal (which drains at once) flushing output would destroy bytes that the
  // other end has not read yet. A write that timed out dropped its rest itself.
  if (port_.isOpen()) {
    port_.clear(QSerialPort::Input);
  }
}

std::string QtSerialPort::ErrorString() const {
  return errorString_;
}

// QSerialPort watches an open port for input and fetches it into its buffer in the event
// loop. Nothing here waits for input that way: reads wait for it themselves, and whatever
// the chain sends otherwise (the echo of every RESET) is purged, from the driver just as
// well. Watching would only wake the GUI thread once more for every frame.
void QtSerialPort::StopReadNotifications() {
  for (QSocketNotifier* notifier : port_.findChildren<QSocketNotifier*>()) {
    if (notifier->type() == QSocketNotifier::Read) {
      notifier->setEnabled(false);
    }
  }
}

void QtSerialPort::RecordError() {
  errorString_ = port_.errorString().toStdString();
  port_.clearError();
}

}  // namespace vx
