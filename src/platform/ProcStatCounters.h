#pragma once

#include "platform/CpuCounters.h"
#include "platform/UniqueFd.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace vx {

// Processor counters from /proc/stat: a processor's idle time is its idle + iowait ticks,
// the total instance is the "cpu" summary line divided by the number of processors.
class ProcStatCounters final : public CpuCounters {
 public:
  // Sample time source, monotonic, in 100 ns units.
  using Clock = std::function<std::int64_t()>;

  // The system's counters: /proc/stat, CLOCK_MONOTONIC, sysconf(_SC_CLK_TCK).
  ProcStatCounters();
  // Counters in the /proc/stat format from path, timed by clock, ticksPerSecond > 0.
  ProcStatCounters(std::string path, Clock clock, std::int64_t ticksPerSecond);
  ProcStatCounters(const ProcStatCounters&) = delete;
  ProcStatCounters& operator=(const ProcStatCounters&) = delete;
  ~ProcStatCounters() override = default;

  CpuReading Read(std::span<std::int64_t> idleTimes) override;
  std::int64_t Now() override { return clock_(); }

 private:
  struct Scan;
  bool ScanFile(Scan& scan);

  std::string path_;
  Clock clock_;
  std::int64_t ticksPerSecond_;
  UniqueFd fd_;  // kept open between readings; a read from offset 0 gives fresh contents
  std::array<char, 4096> buffer_{};  // holds at least one whole processor line
};

}  // namespace vx
