#pragma once

#include "platform/UniqueFd.h"
#include "sim/Display.h"
#include "sim/FrameLog.h"
#include "sim/SimOptions.h"
#include "sim/StripDecoder.h"

#include <chrono>
#include <memory>
#include <string>

namespace vxsim {

// A network LED strip on 127.0.0.1: one UDP socket, the signals (through a self-pipe) and
// the display in one poll loop that never blocks, as the chain's Simulator has.
class StripListener {
 public:
  // options.Listen must be set.
  explicit StripListener(SimOptions options);
  ~StripListener();
  StripListener(const StripListener&) = delete;
  StripListener& operator=(const StripListener&) = delete;

  // Runs until SIGINT, SIGTERM or SIGHUP; returns the exit status. Raises
  // std::system_error when the socket cannot be set up (the port is taken, say).
  int Run();

 private:
  using Clock = std::chrono::steady_clock;

  void Open();
  // Takes every datagram waiting on the socket.
  void Receive();
  void Draw(Clock::time_point now);

  SimOptions options_;
  StripDecoder decoder_;
  vx::UniqueFd socket_;
  std::string endpoint_;  // "127.0.0.1:PORT" as bound
  FrameLog log_;
  std::unique_ptr<TerminalWriter> display_;
  std::string lastRefusal_;
  Clock::time_point nextDraw_;
  bool dirty_ = true;
};

}  // namespace vxsim
