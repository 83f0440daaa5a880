#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace vxsim {

// The network protocols a strip listens to.
enum class StripProtocol { Ddp, E131, ArtNet };

// "ddp", "e131", "artnet": as given to --listen and shown.
std::string ProtocolName(StripProtocol protocol);
// UDP port that a strip of that protocol listens on unless told otherwise.
int DefaultPort(StripProtocol protocol);
// First universe of the strip unless told otherwise (E1.31 counts from 1, Art-Net from 0);
// -1 for DDP, which has none.
int DefaultUniverse(StripProtocol protocol);

// The longest strip the simulator assembles: what the program's largest chain of levels
// makes (409 boards x 80 slots, one pixel a slot).
inline constexpr std::size_t kStripMaxPixels = std::size_t{409} * 80;
inline constexpr std::size_t kStripPixelsPerUniverse = 170;

// What one datagram did to the strip.
struct StripEvent {
  enum Kind {
    Frame,    // the strip changed and is shown: Strip() holds it
    Pending,  // taken in, shown with a later packet (DDP without push)
    Ignored,  // a valid packet that carries no pixels for this strip; Text says which
    Ended,    // E1.31 Stream_Terminated: the source's universes are forgotten
    Refused,  // not a packet of the protocol; Text says why
  };
  Kind What = Refused;
  std::string Text;
};

// Turns received datagrams into the strip's pixels, independently of the program's own
// encoders. Pure: no I/O, no clock.
//  - DDP: data lands in a display buffer at its byte offset; a packet with the push flag
//    shows the buffer. The buffer keeps what earlier frames wrote, as a display does, and
//    the strip is as long as the furthest byte any packet wrote.
//  - E1.31 and Art-Net: each universe holds its latest pixels (170 at most, whole pixels
//    only); the strip is the concatenation of the universes from the first one on, up to a
//    universe not received yet or one with fewer than 170 pixels. Every packet for a
//    universe of the strip shows it.
class StripDecoder {
 public:
  // firstUniverse: E1.31 universe or Art-Net Port-Address of the strip's first pixel;
  // ignored for DDP.
  StripDecoder(StripProtocol protocol, int firstUniverse);

  StripEvent Feed(std::span<const std::uint8_t> packet);

  // The strip as last shown: R, G, B bytes per pixel.
  std::span<const std::uint8_t> Strip() const { return strip_; }
  std::uint64_t FrameCount() const { return frames_; }
  std::uint64_t PacketCount() const { return packets_; }
  std::uint64_t RefusedCount() const { return refused_; }

 private:
  struct Universe {
    std::vector<std::uint8_t> Pixels;       // whole pixels, at most 170
    std::array<std::uint8_t, 16> Source{};  // E1.31 CID; zero for Art-Net
  };

  StripEvent FeedDdp(std::span<const std::uint8_t> packet);
  StripEvent FeedE131(std::span<const std::uint8_t> packet);
  StripEvent FeedArtNet(std::span<const std::uint8_t> packet);
  // Stores one universe's slots and shows the strip if the universe is part of it.
  StripEvent TakeUniverse(int universe, std::span<const std::uint8_t> slots,
                          const std::array<std::uint8_t, 16>& source);
  // Rebuilds the strip from the universes; returns how many universes it spans.
  std::size_t AssembleUniverses();

  StripProtocol protocol_;
  int firstUniverse_;
  std::vector<std::uint8_t> buffer_;  // DDP display buffer
  std::map<int, Universe> universes_;
  std::vector<std::uint8_t> strip_;
  std::uint64_t frames_ = 0;
  std::uint64_t packets_ = 0;
  std::uint64_t refused_ = 0;
};

}  // namespace vxsim
