#pragma once

#include "platform/SerialPort.h"

#include <QSerialPort>

namespace vx {

// SerialPort over QSerialPort, used synchronously: reads and writes block on the calling
// thread within the configured time-outs. Writes go straight to the device handle, and the
// event loop never watches the port.
class QtSerialPort final : public SerialPort {
 public:
  QtSerialPort() = default;
  ~QtSerialPort() override;
  QtSerialPort(const QtSerialPort&) = delete;
  QtSerialPort& operator=(const QtSerialPort&) = delete;

  bool Open(const std::string& name) override;
  bool IsOpen() const override;
  void Close() override;
  void Configure(const SerialTimeouts& timeouts) override;
  std::size_t Read(std::uint8_t* buffer, std::size_t count) override;
  std::size_t Write(const std::uint8_t* data, std::size_t count) override;
  void Purge() override;
  std::string ErrorString() const override;

 private:
  void StopReadNotifications();
  void RecordError();

  QSerialPort port_;
  SerialTimeouts timeouts_;
  std::string errorString_;
};

}  // namespace vx
