#include "sim/FrameDecoder.h"

#include <algorithm>

namespace vxsim {

FrameDecoder::FrameDecoder(int boards)
    : frameLen_(static_cast<std::size_t>(std::max(boards, 0)) * kSimLEDsPerBoard),
      lastFrame_(frameLen_, 0) {
  current_.reserve(frameLen_ + 1);
}

std::size_t FrameDecoder::Feed(std::span<const std::uint8_t> bytes, std::vector<SimUnit>& units) {
  std::size_t resets = 0;
  for (const std::uint8_t byte : bytes) {
    ++bytes_;
    if (byte == kSimReset) {
      ++resets;
      ++resets_;
      // A RESET always starts over, whatever was still missing from the unit before.
      Flush(units);
      current_.push_back(byte);
    } else {
      current_.push_back(byte);
    }
    if (current_.front() == kSimReset && current_.size() == frameLen_ + 1) {
      Emit(true, units);
    }
  }
  return resets;
}

bool FrameDecoder::Flush(std::vector<SimUnit>& units) {
  if (current_.empty()) {
    return false;
  }
  Emit(false, units);
  return true;
}

void FrameDecoder::Emit(bool complete, std::vector<SimUnit>& units) {
  if (complete) {
    ++frames_;
    std::copy(current_.begin() + 1, current_.end(), lastFrame_.begin());
  }
  units.push_back(SimUnit{current_, complete});
  current_.clear();
}

}  // namespace vxsim
