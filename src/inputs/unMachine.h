#pragma once

#include "inputs/unBarIO.h"
#include "support/Clock.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>

namespace vx {

class MachineFiles;
class SensorList;

using TMachineClock = std::chrono::steady_clock;

// What a source reader last found.
struct TSourceResult {
  enum class TState : std::uint8_t { Waiting, Level, Failed };
  TState State = TState::Waiting;  // Waiting: no read has ended yet
  double Level = 0.0;
  std::string Error;  // of a failed read
};

// Reads one source on a worker of its own, ten times a second at most, and keeps the latest
// result for the tick to take without waiting: a read that blocks (in a driver, on a file)
// holds up its own thread only. Destruction does not wait for a read.
class TSourceReader {
 public:
  struct TShared;

  // One thread per key: the readers of one key share it, and a thread whose owners have
  // all gone while its read still runs serves the next reader of its key, whose read is
  // then not used. So a hanging read never gathers further threads behind it. read runs on
  // the reader's thread only; it gives a level or raises.
  TSourceReader(const std::string& key, std::function<double()> read,
                std::shared_ptr<TClock> clock);
  ~TSourceReader();
  TSourceReader(const TSourceReader&) = delete;
  TSourceReader& operator=(const TSourceReader&) = delete;

  TSourceResult Latest() const;

 private:
  std::shared_ptr<TShared> shared_;
};

// A counter's rise per second over the last second of readings.
class TRateWindow {
 public:
  // Adds a reading; the rate over the readings kept, 0 without an interval. A counter that
  // went back (a device that was reset or replaced) starts the window again.
  double Add(TMachineClock::time_point time, std::uint64_t counter);

 private:
  std::deque<std::pair<TMachineClock::time_point, std::uint64_t>> samples_;
};

// The meters behind the inputs: each Read raises Exception when its source is missing.

// 1 - MemAvailable / MemTotal.
double MemoryLevel(const MachineFiles& files);

enum class TTrafficDirection : std::uint8_t { Received = 0, Sent = 1, Both = 2 };

// Bytes per second of an interface (empty: all but "lo") divided by the full scale.
class TNetworkMeter {
 public:
  TNetworkMeter(std::shared_ptr<const MachineFiles> files, std::string interfaceName,
                TTrafficDirection direction, double fullScaleBytesPerSecond);
  double Read(TMachineClock::time_point now);

 private:
  std::shared_ptr<const MachineFiles> files_;
  std::string interface_;
  TTrafficDirection direction_;
  double fullScale_;
  TRateWindow window_;
};

// The share of time a whole disk was busy (empty device: the busiest one).
class TDiskMeter {
 public:
  TDiskMeter(std::shared_ptr<const MachineFiles> files, std::string device);
  double Read(TMachineClock::time_point now);

 private:
  std::shared_ptr<const MachineFiles> files_;
  std::string device_;
  std::map<std::string, TRateWindow> windows_;  // per disk
};

// (t - low) / (high - low) of a sensor (empty: the first processor temperature).
double TemperatureLevel(const SensorList& sensors, const std::string& sensor, int low, int high);

// Replaces the files that the inputs read from their next Activate on; nullptr restores
// the system's. Returns the previous ones. For tests.
std::shared_ptr<const MachineFiles> SetMachineFiles(std::shared_ptr<const MachineFiles> files);
// The same for the temperature sensors (also the choices of new Temperature inputs).
std::shared_ptr<SensorList> SetSensorList(std::shared_ptr<SensorList> sensors);
// The same for the clock that paces the readers and times the rates.
std::shared_ptr<TClock> SetMachineClock(std::shared_ptr<TClock> clock);

// An input whose figure comes from the machine through a TSourceReader: the bar shows the
// latest level on every tick and stays at 0 while the source is missing, which the log
// tells once per activation.
class TLBMachineInput : public TLBInput {
 public:
  void Activate(TLEDBar& bar) override;
  void UpdateBar(TLEDBar& bar) override;
  void Deactivate(TLEDBar& bar) override;

 protected:
  // Adds "Fade_perc"; constructors call it after their own properties.
  void AddFadeProp();
  // What the reader thread runs, made from the properties at Activate.
  virtual std::function<double()> MakeRead() = 0;
  virtual std::string DisplayName() const = 0;

 private:
  std::unique_ptr<TSourceReader> reader_;
  bool warned_ = false;  // the missing source has been logged in this activation
};

// How full the memory is.
class TLBMemoryUsage final : public TLBMachineInput {
 public:
  TLBMemoryUsage();
  static const TLBInputClass ClassInfo;
  static std::string Name() { return "Memory Usage"; }
  const TLBInputClass& Class() const override { return ClassInfo; }

 protected:
  std::function<double()> MakeRead() override;
  std::string DisplayName() const override { return Name(); }
};

// Bytes per second of a network interface against a full scale.
class TLBNetworkTraffic final : public TLBMachineInput {
 public:
  TLBNetworkTraffic();
  static const TLBInputClass ClassInfo;
  static std::string Name() { return "Network Traffic"; }
  const TLBInputClass& Class() const override { return ClassInfo; }

 protected:
  std::function<double()> MakeRead() override;
  std::string DisplayName() const override { return Name(); }
};

// How busy a disk is.
class TLBDiskActivity final : public TLBMachineInput {
 public:
  TLBDiskActivity();
  static const TLBInputClass ClassInfo;
  static std::string Name() { return "Disk Activity"; }
  const TLBInputClass& Class() const override { return ClassInfo; }

 protected:
  std::function<double()> MakeRead() override;
  std::string DisplayName() const override { return Name(); }
};

// A hardware temperature between "Low" and "High".
class TLBTemperature final : public TLBMachineInput {
 public:
  TLBTemperature();
  static const TLBInputClass ClassInfo;
  static std::string Name() { return "Temperature"; }
  const TLBInputClass& Class() const override { return ClassInfo; }

 protected:
  std::function<double()> MakeRead() override;
  std::string DisplayName() const override { return Name(); }
};

}  // namespace vx
