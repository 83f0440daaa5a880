#include "inputs/unExternal.h"

#include "base/Exceptions.h"
#include "base/Format.h"
#include "base/Numbers.h"
#include "device/LEDController.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace vx {

// ---- TExternalLevels --------------------------------------------------------------

void TExternalLevels::SetLevel(const std::string& channel, double level, TClock::time_point now) {
  if (channel.empty()) {
    throw EConvertError("A channel needs a name");
  }
  if (channel.size() > kMaxChannelName) {
    throw EConvertError(Format("A channel name has at most %d bytes, not %d",
                               static_cast<int>(kMaxChannelName),
                               static_cast<int>(channel.size())));
  }
  if (std::isnan(level)) {
    throw EConvertError(Format("The level of channel \"%s\" is not a number", channel));
  }
  if (level < 0.0 || level > 1.0) {
    throw ERangeError(Format("The level %s of channel \"%s\" lies outside 0..1",
                             std::isinf(level) ? (level > 0 ? "inf" : "-inf") : FloatToText(level),
                             channel));
  }
  const auto kept = levels_.find(channel);
  if (kept != levels_.end()) {
    kept->second = {level, now};
    return;
  }
  // A script that makes up a new name on every call must not fill the memory: the
  // channel that no bar listens to and that was set longest ago makes room.
  if (!listeners_.contains(channel)) {
    while (true) {
      auto oldest = levels_.end();
      std::size_t unheard = 0;
      for (auto entry = levels_.begin(); entry != levels_.end(); ++entry) {
        if (!listeners_.contains(entry->first)) {
          ++unheard;
          if (oldest == levels_.end() || entry->second.Time < oldest->second.Time) {
            oldest = entry;
          }
        }
      }
      if (unheard < kMaxUnheardChannels) {
        break;
      }
      levels_.erase(oldest);
    }
  }
  levels_.emplace(channel, TKept{level, now});
}

double TExternalLevels::Level(const std::string& channel, std::chrono::seconds hold,
                              TClock::time_point now) const {
  const auto kept = levels_.find(channel);
  if (kept == levels_.end()) {
    return 0.0;
  }
  if (hold.count() > 0 && now - kept->second.Time >= hold) {
    return 0.0;
  }
  return kept->second.Level;
}

void TExternalLevels::Listen(const std::string& channel) {
  ++listeners_[channel];
}

void TExternalLevels::Unlisten(const std::string& channel) {
  const auto listener = listeners_.find(channel);
  if (listener != listeners_.end() && --listener->second <= 0) {
    listeners_.erase(listener);
  }
}

std::vector<std::string> TExternalLevels::Channels() const {
  std::vector<std::string> channels;
  channels.reserve(listeners_.size());
  for (const auto& [channel, count] : listeners_) {
    channels.push_back(channel);
  }
  return channels;
}

TExternalLevels& ExternalLevels() {
  static TExternalLevels levels;
  return levels;
}

// ---- TLBExternal ------------------------------------------------------------------

const TLBInputClass TLBExternal::ClassInfo{
    "TLBExternal", []() -> std::unique_ptr<TLBInput> { return std::make_unique<TLBExternal>(); }};

TLBExternal::TLBExternal() {
  Description = "A level set by another program";
  AddProp("Channel", pkString, "").Value = std::string("level1");
  AddProp("Hold", pkInteger, "s").SetInteger(5);
  AddProp("Fade_perc", pkInteger, "%").SetInteger(60);
}

TLBExternal::~TLBExternal() {
  StopListening();
}

void TLBExternal::Activate(TLEDBar& bar) {
  StopListening();
  bar.SetLevel(0.0);
  SetFadePercentage(bar, PropByName("Fade_perc")->AsInteger());
  channel_ = PropByName("Channel")->AsText();
  // A negative hold keeps the level, as 0 does.
  hold_ = std::chrono::seconds(std::max(0, PropByName("Hold")->AsInteger()));
  ExternalLevels().Listen(channel_);
  listening_ = true;
}

void TLBExternal::UpdateBar(TLEDBar& bar) {
  bar.SetLevel(ExternalLevels().Level(channel_, hold_));
}

void TLBExternal::Deactivate(TLEDBar& bar) {
  StopListening();
  bar.SetLevel(0.0);
}

void TLBExternal::StopListening() {
  if (listening_) {
    ExternalLevels().Unlisten(channel_);
    listening_ = false;
  }
}

}  // namespace vx
