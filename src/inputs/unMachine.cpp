#include "inputs/unMachine.h"

#include "base/Exceptions.h"
#include "base/Format.h"
#include "device/LEDController.h"
#include "platform/LmSensors.h"
#include "platform/MachineFiles.h"
#include "support/Worker.h"
#include "support/unLog.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace vx {

namespace {

using namespace std::chrono_literals;

// The shortest time between two reads of a source.
constexpr auto kReadInterval = 100ms;
// The span over which counters become rates: short enough to follow a change within a
// second, long enough that the kernel's counting in packets and ticks does not flicker.
constexpr auto kRateSpan = 1s;

constexpr double kBitsPerMegabit = 1e6;
constexpr double kBitsPerByte = 8.0;
constexpr double kMillisecondsPerSecond = 1000.0;

std::shared_ptr<const MachineFiles>& InstalledFiles() {
  static std::shared_ptr<const MachineFiles> files;
  return files;
}

std::shared_ptr<const MachineFiles> CurrentFiles() {
  if (InstalledFiles()) {
    return InstalledFiles();
  }
  static const auto system = std::make_shared<const MachineFiles>();
  return system;
}

std::shared_ptr<TClock>& InstalledClock() {
  static std::shared_ptr<TClock> clock;
  return clock;
}

std::shared_ptr<TClock> CurrentClock() {
  return InstalledClock() ? InstalledClock() : SteadyClock();
}

std::shared_ptr<SensorList>& InstalledSensors() {
  static std::shared_ptr<SensorList> sensors;
  return sensors;
}

std::shared_ptr<SensorList> CurrentSensors() {
  return InstalledSensors() ? InstalledSensors() : SystemSensors();
}

template <typename T>
std::unique_ptr<TLBInput> CreateInput() {
  return std::make_unique<T>();
}

// The property's text, for properties whose empty text means "choose for me".
TLBInputProp& AddOptionalText(TLBInputProp& prop) {
  prop.Value = std::string();
  prop.EmptyAllowed = true;
  return prop;
}

}  // namespace

// ---- TSourceReader ----------------------------------------------------------------

struct TSourceReader::TShared {
  std::shared_ptr<TSnapshot<TSourceResult>> Result;
  std::unique_ptr<TWorker> Worker;
};

namespace {

// What a key's reader leaves behind: the readers that share it while one lives, and its
// result while its thread still runs (a read that hangs, whose thread the next reader
// reclaims).
struct TKeyedReader {
  std::weak_ptr<TSourceReader::TShared> Shared;
  std::weak_ptr<TSnapshot<TSourceResult>> Result;
};

// The keyed readers that may still run, by key.
std::mutex& ReadersGuard() {
  static std::mutex guard;
  return guard;
}

std::map<std::string, TKeyedReader>& Readers() {
  static std::map<std::string, TKeyedReader> readers;
  return readers;
}

std::function<void()> ReadStep(std::function<double()> read,
                               std::shared_ptr<TSnapshot<TSourceResult>> latest) {
  return [read = std::move(read), latest = std::move(latest)] {
    TSourceResult result;
    try {
      result.Level = read();
      result.State = TSourceResult::TState::Level;
    } catch (const std::exception& e) {
      result.State = TSourceResult::TState::Failed;
      result.Error = e.what();
    } catch (...) {
      result.State = TSourceResult::TState::Failed;
      result.Error = "Unknown error";
    }
    latest->Set(std::move(result));
  };
}

}  // namespace

TSourceReader::TSourceReader(const std::string& key, std::function<double()> read,
                             std::shared_ptr<TClock> clock) {
  const std::lock_guard<std::mutex> readersLock(ReadersGuard());
  auto& readers = Readers();
  std::erase_if(readers, [](const auto& entry) { return entry.second.Result.expired(); });
  // Its name tells the keeper of left-behind threads which source hangs.
  const std::string name = "vorlixa-reader " + key;
  TKeyedReader& entry = readers[key];
  if ((shared_ = entry.Shared.lock())) {
    return;
  }
  shared_ = std::make_shared<TShared>();
  if ((shared_->Result = entry.Result.lock())) {
    shared_->Worker = TWorker::Reclaim(name);
  }
  if (!shared_->Worker) {
    shared_->Result = std::make_shared<TSnapshot<TSourceResult>>();
    shared_->Worker = std::make_unique<TWorker>(name, ReadStep(std::move(read), shared_->Result),
                                                kReadInterval, std::move(clock));
  }
  entry = {shared_, shared_->Result};
}

