#include "base/Exceptions.h"
#include "common/ManualClock.h"
#include "common/Wait.h"
#include "device/NetworkStrip.h"
#include "device/StripAddress.h"
#include "device/StripColours.h"
#include "device/StripPackets.h"
#include "platform/UniqueFd.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace vx {

namespace {

using Bytes = std::vector<std::uint8_t>;

// A frame of pixels whose bytes all differ from their neighbours, so that a chunk sent at
// the wrong offset or cut short shows.
Bytes Pixels(std::size_t count, std::uint8_t seed = 0) {
  Bytes rgb(3 * count);
  for (std::size_t i = 0; i < rgb.size(); ++i) {
    rgb[i] = static_cast<std::uint8_t>((i * 7 + seed) % 251);
  }
  return rgb;
}

Bytes Copy(std::span<const std::uint8_t> bytes) {
  return {bytes.begin(), bytes.end()};
}

std::size_t Big16(std::span<const std::uint8_t> packet, std::size_t at) {
  return std::size_t{packet[at]} << 8 | packet[at + 1];
}

// ---------------------------------------------------------------------------------------
// Addresses

TEST(StripAddress, SchemesPortsUniversesAndHostsAsWritten) {
  using P = TStripProtocol;
  const std::vector<std::tuple<std::string, P, std::string, int, int>> good{
      {"DDP://10.0.0.5", P::DDP, "10.0.0.5", 4048, 0},
      {"ddp://[::1]:4049", P::DDP, "::1", 4049, 0},
      {"ddp://fe80::1%eth0", P::DDP, "fe80::1%eth0", 4048, 0},
      {"e131://strip-1.local/7", P::E131, "strip-1.local", 5568, 7},
      {"e131://h:6000", P::E131, "h", 6000, 1},
      {"e131://[2001:db8::2]:5568/63999", P::E131, "2001:db8::2", 5568, 63999},
      {"ArtNet://h", P::ArtNet, "h", 6454, 0},
      {"artnet://192.168.1.20:6455/32767", P::ArtNet, "192.168.1.20", 6455, 32767},
  };
  for (const auto& [name, protocol, host, port, universe] : good) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(IsStripAddress(name));
    const TStripAddress address = ParseStripAddress(name);
    EXPECT_EQ(std::tuple(address.Protocol, address.Host, address.Port, address.Universe),
              std::tuple(protocol, host, port, universe));
  }

  for (const std::string name : {"COM1", "/dev/ttyUSB0", "ddp:/h", "udp://h", ""}) {
    EXPECT_FALSE(IsStripAddress(name)) << name;
  }
  // Each with the part of the message that names the fault.
  const std::vector<std::pair<std::string, std::string>> bad{
      {"ddp://", "host is missing"},
      {"ddp://:4048", "host is missing"},
      {"e131://[]:5568", "host is missing"},
      {"ddp://h:0", "port must be"},
      {"ddp://h:65536", "port must be"},
      {"ddp://h:", "port must be"},
      {"ddp://h:+4048", "port must be"},
      {"ddp://h/1", "DDP has no universe"},
      {"e131://h/0", "universe must be a number from 1 to 63999"},
      {"e131://h/64000", "universe must be a number from 1 to 63999"},
      {"e131://h/", "universe must be"},
      {"e131://h/1x", "universe must be"},
      {"artnet://h/32768", "universe must be a number from 0 to 32767"},
      {"ddp://strip one", "'strip one' is not a host name or address"},
      {"ddp://[::1", "no closing ]"},
      {"ddp://[::1]4048", "only :PORT may follow"},
      {"ddp://[h]:4048", "not a host name or address"},
  };
  for (const auto& [name, fault] : bad) {
    try {
      ParseStripAddress(name);
      ADD_FAILURE() << name << " was accepted";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message().rfind("'" + name + "' is not a valid strip address: ", 0), 0U)
          << e.Message();
      EXPECT_NE(e.Message().find(fault), std::string::npos) << e.Message();
    }
  }
  // The strip refuses a bad address when it is made, before anything opens.
  EXPECT_THROW(TNetworkStrip("artnet://h/40000"), EConvertError);
}

