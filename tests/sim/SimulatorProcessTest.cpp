#include "common/SimProcess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace vxsim {

using namespace vx;  // the shared test helpers

namespace {

// Names a table case after its Name field.
struct CaseName {
  template <typename Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& c) const {
    return c.param.Name;
  }
};

// A program on the line as the link sees it: the device opened through the symlink,
// raw, 115200 8N1 unless told otherwise.
class RawClient {
 public:
  explicit RawClient(const std::string& path)
      : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    if (fd_ >= 0) {
      termios tio{};
      ::tcgetattr(fd_, &tio);
      ::cfmakeraw(&tio);
      ::cfsetspeed(&tio, B115200);
      ::tcsetattr(fd_, TCSANOW, &tio);
    }
  }
  ~RawClient() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }

  // True when every byte went out; false (errno set) on a failed write.
  bool Write(const SimBytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EAGAIN) {
        pollfd pfd{fd_, POLLOUT, 0};
        ::poll(&pfd, 1, 100);
        continue;
      }
      if (n < 0) {
        return false;
      }
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  // Up to count bytes, waiting at most limitMs for each one.
  SimBytes Read(std::size_t count, int limitMs) {
    SimBytes bytes;
    while (bytes.size() < count) {
      pollfd pfd{fd_, POLLIN, 0};
      if (::poll(&pfd, 1, limitMs) <= 0) {
        break;
      }
      std::uint8_t byte = 0;
      if (::read(fd_, &byte, 1) != 1) {
        break;
      }
      bytes.push_back(byte);
    }
    return bytes;
  }

 private:
  int fd_;
};

SimProcess::Options Chain(int boards, std::string reply = "", int dropMs = 500) {
  SimProcess::Options options;
  options.Boards = boards;
  options.Reply = std::move(reply);
  options.DropMs = dropMs;
  return options;
}

SimBytes Frame(std::size_t boards, std::uint8_t value) {
  return SimBytes(boards * 80, value);
}

