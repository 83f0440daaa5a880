#include "device/LEDFrames.h"

#include "base/Exceptions.h"
#include "base/Format.h"

#include <algorithm>
#include <cstring>

namespace vx {

void RaiseRangeCheck() {
  throw ERangeError(kRangeCheckError);
}

void CheckSlot(std::int32_t slot) {
  if (slot < 0 || slot >= kLEDsPerBoard) {
    RaiseRangeCheck();
  }
}

namespace {

// LEDSendValue with the inversion as a mask (0xFF or 0): 255 - v is v ^ 0xFF for a byte,
// and a loop without a branch in it runs on whole vectors of slots.
std::uint8_t SendValue(std::uint8_t value, std::uint8_t minValue, std::uint8_t maxValue,
                       std::uint8_t invert) {
  const auto v = static_cast<std::uint8_t>(std::min(maxValue, std::max(minValue, value)) ^ invert);
  return std::min(kFullBrightness, v);
}

std::uint8_t InvertMask(bool inverted) {
  return inverted ? std::uint8_t{0xFF} : std::uint8_t{0};
}

}  // namespace

std::uint8_t LEDSendValue(std::uint8_t value, std::uint8_t minValue, std::uint8_t maxValue,
                          bool inverted) {
  return SendValue(value, minValue, maxValue, InvertMask(inverted));
}

void BuildBarBlock(std::span<const std::uint8_t, kLEDsPerBoard> leds, std::int32_t firstLED,
                   std::int32_t lastLED, bool reversed, bool inverted, std::uint8_t minValue,
                   std::uint8_t maxValue, TLEDBlock block) {
  if (firstLED > lastLED) {
    return;
  }
  CheckSlot(firstLED);
  const std::uint8_t invert = InvertMask(inverted);
  if (reversed) {
    // The first slot goes to the last position, so a range past the board fails before
    // anything is written.
    CheckSlot(lastLED);
    for (std::int32_t s = firstLED; s <= lastLED; ++s) {
      block[static_cast<std::size_t>(firstLED + lastLED - s)] =
          SendValue(leds[static_cast<std::size_t>(s)], minValue, maxValue, invert);
    }
    return;
  }
  const std::int32_t last = std::min(lastLED, kLEDsPerBoard - 1);
  for (std::int32_t s = firstLED; s <= last; ++s) {
    const auto i = static_cast<std::size_t>(s);
    block[i] = SendValue(leds[i], minValue, maxValue, invert);
  }
  if (lastLED > last) {
    RaiseRangeCheck();
  }
}

bool FrameChanged(std::span<const std::uint8_t> frame, std::span<const std::uint8_t> lastFrame,
                  std::size_t frameLen) {
  if (frame.size() < frameLen || lastFrame.size() < frameLen) {
    RaiseRangeCheck();
  }
  return frameLen != 0 && std::memcmp(frame.data(), lastFrame.data(), frameLen) != 0;
}

std::optional<std::string> DetectionWarning(std::span<const std::uint8_t> reply,
                                            std::uint32_t timeout) {
  if (reply.empty()) {
    return Format("Detection-warning: No response after %d ms.", timeout);
  }
  if (reply[0] != kResetCommand) {
    return Format("Detection-warning: Unexpected response 0x%.2X", unsigned{reply[0]});
  }
  return std::nullopt;
}

}  // namespace vx
