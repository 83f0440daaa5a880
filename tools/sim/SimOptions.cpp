#include "sim/SimOptions.h"

#include "base/Exceptions.h"
#include "base/Format.h"
#include "base/Numbers.h"
#include "sim/FrameDecoder.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace vxsim {

using vx::EConvertError;
using vx::Format;
using vx::StrToInt;

namespace {

std::string Lower(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return result;
}

int IntValue(const std::string& option, const std::string& value, int min, int max) {
  std::int32_t number = 0;
  try {
    number = StrToInt(value);
  } catch (const EConvertError&) {
    throw SimUsageError(Format("%s needs a whole number, not '%s'", option, value));
  }
  if (number < min || number > max) {
    throw SimUsageError(Format("%s must be %d..%d, not %d", option, min, max, number));
  }
  return number;
}

std::optional<std::uint8_t> ReplyValue(const std::string& value) {
  const std::string mode = Lower(value);
  if (mode == "none" || mode == "silent") {
    return std::nullopt;
  }
  std::string_view digits = mode;
  if (digits.starts_with("0x")) {
    digits.remove_prefix(2);
  }
  const bool hex = !digits.empty() && digits.size() <= 2 &&
                   std::all_of(digits.begin(), digits.end(),
                               [](unsigned char c) { return std::isxdigit(c) != 0; });
  if (!hex) {
    throw SimUsageError(
        Format("--reply takes 'none' or a byte in hex such as FF or 3A, not '%s'", value));
  }
  return static_cast<std::uint8_t>(std::stoi(std::string(digits), nullptr, 16));
}

StripProtocol ProtocolValue(const std::string& value) {
  for (const StripProtocol protocol :
       {StripProtocol::Ddp, StripProtocol::E131, StripProtocol::ArtNet}) {
    if (Lower(value) == ProtocolName(protocol)) {
      return protocol;
    }
  }
  throw SimUsageError(Format("--listen takes ddp, e131 or artnet, not '%s'", value));
}

// Options that only the chain has, and that a listening strip refuses rather than
// silently ignores.
bool IsChainOption(const std::string& name) {
  static constexpr std::array<std::string_view, 13> kChainOptions{
      "-n",         "--boards",  "-l",        "--link",        "-r",     "--reply",    "-b",
      "--bar-size", "--drop-ms", "--idle-ms", "--stall-after", "--pace", "--read-rate"};
  return std::ranges::find(kChainOptions, name) != kChainOptions.end();
}

void CheckListening(const SimOptions& options, const std::optional<std::string>& chainOption) {
  if (!options.Listen) {
    if (options.Port) {
      throw SimUsageError("--port needs --listen");
    }
    if (options.Universe) {
      throw SimUsageError("--universe needs --listen e131 or --listen artnet");
    }
    return;
  }
  if (chainOption) {
    throw SimUsageError(Format("%s is for a chain, not with --listen", *chainOption));
  }
  if (!options.Universe) {
    return;
  }
  switch (*options.Listen) {
    case StripProtocol::Ddp:
      throw SimUsageError("--universe needs --listen e131 or --listen artnet");
    case StripProtocol::E131:
      if (*options.Universe < 1 || *options.Universe > 63999) {
        throw SimUsageError(
            Format("--universe must be 1..63999 for e131, not %d", *options.Universe));
      }
      break;
    case StripProtocol::ArtNet:
      if (*options.Universe > 32767) {
        throw SimUsageError(
            Format("--universe must be 0..32767 for artnet, not %d", *options.Universe));
      }
      break;
  }
}

}  // namespace

SimOptions ParseSimOptions(const std::vector<std::string>& args) {
  SimOptions options;
  std::optional<std::string> chainOption;  // the first chain-only option given
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inlineValue;
    if (name.starts_with("--")) {
      if (const auto eq = name.find('='); eq != std::string::npos) {
        inlineValue = name.substr(eq + 1);
        name.resize(eq);
      }
    }
    const auto flag = [&]() {
      if (inlineValue) {
        throw SimUsageError(Format("%s takes no value", name));
      }
    };
    const auto value = [&]() -> std::string {
      if (inlineValue) {
        return *inlineValue;
      }
      if (i + 1 >= args.size()) {
        throw SimUsageError(Format("%s needs a value", name));
      }
      return args[++i];
    };

    if (IsChainOption(name) && !chainOption) {
      chainOption = name;
    }
    if (name == "-h" || name == "--help") {
      flag();
      options.Help = true;
    } else if (name == "-n" || name == "--boards") {
      options.Boards = IntValue(name, value(), 0, kSimMaxBoards);
    } else if (name == "-l" || name == "--link") {
      options.Link = value();
      if (options.Link.empty()) {
        throw SimUsageError("--link needs a path");
      }
    } else if (name == "-r" || name == "--reply") {
      options.Reply = ReplyValue(value());
    } else if (name == "--display") {
      flag();
      options.Display = SimDisplay::On;
    } else if (name == "--no-display") {
      flag();
      options.Display = SimDisplay::Off;
    } else if (name == "-b" || name == "--bar-size") {
      options.BarSize = IntValue(name, value(), 1, kSimLEDsPerBoard / 2);
    } else if (name == "-L" || name == "--log") {
      options.LogPath = value();
      if (options.LogPath.empty()) {
        throw SimUsageError("--log needs a file name");
      }
    } else if (name == "--drop-ms") {
      options.DropMs = IntValue(name, value(), 0, 3600 * 1000);
    } else if (name == "--idle-ms") {
      options.IdleMs = IntValue(name, value(), 1, 60 * 1000);
    } else if (name == "--stall-after") {
      options.StallAfter = IntValue(name, value(), 0, 24 * 3600);
    } else if (name == "--pace") {
      flag();
      options.Pace = true;
    } else if (name == "--read-rate") {
      options.ReadRate = IntValue(name, value(), 1, 100 * 1000 * 1000);
    } else if (name == "--refresh-ms") {
      options.RefreshMs = IntValue(name, value(), 10, 10 * 1000);
    } else if (name == "--listen") {
      options.Listen = ProtocolValue(value());
    } else if (name == "--port") {
      options.Port = IntValue(name, value(), 0, 65535);
    } else if (name == "--universe") {
      options.Universe = IntValue(name, value(), 0, 63999);
    } else if (name.starts_with("-")) {
      throw SimUsageError(Format("unknown option '%s'", name));
    } else {
      throw SimUsageError(Format("unexpected argument '%s'", name));
    }
  }
  CheckListening(options, chainOption);
  return options;
}