TSourceReader::~TSourceReader() = default;

TSourceResult TSourceReader::Latest() const {
  return shared_->Result->Get();
}

// ---- Meters ---------------------------------------------------------------------------

double TRateWindow::Add(TMachineClock::time_point time, std::uint64_t counter) {
  if (!samples_.empty() && (counter < samples_.back().second || time < samples_.back().first)) {
    samples_.clear();
  }
  samples_.emplace_back(time, counter);
  // The window starts at the newest reading that is at least the span old.
  while (samples_.size() > 2 && time - samples_[1].first >= kRateSpan) {
    samples_.pop_front();
  }
  const auto& [firstTime, firstCounter] = samples_.front();
  const double seconds = std::chrono::duration<double>(time - firstTime).count();
  if (seconds <= 0.0) {
    return 0.0;
  }
  return static_cast<double>(counter - firstCounter) / seconds;
}

double MemoryLevel(const MachineFiles& files) {
  const MemoryFigures memory = files.ReadMemory();
  return 1.0 - static_cast<double>(memory.AvailableKiB) / static_cast<double>(memory.TotalKiB);
}

TNetworkMeter::TNetworkMeter(std::shared_ptr<const MachineFiles> files, std::string interfaceName,
                             TTrafficDirection direction, double fullScaleBytesPerSecond)
    : files_(std::move(files)),
      interface_(std::move(interfaceName)),
      direction_(direction),
      fullScale_(fullScaleBytesPerSecond) {}

double TNetworkMeter::Read(TMachineClock::time_point now) {
  if (!(fullScale_ > 0.0)) {
    throw Exception("Full scale must be at least 1 Mbit/s");
  }
  std::uint64_t bytes = 0;
  bool found = false;
  for (const InterfaceCounters& counters : files_->ReadInterfaces()) {
    if (interface_.empty() ? counters.Name == "lo" : counters.Name != interface_) {
      continue;
    }
    found = true;
    if (direction_ != TTrafficDirection::Sent) {
      bytes += counters.Received;
    }
    if (direction_ != TTrafficDirection::Received) {
      bytes += counters.Sent;
    }
  }
  if (!found) {
    throw Exception(interface_.empty() ? "No network interface but lo"
                                       : "No network interface \"" + interface_ + "\"");
  }
  return window_.Add(now, bytes) / fullScale_;
}

TDiskMeter::TDiskMeter(std::shared_ptr<const MachineFiles> files, std::string device)
    : files_(std::move(files)), device_(std::move(device)) {
  if (device_.starts_with("/dev/")) {
    device_.erase(0, 5);
  }
}

double TDiskMeter::Read(TMachineClock::time_point now) {
  double busiest = 0.0;
  bool found = false;
  for (const DiskCounters& disk : files_->ReadDisks()) {
    if (!device_.empty() && disk.Name != device_) {
      continue;
    }
    found = true;
    const double share = windows_[disk.Name].Add(now, disk.BusyMs) / kMillisecondsPerSecond;
    busiest = std::max(busiest, share);
  }
  if (!found) {
    throw Exception(device_.empty() ? "No disk" : "No disk \"" + device_ + "\"");
  }
  return busiest;
}

double TemperatureLevel(const SensorList& sensors, const std::string& sensor, int low, int high) {
  const std::string name = sensor.empty() ? sensors.ProcessorSensor() : sensor;
  if (name.empty()) {
    throw Exception("No processor temperature sensor");
  }
  const double celsius = sensors.ReadCelsius(name);
  if (high == low) {
    return celsius >= high ? 1.0 : 0.0;
  }
  return (celsius - low) / (static_cast<double>(high) - low);
}

std::shared_ptr<const MachineFiles> SetMachineFiles(std::shared_ptr<const MachineFiles> files) {
  return std::exchange(InstalledFiles(), std::move(files));
}

std::shared_ptr<SensorList> SetSensorList(std::shared_ptr<SensorList> sensors) {
  return std::exchange(InstalledSensors(), std::move(sensors));
}

std::shared_ptr<TClock> SetMachineClock(std::shared_ptr<TClock> clock) {
  return std::exchange(InstalledClock(), std::move(clock));
}

// ---- TLBMachineInput ----------------------------------------------------------------

void TLBMachineInput::AddFadeProp() {
  AddProp("Fade_perc", pkInteger, "%").SetInteger(60);
}

