#include "sim/FrameLog.h"

#include <cerrno>
#include <chrono>
#include <string_view>
#include <system_error>

namespace vxsim {

FrameLog::FrameLog(const std::string& path) : file_(std::fopen(path.c_str(), "w"), &std::fclose) {
  if (!file_) {
    throw std::system_error(errno, std::generic_category(), "open " + path);
  }
}

void FrameLog::Write(const std::string& text) {
  if (!file_) {
    return;
  }
  const double now =
      std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
  std::fprintf(file_.get(), "%.6f %s\n", now, text.c_str());
  std::fflush(file_.get());
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  static constexpr std::string_view kDigits = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (const std::uint8_t byte : bytes) {
    if (!text.empty()) {
      text += ' ';
    }
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

}  // namespace vxsim
