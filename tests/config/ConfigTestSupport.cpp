#include "config/ConfigTestSupport.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace vx {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  std::string pattern = (fs::temp_directory_path() / "vorlixa-config-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create a temporary folder");
  }
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::vector<std::string> TempFolder::Names() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(path_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void WriteFile(const std::string& fileName, const std::string& content) {
  std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
  file << content;
}

bool FakeChainPort::Open(const std::string& name) {
  journal_->push_back("open " + name);
  name_ = name;
  open_ = true;
  return true;
}

void FakeChainPort::Close() {
  journal_->push_back("close " + name_);
  open_ = false;
}

std::size_t FakeChainPort::Read(std::uint8_t* buffer, std::size_t count) {
  const std::size_t n = std::min(count, pendingReplies_);
  std::fill_n(buffer, n, std::uint8_t{0xFF});
  pendingReplies_ -= n;
  return n;
}

std::size_t FakeChainPort::Write(const std::uint8_t* data, std::size_t count,
                                 SerialDeadline /*deadline*/) {
  if (count == 1 && data[0] == 0xFF) {
    ++pendingReplies_;  // RESET: the chain answers
    return count;
  }
  // A frame goes out behind its RESET, in the same write.
  const std::size_t first = count > 0 && data[0] == 0xFF ? 1 : 0;
  std::string hex = "frame";
  for (std::size_t i = first; i < count; ++i) {
    std::array<char, 4> byte{};
    std::snprintf(byte.data(), byte.size(), " %02X", data[i]);
    hex += byte.data();
  }
  journal_->push_back(hex);
  return count;
}

CapturedLog::CapturedLog() {
  StartAppLog(folder_.Path("test.log"));
  AppLog()->OnMessage = [this](TLog&, const std::string& text) {
    Lines.push_back("message: " + text);
  };
  AppLog()->OnWarning = [this](TLog&, const std::string& text) {
    Lines.push_back("warning: " + text);
  };
  AppLog()->OnError = [this](TLog&, const std::string& text) { Lines.push_back("error: " + text); };
}

}  // namespace vx
