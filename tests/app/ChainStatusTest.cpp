#include "ProgramFolder.h"
#include "common/FakePrompter.h"
#include "common/LogText.h"
#include "common/SettingsXml.h"
#include "common/SimProcess.h"
#include "config/unPortCfg.h"
#include "device/LEDController.h"
#include "platform/SuspendClock.h"
#include "platform/XdgAutostart.h"
#include "support/unLog.h"
#include "ui/BarSetupPage.h"
#include "ui/TrayIcon.h"
#include "ui/unMain.h"

#include <QTreeWidget>

#include <arpa/inet.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace vx {

// The program's window on simulated chains in every state a port can be in: what its
// Status column and its tray tooltip say, and what a sleep of the machine does.

namespace {

namespace fs = std::filesystem;

// While it lives, this thread opens only what the file modes allow, as any user does:
// root's power to override them is off.
class FileModesApply {
 public:
  FileModesApply() {
    if (::geteuid() != 0) {
      return;  // modes apply anyway
    }
    active_ = ::syscall(SYS_capget, &header_, saved_.data()) == 0;
    std::array<__user_cap_data_struct, 2> changed = saved_;
    changed[0].effective &= ~((1U << CAP_DAC_OVERRIDE) | (1U << CAP_DAC_READ_SEARCH));
    active_ = active_ && ::syscall(SYS_capset, &header_, changed.data()) == 0;
  }
  ~FileModesApply() {
    if (active_) {
      ::syscall(SYS_capset, &header_, saved_.data());
    }
  }
  FileModesApply(const FileModesApply&) = delete;
  FileModesApply& operator=(const FileModesApply&) = delete;

 private:
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  std::array<__user_cap_data_struct, 2> saved_{};
  bool active_ = false;
};

// A clock on which the test lets the machine sleep.
class FakeSuspendClock final : public SuspendClock {
 public:
  std::chrono::nanoseconds Awake() const override { return awake_; }
  std::chrono::nanoseconds SinceBoot() const override { return awake_ + slept_; }
  void Sleep(std::chrono::milliseconds time) { slept_ += time; }

 private:
  std::chrono::nanoseconds awake_{std::chrono::hours(1)};
  std::chrono::nanoseconds slept_{0};
};

std::string Port(const std::string& device, const std::string& bar0 = "KnightRider") {
  return PortXml(device, BoardXml(0, TwoBarsXml(bar0, "Nothing")));
}

class ChainStatusSystem : public ::testing::Test {
 protected:
  void SetUp() override { StartAppLog(folder_.LogFile()); }
  void TearDown() override {
    window_.reset();
    StopAppLog();
  }

  void Create(const std::string& ports, std::shared_ptr<SuspendClock> clock = nullptr) {
    std::ofstream(folder_.SettingsFile()) << PortsSettingsXml(ports);
    TMainOptions options;
    options.SettingsFile = folder_.SettingsFile();
    options.StartAtLogin = std::make_shared<XdgAutostart>(
        folder_.Folder() + "/all", folder_.Folder() + "/user", folder_.Program());
    options.Terminate = [] {};
    options.Clock = std::move(clock);
    window_ = std::make_unique<TfrmMain>(options);
  }

  std::string Status(int row) const {
    window_->Pages();
    const auto* list = window_->tsBars->lvPorts;
    return list->topLevelItem(row)->text(1).toStdString();
  }

  std::vector<std::string> TipLines() const {
    std::vector<std::string> lines;
    std::istringstream tip(window_->tiTrayer->Hint().toStdString());
    for (std::string line; std::getline(tip, line);) {
      lines.push_back(line);
    }
    return lines;
  }

