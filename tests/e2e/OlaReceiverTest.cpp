#include "common/OlaReceiver.h"
#include "platform/UniqueFd.h"

#include <QByteArray>
#include <QString>

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vx {

// The test receiver itself: packets built here byte by byte from the protocols' tables, not
// by the program's sender, reach OLA's universes slot for slot. The end-to-end tests of the
// network outputs rely on it.

namespace {

constexpr int kSlots = 510;

void Put16(QByteArray& packet, int value) {
  packet.append(static_cast<char>((value >> 8) & 0xFF));
  packet.append(static_cast<char>(value & 0xFF));
}

void Put32(QByteArray& packet, int value) {
  Put16(packet, (value >> 16) & 0xFFFF);
  Put16(packet, value & 0xFFFF);
}

// Slots 1..kSlots with slot i = (seed + step * i) mod 256: a different pattern per packet.
QByteArray Pattern(int seed, int step) {
  QByteArray dmx;
  for (int i = 0; i < kSlots; ++i) {
    dmx.append(static_cast<char>((seed + step * i) & 0xFF));
  }
  return dmx;
}

// An E1.31 data packet: root, framing and DMP layers, big-endian throughout.
QByteArray E131Packet(int universe, const QByteArray& dmx) {
  const auto n = static_cast<int>(dmx.size());
  QByteArray packet;
  Put16(packet, 0x0010);  // preamble size
  Put16(packet, 0x0000);  // post-amble size
  packet.append("ASC-E1.17\0\0\0", 12);
  Put16(packet, 0x7000 | (110 + n));
  Put32(packet, 0x00000004);                                               // VECTOR_ROOT_E131_DATA
  packet.append(QByteArray::fromHex("5d1c0a7e93b2461f8c3e2a9b7d6f0e14"));  // CID
  Put16(packet, 0x7000 | (88 + n));
  Put32(packet, 0x00000002);  // VECTOR_E131_DATA_PACKET
  packet.append(QByteArray("vorlixa test").leftJustified(64, '\0'));
  packet.append(static_cast<char>(100));  // priority
  Put16(packet, 0);                       // no synchronization
  packet.append('\0');                    // sequence
  packet.append('\0');                    // options: no preview, not terminated
  Put16(packet, universe);
  Put16(packet, 0x7000 | (11 + n));
  packet.append('\x02');  // VECTOR_DMP_SET_PROPERTY
  packet.append('\xA1');  // address and data type
  Put16(packet, 0x0000);  // first property address
  Put16(packet, 0x0001);  // address increment
  Put16(packet, 1 + n);   // START code and slots
  packet.append('\0');    // START code
  packet.append(dmx);
  return packet;
}

// An ArtDmx packet: OpCode little-endian, version and length big-endian.
QByteArray ArtDmxPacket(int portAddress, const QByteArray& dmx) {
  QByteArray packet("Art-Net\0", 8);
  packet.append('\x00').append('\x50');                         // OpDmx
  Put16(packet, 14);                                            // protocol version
  packet.append('\0');                                          // sequence not used
  packet.append('\0');                                          // physical
  packet.append(static_cast<char>(portAddress & 0xFF));         // SubUni
  packet.append(static_cast<char>((portAddress >> 8) & 0x7F));  // Net
  Put16(packet, static_cast<int>(dmx.size()));
  packet.append(dmx);
  return packet;
}

void SendTo(int port, const QByteArray& packet) {
  UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  ASSERT_TRUE(socket.IsValid());
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::sendto(socket.Get(), packet.constData(), static_cast<std::size_t>(packet.size()), 0,
                     reinterpret_cast<const sockaddr*>(&to), sizeof to),
            packet.size());
}

}  // namespace

TEST(OlaReceiverSystem, HandBuiltPacketsOfBothProtocolsArriveInTheirOwnUniversesSlotForSlot) {
  OlaReceiver ola({1, 2}, {0, 1});
  QString reason;
  ASSERT_TRUE(ola.Start(reason)) << reason.toStdString();

  // Four universes, four patterns: a packet in the wrong universe or a slot out of place
  // shows.
  struct Sent {
    int Universe;
    QByteArray Slots;
  };
  const std::array<Sent, 4> sent = {{{1, Pattern(3, 7)},
                                     {2, Pattern(5, 11)},
                                     {OlaReceiver::ArtNetUniverse(0), Pattern(250, 13)},
                                     {OlaReceiver::ArtNetUniverse(1), Pattern(17, 3)}}};
  SendTo(5568, E131Packet(1, sent[0].Slots));
  SendTo(5568, E131Packet(2, sent[1].Slots));
  SendTo(6454, ArtDmxPacket(0, sent[2].Slots));
  SendTo(6454, ArtDmxPacket(1, sent[3].Slots));

  for (const Sent& s : sent) {
    const auto frame =
        ola.WaitForFrame(s.Universe, [](const QByteArray& dmx) { return dmx.size() == kSlots; });
    ASSERT_TRUE(frame) << "universe " << s.Universe
                       << ", latest update: " << ola.Latest(s.Universe).toHex().toStdString()
                       << "\n"
                       << ola.Messages().toStdString();
    EXPECT_EQ(frame->toHex().toStdString(), s.Slots.toHex().toStdString())
        << "universe " << s.Universe;
  }
}

}  // namespace vx
