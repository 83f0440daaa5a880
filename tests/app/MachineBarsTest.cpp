#include "ProgramFolder.h"
#include "common/SettingsXml.h"
#include "common/SimProcess.h"
#include "common/TestFiles.h"

#include <QProcess>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace vx {

// Bars that show the whole machine, through the real program on a simulated chain: network
// traffic that the test makes itself on the loopback interface, the memory in use, and a
// disk that is not there.

namespace {

constexpr std::size_t kBarLEDs = 40;
// What lo counts of one datagram in each direction: its payload and the IP and UDP headers.
constexpr std::size_t kPayload = 597;
constexpr double kCountedBytes = kPayload + 28.0;
// 10 of a 40-LED bar's 39 steps at a full scale of 1 Mbit/s: the level sits in the middle of
// its LED, half an LED away from both neighbours.
constexpr double kBytesPerSecond = 10.0 / 39.0 * 1e6 / 8.0;
constexpr std::size_t kExpectedLit = 10;

// The lit LEDs of a bar: on a steady level, the LEDs from the bottom to the level's.
std::size_t LitLEDs(const SimBytes& unit, std::size_t board, std::size_t bar) {
  return vx::LitLEDs(unit, 2, board, bar, kBarLEDs);
}

bool WithinOne(std::size_t lit, std::size_t expected) {
  return lit + 1 >= expected && lit <= expected + 1;
}

// The memory in use as the LEDs of a bar show it, from /proc/meminfo now.
std::size_t MemoryLEDsNow() {
  std::ifstream meminfo("/proc/meminfo");
  double total = 0.0;
  double available = 0.0;
  std::string key;
  double value = 0.0;
  std::string unit;
  while (meminfo >> key >> value >> unit) {
    if (key == "MemTotal:") {
      total = value;
    } else if (key == "MemAvailable:") {
      available = value;
    }
  }
  return static_cast<std::size_t>(std::lround(39.0 * (1.0 - available / total)));
}

// Sends datagrams over 127.0.0.1 at kBytesPerSecond as lo counts them, each when it is due:
// a late one goes out at once, so that the bytes of every second keep to the rate. Stops by
// itself after a minute.
class LoopbackTraffic {
 public:
  LoopbackTraffic() {
    receiver_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sender_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    // NOLINTBEGIN(cppcoreguidelines-pro-type-reinterpret-cast)
    ok_ = receiver_ >= 0 && sender_ >= 0 &&
          ::bind(receiver_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
          ::getsockname(receiver_, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    // NOLINTEND(cppcoreguidelines-pro-type-reinterpret-cast)
    if (ok_) {
      thread_ = std::thread([this, address] { Run(address); });
    }
  }
  ~LoopbackTraffic() {
    stop_ = true;
    if (thread_.joinable()) {
      thread_.join();
    }
    ::close(receiver_);
    ::close(sender_);
  }
  LoopbackTraffic(const LoopbackTraffic&) = delete;
  LoopbackTraffic& operator=(const LoopbackTraffic&) = delete;

  bool Ok() const { return ok_; }
  // Seconds of traffic sent so far, at the rate.
  double SecondsSent() const {
    return static_cast<double>(sent_) * kCountedBytes / kBytesPerSecond;
  }

 private:
  void Run(sockaddr_in address) {
    const std::vector<char> payload(kPayload, 'x');
    std::vector<char> drain(kPayload);
    const auto start = std::chrono::steady_clock::now();
    const auto interval = std::chrono::duration<double>(kCountedBytes / kBytesPerSecond);
    while (!stop_ && std::chrono::steady_clock::now() - start < std::chrono::minutes(1)) {
      const auto due = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                   interval * static_cast<double>(sent_.load()));
      std::this_thread::sleep_until(due);
      // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
      if (::sendto(sender_, payload.data(), payload.size(), 0,
                   reinterpret_cast<sockaddr*>(&address),
                   sizeof(address)) == static_cast<ssize_t>(kPayload)) {
        ++sent_;
      }
      while (::recv(receiver_, drain.data(), drain.size(), MSG_DONTWAIT) > 0) {
      }
    }
  }

  int receiver_ = -1;
  int sender_ = -1;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> sent_{0};
  std::thread thread_;
};

std::string MachineSettings(const std::string& device) {
  const std::string lo = "<Prop.Interface>lo</Prop.Interface>";
  return PortsSettingsXml(PortXml(
      device,
      BoardXml(
          0, BarXml(0, "NetworkTraffic",
                    lo + "<Prop.Direction>0</Prop.Direction><Prop.Full_scale>1</Prop.Full_scale>") +
                 BarXml(1, "MemoryUsage")) +
          // Both directions of lo at twice the full scale: the same level.
          BoardXml(
              1,
              BarXml(
                  0, "NetworkTraffic",
                  lo + "<Prop.Direction>2</Prop.Direction><Prop.Full_scale>2</Prop.Full_scale>") +
                  BarXml(1, "DiskActivity", "<Prop.Device>nosuchdisk</Prop.Device>"))));
}

}  // namespace

TEST(MachineBarsSystem, TrafficOnLoopbackAndTheMemoryInUseShowAsTheKernelCountsThem) {
  SimProcess::Options chain;
  chain.Boards = 2;
  SimProcess sim(chain);
  ProgramFolder program;
  std::ofstream(program.SettingsFile()) << MachineSettings(sim.LinkPath());
  QProcess* process = program.Launch();
  ASSERT_TRUE(program.WaitForLogText("Run application")) << ReadText(program.LogFile());

  LoopbackTraffic traffic;
  ASSERT_TRUE(traffic.Ok());
  std::string seen;
  // The memory only while waiting: what others run here may move it between the frame and
  // the test's own reading.
  const auto showsTheMachine = [&](bool withMemory) {
    const std::vector<SimBytes> units = sim.Units();
    if (units.empty()) {
      return false;
    }
    const SimBytes& unit = units.back();
    const std::size_t memory = MemoryLEDsNow();
    std::ostringstream text;
    text << "received " << LitLEDs(unit, 0, 0) << ", both " << LitLEDs(unit, 1, 0) << ", memory "
         << LitLEDs(unit, 0, 1) << " (meminfo " << memory << "), disk " << LitLEDs(unit, 1, 1);
    seen = text.str();
    return WithinOne(LitLEDs(unit, 0, 0), kExpectedLit) &&
           WithinOne(LitLEDs(unit, 1, 0), kExpectedLit) &&
           (!withMemory || WithinOne(LitLEDs(unit, 0, 1), memory)) && LitLEDs(unit, 1, 1) <= 1;
  };
  // Once the program's second of traffic is all the test's, and again later: a level that
  // merely passes through the right LEDs on its way does not count.
  ASSERT_TRUE(WaitFor([&] { return traffic.SecondsSent() >= 2.5; })) << traffic.SecondsSent();
  EXPECT_TRUE(WaitFor([&] { return showsTheMachine(true); })) << seen;
  ASSERT_TRUE(WaitFor([&] { return traffic.SecondsSent() >= 4.0; }));
  EXPECT_TRUE(showsTheMachine(false)) << seen;

  EXPECT_EQ(ProgramFolder::Terminate(process), 0);
  EXPECT_TRUE(WaitForDarkChain(sim, 2));
  // The missing disk: told once, no message box (which would hold up the exit).
  const std::vector<std::string> texts = LogTexts(program.LogFile());
  EXPECT_EQ(
      std::count(texts.begin(), texts.end(), "[-WARNING-] Disk Activity: No disk \"nosuchdisk\""),
      1)
      << ReadText(program.LogFile());
}

}  // namespace vx
