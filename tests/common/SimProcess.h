#pragma once

#include "common/Wait.h"

#include <sys/types.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vx {

using SimBytes = std::vector<std::uint8_t>;

// One line of the simulator's log: a received unit (Event empty, Data its bytes, RESET
// included) or an event ("up", "line", "drop") with its text.
struct SimLogEntry {
  double Time = 0.0;  // monotonic seconds
  std::string Event;
  std::string Text;
  SimBytes Data;
};

struct SimRunResult {
  int ExitStatus = -1;  // 128 + signal number when it was killed
  std::string Out;
  std::string Err;
};

// vorlixa-sim as a child process in a temporary folder of its own: its link, log and
// output files live there and go away with the object. Every wait is bounded and
// reports failure instead of blocking.
class SimProcess {
 public:
  struct Options {
    int Boards = 2;
    std::string Reply;  // --reply value; empty: the simulator's default (FF)
    int DropMs = 500;
    // Long enough that RESET and the frame written right after it are never cut apart
    // on a busy machine.
    int IdleMs = 300;
    std::vector<std::string> Extra;  // further arguments
    // ddp, e131 or artnet: a network strip listening on a free port of 127.0.0.1 instead
    // of a chain (Boards, Reply, DropMs and IdleMs do not apply); empty: a chain.
    std::string Listen;
  };

  // Starts the simulator and waits for its link; raises std::runtime_error (with the
  // simulator's error output) when it does not come up.
  explicit SimProcess(const Options& options);
  SimProcess() : SimProcess(Options{}) {}
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  const std::string& LinkPath() const { return link_; }
  // The UDP port a listening strip took, from its "up 127.0.0.1:PORT"; 0 for a chain.
  int ListenPort() const;
  pid_t Pid() const { return pid_; }

  std::vector<SimLogEntry> Log() const;
  // The received units in order.
  std::vector<SimBytes> Units() const;
  // The texts of the events of that name, in order.
  std::vector<std::string> Events(std::string_view name) const;

  bool WaitForUnits(std::size_t count, int limitMs = kWaitLimitMs) const;
  bool WaitForEvents(std::string_view name, std::size_t count, int limitMs = kWaitLimitMs) const;

  void Signal(int signal) const;
  // Unplugs the line (SIGUSR1) and waits until the simulator has closed it.
  bool Drop();
  // Waits until the line dropped last is published again.
  bool WaitUntilBack(int limitMs = kWaitLimitMs) const;

  // Sends signal, waits for the process to end and returns its exit status; kills it
  // when it does not end in time.
  int Stop(int signal = SIGTERM);
  bool Running() const { return pid_ > 0; }
  std::string ErrorOutput() const;

  // Runs the simulator with args to its end (bounded) and collects its output.
  static SimRunResult Run(const std::vector<std::string>& args, int limitMs = kWaitLimitMs);

 private:
  std::string dir_;
  std::string link_;
  std::string logPath_;
  pid_t pid_ = -1;
  std::size_t drops_ = 0;
};

// RESET followed by data: what a unit holds.
SimBytes ResetAnd(const SimBytes& data);
// A unit as hex text, "FF 00 1A", for readable failure messages.
std::string HexText(const SimBytes& bytes);
// The lit LEDs of bar 0 or 1 of a board in a frame of a chain of boards whose bars have
// barLEDs each; 0 for a unit that is no such frame.
std::size_t LitLEDs(const SimBytes& unit, std::size_t boards, std::size_t board, std::size_t bar,
                    std::size_t barLEDs = 40);

}  // namespace vx
