#include "sim/StripDecoder.h"

#include "base/Format.h"

#include <algorithm>
#include <string_view>

namespace vxsim {

using vx::Format;

namespace {

using Bytes = std::span<const std::uint8_t>;

std::uint32_t Be16(Bytes p, std::size_t at) {
  return static_cast<std::uint32_t>(p[at] << 8 | p[at + 1]);
}

std::uint32_t Be32(Bytes p, std::size_t at) {
  return Be16(p, at) << 16 | Be16(p, at + 2);
}

bool Starts(Bytes p, std::size_t at, std::string_view text) {
  return p.size() >= at + text.size() &&
         std::equal(text.begin(), text.end(), p.begin() + static_cast<std::ptrdiff_t>(at),
                    [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; });
}

StripEvent Refuse(std::string text) {
  return StripEvent{StripEvent::Refused, std::move(text)};
}

StripEvent Ignore(std::string text) {
  return StripEvent{StripEvent::Ignored, std::move(text)};
}

// ---- DDP
constexpr std::size_t kDdpHeader = 10;
constexpr std::uint8_t kDdpPush = 0x01;
constexpr std::uint8_t kDdpQuery = 0x02;
constexpr std::uint8_t kDdpReply = 0x04;
constexpr std::uint8_t kDdpStorage = 0x08;
constexpr std::uint8_t kDdpTimecode = 0x10;
constexpr std::uint8_t kDdpDefaultOutput = 1;
constexpr std::uint8_t kDdpAllDevices = 255;

// ---- E1.31
constexpr std::size_t kE131Header = 126;  // up to and including the START code
constexpr std::string_view kAcnIdentifier{"ASC-E1.17\0\0\0", 12};
constexpr std::uint32_t kRootVectorData = 0x00000004;
constexpr std::uint32_t kRootVectorExtended = 0x00000008;  // synchronization, discovery
constexpr std::uint32_t kFramingVectorData = 0x00000002;
constexpr std::uint8_t kDmpSetProperty = 0x02;
constexpr std::uint8_t kDmpAddressAndDataType = 0xA1;
constexpr std::uint8_t kOptionPreview = 0x80;
constexpr std::uint8_t kOptionTerminated = 0x40;
constexpr std::uint32_t kMaxPriority = 200;
constexpr std::uint32_t kMaxUniverse = 63999;

// ---- Art-Net
constexpr std::size_t kArtHeader = 18;
constexpr std::string_view kArtId{"Art-Net\0", 8};
constexpr std::uint32_t kOpDmx = 0x5000;
constexpr std::uint32_t kMinProtVer = 14;

constexpr std::size_t kMaxSlots = 512;

// A Flags & Length field of E1.31: flags 0x7, and a length from the field to the end.
bool FlagsAndLengthFit(Bytes p, std::size_t at) {
  const std::uint32_t value = Be16(p, at);
  return (value >> 12) == 0x7 && (value & 0x0FFF) == p.size() - at;
}

}  // namespace

std::string ProtocolName(StripProtocol protocol) {
  switch (protocol) {
    case StripProtocol::Ddp:
      return "ddp";
    case StripProtocol::E131:
      return "e131";
    case StripProtocol::ArtNet:
      return "artnet";
  }
  return "?";
}

int DefaultPort(StripProtocol protocol) {
  switch (protocol) {
    case StripProtocol::Ddp:
      return 4048;
    case StripProtocol::E131:
      return 5568;
    case StripProtocol::ArtNet:
      return 6454;
  }
  return 0;
}

int DefaultUniverse(StripProtocol protocol) {
  switch (protocol) {
    case StripProtocol::Ddp:
      return -1;
    case StripProtocol::E131:
      return 1;
    case StripProtocol::ArtNet:
      return 0;
  }
  return -1;
}

StripDecoder::StripDecoder(StripProtocol protocol, int firstUniverse)
    : protocol_(protocol), firstUniverse_(firstUniverse) {}

StripEvent StripDecoder::Feed(std::span<const std::uint8_t> packet) {
  ++packets_;
  StripEvent event;
  switch (protocol_) {
    case StripProtocol::Ddp:
      event = FeedDdp(packet);
      break;
    case StripProtocol::E131:
      event = FeedE131(packet);
      break;
    case StripProtocol::ArtNet:
      event = FeedArtNet(packet);
      break;
  }
  if (event.What == StripEvent::Frame) {
    ++frames_;
  } else if (event.What == StripEvent::Refused) {
    ++refused_;
  }
  return event;
}

StripEvent StripDecoder::FeedDdp(Bytes p) {
  if (p.size() < kDdpHeader) {
    return Refuse(Format("DDP packet of %d bytes is shorter than its header", p.size()));
  }
  const std::uint8_t flags = p[0];
  if ((flags >> 6) != 1) {
    return Refuse(Format("DDP version %d, not 1", flags >> 6));
  }
  if ((flags & (kDdpQuery | kDdpReply | kDdpStorage)) != 0) {
    return Ignore(Format("DDP query, reply or storage packet (flags 0x%02X)", flags));
  }
  const std::uint8_t type = p[2];
  if (type != 0x0B && type != 0x01 && type != 0x00) {
    return Refuse(Format("DDP data type 0x%02X is not 8-bit RGB", type));
  }
  if (p[3] != kDdpDefaultOutput && p[3] != kDdpAllDevices) {
    return Ignore(Format("DDP packet for id %d", p[3]));
  }
  const std::size_t header = (flags & kDdpTimecode) != 0 ? kDdpHeader + 4 : kDdpHeader;
  const std::size_t offset = Be32(p, 4);
  const std::size_t length = Be16(p, 8);
  if (p.size() < header || p.size() - header != length) {
    return Refuse(Format("DDP data length %d, but %d bytes follow the header", length,
                         p.size() - std::min(header, p.size())));
  }
  if (offset + length > kStripMaxPixels * 3) {
    return Refuse(Format("DDP data at %d..%d lies beyond the longest strip (%d bytes)", offset,
                         offset + length, kStripMaxPixels * 3));
  }
  if (buffer_.size() < offset + length) {
    buffer_.resize(offset + length, 0);
  }
  std::copy(p.begin() + static_cast<std::ptrdiff_t>(header), p.end(),
            buffer_.begin() + static_cast<std::ptrdiff_t>(offset));
  if ((flags & kDdpPush) == 0) {
    return StripEvent{StripEvent::Pending, {}};
  }
  strip_ = buffer_;
  return StripEvent{StripEvent::Frame, {}};
}

StripEvent StripDecoder::FeedE131(Bytes p) {
  if (p.size() < 22 || Be16(p, 0) != 0x0010 || Be16(p, 2) != 0 || !Starts(p, 4, kAcnIdentifier)) {
    return Refuse("not an E1.31 packet: wrong preamble or ACN packet identifier");
  }
  const std::uint32_t rootVector = Be32(p, 18);
  if (rootVector == kRootVectorExtended) {
    return Ignore("E1.31 synchronization or discovery packet");
  }
  if (rootVector != kRootVectorData) {
    return Refuse(Format("E1.31 root vector 0x%08X", rootVector));
  }
  if (p.size() < kE131Header || p.size() > kE131Header + kMaxSlots) {
    return Refuse(Format("E1.31 data packet of %d bytes, not %d..%d", p.size(), kE131Header,
                         kE131Header + kMaxSlots));
  }
  if (!FlagsAndLengthFit(p, 16) || !FlagsAndLengthFit(p, 38) || !FlagsAndLengthFit(p, 115)) {
    return Refuse(Format("E1.31 flags and lengths 0x%04X 0x%04X 0x%04X do not fit %d bytes",
                         Be16(p, 16), Be16(p, 38), Be16(p, 115), p.size()));
  }
  if (const std::uint32_t vector = Be32(p, 40); vector != kFramingVectorData) {
    return Refuse(Format("E1.31 framing vector 0x%08X", vector));
  }
  if (p[117] != kDmpSetProperty || p[118] != kDmpAddressAndDataType || Be16(p, 119) != 0 ||
      Be16(p, 121) != 1 || Be16(p, 123) != p.size() - kE131Header + 1) {
    return Refuse("E1.31 DMP layer is not a DMX512 property set");
  }
  const std::uint32_t universe = Be16(p, 113);
  if (universe < 1 || universe > kMaxUniverse) {
    return Refuse(Format("E1.31 universe %d, not 1..%d", universe, kMaxUniverse));
  }
  if (p[108] > kMaxPriority) {
    return Refuse(Format("E1.31 priority %d, above %d", p[108], kMaxPriority));
  }
  std::array<std::uint8_t, 16> source{};
  std::copy_n(p.begin() + 22, source.size(), source.begin());
  const std::uint8_t options = p[112];
  if ((options & kOptionPreview) != 0) {
    return Ignore(Format("E1.31 preview data for universe %d", universe));
  }
  if ((options & kOptionTerminated) != 0) {
    // The source is gone: what it sent is no longer shown, and this packet's slots count
    // for nothing.
    std::erase_if(universes_, [&](const auto& entry) { return entry.second.Source == source; });
    AssembleUniverses();
    return StripEvent{StripEvent::Ended, Format("universe %d", universe)};
  }
  if (p[125] != 0x00) {
    return Ignore(Format("E1.31 START code 0x%02X for universe %d", p[125], universe));
  }
  return TakeUniverse(static_cast<int>(universe), p.subspan(kE131Header), source);
}

StripEvent StripDecoder::FeedArtNet(Bytes p) {
  if (p.size() < 10 || !Starts(p, 0, kArtId)) {
    return Refuse("not an Art-Net packet: wrong ID");
  }
  // The OpCode is the one little-endian field.
  const auto opCode = static_cast<std::uint32_t>(p[9] << 8 | p[8]);
  if (opCode != kOpDmx) {
    return Ignore(Format("Art-Net OpCode 0x%04X, not ArtDmx", opCode));
  }
  if (p.size() < kArtHeader) {
    return Refuse(Format("ArtDmx packet of %d bytes is shorter than its header", p.size()));
  }
  if (const std::uint32_t version = Be16(p, 10); version < kMinProtVer) {
    return Refuse(Format("ArtDmx protocol version %d, below %d", version, kMinProtVer));
  }
  if (p[15] > 0x7F) {
    return Refuse(Format("ArtDmx Net 0x%02X, above 0x7F", p[15]));
  }
  const std::size_t length = Be16(p, 16);
  if (length < 2 || length > kMaxSlots || length % 2 != 0) {
    return Refuse(Format("ArtDmx Length %d, not an even number 2..512", length));
  }
  if (p.size() - kArtHeader != length) {
    return Refuse(
        Format("ArtDmx Length %d, but %d bytes follow the header", length, p.size() - kArtHeader));
  }
  const int portAddress = p[15] << 8 | p[14];
  return TakeUniverse(portAddress, p.subspan(kArtHeader), {});
}

StripEvent StripDecoder::TakeUniverse(int universe, std::span<const std::uint8_t> slots,
                                      const std::array<std::uint8_t, 16>& source) {
  const std::size_t maxUniverses =
      (kStripMaxPixels + kStripPixelsPerUniverse - 1) / kStripPixelsPerUniverse;
  if (universe < firstUniverse_ ||
      static_cast<std::size_t>(universe - firstUniverse_) >= maxUniverses) {
    return Ignore(Format("universe %d is not on the strip", universe));
  }
  const std::size_t pixels = std::min(slots.size() / 3, kStripPixelsPerUniverse);
  Universe& held = universes_[universe];
  held.Pixels.assign(slots.begin(), slots.begin() + static_cast<std::ptrdiff_t>(pixels * 3));
  held.Source = source;
  // A universe beyond the strip's end shows only once the ones before it have come.
  if (static_cast<std::size_t>(universe - firstUniverse_) >= AssembleUniverses()) {
    return StripEvent{StripEvent::Pending, {}};
  }
  return StripEvent{StripEvent::Frame, {}};
}

std::size_t StripDecoder::AssembleUniverses() {
  strip_.clear();
  std::size_t count = 0;
  for (int universe = firstUniverse_;; ++universe) {
    const auto found = universes_.find(universe);
    if (found == universes_.end()) {
      break;
    }
    ++count;
    const std::vector<std::uint8_t>& pixels = found->second.Pixels;
    strip_.insert(strip_.end(), pixels.begin(), pixels.end());
    // Pixels run on into the next universe only from a full one.
    if (pixels.size() < kStripPixelsPerUniverse * 3) {
      break;
    }
  }
  return count;
}

}  // namespace vxsim
