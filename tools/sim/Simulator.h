#pragma once

#include "sim/Display.h"
#include "sim/FrameDecoder.h"
#include "sim/FrameLog.h"
#include "sim/LineSettings.h"
#include "sim/Pty.h"
#include "sim/SimOptions.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vxsim {

// The chain of boards behind one pseudo-terminal: one poll loop over the line, the
// signals (through a self-pipe) and the display; nothing in it ever blocks.
class Simulator {
 public:
  explicit Simulator(SimOptions options);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Runs until SIGINT, SIGTERM or SIGHUP; returns the exit status. Raises
  // std::runtime_error (or std::system_error) when the line cannot be set up.
  int Run();

 private:
  using Clock = std::chrono::steady_clock;

  void BringUp();
  void Drop();
  // Stops reading the line, or reads it again.
  void SetStalled(bool value);
  // Reads what the line holds, at most limit bytes.
  void ReadLine(std::size_t limit);
  // Bytes per second that the line carries with the settings on it; 0: no limit.
  double PaceRate() const;
  // The bytes that the line may deliver now, having refilled them up to now.
  double Credit(Clock::time_point now);
  void Received(std::span<const std::uint8_t> bytes);
  void FlushUnit();
  void CheckLineSettings();
  void Log(const std::string& text);
  void LogUnits();
  void Draw(Clock::time_point now);
  int NextTimeoutMs(Clock::time_point now) const;

  SimOptions options_;
  FrameDecoder decoder_;
  std::unique_ptr<Pty> pty_;  // empty while the line is dropped
  FrameLog log_;
  std::unique_ptr<TerminalWriter> display_;
  std::vector<SimUnit> units_;  // ended but not yet logged
  std::optional<LineSettings> lineSettings_;
  std::string slaveName_;
  Clock::time_point lastReceived_;
  Clock::time_point dropUntil_;
  Clock::time_point nextDraw_;
  double credit_ = 0.0;  // bytes the paced line may still deliver
  Clock::time_point creditTime_;
  std::optional<Clock::time_point> stallAt_;  // when --stall-after stops the reading
  bool stalled_ = false;                      // the line is not read
  bool dirty_ = true;
};

}  // namespace vxsim
