#include "platform/QtSerialPort.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <limits>

#include <termios.h>

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
  std::size_t received = 0;
  for (;;) {
    if (port_.bytesAvailable() > 0) {
      const qint64 n = port_.read(reinterpret_cast<char*>(buffer + received),
                                  static_cast<qint64>(count - received));
      if (n > 0) {
        received += static_cast<std::size_t>(n);
      }
    }
    if (received == count || (!totalLimit && !intervalLimit)) {
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
    if (!port_.waitForReadyRead(wait)) {
      if (port_.error() != QSerialPort::TimeoutError) {
        RecordError();
      }
      port_.clearError();
      break;
    }
  }
  return received;
}

std::size_t QtSerialPort::Write(const std::uint8_t* data, std::size_t count) {
  if (!port_.isOpen() || count == 0) {
    return 0;
  }
  const qint64 queued =
      port_.write(reinterpret_cast<const char*>(data), static_cast<qint64>(count));
  if (queued < 0) {
    RecordError();
    return 0;
  }
  const bool limited = timeouts_.WriteTotalMultiplier != 0 || timeouts_.WriteTotalConstant != 0;
  const auto deadline =
      Deadline(timeouts_.WriteTotalMultiplier, timeouts_.WriteTotalConstant, count);
  while (port_.bytesToWrite() > 0) {
    const int wait = limited ? MillisecondsLeft(deadline) : -1;
    if (wait == 0 || !port_.waitForBytesWritten(wait)) {
      break;
    }
  }
  const qint64 pending = port_.bytesToWrite();
  if (pending > 0) {
    RecordError();
    // What missed the time-out is dropped, as a timed-out write on the device would.
    port_.clear(QSerialPort::Output);
  }
  // The bytes are with the driver now; wait until they have left the line.
  ::tcdrain(port_.handle());
  return static_cast<std::size_t>(std::max<qint64>(0, queued - pending));
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

void QtSerialPort::RecordError() {
  errorString_ = port_.errorString().toStdString();
  port_.clearError();
}