// ---------------------------------------------------------------------------------------
// Packets, checked against the protocols' tables

TEST(StripPackets, DdpChunksOf1440BytesPushOnTheLastAndSequenceWraps15To1) {
  TStripEncoder ddp(TStripProtocol::DDP, 0, {});
  // Frames in a row on one encoder: pixels, then (offset, length, flags) of each packet.
  const std::vector<std::pair<std::size_t, std::vector<std::tuple<int, int, int>>>> frames{
      {1000, {{0, 1440, 0x40}, {1440, 1440, 0x40}, {2880, 120, 0x41}}},
      {480, {{0, 1440, 0x41}}},
      {481, {{0, 1440, 0x40}, {1440, 3, 0x41}}},
      {1, {{0, 3, 0x41}}},
      {0, {}},
      {1000, {{0, 1440, 0x40}, {1440, 1440, 0x40}, {2880, 120, 0x41}}},
      {1000, {{0, 1440, 0x40}, {1440, 1440, 0x40}, {2880, 120, 0x41}}},
      {1000, {{0, 1440, 0x40}, {1440, 1440, 0x40}, {2880, 120, 0x41}}},
  };
  int sequence = 0;
  for (const auto& [pixels, expected] : frames) {
    SCOPED_TRACE(pixels);
    const Bytes rgb = Pixels(pixels, static_cast<std::uint8_t>(sequence));
    const auto packets = ddp.Encode(rgb);
    ASSERT_EQ(packets.size(), expected.size());
    for (std::size_t k = 0; k < packets.size(); ++k) {
      const auto& [offset, length, flags] = expected[k];
      sequence = sequence % 15 + 1;
      const auto p = packets[k];
      const auto at = static_cast<std::size_t>(offset);
      ASSERT_EQ(p.size(), 10U + static_cast<std::size_t>(length));
      EXPECT_EQ(Copy(p.first(10)),
                (Bytes{static_cast<std::uint8_t>(flags), static_cast<std::uint8_t>(sequence), 0x0B,
                       0x01, 0, 0, static_cast<std::uint8_t>(at >> 8),
                       static_cast<std::uint8_t>(at & 0xFF), static_cast<std::uint8_t>(length >> 8),
                       static_cast<std::uint8_t>(length & 0xFF)}));
      EXPECT_EQ(Copy(p.subspan(10)), Copy(std::span(rgb).subspan(at, p.size() - 10)));
    }
  }
  EXPECT_EQ(sequence, 1);  // 16 packets: 1 ... 15, then 1
  EXPECT_TRUE(ddp.Terminate(1000).empty());

  // The largest frame: 32720 pixels in 69 packets, the last one 240 bytes at 97920.
  const auto largest = ddp.Encode(Pixels(kMaxStripPixels));
  ASSERT_EQ(largest.size(), 69U);
  EXPECT_EQ(Copy(largest.back().first(10)),
            (Bytes{0x41, 0x0A, 0x0B, 0x01, 0x00, 0x01, 0x7E, 0x80, 0x00, 0xF0}));
}

