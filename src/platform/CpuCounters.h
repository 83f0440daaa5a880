#pragma once

#include <cstdint>
#include <span>

namespace vx {

// Marks a processor that the counters do not list in a reading (offline, or a gap in
// the numbering).
inline constexpr std::int64_t kNotListed = -1;

enum class CpuReadResult {
  Ok,
  NoProcessors,  // the source lists no processor at all (or cannot be read)
  NoIdleTime,    // processors are listed, but without their idle time
};

// What one reading of the processor counters found.
struct CpuReading {
  CpuReadResult Result = CpuReadResult::NoProcessors;
  int InstanceCount = 0;        // the processors (highest number + 1), then the total
  std::int64_t SampleTime = 0;  // monotonic, 100 ns units
};

// The system's per-processor idle-time counters.
class CpuCounters {
 public:
  virtual ~CpuCounters() = default;

  // Takes one reading and writes each instance's idle time (monotonic, 100 ns units) into
  // idleTimes as far as it reaches: processor i at index i, the total instance (the average
  // of the processors that this reading lists) at the last index, kNotListed for what the source
  // does not list. idleTimes holds nothing of use unless Result is Ok. Never allocates.
  virtual CpuReading Read(std::span<std::int64_t> idleTimes) = 0;
  // The SampleTime that a reading taken now would carry, without reading.
  virtual std::int64_t Now() = 0;
};

}  // namespace vx
