#include "common/Wait.h"
#include "platform/PosixSerialPort.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vx {

namespace {

constexpr SerialDeadline kNoDeadline = SerialDeadline::max();

// (name in the settings, device opened)
using NamePair = std::pair<std::string, std::string>;
class DeviceNameTest : public ::testing::TestWithParam<NamePair> {};

TEST_P(DeviceNameTest, MapsWindowsNamesAndPassesOthersUnchanged) {
  EXPECT_EQ(SerialDeviceName(GetParam().first), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Names, DeviceNameTest,
    ::testing::Values(NamePair{"COM1", "/dev/ttyS0"}, NamePair{"COM10", "/dev/ttyS9"},
                      NamePair{"com2", "/dev/ttyS1"}, NamePair{"COM0", "COM0"},
                      NamePair{"COM", "COM"}, NamePair{"COM01", "COM01"},
                      NamePair{"COM1a", "COM1a"}, NamePair{"COM-1", "COM-1"},
                      NamePair{"COM99999999999999999999", "COM99999999999999999999"},
                      NamePair{"/dev/ttyUSB0", "/dev/ttyUSB0"}, NamePair{"", ""}));

// The master side of a pseudo-terminal stands for the chain on the line.
class PosixSerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    device = ::ptsname(master);
    ASSERT_TRUE(port.Open(device)) << port.ErrorString();
    SerialTimeouts timeouts;
    timeouts.ReadInterval = 5;
    timeouts.ReadTotalMultiplier = 1;
    timeouts.ReadTotalConstant = 1;
    timeouts.WriteTotalMultiplier = 1;
    timeouts.WriteTotalConstant = 100;
    port.Configure(timeouts);
  }
  void TearDown() override {
    port.Close();
    if (master >= 0) {
      ::close(master);
    }
  }
  // What the chain received, waiting a little for it to arrive.
  std::string ChainReceives(std::size_t count) {
    std::string received;
    pollfd fd{master, POLLIN, 0};
    while (received.size() < count && ::poll(&fd, 1, 2000) > 0) {
      std::array<char, 256> buffer{};
      const ssize_t n = ::read(master, buffer.data(), buffer.size());
      if (n <= 0) {
        break;
      }
      received.append(buffer.data(), static_cast<std::size_t>(n));
    }
    return received;
  }
  void ChainSends(const std::string& bytes) {
    ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  int master = -1;
  std::string device;
  PosixSerialPort port;
};

TEST_F(PosixSerialPortTest, WritesReachTheLineAndRepliesAreRead) {
  EXPECT_TRUE(port.IsOpen());
  const std::array<std::uint8_t, 4> frame{0xFF, 0x00, 0x7F, 0xFE};
  EXPECT_EQ(port.Write(frame.data(), frame.size(), kNoDeadline), 4U);
  EXPECT_EQ(ChainReceives(4), std::string("\xFF\x00\x7F\xFE", 4));

  // The link purges right after every send; frames must arrive whole all the same, also
  // while the other end is busy reading.
  std::array<std::uint8_t, 161> levels{};
  std::string chainGot;
  std::thread chain([&] { chainGot = ChainReceives(100 * levels.size()); });
  for (std::uint8_t round = 0; round < 100; ++round) {
    levels.fill(round);
    port.Write(levels.data(), levels.size(), kNoDeadline);
    port.Purge();
  }
  chain.join();
  EXPECT_EQ(chainGot.size(), 100 * levels.size());

  ChainSends("\xFF\x3A");
  std::array<std::uint8_t, 2> reply{};
  std::size_t received = 0;
  for (int tries = 0; tries < 100 && received < 2; ++tries) {
    received += port.Read(reply.data() + received, 2 - received);
  }
  EXPECT_EQ(reply, (std::array<std::uint8_t, 2>{0xFF, 0x3A}));
}

// Far more than the line's queues hold, so that writing has to wait for room.
constexpr std::size_t kLongWrite = std::size_t{256} * 1024;

TEST_F(PosixSerialPortTest, LongWriteWaitsForRoomAndArrivesWhole) {
  std::vector<std::uint8_t> data(kLongWrite);
  for (std::size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<std::uint8_t>(i % 251);
  }
  std::string chainGot;
  std::thread chain([&] { chainGot = ChainReceives(data.size()); });
  EXPECT_EQ(port.Write(data.data(), data.size(), kNoDeadline), data.size());
  chain.join();
  EXPECT_EQ(chainGot, std::string(data.begin(), data.end()));
  EXPECT_EQ(port.ErrorString(), "");
}

TEST_F(PosixSerialPortTest, WriteThatTheLineDoesNotTakeInTimeStopsShort) {
  SerialTimeouts timeouts;
  timeouts.WriteTotalConstant = 50;
  port.Configure(timeouts);
  const std::vector<std::uint8_t> data(kLongWrite, 0x55);
  // Nobody reads the other end: the queues fill up and stay full.
  const std::size_t written = port.Write(data.data(), data.size(), kNoDeadline);
  EXPECT_GT(written, 0U);
  EXPECT_LT(written, data.size());
  EXPECT_FALSE(port.ErrorString().empty());
  EXPECT_EQ(port.Failure(), SerialFailure::None);  // it took part of it
  // What went out arrives, and nothing of what was refused follows it.
  EXPECT_EQ(ChainReceives(written).size(), written);
  pollfd more{master, POLLIN, 0};
  EXPECT_EQ(::poll(&more, 1, 0), 0);
}

TEST_F(PosixSerialPortTest, ALineThatTakesNothingInTimeIsLostAndClosesAtItsSpeed) {
  SerialTimeouts timeouts;
  timeouts.WriteTotalConstant = 50;
  port.Configure(timeouts);
  const std::vector<std::uint8_t> data(kLongWrite, 0x55);
  ASSERT_LT(port.Write(data.data(), data.size(), kNoDeadline), data.size());
  // The caller's deadline comes before the port's own time-out.
  const std::uint8_t reset = 0xFF;
  EXPECT_EQ(port.Write(&reset, 1, std::chrono::steady_clock::now()), 0U);
  EXPECT_EQ(port.Failure(), SerialFailure::Lost);
  EXPECT_EQ(port.ErrorString(), "Connection timed out");
  EXPECT_EQ(port.Write(&reset, 1, kNoDeadline), 0U);  // at once from now on

  // Closing leaves the device to the next opening and the speed unchanged under the
  // bytes it still holds.
  port.Close();
  const int line = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(line, 0) << "the port stayed exclusive";
  termios tio{};
  ASSERT_EQ(::tcgetattr(line, &tio), 0);
  EXPECT_EQ(::cfgetospeed(&tio), B115200);
  ::close(line);
}

TEST_F(PosixSerialPortTest, ClosingGivesTheLineItsOwnSettingsBack) {
  const std::array<std::uint8_t, 81> frame{0xFF};
  ASSERT_EQ(port.Write(frame.data(), frame.size(), kNoDeadline), frame.size());
  port.Close();
  EXPECT_EQ(ChainReceives(frame.size()).size(), frame.size());
  const int line = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(line, 0);
  termios tio{};
  ASSERT_EQ(::tcgetattr(line, &tio), 0);
  EXPECT_EQ(::cfgetospeed(&tio), B38400);  // a pseudo-terminal's own
  ::close(line);
}

TEST_F(PosixSerialPortTest, ReadOfASilentLineEndsWithNothing) {
  std::array<std::uint8_t, 1> reply{};
  EXPECT_EQ(port.Read(reply.data(), 1), 0U);
}

TEST_F(PosixSerialPortTest, ReadWithoutTimeOutsReturnsWhatHasArrived) {
  port.Configure(SerialTimeouts{});
  std::array<std::uint8_t, 4> reply{};
  EXPECT_EQ(port.Read(reply.data(), reply.size()), 0U);
  ChainSends("\x01\x02");
  // Each read takes what has reached the port by then, without waiting for more.
  std::size_t received = 0;
  EXPECT_TRUE(WaitFor([&] {
    received += port.Read(reply.data() + received, reply.size() - received);
    return received >= 2;
  }));
  EXPECT_EQ(received, 2U);
  EXPECT_EQ(reply, (std::array<std::uint8_t, 4>{0x01, 0x02, 0x00, 0x00}));
}

TEST_F(PosixSerialPortTest, PurgeDiscardsWhatTheChainSent) {
  ChainSends("\x01\x02\x03");
  // The three bytes come in one write: with the first, the rest waits in the port's buffer.
  std::array<std::uint8_t, 1> first{};
  ASSERT_TRUE(WaitFor([&] { return port.Read(first.data(), 1) == 1; }));
  port.Purge();
  std::array<std::uint8_t, 2> rest{};
  EXPECT_EQ(port.Read(rest.data(), 2), 0U);
}

TEST_F(PosixSerialPortTest, ClosedOrMissingPortFailsWithoutRaising) {
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  const std::uint8_t reset = 0xFF;
  EXPECT_EQ(port.Write(&reset, 1, kNoDeadline), 0U);
  std::uint8_t byte = 0;
  EXPECT_EQ(port.Read(&byte, 1), 0U);
  port.Purge();

  EXPECT_FALSE(port.Open("/dev/vorlixa-no-such-port"));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.Failure(), SerialFailure::Missing);
  EXPECT_EQ(port.ErrorString(), "No such file or directory");
  // A file that is no terminal is not taken for a port.
  EXPECT_FALSE(port.Open("/dev/null"));
  EXPECT_EQ(port.Failure(), SerialFailure::Other);
}

}  // namespace

}  // namespace vx
