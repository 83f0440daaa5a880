#pragma once

#include "platform/UniqueFd.h"

#include <unistd.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vxsim {

// What the terminal display shows: the chain's state and the last whole frame.
struct DisplayState {
  std::string Link;    // the published symlink
  std::string Slave;   // the pseudo-terminal it points to; empty while the line is dropped
  int DropLeftMs = 0;  // while dropped: time until the line comes back
  int Boards = 0;
  int BarSize = 40;
  std::string Reply;  // answer to RESET, as ReplyText shows it
  std::string Line;   // line settings, as DescribeLineSettings shows them
  std::uint64_t Frames = 0;
  std::uint64_t Bytes = 0;
  std::uint64_t Resets = 0;
  std::span<const std::uint8_t> Frame;  // Boards x 80 brightness bytes
};

// What the terminal display shows of a network strip: where it listens and its pixels.
struct StripDisplayState {
  std::string Protocol;    // "ddp", "e131", "artnet"
  std::string Endpoint;    // "127.0.0.1:4048"
  int FirstUniverse = -1;  // -1: the protocol has none
  std::uint64_t Frames = 0;
  std::uint64_t Packets = 0;
  std::uint64_t Refused = 0;
  std::string LastRefusal;              // why the last refused packet was refused
  std::span<const std::uint8_t> Strip;  // R, G, B per pixel
};

// The shaded block (UTF-8) that shows one LED of brightness value: a dot when off.
std::string_view LEDGlyph(std::uint8_t value);

// The whole screen for a terminal of columns x rows: ANSI cursor-home, every line cleared
// to its end, and the rest of the screen cleared. Each board shows its two bars of
// BarSize LEDs (bar k on slots k x BarSize ...); boards that do not fit are counted.
std::string RenderDisplay(const DisplayState& state, int columns, int rows);

// The whole screen for a network strip, as RenderDisplay makes it for a chain: every pixel a
// cell in its own colour (24-bit escape codes), black ones a dot, as many rows as the strip
// needs; pixels that do not fit are counted.
std::string RenderStripDisplay(const StripDisplayState& state, int columns, int rows);

// Writes screens to standard output without ever blocking the caller: a screen that the
// terminal cannot take yet stays pending, and no new one is started until it is out.
class TerminalWriter {
 public:
  TerminalWriter();
  ~TerminalWriter();  // restores the screen and the cursor
  TerminalWriter(const TerminalWriter&) = delete;
  TerminalWriter& operator=(const TerminalWriter&) = delete;

  int Fd() const { return ownFd_.IsValid() ? ownFd_.Get() : STDOUT_FILENO; }
  bool Busy() const { return !pending_.empty(); }
  // Starts writing screen unless the last one is still going out; false if skipped.
  bool Offer(std::string screen);
  // Writes what the terminal takes now of the pending screen.
  void Continue();
  // Terminal size, 80 x 24 when unknown.
  int Columns() const;
  int Rows() const;

 private:
  vx::UniqueFd ownFd_;  // our own description of standard output; unset: fd 1 itself
  std::string pending_;
  std::size_t written_ = 0;
};

}  // namespace vxsim
