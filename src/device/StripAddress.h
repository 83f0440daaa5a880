#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vx {

enum class TStripProtocol { DDP, E131, ArtNet };

// Where a network strip's frames go, as its port name gives it:
// "ddp://HOST[:PORT]", "e131://HOST[:PORT][/UNIVERSE]", "artnet://HOST[:PORT][/UNIVERSE]".
struct TStripAddress {
  TStripProtocol Protocol = TStripProtocol::DDP;
  std::string Host;        // as written, without the brackets of an IPv6 address
  std::uint16_t Port = 0;  // UDP port; the protocol's own when the name gives none
  // The first universe: E1.31 1..63999 (default 1), Art-Net's 15-bit Port-Address
  // 0..32767 (default 0); 0 for DDP, which has none.
  std::uint16_t Universe = 0;
};

inline constexpr std::uint16_t kDdpPort = 4048;
inline constexpr std::uint16_t kE131Port = 5568;
inline constexpr std::uint16_t kArtNetPort = 6454;
inline constexpr std::uint16_t kE131LastUniverse = 63999;
inline constexpr std::uint16_t kArtNetLastUniverse = 32767;

// True when name starts with one of the strip schemes (any case); any other port name
// is a serial device.
bool IsStripAddress(std::string_view name);

// Raises EConvertError, naming the fault, for a strip address that is malformed: no host,
// a port outside 1..65535, a universe outside the protocol's range, or anything else.
TStripAddress ParseStripAddress(std::string_view name);

}  // namespace vx