TEST(StripPackets, E131UniversesOf510SlotsWithTheirOwnSequenceAndTheStreamsEnd) {
  TStripCid cid{};
  for (std::size_t i = 0; i < cid.size(); ++i) {
    cid[i] = static_cast<std::uint8_t>(0xC0 + i);
  }
  TStripEncoder e131(TStripProtocol::E131, 1, cid);

  const Bytes rgb = Pixels(200);
  const auto frame = e131.Encode(rgb);
  ASSERT_EQ(frame.size(), 2U);
  // Universe 1 in full, as the E1.31 table gives it for N = 510.
  const Bytes header{
      0x00, 0x10, 0x00, 0x00, 0x41, 0x53, 0x43, 0x2D, 0x45, 0x31, 0x2E, 0x31,  // root
      0x37, 0x00, 0x00, 0x00, 0x72, 0x6C, 0x00, 0x00, 0x00, 0x04,              //
      0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB,  // CID
      0xCC, 0xCD, 0xCE, 0xCF,                                                  //
      0x72, 0x56, 0x00, 0x00, 0x00, 0x02,                                      // framing
      'V',  'o',  'r',  'l',  'i',  'x',  'a'};
  ASSERT_EQ(frame[0].size(), 636U);
  EXPECT_EQ(Copy(frame[0].first(header.size())), header);
  EXPECT_EQ(Copy(frame[0].subspan(header.size(), 108 - header.size())),
            Bytes(108 - header.size(), 0));  // the name's zero padding
  EXPECT_EQ(Copy(frame[0].subspan(108, 18)),
            (Bytes{100, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,  // priority, sync, seq, options
                   0x72, 0x09, 0x02, 0xA1, 0x00, 0x00, 0x00, 0x01, 0x01, 0xFF, 0x00}));  // DMP
  EXPECT_EQ(Copy(frame[0].subspan(126)), Copy(std::span(rgb).first(510)));

  // Universe 2 carries the other 30 pixels: 90 slots, the lengths to match.
  ASSERT_EQ(frame[1].size(), 126U + 90U);
  EXPECT_EQ(Copy(frame[1].first(126)), [&] {
    Bytes expected = Copy(frame[0].first(126));
    for (const auto& [at, value] : std::vector<std::pair<std::size_t, std::size_t>>{
             {16, 0x70C8}, {38, 0x70B2}, {113, 2}, {115, 0x7065}, {123, 91}}) {
      expected[at] = static_cast<std::uint8_t>(value >> 8);
      expected[at + 1] = static_cast<std::uint8_t>(value & 0xFF);
    }
    return expected;
  }());
  EXPECT_EQ(Copy(frame[1].subspan(126)), Copy(std::span(rgb).subspan(510)));

  // One sequence counter per universe; a shorter frame leaves universe 2's alone.
  // (universe, sequence, options, slots) of every packet of the next calls.
  std::vector<std::tuple<std::size_t, int, int, std::size_t>> seen;
  const auto note = [&](auto packets) {
    for (const auto p : packets) {
      seen.emplace_back(Big16(p, 113), p[111], p[112], p.size() - 126);
      EXPECT_EQ(Big16(p, 123), p.size() - 125);
    }
  };
  note(e131.Encode(Pixels(100)));
  note(e131.Encode(Pixels(200)));
  note(e131.Terminate(200));
  EXPECT_EQ(seen, (std::vector<std::tuple<std::size_t, int, int, std::size_t>>{{1, 1, 0, 300},
                                                                               {1, 2, 0, 510},
                                                                               {2, 1, 0, 90},
                                                                               {1, 3, 0x40, 510},
                                                                               {2, 2, 0x40, 90},
                                                                               {1, 4, 0x40, 510},
                                                                               {2, 3, 0x40, 90},
                                                                               {1, 5, 0x40, 510},
                                                                               {2, 4, 0x40, 90}}));
  for (const auto p : e131.Terminate(200)) {
    EXPECT_EQ(Copy(p.subspan(126)), Bytes(p.size() - 126, 0));
  }

  // Pixels past universe 63999 have nowhere to go.
  TStripEncoder last(TStripProtocol::E131, 63999, cid);
  const auto cut = last.Encode(Pixels(200));
  ASSERT_EQ(cut.size(), 1U);
  EXPECT_EQ(Big16(cut[0], 113), 63999U);
}

