#include "common/ManualClock.h"
#include "common/Wait.h"
#include "device/LEDController.h"
#include "inputs/unMachine.h"
#include "platform/MachineFiles.h"
#include "platform/SensorList.h"
#include "support/Log.h"
#include "support/Worker.h"
#include "support/unLog.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <semaphore>
#include <stdexcept>
#include <string>
#include <vector>

namespace vx {

// The whole machine's inputs: their readers against a folder laid out as /proc and /sys,
// the temperature against a sensor list of the test's own, on a real bar.

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class FakeRoot {
 public:
  FakeRoot() { fs::create_directories(Path("sys/block")); }
  std::string Path(const std::string& name) const {
    return dir_.filePath(name.c_str()).toStdString();
  }
  void Write(const std::string& name, const std::string& text) const {
    fs::create_directories(fs::path(Path(name)).parent_path());
    std::ofstream(Path(name)) << text;
  }
  void Disk(const std::string& name) const { fs::create_directories(Path("sys/block/" + name)); }
  std::shared_ptr<const MachineFiles> Files() const {
    return std::make_shared<const MachineFiles>(dir_.path().toStdString());
  }

 private:
  QTemporaryDir dir_;
};

const std::string kNetTitles =
    "Inter-|   Receive                                                |  Transmit\n"
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs "
    "drop fifo colls carrier compressed\n";

std::string NetLine(const std::string& name, std::uint64_t received, std::uint64_t sent) {
  return "  " + name + ": " + std::to_string(received) + " 10 0 0 0 0 0 0 " + std::to_string(sent) +
         " 10 0 0 0 0 0 0\n";
}

std::string DiskLine(const std::string& name, std::uint64_t busyMs) {
  return "   8       0 " + name + " 100 0 800 50 20 0 160 30 0 " + std::to_string(busyMs) +
         " 80 0 0 0 0 0 0\n";
}

std::string ErrorOf(const std::function<void()>& act) {
  try {
    act();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no error";
}

}  // namespace

TEST(MachineFiles, ReadWhatTheKernelWritesAndRefuseWhatItDoesNot) {
  FakeRoot root;
  const std::shared_ptr<const MachineFiles> files = root.Files();
  EXPECT_EQ(ErrorOf([&] { files->ReadMemory(); }),
            "Cannot read /proc/meminfo: No such file or directory");

  root.Write("proc/meminfo",
             "MemTotal:       16000000 kB\nMemFree:  1000 kB\nMemAvailable:    4000000 kB\n");
  EXPECT_DOUBLE_EQ(MemoryLevel(*files), 0.75);
  root.Write("proc/meminfo", "MemTotal:       16000000 kB\nMemFree:  1000 kB\n");
  EXPECT_EQ(ErrorOf([&] { files->ReadMemory(); }), "/proc/meminfo has no MemAvailable");
  root.Write("proc/meminfo", "MemTotal: 99999999999999999999999 kB\nMemAvailable: 1 kB\n");
  EXPECT_EQ(ErrorOf([&] { files->ReadMemory(); }),
            "/proc/meminfo: \"99999999999999999999999\" is no count of MemTotal");
  root.Write("proc/meminfo", "MemTotal: 0 kB\nMemAvailable: 0 kB\n");
  EXPECT_EQ(ErrorOf([&] { files->ReadMemory(); }), "/proc/meminfo has no MemTotal");
  root.Write("proc/meminfo", std::string(std::size_t{5} * 1024 * 1024, 'M'));
  EXPECT_EQ(ErrorOf([&] { files->ReadMemory(); }), "/proc/meminfo is too large to be the kernel's");

  root.Write("proc/net/dev", kNetTitles + NetLine("lo", 500, 500) + "  eth0: 12 3\n");
  EXPECT_EQ(ErrorOf([&] { files->ReadInterfaces(); }), "/proc/net/dev: line 4 is cut short");
  root.Write("proc/net/dev", kNetTitles + NetLine("lo", 500, 500) + "garbage\n");
  EXPECT_EQ(ErrorOf([&] { files->ReadInterfaces(); }), "/proc/net/dev: line 4 names no interface");
  root.Write("proc/net/dev", kNetTitles + "  eth0: 1x 0 0 0 0 0 0 0 5 0 0 0 0 0 0 0\n");
  EXPECT_EQ(ErrorOf([&] { files->ReadInterfaces(); }),
            "/proc/net/dev: \"1x\" is no count of bytes received");

  root.Write("proc/diskstats", DiskLine("sda", 10) + "   8       1 sda1 100 0\n");
  EXPECT_EQ(ErrorOf([&] { files->ReadDisks(); }), "/proc/diskstats: line 2 is cut short");
  // Only what sys/block lists is a whole disk: partitions and names that climb out are not.
  root.Disk("sda");
  root.Write("proc/diskstats", DiskLine("sda", 10) + DiskLine("sda1", 10) + DiskLine("..", 10));
  const std::vector<DiskCounters> disks = files->ReadDisks();
  ASSERT_EQ(disks.size(), 1U);
  EXPECT_EQ(disks[0].Name, "sda");
  EXPECT_EQ(disks[0].BusyMs, 10U);
}

TEST(MachineMeters, RatesCoverTheLastSecondOfTheChosenCounters) {
  FakeRoot root;
  const auto t0 = TMachineClock::time_point() + 1h;
  const double fullScale = 1000.0;  // bytes per second
  TNetworkMeter all(root.Files(), "", TTrafficDirection::Received, fullScale);
  TNetworkMeter eth0Both(root.Files(), "eth0", TTrafficDirection::Both, fullScale);
  TNetworkMeter wlan0Sent(root.Files(), "wlan0", TTrafficDirection::Sent, fullScale);
  TNetworkMeter missing(root.Files(), "eth9", TTrafficDirection::Sent, fullScale);
  const auto readAll = [&](TMachineClock::time_point time, std::vector<double>& levels) {
    levels = {all.Read(time), eth0Both.Read(time), wlan0Sent.Read(time)};
  };
  std::vector<double> levels;
  root.Write("proc/net/dev", kNetTitles + NetLine("lo", 0, 0) + NetLine("eth0", 1000, 2000) +
                                 NetLine("wlan0", 0, 0));
  readAll(t0, levels);
  EXPECT_EQ(levels, (std::vector<double>{0.0, 0.0, 0.0}));  // no interval yet
  // Half a second later: lo's traffic is never part of "every interface".
  root.Write("proc/net/dev", kNetTitles + NetLine("lo", 90000, 90000) +
                                 NetLine("eth0", 1200, 2100) + NetLine("wlan0", 100, 50));
  readAll(t0 + 500ms, levels);
  EXPECT_EQ(levels, (std::vector<double>{0.6, 0.6, 0.1}));
  // A second and a half in, the window starts at the reading a second before the newest.
  root.Write("proc/net/dev", kNetTitles + NetLine("lo", 0, 0) + NetLine("eth0", 1700, 2200) +
                                 NetLine("wlan0", 600, 1050));
  readAll(t0 + 1500ms, levels);
  EXPECT_EQ(levels, (std::vector<double>{1.0, 0.6, 1.0}));
  // A counter that went back (the interface was replaced) starts anew instead of wrapping.
  root.Write("proc/net/dev", kNetTitles + NetLine("eth0", 5, 5) + NetLine("wlan0", 700, 1100));
  readAll(t0 + 2000ms, levels);
  // The window still starts at the reading a second and a half old.
  EXPECT_EQ(levels, (std::vector<double>{0.0, 0.0, 0.7}));
  EXPECT_EQ(ErrorOf([&] { missing.Read(t0); }), "No network interface \"eth9\"");

  root.Disk("sda");
  root.Disk("nvme0n1");
  TDiskMeter busiest(root.Files(), "");
  TDiskMeter sda(root.Files(), "/dev/sda");
  root.Write("proc/diskstats",
             DiskLine("sda", 1000) + DiskLine("sda1", 0) + DiskLine("nvme0n1", 50));
  EXPECT_EQ(busiest.Read(t0), 0.0);
  EXPECT_EQ(sda.Read(t0), 0.0);
  // The partition's ticks are its disk's too: only whole disks compete.
  root.Write("proc/diskstats",
             DiskLine("sda", 1250) + DiskLine("sda1", 990) + DiskLine("nvme0n1", 550));
  EXPECT_DOUBLE_EQ(busiest.Read(t0 + 1s), 0.5);
  EXPECT_DOUBLE_EQ(sda.Read(t0 + 1s), 0.25);
  EXPECT_EQ(ErrorOf([&] { TDiskMeter(root.Files(), "sdz").Read(t0); }), "No disk \"sdz\"");
}

// ---- Temperature on a real bar ------------------------------------------------------

namespace {

// Sensors of the test's own; "slow/temp1" blocks until the test lets it go.
class FakeSensors final : public SensorList {
 public:
  std::vector<std::string> Names() const override {
    return {"acpitz-acpi-0/temp1", "coretemp-isa-0000/Package id 0", "slow/temp1"};
  }
  std::string ProcessorSensor() const override { return "coretemp-isa-0000/Package id 0"; }
  double ReadCelsius(const std::string& name) const override {
    if (name == "slow/temp1") {
      Blocked = true;
      TimedOut = !Release.try_acquire_for(std::chrono::milliseconds(kWaitLimitMs));
      return 90.0;
    }
    const auto found = Celsius.find(name);
    if (found == Celsius.end()) {
      throw std::runtime_error("No sensor " + name);
    }
    return found->second;
  }

