#include "sim/StripDecoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace vxsim {

namespace {

using Bytes = std::vector<std::uint8_t>;

// R, G, B of count pixels, every byte telling its pixel and seed apart, so that a universe
// in the wrong place or a pixel shifted by one byte shows.
Bytes Pixels(std::size_t count, std::uint8_t seed) {
  Bytes bytes(count * 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>((seed * 67 + i * 13) % 251 + 1);
  }
  return bytes;
}

Bytes Join(const std::vector<Bytes>& parts) {
  Bytes all;
  for (const Bytes& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

void PutBe16(Bytes& p, std::size_t at, std::size_t value) {
  p.at(at) = static_cast<std::uint8_t>(value >> 8);
  p.at(at + 1) = static_cast<std::uint8_t>(value);
}

// An E1.31 data packet built field by field from the standard's table.
Bytes E131(int universe, const Bytes& slots, std::uint8_t options = 0,
           const std::string& identifier = std::string("ASC-E1.17\0\0\0", 12)) {
  Bytes p(126 + slots.size(), 0);
  PutBe16(p, 0, 0x0010);
  for (std::size_t i = 0; i < identifier.size(); ++i) {
    p.at(4 + i) = static_cast<std::uint8_t>(identifier[i]);
  }
  PutBe16(p, 16, 0x7000 | (110 + slots.size()));
  p[21] = 0x04;
  p[22] = 0xC1;  // CID
  p[37] = 0xD0;
  PutBe16(p, 38, 0x7000 | (88 + slots.size()));
  p[43] = 0x02;
  p[44] = 'T';  // Source Name
  p[108] = 100;
  p[112] = options;
  PutBe16(p, 113, static_cast<std::size_t>(universe));
  PutBe16(p, 115, 0x7000 | (11 + slots.size()));
  p[117] = 0x02;
  p[118] = 0xA1;
  PutBe16(p, 121, 1);
  PutBe16(p, 123, 1 + slots.size());
  std::copy(slots.begin(), slots.end(), p.begin() + 126);
  return p;
}

// An ArtDmx packet; slots are padded to an even Length as senders must.
Bytes ArtDmx(int portAddress, Bytes slots, const std::string& id = std::string("Art-Net\0", 8),
             std::uint16_t opCode = 0x5000) {
  if (slots.size() % 2 != 0) {
    slots.push_back(0);
  }
  Bytes p(id.begin(), id.end());
  p.resize(18, 0);
  p[8] = static_cast<std::uint8_t>(opCode);
  p[9] = static_cast<std::uint8_t>(opCode >> 8);
  p[11] = 14;
  p[14] = static_cast<std::uint8_t>(portAddress);       // SubUni
  p[15] = static_cast<std::uint8_t>(portAddress >> 8);  // Net
  PutBe16(p, 16, slots.size());
  p.insert(p.end(), slots.begin(), slots.end());
  return p;
}

struct DecodeCase {
  std::string Name;
  StripProtocol Protocol;
  int FirstUniverse;
  std::vector<Bytes> Packets;
  std::vector<StripEvent::Kind> Events;  // one per packet
  Bytes Strip;                           // what is shown at the end
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const DecodeCase& c, std::ostream* os) {
  *os << c.Name;
}

class StripDecoderCases : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(StripDecoderCases, AssembleTheStripFromUniverses) {
  const DecodeCase& c = GetParam();
  StripDecoder decoder(c.Protocol, c.FirstUniverse);
  ASSERT_EQ(c.Packets.size(), c.Events.size());
  for (std::size_t i = 0; i < c.Packets.size(); ++i) {
    const StripEvent event = decoder.Feed(c.Packets[i]);
    EXPECT_EQ(event.What, c.Events[i]) << "packet " << i << ": " << event.Text;
  }
  const Bytes strip(decoder.Strip().begin(), decoder.Strip().end());
  EXPECT_EQ(strip.size(), c.Strip.size());
  EXPECT_TRUE(strip == c.Strip);
}

using K = StripEvent::Kind;

INSTANTIATE_TEST_SUITE_P(
    Packets, StripDecoderCases,
    ::testing::Values(
        // The second universe first: it waits for the first, then the strip runs across both
        // and into a short third universe (two pixels), which ends it.
        DecodeCase{"E131UniversesConcatenate",
                   StripProtocol::E131,
                   7,
                   {E131(8, Pixels(170, 2)), E131(7, Pixels(170, 1)), E131(9, Pixels(2, 3)),
                    E131(6, Pixels(170, 9))},
                   {K::Pending, K::Frame, K::Frame, K::Ignored},
                   Join({Pixels(170, 1), Pixels(170, 2), Pixels(2, 3)})},
        // 512 slots: the two beyond 170 pixels are not pixels.
        DecodeCase{"E131PreviewIsIgnored",
                   StripProtocol::E131,
                   1,
                   {E131(1, Join({Pixels(170, 1), {0xEE, 0xEE}})), E131(1, Pixels(170, 5), 0x80)},
                   {K::Frame, K::Ignored},
                   Pixels(170, 1)},
        DecodeCase{"E131WrongIdentifierIsRefused",
                   StripProtocol::E131,
                   1,
                   {E131(1, Pixels(3, 1), 0, std::string("ASC-E1.18\0\0\0", 12))},
                   {K::Refused},
                   {}},
        DecodeCase{"E131StreamTerminatedForgetsTheSource",
                   StripProtocol::E131,
                   1,
                   {E131(1, Pixels(170, 1)), E131(2, Pixels(4, 2)), E131(2, Pixels(4, 3), 0x40)},
                   {K::Frame, K::Frame, K::Ended},
                   {}},
        // Port-Address 0x0123: Net 0x01, SubUni 0x23. One pixel in the last universe goes
        // out as 4 slots; the padding is no pixel. The same SubUni in Net 0 is another
        // universe.
        DecodeCase{"ArtNetUniversesConcatenate",
                   StripProtocol::ArtNet,
                   0x0123,
                   {ArtDmx(0x0123, Pixels(170, 1)), ArtDmx(0x0124, Pixels(170, 2)),
                    ArtDmx(0x0125, Pixels(1, 3)), ArtDmx(0x0023, Pixels(170, 4))},
                   {K::Frame, K::Frame, K::Frame, K::Ignored},
                   Join({Pixels(170, 1), Pixels(170, 2), Pixels(1, 3)})},
        // A wrong ID is refused; an OpCode in big-endian order is another packet.
        DecodeCase{
            "ArtNetWrongIdIsRefused",
            StripProtocol::ArtNet,
            0,
            {ArtDmx(0, Pixels(2, 1), std::string("Art-Nat\0", 8)),
             ArtDmx(0, Pixels(2, 1), std::string("Art-Net\0", 8), 0x0050), ArtDmx(0, Pixels(2, 7))},
            {K::Refused, K::Ignored, K::Frame},
            Pixels(2, 7)}),
    [](const ::testing::TestParamInfo<DecodeCase>& c) { return c.param.Name; });

}  // namespace

}  // namespace vxsim
