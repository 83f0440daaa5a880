#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vxsim {

// The chain's command byte: it starts every frame and detection, and the boards answer it.
inline constexpr std::uint8_t kSimReset = 0xFF;
inline constexpr int kSimLEDsPerBoard = 80;
inline constexpr int kSimMaxBoards = 409;  // the most that the program's frame buffer holds

// One piece of the received byte stream as the chain saw it: a RESET and the bytes that
// followed it, or bytes that arrived before any RESET.
struct SimUnit {
  std::vector<std::uint8_t> Bytes;
  bool Complete = false;  // RESET followed by exactly one whole frame

  bool operator==(const SimUnit&) const = default;
};

// Cuts the received bytes into units by the RESET byte. A unit ends when it holds RESET
// plus boards x 80 bytes (a whole frame), when the next RESET arrives, or when the caller
// flushes it (an idle gap, the line going away). Pure: no I/O, no clock.
class FrameDecoder {
 public:
  explicit FrameDecoder(int boards);

  // Appends the units that these bytes end to units; returns the number of RESET bytes
  // among them, which is the number of replies the chain owes.
  std::size_t Feed(std::span<const std::uint8_t> bytes, std::vector<SimUnit>& units);
  // Ends the unit in progress, if any, and appends it to units.
  bool Flush(std::vector<SimUnit>& units);
  bool Pending() const { return !current_.empty(); }

  std::size_t FrameLen() const { return frameLen_; }
  std::uint64_t FrameCount() const { return frames_; }
  std::uint64_t ByteCount() const { return bytes_; }
  std::uint64_t ResetCount() const { return resets_; }
  // Brightness bytes of the last whole frame (all zero before the first one).
  std::span<const std::uint8_t> LastFrame() const { return lastFrame_; }

 private:
  void Emit(bool complete, std::vector<SimUnit>& units);

  std::size_t frameLen_;
  std::vector<std::uint8_t> current_;
  std::vector<std::uint8_t> lastFrame_;
  std::uint64_t frames_ = 0;
  std::uint64_t bytes_ = 0;
  std::uint64_t resets_ = 0;
};

}  // namespace vxsim
