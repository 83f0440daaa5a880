#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vx {

// The frames that a chain of boards is sent, as plain code over bytes: no port, no clock.

inline constexpr int kLEDsPerBoard = 80;
inline constexpr int kMaxFrameSize = 32768;                       // bytes of a frame buffer
inline constexpr int kMaxBoards = kMaxFrameSize / kLEDsPerBoard;  // 409
inline constexpr std::uint8_t kFullBrightness = 254;
inline constexpr std::uint8_t kResetCommand = 0xFF;  // starts a frame; the chain echoes it

using TLEDBlock = std::span<std::uint8_t, kLEDsPerBoard>;

// ---------------------------------------------------------------------------------------
// Frame building and the chain's reply, as plain code over bytes.

// The byte sent for one bar LED: clamped to minValue..maxValue first, then inverted when
// asked. Never the RESET command: at most kFullBrightness.
std::uint8_t LEDSendValue(std::uint8_t value, std::uint8_t minValue, std::uint8_t maxValue,
                          bool inverted);

// Writes the slots firstLED..lastLED of leds into block as sent: LEDSendValue of each
// slot, at its own position or, when reversed, mirrored within the slot range. Raises
// ERangeError at the first slot or position outside 0..79 (what it wrote stays written).
void BuildBarBlock(std::span<const std::uint8_t, kLEDsPerBoard> leds, std::int32_t firstLED,
                   std::int32_t lastLED, bool reversed, bool inverted, std::uint8_t minValue,
                   std::uint8_t maxValue, TLEDBlock block);

// True when frame differs from lastFrame in its first frameLen bytes (never with 0).
bool FrameChanged(std::span<const std::uint8_t> frame, std::span<const std::uint8_t> lastFrame,
                  std::size_t frameLen);

// The warning for the chain's reply to RESET (an empty reply: nothing arrived within
// timeout ms), or nothing when the chain answered with RESET.
std::optional<std::string> DetectionWarning(std::span<const std::uint8_t> reply,
                                            std::uint32_t timeout);

// Raises ERangeError "Range check error", as every slot or board outside the chain does.
[[noreturn]] void RaiseRangeCheck();
// Raises it for a slot outside 0..79.
void CheckSlot(std::int32_t slot);

}  // namespace vx
