#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

namespace vxsim {

// The frame log that tests read: one line per entry, "<monotonic seconds, 6 decimals>
// <text>", flushed at once. The text is a received unit's bytes (HexBytes) or an event:
// a word, then its details.
class FrameLog {
 public:
  FrameLog() = default;
  // Creates or truncates path; raises std::system_error when it cannot.
  explicit FrameLog(const std::string& path);

  // Writes nothing when no file is open.
  void Write(const std::string& text);

 private:
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_{nullptr, &std::fclose};
};

// "FF 00 1A": the bytes in upper-case hex, one space between them.
std::string HexBytes(std::span<const std::uint8_t> bytes);

}  // namespace vxsim