SimBytes Join(std::initializer_list<SimBytes> parts) {
  SimBytes all;
  for (const SimBytes& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

bool LinkExists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

// How long a silent chain is listened to before it counts as silent.
constexpr int kSilenceMs = 300;

// ---------------------------------------------------------------------------------------

struct ReplyCase {
  std::string Name;
  std::string Reply;  // --reply
  SimBytes Expected;  // for two RESETs
};

class SimRepliesSystem : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(SimRepliesSystem, AnswerEveryReset) {
  SimProcess sim(Chain(1, GetParam().Reply));
  RawClient client(sim.LinkPath());
  ASSERT_TRUE(client.IsOpen());

  // Detection, then a frame: two RESETs.
  ASSERT_TRUE(client.Write(Join({{0xFF}, {0xFF}, Frame(1, 0)})));
  ASSERT_TRUE(sim.WaitForUnits(2));
  EXPECT_EQ(HexText(client.Read(GetParam().Expected.size(), kWaitLimitMs)),
            HexText(GetParam().Expected));
  // One answer per RESET, no more.
  EXPECT_EQ(HexText(client.Read(1, kSilenceMs)), "");
}

INSTANTIATE_TEST_SUITE_P(Modes, SimRepliesSystem,
                         ::testing::Values(ReplyCase{"Default", "", {0xFF, 0xFF}},
                                           ReplyCase{"GivenByte", "3A", {0x3A, 0x3A}},
                                           ReplyCase{"Silent", "none", {}}),
                         CaseName());

TEST(SimulatorSystem, LogsEveryUnitInTheOrderReceived) {
  SimProcess sim(Chain(2));
  RawClient client(sim.LinkPath());
  ASSERT_TRUE(client.IsOpen());

  SimBytes levels = Frame(2, 0);
  levels[0] = 254;
  levels[159] = 3;
  const std::vector<SimBytes> expected{
      {0xFF},                 // bare RESET (detection)
      ResetAnd(Frame(2, 0)),  // a whole frame
      {0xFF, 0x01, 0x02},     // cut short by the next RESET
      ResetAnd(levels),       // a whole frame
      {0x05, 0x06},           // stray bytes, ended by silence
  };
  for (const SimBytes& unit : expected) {
    ASSERT_TRUE(client.Write(unit));
  }
  ASSERT_TRUE(sim.WaitForUnits(expected.size()));
  const std::vector<SimBytes> units = sim.Units();
  ASSERT_EQ(units.size(), expected.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    EXPECT_EQ(HexText(units[i]), HexText(expected[i])) << "unit " << i;
  }
}

TEST(SimulatorSystem, WithoutBoardsEveryResetIsLoggedAtOnce) {
  SimProcess sim(Chain(0));
  RawClient client(sim.LinkPath());
  ASSERT_TRUE(client.Write({0xFF, 0xFF, 0xFF}));
  ASSERT_TRUE(sim.WaitForUnits(3));
  EXPECT_EQ(sim.Units(), (std::vector<SimBytes>{{0xFF}, {0xFF}, {0xFF}}));
}

TEST(SimulatorSystem, ReportsTheLineSettingsAProgramSets) {
  SimProcess sim(Chain(0));
  ASSERT_TRUE(sim.WaitForEvents("line", 1));
  EXPECT_EQ(sim.Events("line").front(), "9600 8N1 flow=none");

  RawClient client(sim.LinkPath());
  termios tio{};
  ASSERT_EQ(::tcgetattr(client.Fd(), &tio), 0);
  // A pseudo-terminal keeps speed, stop bits and flow control; it always reads back
  // 8 data bits without parity.
  tio.c_cflag |= CSTOPB | CRTSCTS;
  tio.c_iflag |= IXOFF;
  ::cfsetspeed(&tio, B19200);
  ASSERT_EQ(::tcsetattr(client.Fd(), TCSANOW, &tio), 0);
  // The settings are looked at before received bytes are taken in.
  ASSERT_TRUE(client.Write({0xFF}));
  ASSERT_TRUE(sim.WaitForUnits(1));
  EXPECT_EQ(sim.Events("line").back(), "19200 8N2 flow=rtscts+xonxoff");
}

TEST(SimulatorSystem, APacedLineTakesBytesAtTheSpeedTheProgramSet) {
  SimProcess::Options options = Chain(1);
  options.Extra = {"--pace"};
  SimProcess sim(options);
  RawClient client(sim.LinkPath());
  termios tio{};
  ASSERT_EQ(::tcgetattr(client.Fd(), &tio), 0);
  ::cfsetspeed(&tio, B9600);
  ASSERT_EQ(::tcsetattr(client.Fd(), TCSANOW, &tio), 0);
  // Ten frames at once: the line needs 81 x 10 bits / 9600 baud, about 84 ms, for each.
  SimBytes frames;
  for (int frame = 0; frame < 10; ++frame) {
    const SimBytes unit = ResetAnd(SimBytes(80, static_cast<std::uint8_t>(frame)));
    frames.insert(frames.end(), unit.begin(), unit.end());
  }
  ASSERT_TRUE(client.Write(frames));
  ASSERT_TRUE(sim.WaitForUnits(10));

  std::vector<double> times;
  for (const SimLogEntry& entry : sim.Log()) {
    if (entry.Event.empty()) {
      times.push_back(entry.Time);
    }
  }
  ASSERT_EQ(times.size(), 10U);
  // Nine frame times from the first frame to the last; a generous share of it, as an
  // unpaced line takes them all at once.
  EXPECT_GT(times.back() - times.front(), 0.6);
  EXPECT_EQ(sim.Units().back(), ResetAnd(SimBytes(80, 9)));
}

// ---------------------------------------------------------------------------------------

TEST(SimulatorSystem, HelpGoesToStandardOutput) {
  const SimRunResult result = SimProcess::Run({"--help"});
  EXPECT_EQ(result.ExitStatus, 0);
  EXPECT_NE(result.Out.find("Usage: vorlixa-sim"), std::string::npos) << result.Out;
  EXPECT_EQ(result.Err, "");
}

TEST(SimulatorSystem, BadOptionsExitWithStatus2AndSayWhy) {
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--boards", "x"}, "vorlixa-sim: --boards needs a whole number, not 'x'\n"},
           {{"--reply"}, "vorlixa-sim: --reply needs a value\n"},
           {{"--bogus"}, "vorlixa-sim: unknown option '--bogus'\n"}}) {
    const SimRunResult result = SimProcess::Run(args);
    EXPECT_EQ(result.ExitStatus, 2) << message;
    EXPECT_TRUE(result.Err.starts_with(message)) << result.Err;
    EXPECT_NE(result.Err.find("--help"), std::string::npos) << result.Err;
    EXPECT_EQ(result.Out, "");
  }
}