  ProgramFolder folder_;
  FakePrompter prompter_;
  std::unique_ptr<TfrmMain> window_;
};

TEST_F(ChainStatusSystem, TheStatusColumnAndTheTooltipSayInPlainWordsWhereEachPortStands) {
  SimProcess::Options chain;
  chain.Boards = 1;
  chain.DropMs = 1500;
  SimProcess answering(chain);
  SimProcess refused(chain);
  chain.Reply = "none";
  SimProcess silent(chain);
  const std::string missing = folder_.Folder() + "/ttyUSB7";
  // The refused line: its device may not be opened by anyone who is not let in.
  const std::string device = fs::read_symlink(refused.LinkPath()).string();
  struct stat info {};
  ASSERT_EQ(::stat(device.c_str(), &info), 0);
  const group* owners = ::getgrgid(info.st_gid);
  ASSERT_NE(owners, nullptr);
  const std::string group = owners->gr_name;
  ASSERT_EQ(::chmod(device.c_str(), 0), 0);

  FileModesApply modes;
  Create(Port(answering.LinkPath()) + Port(silent.LinkPath()) + Port(missing) +
         Port(refused.LinkPath()));
  window_->actConfigExecute();
  EXPECT_EQ(Status(0), "Connected");
  EXPECT_EQ(Status(1), "The chain does not answer - Detection-warning: No response after 100 ms.");
  EXPECT_EQ(Status(2), "Waiting for the device (No such file or directory)");
  EXPECT_EQ(Status(3), "Permission denied - the user must be in the group \"" + group +
                           "\" that owns " + device);  // the device, not the link to it
  // One line per port within the tooltip's 63 characters; the states come first.
  const std::vector<std::string> tip = TipLines();
  EXPECT_LE(window_->tiTrayer->Hint().size(), kTrayTipLength);
  ASSERT_EQ(tip.size(), 4U) << window_->tiTrayer->Hint().toStdString();
  EXPECT_EQ(tip[0], "tty: connected");
  EXPECT_EQ(tip[1].rfind("the chain does", 0), 0U) << tip[1];
  EXPECT_EQ(tip[2].rfind("waiting for", 0), 0U) << tip[2];
  EXPECT_EQ(tip[3].rfind("permission", 0), 0U) << tip[3];

  // Let in, the refused chain starts by itself.
  ASSERT_EQ(::chmod(device.c_str(), 0620), 0);
  EXPECT_TRUE(WaitFor([&] { return Status(3) == "Connected"; })) << Status(3);
  EXPECT_TRUE(WaitFor([&] { return refused.Units().size() >= 2; }));

  // Unplugged, the chain is reconnecting until its line is back.
  ASSERT_TRUE(answering.Drop());
  EXPECT_TRUE(WaitFor([&] { return Status(0).rfind("Reconnecting", 0) == 0; })) << Status(0);
  EXPECT_TRUE(WaitFor([&] { return TipLines().front().ends_with(": reconnecting"); }));
  ASSERT_TRUE(answering.WaitUntilBack());
  EXPECT_TRUE(WaitFor([&] { return Status(0) == "Connected"; })) << Status(0);
  EXPECT_TRUE(WaitFor([&] { return TipLines().front() == "tty: connected"; }));
  EXPECT_TRUE(prompter_.Messages.empty());

  // Closed, a link is not open; the column follows the links while the window is shown,
  // and only then.
  TBarSetupPage& pages = *window_->tsBars;
  EXPECT_TRUE(pages.tmrStatus.isActive());
  window_->Ports().Items(0).Controller().Close();
  pages.DisplayPortStatus();
  EXPECT_EQ(Status(0), "Not open");
  window_->hide();
  EXPECT_FALSE(pages.tmrStatus.isActive());
}

TEST_F(ChainStatusSystem, AnAdapterThatStopsTakingBytesIsReconnectedAndHoldsNoOtherChain) {
  SimProcess::Options chain;
  chain.Boards = 1;
  SimProcess steady(chain);
  // Stops reading its line two seconds after its start; the line stays open, so what the
  // program writes fills the line's buffer (16 KiB: about five seconds of frames).
  chain.Extra = {"--stall-after", "2"};
  SimProcess stuck(chain);
  Create(Port(stuck.LinkPath()) + Port(steady.LinkPath()));
  window_->actConfigExecute();
  EXPECT_EQ(Status(0), "Connected");

  // Once the buffer is full, the port is lost and tried again once a second; the chain
  // takes its RESET but does not answer it, so it is not back.
  ASSERT_TRUE(WaitFor([&] { return Status(0).starts_with("Reconnecting"); })) << Status(0);
  EXPECT_EQ(Status(0), "Reconnecting (Connection timed out)");
  RunEventsFor(2500);
  EXPECT_TRUE(Status(0).starts_with("Reconnecting")) << Status(0);

  stuck.Signal(SIGUSR2);  // it reads again
  EXPECT_TRUE(WaitFor([&] { return Status(0) == "Connected"; })) << Status(0);
  EXPECT_EQ(Status(1), "Connected");
  const auto stamp = [](const SimProcess& sim, const std::string& event) {
    for (const SimLogEntry& entry : sim.Log()) {
      if (entry.Event == event) {
        return entry.Time;
      }
    }
    return -1.0;
  };
  const double stalled = stamp(stuck, "stall");
  const double reading = stamp(stuck, "read");
  ASSERT_GT(stalled, 0.0);
  ASSERT_GT(reading, stalled);
  const auto frames = [](const SimProcess& sim, double from, double to) {
    std::size_t count = 0;
    for (const SimLogEntry& entry : sim.Log()) {
      if (entry.Event.empty() && entry.Data.size() == 81 && entry.Time >= from && entry.Time < to) {
        ++count;
      }
    }
    return count;
  };
  // Its chain gets frames again (what waited in its line comes first).
  EXPECT_TRUE(WaitFor([&] { return frames(stuck, reading + 0.5, 1e9) >= 10; }));

  // The other chain got its tick meanwhile, by the simulators' own clock: a frame every
  // 25 ms, but for the few ticks that the loss itself takes (at most a frame's line time
  // and 100 ms each) and a busy machine's late ones. A stuck port that holds every tick
  // leaves it 28 a second.
  const double rate = static_cast<double>(frames(steady, stalled, reading)) / (reading - stalled);
  RecordProperty("FramesPerSecond", std::to_string(rate));
  EXPECT_GE(rate, 37.0) << "frames a second over " << reading - stalled << " s";

  // One line for the loss and one for the return, not one per attempt.
  const std::vector<std::string> texts = LogLineTexts(folder_.LogFile());
  EXPECT_EQ(std::count(texts.begin(), texts.end(),
                       "[-WARNING-] Port " + stuck.LinkPath() + " lost: Connection timed out"),
            1);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Port " + stuck.LinkPath() + " is back"), 1);
  EXPECT_TRUE(prompter_.Messages.empty());
}

TEST_F(ChainStatusSystem, AfterASleepEveryChainGetsItsCompleteFrameOnce) {
  SimProcess::Options chain;
  chain.Boards = 1;
  SimProcess sim(chain);
  const auto clock = std::make_shared<FakeSuspendClock>();
  Create(Port(sim.LinkPath(), "Nothing"), clock);
  ASSERT_TRUE(window_->Active());
  // A bar that stands still: once it is shown, nothing more goes out.
  window_->Ports().Items(0).Controller().LEDBarCtrls(0).Bars(0).SetLevel(0.5);
  const auto quiet = [&sim] {
    const std::size_t before = sim.Units().size();
    RunEventsFor(500);  // twenty ticks
    return sim.Units().size() == before;
  };
  ASSERT_TRUE(WaitFor([&] { return sim.Units().size() >= 3 && quiet(); }));
  const std::vector<SimBytes> shown = sim.Units();
  ASSERT_EQ(shown.back().size(), 81U);
  ASSERT_GT(NonZero(shown.back()), 0U);

  // A gap of a second and a half between the clocks is no sleep.
  clock->Sleep(std::chrono::milliseconds(1500));
  EXPECT_TRUE(quiet());
  // Ten seconds are: the boards may have been without power.
  clock->Sleep(std::chrono::seconds(10));
  ASSERT_TRUE(WaitFor([&] { return sim.Units().size() > shown.size(); }));
  EXPECT_TRUE(quiet());
  const std::vector<SimBytes> after = sim.Units();
  ASSERT_EQ(after.size(), shown.size() + 1);
  EXPECT_EQ(after.back(), shown.back());
  const std::vector<std::string> texts = LogLineTexts(folder_.LogFile());
  EXPECT_EQ(std::count(texts.begin(), texts.end(),
                       "Resumed from sleep: every chain gets its complete frame"),
            1);
}

// A UDP port of 127.0.0.1 on which nobody listens: the machine answers what is sent there
// with a refusal.
int ClosedUdpPort() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

TEST_F(ChainStatusSystem, StripsThatCannotSendSayWhyOnceAndTheChainKeepsItsFrames) {
  SimProcess::Options chain;
  chain.Boards = 1;
  SimProcess steady(chain);
  const int closed = ClosedUdpPort();
  ASSERT_NE(closed, 0);
  const std::string refused = "e131://127.0.0.1:" + std::to_string(closed);
  // A name that no name server knows; one quick try, whatever the machine's settings. Left
  // set: the look-ups read it on threads of their own.
  qputenv("RES_OPTIONS", "attempts:1 timeout:1");
  Create(Port(steady.LinkPath()) + Port("ddp://no-such-host.invalid") + Port(refused));
  ASSERT_TRUE(window_->Active());
  window_->actConfigExecute();

  EXPECT_TRUE(WaitFor([&] { return Status(1) == "Cannot find no-such-host.invalid"; }))
      << Status(1);
  EXPECT_TRUE(WaitFor([&] { return Status(2) == "Connection refused"; })) << Status(2);
  EXPECT_EQ(Status(0), "Connected");
  const std::size_t from = steady.Log().size();
  // Past the look-up's next try and several refusals.
  RunEventsFor(6000);
  EXPECT_EQ(Status(1), "Cannot find no-such-host.invalid");
  EXPECT_EQ(Status(2), "Connection refused");
  EXPECT_TRUE(TipLines()[1].ends_with(": not sending")) << TipLines()[1];

  // The chain got its tick all the while, by the simulator's own clock.
  const std::vector<SimLogEntry> log = steady.Log();
  std::size_t frames = 0;
  double first = -1.0;
  double last = -1.0;
  for (std::size_t i = from; i < log.size(); ++i) {
    if (log[i].Event.empty() && log[i].Data.size() == 81) {
      first = first < 0.0 ? log[i].Time : first;
      last = log[i].Time;
      ++frames;
    }
  }
  ASSERT_GT(last, first);
  const double rate = static_cast<double>(frames - 1) / (last - first);
  RecordProperty("FramesPerSecond", std::to_string(rate));
  EXPECT_GE(rate, 37.0) << "frames a second over " << last - first << " s";

  // Each reason once in the log, not once per try.
  const std::vector<std::string> texts = LogLineTexts(folder_.LogFile());
  const auto count = [&](const std::string& start) {
    return std::count_if(texts.begin(), texts.end(),
                         [&](const std::string& text) { return text.starts_with(start); });
  };
  EXPECT_EQ(count("[-WARNING-] Port ddp://no-such-host.invalid not sending: Cannot find "
                  "no-such-host.invalid"),
            1);
  EXPECT_EQ(count("[-WARNING-] Port " + refused + " not sending: Connection refused"), 1);
  EXPECT_TRUE(prompter_.Messages.empty());
}

}  // namespace

}  // namespace vx