TEST(StripPackets, ArtDmxPortAddressLittleEndianEvenLengthSequenceNeverZero) {
  TStripEncoder artnet(TStripProtocol::ArtNet, 0x1234, {});
  const Bytes rgb = Pixels(171);
  const auto frame = artnet.Encode(rgb);
  ASSERT_EQ(frame.size(), 2U);
  EXPECT_EQ(Copy(frame[0].first(18)), (Bytes{'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x50, 0x00,
                                             0x0E, 1, 0, 0x34, 0x12, 0x01, 0xFE}));
  EXPECT_EQ(Copy(frame[0].subspan(18)), Copy(std::span(rgb).first(510)));
  // A one-pixel tail: 3 slots padded to 4.
  EXPECT_EQ(Copy(frame[1]),
            (Bytes{'A',  'r', 't', '-',  'N',  'e',  't',  0,        0x00,     0x50,     0x00,
                   0x0E, 1,   0,   0x35, 0x12, 0x00, 0x04, rgb[510], rgb[511], rgb[512], 0}));

  // 1..255, then 1 again; each Port-Address on its own.
  for (int n = 2; n <= 256; ++n) {
    const auto packets = artnet.Encode(Pixels(n % 2 == 0 ? 1 : 171));
    EXPECT_EQ(packets[0][12], n == 256 ? 1 : n);
    EXPECT_EQ(packets[0].size(), 18U + (n % 2 == 0 ? 4U : 510U));
  }
  EXPECT_EQ(artnet.Encode(rgb)[1][12], 129);  // the second universe's 129th packet
  EXPECT_TRUE(artnet.Terminate(171).empty());
}

TEST(StripColours, ABoardsBarsBecomePixelsInTheMetersColoursByPlaceReversedOrNotAndScaled) {
  // Bars of 20: yellow from place 12, red from place 17. Bar 1 is reversed, so its first
  // LED (place 0, green) is sent in its last slot.
  std::array<std::uint8_t, 80> block{};
  block[0] = 254;   // bar 0, place 0
  block[12] = 254;  // bar 0, place 12
  block[19] = 127;  // bar 0, place 19, at half brightness
  block[20] = 254;  // bar 1's last slot: place 19
  block[39] = 254;  // bar 1's first slot: place 0
  block[40] = 254;  // no bar: never a pixel
  std::vector<std::uint8_t> pixels(6 * 20, 0xAA);
  ASSERT_EQ(BoardPixels(block, 20, {false, true}, TStripColour{}, pixels), 6U * 20);
  const auto pixel = [&](std::size_t p) {
    return std::vector<std::uint8_t>(pixels.begin() + static_cast<std::ptrdiff_t>(3 * p),
                                     pixels.begin() + static_cast<std::ptrdiff_t>(3 * p + 3));
  };
  using P = std::vector<std::uint8_t>;
  EXPECT_EQ(pixel(0), (P{0, 255, 0}));
  EXPECT_EQ(pixel(1), (P{0, 0, 0}));
  EXPECT_EQ(pixel(12), (P{255, 255, 0}));
  EXPECT_EQ(pixel(19), (P{128, 0, 0}));
  EXPECT_EQ(pixel(20), (P{255, 0, 0}));
  EXPECT_EQ(pixel(39), (P{0, 255, 0}));
  // One colour for every place; the texts as the settings file keeps them.
  const std::optional<TStripColour> orange = ParseStripColour("#ff8000");
  ASSERT_TRUE(orange.has_value());
  EXPECT_EQ(StripColourText(*orange), "#FF8000");
  BoardPixels(block, 20, {false, true}, *orange, pixels);
  EXPECT_EQ(pixel(20), (P{255, 128, 0}));
  EXPECT_EQ(pixel(19), (P{128, 64, 0}));
  EXPECT_EQ(ParseStripColour("METER"), TStripColour{});
  EXPECT_FALSE(ParseStripColour("#12345").has_value());
  EXPECT_FALSE(ParseStripColour("#12345G").has_value());
}