TEST(SimulatorSystem, RefusesToReplaceAFileThatIsNoLink) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("vorlixa-sim-file-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "tty").string();
  std::ofstream(path) << "keep me";

  const SimRunResult result = SimProcess::Run({"--link", path, "--no-display"});
  EXPECT_EQ(result.ExitStatus, 1);
  EXPECT_NE(result.Err.find("is not a symlink"), std::string::npos) << result.Err;
  std::string kept;
  std::getline(std::ifstream(path), kept);
  EXPECT_EQ(kept, "keep me");
  std::filesystem::remove_all(dir);
}

class SimEndsSystem : public ::testing::TestWithParam<int> {};

TEST_P(SimEndsSystem, CleanlyOnSignalAndRemovesItsLink) {
  SimProcess sim(Chain(1));
  const std::string link = sim.LinkPath();
  ASSERT_TRUE(LinkExists(link));
  {
    // A half-received frame is still logged on the way out.
    RawClient client(link);
    ASSERT_TRUE(client.Write({0xFF, 0x10}));
    EXPECT_EQ(sim.Stop(GetParam()), 0) << sim.ErrorOutput();
  }
  EXPECT_FALSE(LinkExists(link));
  EXPECT_EQ(sim.Units(), (std::vector<SimBytes>{{0xFF, 0x10}}));
}

INSTANTIATE_TEST_SUITE_P(Signals, SimEndsSystem, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& signal) {
                           return std::string(sigabbrev_np(signal.param));
                         });

// ---------------------------------------------------------------------------------------
// Unplugging the adapter

TEST(SimulatorSystem, DroppedLineFailsWritesAndTakesItsLinkAway) {
  // Dropped for longer than any test runs, so what is seen is the dropped state.
  SimProcess sim(Chain(0, "", 3600 * 1000));
  RawClient client(sim.LinkPath());
  ASSERT_TRUE(client.Write({0xFF}));
  ASSERT_EQ(HexText(client.Read(1, kWaitLimitMs)), "FF");

  ASSERT_TRUE(sim.Drop());
  EXPECT_FALSE(LinkExists(sim.LinkPath()));
  errno = 0;
  EXPECT_FALSE(client.Write({0xFF}));
  EXPECT_EQ(errno, EIO);
  // Ending while unplugged is still clean.
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(SimulatorSystem, DroppedLineComesBackUnderTheSameLink) {
  SimProcess sim(Chain(0, "", 200));
  auto client = std::make_unique<RawClient>(sim.LinkPath());
  ASSERT_TRUE(sim.Drop());
  ASSERT_TRUE(sim.WaitUntilBack());
  ASSERT_TRUE(LinkExists(sim.LinkPath()));

  // The old descriptor stays dead, as a re-plugged adapter's old handle does.
  EXPECT_FALSE(client->Write({0xFF}));
  client.reset();

  RawClient again(sim.LinkPath());
  ASSERT_TRUE(again.IsOpen());
  ASSERT_TRUE(again.Write({0xFF}));
  EXPECT_EQ(HexText(again.Read(1, kWaitLimitMs)), "FF");
  ASSERT_TRUE(sim.WaitForUnits(1));
  EXPECT_EQ(sim.Events("up").size(), 2U);
}

}  // namespace

}  // namespace vxsim
