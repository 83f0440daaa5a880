#include "common/SimProcess.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdint>
#include <vector>

namespace vxsim {

using namespace vx;  // the shared test helpers

namespace {

// A DDP packet as the protocol's table lays it out: version 1, RGB 8 bits, default output.
SimBytes Ddp(std::uint32_t offset, const SimBytes& frame, std::size_t length, bool push,
             std::uint8_t sequence) {
  const std::array<std::uint8_t, 10> header{static_cast<std::uint8_t>(push ? 0x41 : 0x40),
                                            sequence,
                                            0x0B,
                                            0x01,
                                            static_cast<std::uint8_t>(offset >> 24),
                                            static_cast<std::uint8_t>(offset >> 16),
                                            static_cast<std::uint8_t>(offset >> 8),
                                            static_cast<std::uint8_t>(offset),
                                            static_cast<std::uint8_t>(length >> 8),
                                            static_cast<std::uint8_t>(length)};
  SimBytes p(header.size() + length);
  std::copy(header.begin(), header.end(), p.begin());
  const auto first = frame.begin() + static_cast<std::ptrdiff_t>(offset);
  std::copy(first, first + static_cast<std::ptrdiff_t>(length),
            p.begin() + static_cast<std::ptrdiff_t>(header.size()));
  return p;
}

// Sends datagrams to 127.0.0.1:port from a socket of its own.
class UdpSender {
 public:
  explicit UdpSender(int port) : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    to_.sin_family = AF_INET;
    to_.sin_port = htons(static_cast<std::uint16_t>(port));
    to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  ~UdpSender() { ::close(fd_); }
  UdpSender(const UdpSender&) = delete;
  UdpSender& operator=(const UdpSender&) = delete;

  bool Send(const SimBytes& packet) const {
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the socket API's own type
    const auto* to = reinterpret_cast<const sockaddr*>(&to_);
    return ::sendto(fd_, packet.data(), packet.size(), 0, to, sizeof to_) ==
           static_cast<ssize_t>(packet.size());
  }

 private:
  int fd_;
  sockaddr_in to_{};
};

// 1000 pixels that differ from each other and from one frame to the next.
SimBytes Frame(std::uint8_t seed) {
  SimBytes frame(3000);
  for (std::size_t i = 0; i < frame.size(); ++i) {
    frame[i] = static_cast<std::uint8_t>((seed * 89 + i * 7 + i / 251) % 256);
  }
  return frame;
}

TEST(StripListenerSystem, AssemblesDdpFramesFromPacketsByOffsetAndShowsThemOnPush) {
  SimProcess::Options options;
  options.Listen = "ddp";
  SimProcess sim(options);
  ASSERT_GT(sim.ListenPort(), 0) << sim.ErrorOutput();
  const UdpSender sender(sim.ListenPort());

  // A frame splits at 1440 bytes: (0, 1440), (1440, 1440), (2880, 120, push). The middle
  // packet goes first: the offset places the data, not the order of arrival.
  const SimBytes first = Frame(1);
  ASSERT_TRUE(sender.Send(Ddp(1440, first, 1440, false, 1)));
  ASSERT_TRUE(sender.Send(Ddp(0, first, 1440, false, 2)));
  ASSERT_TRUE(sender.Send(Ddp(2880, first, 120, true, 3)));
  ASSERT_TRUE(sim.WaitForUnits(1)) << sim.ErrorOutput();

  // A packet of another version is refused and changes nothing; the next frame then
  // replaces every byte.
  const SimBytes second = Frame(2);
  SimBytes wrongVersion = Ddp(0, second, 1440, true, 4);
  wrongVersion[0] = 0x81;
  ASSERT_TRUE(sender.Send(wrongVersion));
  ASSERT_TRUE(sim.WaitForEvents("refused", 1));
  ASSERT_TRUE(sender.Send(Ddp(0, second, 1440, false, 5)));
  ASSERT_TRUE(sender.Send(Ddp(1440, second, 1440, false, 6)));
  ASSERT_TRUE(sender.Send(Ddp(2880, second, 120, true, 7)));
  ASSERT_TRUE(sim.WaitForUnits(2));

  EXPECT_EQ(sim.Stop(SIGINT), 0) << sim.ErrorOutput();
  const std::vector<SimBytes> frames = sim.Units();
  ASSERT_EQ(frames.size(), 2U);
  EXPECT_EQ(frames[0].size(), 3000U);
  EXPECT_TRUE(frames[0] == first) << HexText(frames[0]);
  EXPECT_EQ(frames[1].size(), 3000U);
  EXPECT_TRUE(frames[1] == second) << HexText(frames[1]);
  EXPECT_EQ(sim.Events("refused"), std::vector<std::string>{"DDP version 2, not 1"});
}

}  // namespace

}  // namespace vxsim
