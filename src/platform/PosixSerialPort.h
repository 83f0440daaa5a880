#pragma once

#include "platform/SerialPort.h"
#include "platform/UniqueFd.h"

#include <termios.h>

namespace vx {

// SerialPort over a terminal device's own descriptor: open without becoming its
// controlling terminal and without blocking, exclusive (TIOCEXCL), raw 115200 8N1
// through termios, reads and writes through poll with the time-outs. Nothing here
// wakes the event loop: the caller asks, the port answers. A hang-up or an error that
// means the device is gone (EIO, ENXIO, ENODEV) marks the port lost.
class PosixSerialPort final : public SerialPort {
 public:
  static constexpr std::uint32_t kLineSpeed = 115200;

  PosixSerialPort() = default;
  ~PosixSerialPort() override;
  PosixSerialPort(const PosixSerialPort&) = delete;
  PosixSerialPort& operator=(const PosixSerialPort&) = delete;

  bool Open(const std::string& name) override;
  bool IsOpen() const override;
  void Close() override;
  void CloseNow() override;
  void CloseBy(SerialDeadline deadline) override;
  void Configure(const SerialTimeouts& timeouts) override;
  std::size_t Read(std::uint8_t* buffer, std::size_t count) override;
  std::size_t Write(const std::uint8_t* data, std::size_t count, SerialDeadline deadline) override;
  std::size_t WriteNow(const std::uint8_t* data, std::size_t count) override;
  void GiveUp() override;
  std::optional<std::size_t> QueuedBytes() const override;
  void DropOutput() override;
  void Purge() override;
  SerialFailure Failure() const override { return failure_; }
  std::uint32_t LineSpeed() const override { return kLineSpeed; }
  std::string ErrorString() const override { return errorString_; }

 private:
  bool SetLine();
  // Writes data from written on until all of count is taken (false), the driver's queue
  // is full (true), or a failure, which is recorded (false). Never waits.
  bool HandOver(const std::uint8_t* data, std::size_t count, std::size_t& written);
  // Gives the line its settings back when drained, else drops what it still holds; closes.
  void CloseAfter(bool drained);
  // True once the bytes handed over have left the driver; false when they could not in
  // their time (or by limit) and were dropped.
  bool Drain(SerialDeadline limit);
  // Records the error number; one that means the device is gone marks the port lost.
  void Failed(int errorCode);
  void MarkLost(int errorCode);
  bool Usable() const { return fd_.IsValid() && failure_ != SerialFailure::Lost; }

  UniqueFd fd_;
  termios found_{};  // the settings the device had; given back on closing
  SerialTimeouts timeouts_;
  SerialFailure failure_ = SerialFailure::None;
  bool pseudoTerminal_ = false;  // its driver never counts queued output
  std::string errorString_;
};

}  // namespace vx