  std::map<std::string, double> Celsius{{"acpitz-acpi-0/temp1", 45.0},
                                        {"coretemp-isa-0000/Package id 0", 60.0}};
  mutable std::atomic<bool> Blocked{false};
  mutable std::atomic<bool> TimedOut{false};
  mutable std::binary_semaphore Release{0};
};

class TemperatureBar : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = SetSensorList(sensors_);
    previousClock_ = SetMachineClock(clock_);
    ASSERT_TRUE(StartAppLog(dir_.filePath("test.log").toStdString()));
    AppLog()->OnWarning = [this](TLog&, const std::string& text) { warnings_.push_back(text); };
    link_.SetLEDBarCtrlCount(1);
    link_.MaxValue = 254;
  }
  void TearDown() override {
    sensors_->Release.release();
    StopAppLog();
    SetSensorList(previous_);
    SetMachineClock(previousClock_);
  }
  TLEDBar& Bar() { return link_.LEDBarCtrls(0).Bars(0); }
  // Ticks, as the update loop would, until that many LEDs of the bar are lit.
  ::testing::AssertionResult TickUntilLit(TLBInput& input, int leds) {
    long lit = 0;
    if (WaitFor([&] {
          input.UpdateBar(Bar());
          const auto& all = link_.LEDBarCtrls(0).LEDs;
          lit = std::count_if(all.begin(), all.begin() + 40, [](std::uint8_t v) { return v != 0; });
          return lit == leds;
        })) {
      return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << lit << " LEDs lit at level " << Bar().Level();
  }

  std::shared_ptr<FakeSensors> sensors_ = std::make_shared<FakeSensors>();
  std::shared_ptr<SensorList> previous_;
  // Moves only when a test lets the readers' next tenth of a second pass.
  std::shared_ptr<TManualClock> clock_ = std::make_shared<TManualClock>();
  std::shared_ptr<TClock> previousClock_;
  QTemporaryDir dir_;
  std::vector<std::string> warnings_;
  TLEDBarController link_;
};

}  // namespace