void TLBMachineInput::Activate(TLEDBar& bar) {
  bar.SetLevel(0.0);
  SetFadePercentage(bar, PropByName("Fade_perc")->AsInteger());
  warned_ = false;
  // The source as the properties name it: a bar made anew (by Add, Load or Save) takes up
  // the reader of the same source, even one whose read still hangs.
  std::string key =
      Format("%s@%p@%p@%p", Class().ClassName, static_cast<const void*>(CurrentFiles().get()),
             static_cast<const void*>(CurrentSensors().get()),
             static_cast<const void*>(CurrentClock().get()));
  for (int i = 0; i < PropCount(); ++i) {
    if (Props(i)->Name != "Fade_perc") {
      key += '\n' + Props(i)->AsText();
    }
  }
  reader_ = std::make_unique<TSourceReader>(key, MakeRead(), CurrentClock());
}

void TLBMachineInput::UpdateBar(TLEDBar& bar) {
  const TSourceResult result = reader_ ? reader_->Latest() : TSourceResult{};
  if (result.State == TSourceResult::TState::Failed && !warned_) {
    warned_ = true;
    LogWarning(Format("%s: %s", DisplayName(), result.Error));
  }
  bar.SetLevel(result.State == TSourceResult::TState::Level ? result.Level : 0.0);
}

void TLBMachineInput::Deactivate(TLEDBar& bar) {
  reader_.reset();
  bar.SetLevel(0.0);
}

// ---- The inputs ---------------------------------------------------------------------

const TLBInputClass TLBMemoryUsage::ClassInfo{"TLBMemoryUsage", &CreateInput<TLBMemoryUsage>};

TLBMemoryUsage::TLBMemoryUsage() {
  AddFadeProp();
}

std::function<double()> TLBMemoryUsage::MakeRead() {
  return [files = CurrentFiles()] { return MemoryLevel(*files); };
}

const TLBInputClass TLBNetworkTraffic::ClassInfo{"TLBNetworkTraffic",
                                                 &CreateInput<TLBNetworkTraffic>};

TLBNetworkTraffic::TLBNetworkTraffic() {
  AddOptionalText(AddProp("Interface", pkString, ""));
  TLBInputProp& direction = AddProp("Direction", pkChoice, "");
  direction.Choices = {"Received", "Sent", "Both"};
  direction.SetInteger(0);
  AddProp("Full_scale", pkInteger, "Mbit/s").SetInteger(100);
  AddFadeProp();
}

std::function<double()> TLBNetworkTraffic::MakeRead() {
  const std::int32_t choice = PropByName("Direction")->AsInteger();
  const TTrafficDirection direction = choice == 1   ? TTrafficDirection::Sent
                                      : choice == 2 ? TTrafficDirection::Both
                                                    : TTrafficDirection::Received;
  const double fullScale = PropByName("Full_scale")->AsInteger() * kBitsPerMegabit / kBitsPerByte;
  auto meter = std::make_shared<TNetworkMeter>(CurrentFiles(), PropByName("Interface")->AsText(),
                                               direction, fullScale);
  return [meter, clock = CurrentClock()] { return meter->Read(clock->Now()); };
}

const TLBInputClass TLBDiskActivity::ClassInfo{"TLBDiskActivity", &CreateInput<TLBDiskActivity>};

TLBDiskActivity::TLBDiskActivity() {
  AddOptionalText(AddProp("Device", pkString, ""));
  AddFadeProp();
}

std::function<double()> TLBDiskActivity::MakeRead() {
  auto meter = std::make_shared<TDiskMeter>(CurrentFiles(), PropByName("Device")->AsText());
  return [meter, clock = CurrentClock()] { return meter->Read(clock->Now()); };
}

const TLBInputClass TLBTemperature::ClassInfo{"TLBTemperature", &CreateInput<TLBTemperature>};

TLBTemperature::TLBTemperature() {
  AddOptionalText(AddProp("Sensor", pkString, "")).Choices = CurrentSensors()->Names();
  AddProp("Low", pkInteger,
          "\xC2\xB0"
          "C")
      .SetInteger(30);
  AddProp("High", pkInteger,
          "\xC2\xB0"
          "C")
      .SetInteger(90);
  AddFadeProp();
}

std::function<double()> TLBTemperature::MakeRead() {
  return [sensors = CurrentSensors(), sensor = PropByName("Sensor")->AsText(),
          low = PropByName("Low")->AsInteger(), high = PropByName("High")->AsInteger()] {
    return TemperatureLevel(*sensors, sensor, low, high);
  };
}

}  // namespace vx
