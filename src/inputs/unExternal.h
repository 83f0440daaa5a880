#pragma once

#include "inputs/unBarIO.h"

#include <chrono>
#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace vx {

// Levels that other programs set by channel name, and the channels that bars listen to.
// Process-wide state, GUI thread only: the program's bus service writes, the tick reads.
class TExternalLevels {
 public:
  using TClock = std::chrono::steady_clock;

  // Channels whose level is kept although no bar listens to them; a further one takes the
  // place of the one among them that was set longest ago.
  static constexpr std::size_t kMaxUnheardChannels = 256;
  // The longest channel name, in bytes.
  static constexpr std::size_t kMaxChannelName = 255;

  // Keeps level (0..1) as the latest of channel. Raises EConvertError for an empty or too
  // long channel name or a level that is not a number and ERangeError for one outside 0..1, with
  // the texts that the caller is shown; the kept level stays then.
  void SetLevel(const std::string& channel, double level, TClock::time_point now = TClock::now());
  // The latest level of channel; 0 when none came, or none within hold (zero: kept for good).
  double Level(const std::string& channel, std::chrono::seconds hold,
               TClock::time_point now = TClock::now()) const;

  // A bar listens to channel from Listen to Unlisten; both are counted.
  void Listen(const std::string& channel);
  void Unlisten(const std::string& channel);
  // The channels that bars listen to, each once, sorted.
  std::vector<std::string> Channels() const;

 private:
  struct TKept {
    double Level = 0.0;
    TClock::time_point Time;
  };
  std::map<std::string, TKept> levels_;
  std::map<std::string, int> listeners_;
};

// The one store of the process.
TExternalLevels& ExternalLevels();

// A level that another program sets over the session bus, by channel.
class TLBExternal final : public TLBInput {
 public:
  TLBExternal();
  ~TLBExternal() override;
  TLBExternal(const TLBExternal&) = delete;
  TLBExternal& operator=(const TLBExternal&) = delete;
  static const TLBInputClass ClassInfo;
  static std::string Name() { return "External"; }
  const TLBInputClass& Class() const override { return ClassInfo; }
  void Activate(TLEDBar& bar) override;
  void UpdateBar(TLEDBar& bar) override;
  void Deactivate(TLEDBar& bar) override;

 private:
  void StopListening();

  // From Activate on: the channel and the hold that the properties gave.
  std::string channel_;
  std::chrono::seconds hold_{0};
  bool listening_ = false;
};

}  // namespace vx
