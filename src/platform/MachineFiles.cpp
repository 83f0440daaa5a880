#include "platform/MachineFiles.h"

#include "base/Exceptions.h"
#include "platform/SystemError.h"
#include "platform/UniqueFd.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <optional>
#include <utility>

namespace vx {

namespace {

// Far beyond what the kernel writes, even on a machine with thousands of devices: a larger
// file is not one of its figure files.
constexpr std::size_t kMaxFileSize = std::size_t{4} * 1024 * 1024;

constexpr const char* kMeminfo = "/proc/meminfo";
constexpr const char* kNetDev = "/proc/net/dev";
constexpr const char* kDiskstats = "/proc/diskstats";

// Splits text at blanks and tabs, as the kernel's columns are.
std::vector<std::string_view> Fields(std::string_view text) {
  std::vector<std::string_view> fields;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t start = text.find_first_not_of(" \t", pos);
    if (start == std::string_view::npos) {
      break;
    }
    const std::size_t end = std::min(text.find_first_of(" \t", start), text.size());
    fields.push_back(text.substr(start, end - start));
    pos = end;
  }
  return fields;
}

std::optional<std::uint64_t> Number(std::string_view field) {
  std::uint64_t value = 0;
  const char* end = field.data() + field.size();
  const auto [next, error] = std::from_chars(field.data(), end, value);
  if (error != std::errc() || next != end || field.empty()) {
    return std::nullopt;
  }
  return value;
}

std::uint64_t NumberOf(std::string_view field, const char* file, std::string_view what) {
  const std::optional<std::uint64_t> value = Number(field);
  if (!value) {
    throw Exception(std::string(file) + ": \"" + std::string(field) + "\" is no count of " +
                    std::string(what));
  }
  return *value;
}

template <typename Take>
void ForEachLine(std::string_view text, Take take) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    take(text.substr(start, end - start));
    start = end + 1;
  }
}

}  // namespace

MemoryFigures ParseMeminfo(std::string_view text) {
  std::optional<std::uint64_t> total;
  std::optional<std::uint64_t> available;
  ForEachLine(text, [&](std::string_view line) {
    const std::vector<std::string_view> fields = Fields(line);
    if (fields.size() < 2) {
      return;
    }
    if (fields[0] == "MemTotal:") {
      total = NumberOf(fields[1], kMeminfo, "MemTotal");
    } else if (fields[0] == "MemAvailable:") {
      available = NumberOf(fields[1], kMeminfo, "MemAvailable");
    }
  });
  if (!total || *total == 0) {
    throw Exception(std::string(kMeminfo) + " has no MemTotal");
  }
  if (!available) {
    throw Exception(std::string(kMeminfo) + " has no MemAvailable");
  }
  return {*total, *available};
}

std::vector<InterfaceCounters> ParseNetDev(std::string_view text) {
  // "  eth0: rx_bytes packets errs drop fifo frame compressed multicast tx_bytes ..."
  constexpr std::size_t kSentField = 8;
  std::vector<InterfaceCounters> interfaces;
  int lineNumber = 0;
  ForEachLine(text, [&](std::string_view line) {
    if (++lineNumber <= 2) {
      return;  // the two lines of column titles
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
      if (!Fields(line).empty()) {
        throw Exception(std::string(kNetDev) + ": line " + std::to_string(lineNumber) +
                        " names no interface");
      }
      return;
    }
    const std::vector<std::string_view> names = Fields(line.substr(0, colon));
    const std::vector<std::string_view> fields = Fields(line.substr(colon + 1));
    if (names.size() != 1 || fields.size() <= kSentField) {
      throw Exception(std::string(kNetDev) + ": line " + std::to_string(lineNumber) +
                      " is cut short");
    }
    InterfaceCounters counters;
    counters.Name = std::string(names[0]);
    counters.Received = NumberOf(fields[0], kNetDev, "bytes received");
    counters.Sent = NumberOf(fields[kSentField], kNetDev, "bytes sent");
    interfaces.push_back(std::move(counters));
  });
  return interfaces;
}

std::vector<DiskCounters> ParseDiskstats(std::string_view text) {
  // "major minor name reads merged sectors ms writes merged sectors ms in-flight io-ms ..."
  constexpr std::size_t kNameField = 2;
  constexpr std::size_t kBusyField = 12;
  std::vector<DiskCounters> disks;
  int lineNumber = 0;
  ForEachLine(text, [&](std::string_view line) {
    ++lineNumber;
    const std::vector<std::string_view> fields = Fields(line);
    if (fields.empty()) {
      return;
    }
    if (fields.size() <= kBusyField) {
      throw Exception(std::string(kDiskstats) + ": line " + std::to_string(lineNumber) +
                      " is cut short");
    }
    disks.push_back({std::string(fields[kNameField]),
                     NumberOf(fields[kBusyField], kDiskstats, "busy milliseconds")});
  });
  return disks;
}

MachineFiles::MachineFiles(std::string root) : root_(std::move(root)) {
  while (root_.size() > 1 && root_.back() == '/') {
    root_.pop_back();
  }
  if (root_ == "/") {
    root_.clear();
  }
}

std::string MachineFiles::ReadFile(const std::string& name) const {
  const std::string path = root_ + name;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.IsValid()) {
    throw Exception("Cannot read " + name + ": " + InOutErrorMessage(errno));
  }
  std::string text;
  std::string block(65536, '\0');
  for (;;) {
    const ssize_t count = ::read(fd.Get(), block.data(), block.size());
    if (count < 0) {
      if (errno == EINTR) {
        continue;
      }
      throw Exception("Cannot read " + name + ": " + InOutErrorMessage(errno));
    }
    if (count == 0) {
      return text;
    }
    text.append(block.data(), static_cast<std::size_t>(count));
    if (text.size() > kMaxFileSize) {
      throw Exception(name + " is too large to be the kernel's");
    }
  }
}

MemoryFigures MachineFiles::ReadMemory() const {
  return ParseMeminfo(ReadFile(kMeminfo));
}

std::vector<InterfaceCounters> MachineFiles::ReadInterfaces() const {
  return ParseNetDev(ReadFile(kNetDev));
}

std::vector<DiskCounters> MachineFiles::ReadDisks() const {
  std::vector<DiskCounters> disks = ParseDiskstats(ReadFile(kDiskstats));
  std::erase_if(disks, [this](const DiskCounters& disk) {
    // A name with "/" stands in sys/block with "!" ("cciss/c0d0" as "cciss!c0d0").
    std::string entry = disk.Name;
    std::replace(entry.begin(), entry.end(), '/', '!');
    std::error_code ignored;
    return entry == "." || entry == ".." ||
           !std::filesystem::exists(root_ + "/sys/block/" + entry, ignored);
  });
  return disks;
}

}  // namespace vx