TEST_F(TemperatureBar, FollowsTheSensorBetweenLowAndHighAndAMissingOneIsToldOncePerActivation) {
  TLBTemperature input;
  EXPECT_EQ(input.PropByName("Sensor")->Choices, sensors_->Names());
  // Empty: the processor's own sensor, 60 °C between 30 and 90 is half the bar.
  input.Activate(Bar());
  EXPECT_TRUE(TickUntilLit(input, 20));  // round(39 * 0.5)
  input.PropByName("Sensor")->SetAsText("acpitz-acpi-0/temp1");
  input.PropByName("Low")->SetAsText("40");
  input.PropByName("High")->SetAsText("60");
  input.Activate(Bar());
  EXPECT_TRUE(TickUntilLit(input, 10));  // round(39 * 0.25)
  ASSERT_TRUE(clock_->WaitForSleepers(1));
  sensors_->Celsius["acpitz-acpi-0/temp1"] = 55.0;
  // The source is read again only once its tenth of a second has passed.
  clock_->Advance(99ms);
  ASSERT_TRUE(clock_->WaitForSleepers(1));
  input.UpdateBar(Bar());
  EXPECT_EQ(Bar().Level(), 0.25);
  clock_->Advance(1ms);
  EXPECT_TRUE(TickUntilLit(input, 29));  // round(39 * 0.75)

  input.PropByName("Sensor")->SetAsText("nct6775-isa-0290/SYSTIN");
  for (int activation = 1; activation <= 2; ++activation) {
    input.Activate(Bar());
    ASSERT_TRUE(WaitFor([&] {
      input.UpdateBar(Bar());
      return static_cast<int>(warnings_.size()) == activation;
    }));
    for (int tick = 0; tick < 20; ++tick) {
      input.UpdateBar(Bar());
      EXPECT_EQ(Bar().Level(), 0.0);
    }
  }
  EXPECT_EQ(warnings_,
            std::vector<std::string>(2, "Temperature: No sensor nct6775-isa-0290/SYSTIN"));
  input.Deactivate(Bar());
}

