#include "platform/ProcStatCounters.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <string_view>
#include <utility>

namespace vx {

namespace {

constexpr std::uint64_t kUnitsPerSecond = 10'000'000;  // 100 ns units
constexpr std::int64_t kUnitsPerMillisecond = 10'000;
constexpr std::int64_t kNanosecondsPerMillisecond = 1'000'000;

// CLOCK_MONOTONIC in whole milliseconds, in 100 ns units.
std::int64_t MonotonicMilliseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return (static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / kNanosecondsPerMillisecond) *
         kUnitsPerMillisecond;
}

// Exact for any tick count whose seconds fit: the remainder is scaled on its own.
std::int64_t TicksToUnits(std::uint64_t ticks, std::uint64_t ticksPerSecond) {
  const std::uint64_t units = ticks / ticksPerSecond * kUnitsPerSecond +
                              ticks % ticksPerSecond * kUnitsPerSecond / ticksPerSecond;
  return static_cast<std::int64_t>(units);
}

enum class LineKind { Summary, Processor, Other, End };

struct StatLine {
  LineKind Kind = LineKind::End;
  int Number = 0;  // of a processor line
  bool HasIdle = false;
  std::uint64_t IdleTicks = 0;  // idle + iowait
};

// "cpu  user nice system idle iowait ..." or "cpuN user nice ..."; the processor lines come
// first in the file, so anything else ends them. Kernels before 2.5.41 have no iowait field.
StatLine ParseStatLine(std::string_view line) {
  StatLine parsed;
  if (!line.starts_with("cpu")) {
    return parsed;
  }
  const char* pos = line.data() + 3;
  const char* const end = line.data() + line.size();
  if (pos != end && *pos >= '0' && *pos <= '9') {
    const auto [next, error] = std::from_chars(pos, end, parsed.Number);
    if (error != std::errc() || (next != end && *next != ' ')) {
      parsed.Kind = LineKind::Other;
      return parsed;
    }
    parsed.Kind = LineKind::Processor;
    pos = next;
  } else if (pos == end || *pos == ' ') {
    parsed.Kind = LineKind::Summary;
  } else {
    parsed.Kind = LineKind::Other;
    return parsed;
  }
  constexpr int kIdleField = 3;
  constexpr int kIowaitField = 4;
  for (int field = 0; field <= kIowaitField; ++field) {
    while (pos != end && *pos == ' ') {
      ++pos;
    }
    std::uint64_t value = 0;
    const auto [next, error] = std::from_chars(pos, end, value);
    if (error != std::errc()) {
      break;
    }
    pos = next;
    if (field == kIdleField) {
      parsed.HasIdle = true;
      parsed.IdleTicks = value;
    } else if (field == kIowaitField) {
      parsed.IdleTicks += value;
    }
  }
  return parsed;
}

}  // namespace

struct ProcStatCounters::Scan {
  std::span<std::int64_t> IdleTimes;  // the processors, then the total
  int HighestProcessor = -1;
  int Listed = 0;  // processor lines in this reading
  bool IdleMissing = false;
  std::int64_t SummaryIdle = kNotListed;
};

ProcStatCounters::ProcStatCounters()
    : ProcStatCounters("/proc/stat", MonotonicMilliseconds, ::sysconf(_SC_CLK_TCK)) {}

ProcStatCounters::ProcStatCounters(std::string path, Clock clock, std::int64_t ticksPerSecond)
    : path_(std::move(path)),
      clock_(std::move(clock)),
      ticksPerSecond_(ticksPerSecond > 0 ? ticksPerSecond : 100) {}

CpuReading ProcStatCounters::Read(std::span<std::int64_t> idleTimes) {
  Scan scan;
  scan.IdleTimes = idleTimes;
  std::fill(idleTimes.begin(), idleTimes.end(), kNotListed);
  const bool readable = ScanFile(scan);

  CpuReading reading;
  reading.SampleTime = clock_();
  if (!readable || scan.HighestProcessor < 0) {
    reading.Result = CpuReadResult::NoProcessors;
    return reading;
  }
  reading.InstanceCount = scan.HighestProcessor + 2;
  reading.Result = scan.IdleMissing ? CpuReadResult::NoIdleTime : CpuReadResult::Ok;
  // The average over the processors that this reading lists: an offline processor adds
  // no idle time to the summary, so counting it would show its share as load.
  if (!idleTimes.empty() && scan.SummaryIdle != kNotListed) {
    idleTimes.back() = scan.SummaryIdle / std::max(scan.Listed, 1);
  }
  return reading;
}

bool ProcStatCounters::ScanFile(Scan& scan) {
  if (!fd_.IsValid()) {
    fd_.Reset(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd_.IsValid()) {
      return false;
    }
  }
  const auto hz = static_cast<std::uint64_t>(ticksPerSecond_);
  const std::size_t processorSlots = scan.IdleTimes.empty() ? 0 : scan.IdleTimes.size() - 1;
  // Takes one line; false once past the processor lines.
  const auto take = [&](std::string_view line) {
    const StatLine parsed = ParseStatLine(line);
    if (parsed.Kind == LineKind::End) {
      return false;
    }
    if (parsed.Kind == LineKind::Other) {
      return true;
    }
    if (parsed.Kind == LineKind::Processor) {
      scan.HighestProcessor = std::max(scan.HighestProcessor, parsed.Number);
      ++scan.Listed;
    }
    if (!parsed.HasIdle) {
      scan.IdleMissing = true;
      return true;
    }
    const std::int64_t idle = TicksToUnits(parsed.IdleTicks, hz);
    if (parsed.Kind == LineKind::Summary) {
      scan.SummaryIdle = idle;
      return true;
    }
    if (static_cast<std::size_t>(parsed.Number) < processorSlots) {
      scan.IdleTimes[static_cast<std::size_t>(parsed.Number)] = idle;
    }
    return true;
  };

  std::size_t kept = 0;  // bytes of an unfinished line at the start of the buffer
  off_t offset = 0;
  for (;;) {
    const ssize_t count = ::pread(fd_.Get(), buffer_.data() + kept, buffer_.size() - kept, offset);
    if (count < 0) {
      if (errno == EINTR) {
        continue;
      }
      fd_.Reset();
      return false;
    }
    offset += count;
    const std::string_view text(buffer_.data(), kept + static_cast<std::size_t>(count));
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string_view::npos;
         end = text.find('\n', start)) {
      if (!take(text.substr(start, end - start))) {
        return true;
      }
      start = end + 1;
    }
    const std::string_view rest = text.substr(start);
    // At the end of the file, or a line that does not fit: no processor line is that long.
    if (count == 0 || rest.size() == buffer_.size()) {
      if (!rest.empty() && rest.size() < buffer_.size()) {
        take(rest);
      }
      return true;
    }
    std::memmove(buffer_.data(), rest.data(), rest.size());
    kept = rest.size();
  }
}

}  // namespace vx