TEST(StripPackets, TheSenderIdIsAStableVersion4UuidOfThePortName) {
  const TStripCid cid = StripCid("e131://10.0.0.9/1");
  EXPECT_EQ(cid, StripCid("e131://10.0.0.9/1"));
  EXPECT_NE(cid, StripCid("e131://10.0.0.9/2"));
  EXPECT_EQ(cid[6] >> 4, 4);
  EXPECT_EQ(cid[8] >> 6, 2);
  // Fixed for all time: a receiver that knew this sender yesterday knows it today.
  EXPECT_EQ(Copy(StripCid("e131://strip")),
            (Bytes{0xE1, 0xC5, 0x1B, 0x95, 0x79, 0x3C, 0x44, 0xC5, 0x9A, 0x95, 0x01, 0x39, 0xD8,
                   0xC0, 0xE4, 0xAC}));
}

// ---------------------------------------------------------------------------------------
// A strip on real sockets on 127.0.0.1

// UDP sockets of the test on one port: 127.0.0.1 (port 0: any free one), and ::1 as well
// when asked and the machine has IPv6, for a name that may lead to either.
class Receiver {
 public:
  explicit Receiver(std::uint16_t port = 0, bool alsoIpv6 = false) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (::bind(fd.Get(), raw, length) != 0 || ::getsockname(fd.Get(), raw, &length) != 0) {
      ADD_FAILURE() << "cannot bind a UDP socket on 127.0.0.1";
      return;
    }
    port_ = ntohs(address.sin_port);
    fds_.push_back(std::move(fd));
    if (alsoIpv6) {
      sockaddr_in6 address6{};
      address6.sin6_family = AF_INET6;
      address6.sin6_port = htons(port_);
      address6.sin6_addr = in6addr_loopback;
      UniqueFd fd6(::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0));
      if (::bind(fd6.Get(), reinterpret_cast<sockaddr*>(&address6), sizeof address6) == 0) {
        fds_.push_back(std::move(fd6));
      }
    }
  }
  std::uint16_t Port() const { return port_; }

  // The next datagram, waiting for it at most limitMs.
  std::optional<Bytes> Receive(int limitMs = kWaitLimitMs) {
    std::vector<pollfd> ready;
    for (const UniqueFd& fd : fds_) {
      ready.push_back({fd.Get(), POLLIN, 0});
    }
    if (::poll(ready.data(), ready.size(), limitMs) < 1) {
      return std::nullopt;
    }
    for (const pollfd& one : ready) {
      if ((one.revents & POLLIN) != 0) {
        Bytes datagram(2000);
        const auto size = ::recv(one.fd, datagram.data(), datagram.size(), MSG_DONTWAIT);
        if (size >= 0) {
          datagram.resize(static_cast<std::size_t>(size));
          return datagram;
        }
      }
    }
    return std::nullopt;
  }
  // The next DDP frame whole: its packets up to the pushed one, put together.
  Bytes ReceiveDdpFrame(int* firstSequence = nullptr) {
    Bytes frame;
    bool first = true;
    while (auto packet = Receive()) {
      const std::size_t offset = std::size_t{(*packet)[6]} << 8 | (*packet)[7];
      EXPECT_EQ(offset, frame.size());
      if (first && firstSequence != nullptr) {
        *firstSequence = (*packet)[1];
      }
      first = false;
      frame.insert(frame.end(), packet->begin() + 10, packet->end());
      if (((*packet)[0] & 0x01) != 0) {
        return frame;
      }
    }
    ADD_FAILURE() << "no whole DDP frame arrived";
    return frame;
  }

 private:
  std::vector<UniqueFd> fds_;
  std::uint16_t port_ = 0;
};

class StripOnLoopback : public ::testing::Test {
 protected:
  std::shared_ptr<TManualClock> clock = std::make_shared<TManualClock>();
  std::vector<std::string> errors;  // what OnError was called with

  void Listen(TNetworkStrip& strip) {
    strip.OnError = [this](const std::string& text) { errors.push_back(text); };
  }
};

