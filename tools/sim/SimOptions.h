#pragma once

#include "sim/StripDecoder.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vxsim {

// Where the simulator publishes its line when no --link is given; the example program
// uses the same path.
inline constexpr const char* kSimDefaultLink = "/tmp/vorlixa-sim";

enum class SimDisplay { Auto, On, Off };

struct SimOptions {
  int Boards = 2;
  std::string Link = kSimDefaultLink;  // symlink to the pseudo-terminal's slave device
  // The byte that answers every RESET; none: the chain stays silent.
  std::optional<std::uint8_t> Reply = std::uint8_t{0xFF};
  SimDisplay Display = SimDisplay::Auto;  // Auto: on when standard output is a terminal
  int BarSize = 40;                       // LEDs per bar that the display draws
  std::string LogPath;                    // frame log; empty: none
  int DropMs = 2000;                      // how long SIGUSR1 takes the line away
  int IdleMs = 100;                       // silence that ends an unfinished unit
  int RefreshMs = 50;                     // display redraw period
  // Take bytes no faster than the line settings that the program set would carry them.
  bool Pace = false;
  // Set: take bytes no faster than this many a second, whatever the line settings say (a
  // USB or radio adapter that drains slower than its nominal speed).
  int ReadRate = 0;
  // Seconds after the start at which the chain stops reading its line (an adapter that
  // stops taking bytes without hanging up); -1: never. SIGUSR2 toggles it at any time.
  int StallAfter = -1;
  // Set: stand in for a network strip of that protocol on 127.0.0.1 instead of a chain.
  std::optional<StripProtocol> Listen;
  std::optional<int> Port;      // UDP port to listen on; 0: any free one; none: the default
  std::optional<int> Universe;  // the strip's first universe; none: the protocol's default
  bool Help = false;

  bool operator==(const SimOptions&) const = default;
};

// A command line that cannot be used; what() says why, without the program name.
class SimUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses the arguments after the program name. Accepts "--name value" and
// "--name=value". Raises SimUsageError for unknown options, missing or bad values.
SimOptions ParseSimOptions(const std::vector<std::string>& args);

std::string SimUsage();

// "FF", "none" or the reply byte in hex, as shown and logged.
std::string ReplyText(const std::optional<std::uint8_t>& reply);

}  // namespace vxsim