TEST_F(TemperatureBar, ASensorStuckInItsDriverDoesNotHoldTheTick) {
  TLBTemperature input;
  input.PropByName("Sensor")->SetAsText("slow/temp1");
  input.Activate(Bar());
  ASSERT_TRUE(WaitFor([&] { return sensors_->Blocked.load(); }));
  // Were a tick to wait for the read, it would not come back before the read times out.
  for (int tick = 0; tick < 10; ++tick) {
    input.UpdateBar(Bar());
  }
  EXPECT_EQ(Bar().Level(), 0.0);
  EXPECT_FALSE(sensors_->TimedOut);
  sensors_->Release.release();
  EXPECT_TRUE(TickUntilLit(input, 39));
  // Ending the bar does not wait for a read either.
  input.Deactivate(Bar());
  EXPECT_FALSE(sensors_->TimedOut);
}

// Add, Load and Save make every bar anew, and two bars may show one sensor. While a read
// hangs in the driver, neither starts a further reader thread behind it.
TEST_F(TemperatureBar, AStuckSensorKeepsOneReaderThroughNewActivationsAndBars) {
  const auto threads = [] {
    const auto tasks = std::filesystem::directory_iterator("/proc/self/task");
    return std::distance(std::filesystem::begin(tasks), std::filesystem::end(tasks));
  };
  TLBTemperature input;
  input.PropByName("Sensor")->SetAsText("slow/temp1");
  input.Activate(Bar());
  ASSERT_TRUE(WaitFor([&] { return sensors_->Blocked.load(); }));
  const auto before = threads();
  const auto keptStuck = [] {
    const auto kept = LeftBehindThreads();
    return std::count_if(kept.begin(), kept.end(), [](const TLeftBehindThread& thread) {
      return thread.Name.starts_with("vorlixa-reader TLBTemperature") &&
             thread.Name.ends_with("\nslow/temp1\n30\n90");
    });
  };
  for (int activation = 0; activation < 5; ++activation) {
    input.Deactivate(Bar());
    // Its last owner gone, the stuck thread is kept under its source's name until the next.
    EXPECT_EQ(keptStuck(), 1);
    input.Activate(Bar());
    EXPECT_EQ(keptStuck(), 0);
  }
  TLBTemperature second;
  second.PropByName("Sensor")->SetAsText("slow/temp1");
  TLEDBar& otherBar = link_.LEDBarCtrls(0).Bars(1);
  second.Activate(otherBar);
  EXPECT_EQ(threads(), before);
  // The one reader serves both bars once the read returns.
  sensors_->Release.release();
  EXPECT_TRUE(TickUntilLit(input, 39));
  EXPECT_TRUE(WaitFor([&] {
    second.UpdateBar(otherBar);
    return otherBar.Level() == 1.0;
  }));
  EXPECT_FALSE(sensors_->TimedOut);
  second.Deactivate(otherBar);
  input.Deactivate(Bar());
}

}  // namespace vx
