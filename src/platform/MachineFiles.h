#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vx {

struct MemoryFigures {
  std::uint64_t TotalKiB = 0;
  std::uint64_t AvailableKiB = 0;  // what programs could still get without swapping
};

struct InterfaceCounters {
  std::string Name;
  std::uint64_t Received = 0;  // bytes since the interface came up
  std::uint64_t Sent = 0;      // bytes
};

struct DiskCounters {
  std::string Name;
  std::uint64_t BusyMs = 0;  // milliseconds during which the device had requests in flight
};

// Parsers of the kernel's figure files. A text that lacks what they need, is cut short or
// holds a number out of range raises Exception with a text that names the file.
MemoryFigures ParseMeminfo(std::string_view text);
std::vector<InterfaceCounters> ParseNetDev(std::string_view text);
std::vector<DiskCounters> ParseDiskstats(std::string_view text);

// The kernel's figures of the whole machine, from the files below a root folder: "/" on the
// system, a folder laid out like it in tests. Every read opens, reads and closes its file, so
// any thread may read; failures raise Exception.
class MachineFiles {
 public:
  explicit MachineFiles(std::string root = "/");

  MemoryFigures ReadMemory() const;                       // proc/meminfo
  std::vector<InterfaceCounters> ReadInterfaces() const;  // proc/net/dev
  // proc/diskstats, whole disks only: those that sys/block lists.
  std::vector<DiskCounters> ReadDisks() const;

 private:
  std::string ReadFile(const std::string& name) const;

  std::string root_;
};

}  // namespace vx