std::string SimUsage() {
  return Format(
      "Usage: vorlixa-sim [OPTION]...\n"
      "  or:  vorlixa-sim --listen ddp|e131|artnet [--port N] [--universe U] [OPTION]...\n"
      "Stands in for a chain of LED bar controller boards on a pseudo-terminal, or for a\n"
      "network LED strip on 127.0.0.1.\n"
      "\n"
      "  -l, --link PATH      publish the line as a symlink at PATH (default %s)\n"
      "  -n, --boards N       boards in the chain, 0..%d (default 2); a frame is\n"
      "                       RESET (0xFF) followed by N x 80 brightness bytes\n"
      "  -r, --reply BYTE     answer every RESET with BYTE in hex (default FF),\n"
      "                       or 'none' to stay silent\n"
      "      --display        draw the bars in this terminal\n"
      "      --no-display     do not draw (default: draw when output is a terminal)\n"
      "  -b, --bar-size N     LEDs per bar that the display draws, 1..40 (default 40)\n"
      "  -L, --log FILE       write one line per received unit to FILE: a monotonic time\n"
      "                       stamp and the bytes in hex, RESET included; events are\n"
      "                       logged as 'up PATH', 'line SETTINGS' and 'drop'. Line\n"
      "                       settings are what the pseudo-terminal keeps: speed, stop\n"
      "                       bits, flow control; it always reads back 8 bits, no parity\n"
      "      --drop-ms MS     how long SIGUSR1 unplugs the line (default 2000)\n"
      "      --idle-ms MS     silence that ends an unfinished unit (default 100)\n"
      "      --refresh-ms MS  display redraw period (default 50)\n"
      "      --pace           take bytes only as fast as the line settings that the\n"
      "                       program set would carry them (10 bits a byte), as a real\n"
      "                       line does; what it sends faster waits in the line\n"
      "      --read-rate BYTES\n"
      "                       take at most BYTES bytes a second, whatever the line\n"
      "                       settings say, as a slow adapter does\n"
      "      --stall-after SECONDS\n"
      "                       stop reading the line SECONDS after the start, as an\n"
      "                       adapter that stops taking bytes without hanging up: the\n"
      "                       line stays open and its buffer fills; logged as 'stall'\n"
      "  -h, --help           show this help and exit\n"
      "\n"
      "Network strip (--display, --no-display, --log and --refresh-ms apply as well):\n"
      "      --listen PROTOCOL\n"
      "                       receive ddp, e131 (sACN) or artnet (ArtDmx) datagrams on\n"
      "                       127.0.0.1 and show the strip's pixels in their colours\n"
      "      --port N         UDP port, 0 for any free one (default 4048 for ddp, 5568\n"
      "                       for e131, 6454 for artnet); logged as 'up 127.0.0.1:PORT'\n"
      "      --universe U     e131 universe (1..63999, default 1) or artnet Port-Address\n"
      "                       (0..32767, default 0) of the first pixel; the strip runs on\n"
      "                       into the next universes, 170 pixels each, and is shown\n"
      "                       again whenever a packet for one of them arrives\n"
      "  With --listen, --log writes one line per shown frame: the time stamp and the\n"
      "  strip's R G B bytes in hex, first pixel first; events are logged as 'up',\n"
      "  'ignored TEXT', 'refused TEXT', 'end universe U' (E1.31 stream terminated)\n"
      "  and 'empty' (a frame of no pixels). DDP shows its buffer on the push flag.\n"
      "\n"
      "SIGUSR1 closes the line for --drop-ms and then publishes a new one under the same\n"
      "link. SIGUSR2 stops reading the line, or reads it again when stopped (logged as\n"
      "'stall' and 'read'). SIGINT and SIGTERM end the simulator and remove the link.\n",
      kSimDefaultLink, kSimMaxBoards);
}

std::string ReplyText(const std::optional<std::uint8_t>& reply) {
  return reply ? Format("%02X", *reply) : std::string("none");
}

}  // namespace vxsim