TEST_F(StripOnLoopback, FramesGoOutWhenChangedOrAfterASecondAndCloseLeavesTheStripDark) {
  Receiver receiver;
  TNetworkStrip strip("ddp://127.0.0.1:" + std::to_string(receiver.Port()), clock);
  Listen(strip);
  EXPECT_EQ(strip.State(), TStripState::Closed);
  EXPECT_EQ(strip.StatusText(), "");
  strip.Send(Pixels(1000));  // not open: nothing
  strip.Open();
  ASSERT_EQ(strip.State(), TStripState::Sending);  // a literal address: no look-up
  EXPECT_EQ(strip.StatusText(), "Sending");

  const Bytes a = Pixels(1000, 1);
  strip.Send(a);
  int sequence = 0;
  EXPECT_EQ(receiver.ReceiveDdpFrame(&sequence), a);
  EXPECT_EQ(sequence, 1);
  clock->Advance(std::chrono::milliseconds(999));
  strip.Send(a);  // unchanged, sent 999 ms ago: nothing
  clock->Advance(std::chrono::milliseconds(1));
  strip.Send(a);  // the keep-alive; its packets follow the first frame's three directly
  EXPECT_EQ(receiver.ReceiveDdpFrame(&sequence), a);
  EXPECT_EQ(sequence, 4);
  const Bytes b = Pixels(1000, 2);
  strip.Send(b);
  EXPECT_EQ(receiver.ReceiveDdpFrame(&sequence), b);
  EXPECT_EQ(sequence, 7);

  strip.Close();
  EXPECT_EQ(receiver.ReceiveDdpFrame(), Bytes(3000, 0));
  EXPECT_EQ(strip.State(), TStripState::Closed);
  EXPECT_EQ(strip.StatusText(), "");
  EXPECT_TRUE(errors.empty());

  // An E1.31 strip: its two universes dark, then three ends of the stream each.
  TNetworkStrip e131("e131://127.0.0.1:" + std::to_string(receiver.Port()) + "/9", clock);
  e131.Open();
  e131.Send(Pixels(200, 3));
  e131.Close();
  std::vector<std::tuple<std::size_t, int, bool>> seen;  // universe, options, dark
  for (int i = 0; i < 10; ++i) {
    const auto p = receiver.Receive();
    ASSERT_TRUE(p);
    seen.emplace_back(Big16(*p, 113), (*p)[112],
                      std::all_of(p->begin() + 126, p->end(), [](auto v) { return v == 0; }));
  }
  EXPECT_EQ(seen, (std::vector<std::tuple<std::size_t, int, bool>>{{9, 0, false},
                                                                   {10, 0, false},
                                                                   {9, 0, true},
                                                                   {10, 0, true},
                                                                   {9, 0x40, true},
                                                                   {10, 0x40, true},
                                                                   {9, 0x40, true},
                                                                   {10, 0x40, true},
                                                                   {9, 0x40, true},
                                                                   {10, 0x40, true}}));
}

