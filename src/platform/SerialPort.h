#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vx {

// Time-outs of a serial port in milliseconds, with the classic comm time-out meaning:
// a read of n bytes ends after ReadTotalMultiplier * n + ReadTotalConstant ms, or
// earlier when more than ReadInterval ms pass between two received bytes; a write of
// n bytes gives up after WriteTotalMultiplier * n + WriteTotalConstant ms. 0 = no limit
// of that kind (a read with all three read values 0 returns what is already there).
struct SerialTimeouts {
  std::uint32_t ReadInterval = 0;
  std::uint32_t ReadTotalMultiplier = 0;
  std::uint32_t ReadTotalConstant = 0;
  std::uint32_t WriteTotalMultiplier = 0;
  std::uint32_t WriteTotalConstant = 0;
};

// When a write gives up at the latest.
using SerialDeadline = std::chrono::steady_clock::time_point;

// Why a port did not open, or why an open port stopped working.
enum class SerialFailure {
  None,
  Missing,  // no such device: not plugged in (yet), or a name that leads nowhere
  Denied,   // the user may not open the device
  Lost,     // the device went away while open: unplugged, hung up, powered off, or it
            // stopped taking bytes (a write took nothing in its time)
  Other,    // anything else: in use, not a serial device, ...
};

// A serial device used synchronously on the GUI thread. The line is always 115200 baud,
// 8 data bits, no parity, 1 stop bit, no flow control, DTR on and RTS off. No operation
// raises: failures show in the results, in Failure() and in ErrorString().
class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Opens the named device exclusively for reading and writing; false when it cannot.
  // The name is looked up afresh every time (a symlink may point elsewhere by now).
  virtual bool Open(const std::string& name) = 0;
  virtual bool IsOpen() const = 0;
  // Gives the device its own line settings back once the bytes handed over have left; a
  // line that cannot send them in their time (or a lost port) keeps its speed and drops
  // them, so that closing never waits much longer than the line needs.
  virtual void Close() = 0;
  // Closes without waiting for the line: what is still queued is dropped and the line
  // keeps its speed. For a port given up (its chain stopped answering), where a wait
  // would only hold the caller.
  virtual void CloseNow() { Close(); }
  // Close, with the wait for the line ending at deadline at the latest: several ports
  // closing at exit share one limit.
  virtual void CloseBy(SerialDeadline deadline) {
    static_cast<void>(deadline);
    Close();
  }
  // Applies the line settings and the time-outs to an open port.
  virtual void Configure(const SerialTimeouts& timeouts) = 0;
  // Reads up to count bytes, blocking at most as long as the read time-outs allow;
  // returns the number read (0 on a closed or lost port or when nothing arrived).
  virtual std::size_t Read(std::uint8_t* buffer, std::size_t count) = 0;
  // Hands count bytes to the device, waiting for room at most as long as the write
  // time-outs allow and never past deadline; returns the number of bytes taken. A write
  // that could take nothing by then marks the port lost. It does not wait for the bytes
  // to leave the line: LineSpeed tells how long that takes.
  virtual std::size_t Write(const std::uint8_t* data, std::size_t count,
                            SerialDeadline deadline) = 0;
  // Hands over what the device takes at once, without waiting for room; returns the
  // number of bytes taken. A full queue is no failure here: only a device that is gone
  // marks the port lost.
  virtual std::size_t WriteNow(const std::uint8_t* data, std::size_t count) {
    return Write(data, count, std::chrono::steady_clock::now());
  }
  // Marks the open port lost because it has refused bytes for longer than its user
  // allows (the device stopped taking them without hanging up).
  virtual void GiveUp() {}
  // Bytes handed over that the device has yet to send, where the driver counts them;
  // none where it does not (a pseudo-terminal always says 0).
  virtual std::optional<std::size_t> QueuedBytes() const { return std::nullopt; }
  // Drops the output handed over and not yet sent (the backlog of a slow line).
  virtual void DropOutput() {}
  // Discards pending input. Output is left alone: it is what the chain has yet to see.
  virtual void Purge() = 0;
  // The reason of the last failed Open, or Lost once the open port has failed for good
  // (it stays open until closed; every further call fails at once). None otherwise.
  virtual SerialFailure Failure() const = 0;
  // Bits per second on the line; 0 when the device takes bytes as fast as they come.
  virtual std::uint32_t LineSpeed() const = 0;
  // The system's text for the last failure.
  virtual std::string ErrorString() const = 0;
};

// The port implementation of this platform; it opens nothing by itself.
std::unique_ptr<SerialPort> CreateSerialPort();

// The device that a port name stands for: "COMn" (n >= 1, any letter case) is an alias
// of /dev/ttyS(n-1), so settings written on Windows keep working; every other name is
// returned unchanged.
std::string SerialDeviceName(std::string_view port);

}  // namespace vx
