#pragma once

#include "device/StripAddress.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace vx {

// The sender's id in every E1.31 packet: a UUID (RFC 4122 layout) made from the port
// name, so that a receiver sees the same source from run to run.
using TStripCid = std::array<std::uint8_t, 16>;
TStripCid StripCid(std::string_view portName);

// The most pixels one frame carries: a frame buffer's worth of boards, one pixel a slot.
inline constexpr std::size_t kMaxStripPixels = std::size_t{32768} / 80 * 80;  // 32720
inline constexpr std::size_t kDdpChunkBytes = 1440;                           // 480 pixels a packet
inline constexpr std::size_t kUniversePixels = 170;  // 510 slots a universe

// Turns frames of a strip (3 bytes a pixel, R G B) into the datagrams of its protocol,
// keeping the sequence numbers from frame to frame. Pure code; its buffers are made once,
// so encoding a frame allocates nothing. A frame longer than kMaxStripPixels, or than the
// universes left up to the protocol's last one, is cut there; a trailing part of a pixel
// is ignored.
class TStripEncoder {
 public:
  // universe: the first one (E1.31 1..63999, Art-Net 0..32767; unused for DDP). cid:
  // the E1.31 sender id (unused by the others).
  TStripEncoder(TStripProtocol protocol, std::uint16_t universe, const TStripCid& cid);

  // The datagrams of one frame, in sending order. Valid until the next call.
  std::span<const std::span<const std::uint8_t>> Encode(std::span<const std::uint8_t> rgb);
  // What ends the stream of a strip of pixelCount pixels: for E1.31 three packets a
  // universe with Stream_Terminated set (zero slots); nothing for the others. Valid until
  // the next call.
  std::span<const std::span<const std::uint8_t>> Terminate(std::size_t pixelCount);

  TStripProtocol Protocol() const { return protocol_; }

 private:
  // The universes (E1.31, Art-Net) that pixelCount pixels fill, up to the last one there is.
  std::size_t UniverseCount(std::size_t pixelCount) const;
  void EncodeDdp(std::span<const std::uint8_t> data);
  // One E1.31 data packet of universe index k (from the first) with slots copied from
  // data (zeros when data is empty), appended to the packet list.
  void AddE131(std::size_t k, std::span<const std::uint8_t> data, std::size_t slots,
               std::uint8_t options);
  void AddArtDmx(std::size_t k, std::span<const std::uint8_t> data);

  TStripProtocol protocol_;
  std::uint16_t universe_;
  TStripCid cid_;
  std::uint8_t ddpSequence_ = 0;         // of the packet sent last; 0 before the first
  std::vector<std::uint8_t> sequences_;  // E1.31 and Art-Net: one per universe
  std::vector<std::uint8_t> storage_;    // every datagram of a frame, one after the other
  std::size_t used_ = 0;                 // bytes of storage_ taken by the current frame
  std::vector<std::span<const std::uint8_t>> packets_;
};

}  // namespace vx
