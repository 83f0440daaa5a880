#include "device/StripPackets.h"

#include <algorithm>
#include <cstring>

namespace vx {

namespace {

constexpr std::size_t kDdpHeader = 10;
constexpr std::uint8_t kDdpVersion1 = 0x40;
constexpr std::uint8_t kDdpPush = 0x01;
constexpr std::uint8_t kDdpRgb8 = 0x0B;
constexpr std::uint8_t kDdpDefaultOutput = 1;

constexpr std::size_t kE131Header = 126;
constexpr std::uint8_t kE131Priority = 100;
constexpr std::uint8_t kE131StreamTerminated = 0x40;
constexpr std::array<std::uint8_t, 12> kAcnPacketIdentifier{0x41, 0x53, 0x43, 0x2D, 0x45, 0x31,
                                                            0x2E, 0x31, 0x37, 0x00, 0x00, 0x00};
constexpr std::string_view kSourceName = "Vorlixa";
constexpr std::size_t kSourceNameSize = 64;
// Receivers drop a stream after 2.5 s without packets or at once on Stream_Terminated;
// three of them survive the loss of one or two.
constexpr int kTerminatePackets = 3;

constexpr std::size_t kArtNetHeader = 18;
constexpr std::array<std::uint8_t, 8> kArtNetId{'A', 'r', 't', '-', 'N', 'e', 't', 0};

constexpr std::size_t kUniverseSlots = 3 * kUniversePixels;
constexpr std::size_t kMaxUniverses = (kMaxStripPixels + kUniversePixels - 1) / kUniversePixels;

std::uint8_t High(std::size_t value) {
  return static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

std::uint8_t Low(std::size_t value) {
  return static_cast<std::uint8_t>(value & 0xFF);
}

// Big-endian, as both DDP and E1.31 want every field.
void Put16(std::uint8_t* at, std::size_t value) {
  at[0] = High(value);
  at[1] = Low(value);
}

void Put32(std::uint8_t* at, std::size_t value) {
  at[0] = static_cast<std::uint8_t>((value >> 24) & 0xFF);
  at[1] = static_cast<std::uint8_t>((value >> 16) & 0xFF);
  Put16(at + 2, value);
}

// E1.31 Flags & Length: 0x7 over a 12-bit length.
void PutFlagsAndLength(std::uint8_t* at, std::size_t length) {
  Put16(at, 0x7000 | length);
}

// FNV-1a, 64 bits, from the given start: small, fixed for all time and every platform,
// unlike std::hash.
std::uint64_t Fnv1a(std::string_view text, std::uint64_t hash) {
  for (const char c : text) {
    hash ^= static_cast<std::uint8_t>(c);
    hash *= 0x100000001B3ULL;
  }
  return hash;
}

}  // namespace

TStripCid StripCid(std::string_view portName) {
  // Two passes from different starts fill the 128 bits.
  const std::uint64_t first = Fnv1a(portName, 0xCBF29CE484222325ULL);
  const std::uint64_t second = Fnv1a(portName, first ^ 0x9E3779B97F4A7C15ULL);
  TStripCid cid{};
  for (std::size_t i = 0; i < 8; ++i) {
    cid[i] = static_cast<std::uint8_t>((first >> (56 - 8 * i)) & 0xFF);
    cid[8 + i] = static_cast<std::uint8_t>((second >> (56 - 8 * i)) & 0xFF);
  }
  // The layout of a version 4 UUID: the version and the RFC 4122 variant stand where
  // receivers that show the id expect them.
  cid[6] = static_cast<std::uint8_t>((cid[6] & 0x0F) | 0x40);
  cid[8] = static_cast<std::uint8_t>((cid[8] & 0x3F) | 0x80);
  return cid;
}

TStripEncoder::TStripEncoder(TStripProtocol protocol, std::uint16_t universe, const TStripCid& cid)
    : protocol_(protocol), universe_(universe), cid_(cid) {
  if (protocol_ != TStripProtocol::DDP) {
    sequences_.assign(UniverseCount(kMaxStripPixels), protocol_ == TStripProtocol::ArtNet ? 1 : 0);
  }
}

std::size_t TStripEncoder::UniverseCount(std::size_t pixelCount) const {
  const std::size_t last =
      protocol_ == TStripProtocol::E131 ? kE131LastUniverse : kArtNetLastUniverse;
  const std::size_t left = universe_ <= last ? last - universe_ + 1 : 0;
  return std::min({(pixelCount + kUniversePixels - 1) / kUniversePixels, left, kMaxUniverses});
}

std::span<const std::span<const std::uint8_t>> TStripEncoder::Encode(
    std::span<const std::uint8_t> rgb) {
  const std::size_t pixels = std::min(rgb.size() / 3, kMaxStripPixels);
  const auto data = rgb.first(3 * pixels);
  used_ = 0;
  packets_.clear();
  if (protocol_ == TStripProtocol::DDP) {
    EncodeDdp(data);
    return packets_;
  }
  const std::size_t universes = UniverseCount(pixels);
  const std::size_t packetSize =
      (protocol_ == TStripProtocol::E131 ? kE131Header : kArtNetHeader) + kUniverseSlots;
  if (storage_.size() < universes * packetSize) {
    storage_.resize(universes * packetSize);
  }
  packets_.reserve(universes);
  for (std::size_t k = 0; k < universes; ++k) {
    const auto slots = data.subspan(k * kUniverseSlots,
                                    std::min(kUniverseSlots, data.size() - k * kUniverseSlots));
    if (protocol_ == TStripProtocol::E131) {
      AddE131(k, slots, slots.size(), 0);
    } else {
      AddArtDmx(k, slots);
    }
  }
  return packets_;
}

std::span<const std::span<const std::uint8_t>> TStripEncoder::Terminate(std::size_t pixelCount) {
  used_ = 0;
  packets_.clear();
  if (protocol_ != TStripProtocol::E131) {
    return packets_;
  }
  const std::size_t pixels = std::min(pixelCount, kMaxStripPixels);
  const std::size_t universes = UniverseCount(pixels);
  const std::size_t count = kTerminatePackets * universes;
  // Made once, at the end of a stream: not a frame's cost.
  if (storage_.size() < count * (kE131Header + kUniverseSlots)) {
    storage_.resize(count * (kE131Header + kUniverseSlots));
  }
  packets_.reserve(count);
  // Round by round, so that a burst lost on the way takes at most one of a universe's.
  for (int round = 0; round < kTerminatePackets; ++round) {
    for (std::size_t k = 0; k < universes; ++k) {
      AddE131(k, {}, std::min(kUniverseSlots, 3 * pixels - k * kUniverseSlots),
              kE131StreamTerminated);
    }
  }
  return packets_;
}

void TStripEncoder::EncodeDdp(std::span<const std::uint8_t> data) {
  const std::size_t count = (data.size() + kDdpChunkBytes - 1) / kDdpChunkBytes;
  if (storage_.size() < count * (kDdpHeader + kDdpChunkBytes)) {
    storage_.resize(count * (kDdpHeader + kDdpChunkBytes));
  }
  packets_.reserve(count);
  for (std::size_t offset = 0; offset < data.size(); offset += kDdpChunkBytes) {
    const std::size_t length = std::min(kDdpChunkBytes, data.size() - offset);
    std::uint8_t* packet = storage_.data() + used_;
    ddpSequence_ = static_cast<std::uint8_t>(ddpSequence_ % 15 + 1);
    const bool last = offset + length == data.size();
    packet[0] = last ? static_cast<std::uint8_t>(kDdpVersion1 | kDdpPush) : kDdpVersion1;
    packet[1] = ddpSequence_;
    packet[2] = kDdpRgb8;
    packet[3] = kDdpDefaultOutput;
    Put32(packet + 4, offset);
    Put16(packet + 8, length);
    std::memcpy(packet + kDdpHeader, data.data() + offset, length);
    packets_.emplace_back(packet, kDdpHeader + length);
    used_ += kDdpHeader + length;
  }
}

void TStripEncoder::AddE131(std::size_t k, std::span<const std::uint8_t> data, std::size_t slots,
                            std::uint8_t options) {
  std::uint8_t* packet = storage_.data() + used_;
  std::memset(packet, 0, kE131Header);
  // Root layer.
  Put16(packet + 0, 0x0010);  // preamble size; the post-amble size stays 0
  std::copy(kAcnPacketIdentifier.begin(), kAcnPacketIdentifier.end(), packet + 4);
  PutFlagsAndLength(packet + 16, 110 + slots);
  Put32(packet + 18, 0x00000004);  // VECTOR_ROOT_E131_DATA
  std::copy(cid_.begin(), cid_.end(), packet + 22);
  // Framing layer.
  PutFlagsAndLength(packet + 38, 88 + slots);
  Put32(packet + 40, 0x00000002);  // VECTOR_E131_DATA_PACKET
  std::copy(kSourceName.begin(), kSourceName.end(), packet + 44);
  static_assert(kSourceName.size() < kSourceNameSize);
  packet[108] = kE131Priority;
  // 109-110: no synchronization address.
  packet[111] = sequences_[k]++;  // wraps 255 -> 0, as the standard counts
  packet[112] = options;          // Preview_Data stays clear: receivers drop previews
  Put16(packet + 113, universe_ + k);
  // DMP layer.
  PutFlagsAndLength(packet + 115, 11 + slots);
  packet[117] = 0x02;           // VECTOR_DMP_SET_PROPERTY
  packet[118] = 0xA1;           // address and data type
  Put16(packet + 121, 0x0001);  // address increment; the first property address stays 0
  Put16(packet + 123, 1 + slots);
  // 125: the DMX START code 0.
  if (data.empty()) {
    std::memset(packet + kE131Header, 0, slots);
  } else {
    std::memcpy(packet + kE131Header, data.data(), slots);
  }
  packets_.emplace_back(packet, kE131Header + slots);
  used_ += kE131Header + slots;
}

void TStripEncoder::AddArtDmx(std::size_t k, std::span<const std::uint8_t> data) {
  std::uint8_t* packet = storage_.data() + used_;
  // Art-Net wants an even length: a tail of an odd number of slots gets a zero.
  const std::size_t length = data.size() + data.size() % 2;
  const std::size_t portAddress = universe_ + k;
  std::copy(kArtNetId.begin(), kArtNetId.end(), packet);
  packet[8] = 0x00;  // OpDmx 0x5000, little-endian
  packet[9] = 0x50;
  packet[10] = 0;  // protocol version 14, big-endian
  packet[11] = 14;
  packet[12] = sequences_[k];
  sequences_[k] = static_cast<std::uint8_t>(sequences_[k] % 255 + 1);  // 1..255; 0 is "off"
  packet[13] = 0;                                                      // physical input
  packet[14] = Low(portAddress);  // SubUni, then Net: the Port-Address little-endian
  packet[15] = High(portAddress);
  Put16(packet + 16, length);
  std::memcpy(packet + kArtNetHeader, data.data(), data.size());
  if (length > data.size()) {
    packet[kArtNetHeader + data.size()] = 0;
  }
  packets_.emplace_back(packet, kArtNetHeader + length);
  used_ += kArtNetHeader + length;
}

}  // namespace vx
