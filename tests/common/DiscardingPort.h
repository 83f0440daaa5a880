#pragma once

#include "device/LEDController.h"
#include "platform/SerialPort.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace vx {

// A chain that answers every RESET at once and swallows whatever it is sent: for
// measuring and fuzzing the link without a device (port names never reach the system).
class DiscardingPort : public SerialPort {
 public:
  bool Open(const std::string& /*name*/) override { return open_ = true; }
  bool IsOpen() const override { return open_; }
  void Close() override { open_ = false; }
  void Configure(const SerialTimeouts& /*timeouts*/) override {}
  std::size_t Read(std::uint8_t* buffer, std::size_t count) override {
    if (count == 0) {
      return 0;
    }
    buffer[0] = kResetCommand;
    return 1;
  }
  std::size_t Write(const std::uint8_t* /*data*/, std::size_t count,
                    SerialDeadline /*deadline*/) override {
    return count;
  }
  void Purge() override {}
  SerialFailure Failure() const override { return SerialFailure::None; }
  std::uint32_t LineSpeed() const override { return 0; }
  std::string ErrorString() const override { return {}; }

 private:
  bool open_ = false;
};

}  // namespace vx