TEST_F(StripOnLoopback, ARefusedStripFailsOnceRecoversWhenHeardAndFailsAgain) {
  std::uint16_t port = 0;
  {
    const Receiver gone;  // a port that was free a moment ago
    port = gone.Port();
  }
  TNetworkStrip strip("ddp://127.0.0.1:" + std::to_string(port), clock);
  Listen(strip);
  strip.Open();
  const Bytes frame = Pixels(1000, 4);
  // Nothing listens: the refusal (an ICMP port unreachable) shows on a later tick.
  ASSERT_TRUE(WaitFor([&] {
    strip.Send(frame);
    return strip.State() == TStripState::SendFailed;
  }));
  EXPECT_EQ(strip.StatusText(), "Connection refused");
  for (int tick = 0; tick < 20; ++tick) {
    clock->Advance(std::chrono::milliseconds(25));
    strip.Send(frame);
    ASSERT_EQ(strip.State(), TStripState::SendFailed);
  }
  EXPECT_EQ(errors, std::vector<std::string>{"Connection refused"});

  // Someone listens now: the frames that keep being tried arrive, but the strip counts as
  // sending again only after kRecoveryTime without refusals (an unreachable host is told
  // seconds late). Each tick's frame carries its number in its first byte.
  Receiver listener(port);
  ASSERT_EQ(listener.Port(), port);
  std::vector<std::chrono::steady_clock::time_point> sentAt;
  ASSERT_TRUE(WaitFor([&] {
    clock->Advance(std::chrono::milliseconds(100));
    sentAt.push_back(clock->Now());
    strip.Send(Pixels(1000, static_cast<std::uint8_t>(sentAt.size() % 251)));
    return strip.State() == TStripState::Sending;
  }));
  EXPECT_EQ(strip.StatusText(), "Sending");
  const Bytes heard = listener.ReceiveDdpFrame();
  ASSERT_FALSE(heard.empty());
  const std::size_t tick = heard[0];  // the first frame that arrived
  ASSERT_TRUE(tick >= 1 && tick <= sentAt.size()) << tick;
  EXPECT_EQ(heard, Pixels(1000, static_cast<std::uint8_t>(tick)));
  EXPECT_GE(clock->Now() - sentAt[tick - 1], TNetworkStrip::kRecoveryTime);
  EXPECT_EQ(errors.size(), 1U);

  // Gone again: a send succeeded since the first failure, so it is told once more.
  listener = Receiver();
  ASSERT_TRUE(WaitFor([&] {
    clock->Advance(std::chrono::milliseconds(25));
    strip.Send(Pixels(1000, static_cast<std::uint8_t>(clock->Now().time_since_epoch().count())));
    return strip.State() == TStripState::SendFailed;
  }));
  EXPECT_EQ(errors, (std::vector<std::string>{"Connection refused", "Connection refused"}));
}

TEST_F(StripOnLoopback, HostNamesAreLookedUpOnTheTicksAndOneNotFoundIsToldOnce) {
  Receiver receiver(0, true);  // localhost may be ::1 first
  TNetworkStrip strip("artnet://localhost:" + std::to_string(receiver.Port()), clock);
  Listen(strip);
  strip.Open();
  // glibc may have found it before Open looked; otherwise the ticks take the result.
  if (strip.State() == TStripState::LookingUp) {
    EXPECT_EQ(strip.StatusText(), "Looking up localhost");
  }
  ASSERT_TRUE(WaitFor([&] {
    strip.Poll();
    return strip.State() != TStripState::LookingUp;
  }));
  ASSERT_EQ(strip.State(), TStripState::Sending) << strip.StatusText();
  strip.Send(Pixels(1, 5));
  const auto packet = receiver.Receive();
  ASSERT_TRUE(packet);
  EXPECT_EQ(Copy(std::span(*packet).subspan(18)), (Bytes{5, 12, 19, 0}));
  EXPECT_TRUE(errors.empty());

  // A name that glibc refuses without asking the network (an empty label).
  TNetworkStrip lost("e131://strip..local", clock);
  Listen(lost);
  lost.Open();
  ASSERT_TRUE(WaitFor([&] {
    lost.Poll();
    return lost.State() != TStripState::LookingUp;
  }));
  EXPECT_EQ(lost.State(), TStripState::NotFound);
  EXPECT_EQ(lost.StatusText(), "Cannot find strip..local");
  ASSERT_EQ(errors.size(), 1U);
  EXPECT_EQ(errors[0].rfind("Cannot find strip..local: ", 0), 0U) << errors[0];
  lost.Send(Pixels(1));                    // nowhere to send: nothing, no error
  for (int tick = 0; tick < 30; ++tick) {  // two more look-ups, failing as well
    clock->Advance(std::chrono::milliseconds(500));
    lost.Poll();
  }
  ASSERT_TRUE(WaitFor([&] {
    lost.Poll();
    return lost.State() == TStripState::NotFound;
  }));
  EXPECT_EQ(errors.size(), 1U);
  lost.Close();
  EXPECT_EQ(lost.State(), TStripState::Closed);
}

}  // namespace

}  // namespace vx
