#pragma once

#include "common/SettingsXml.h"
#include "common/TestFiles.h"
#include "platform/SerialPort.h"
#include "support/Log.h"
#include "support/unLog.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vx {

// A fresh folder below the system's temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  std::string Path(const std::string& name) const { return path_ + "/" + name; }
  std::vector<std::string> Names() const;  // sorted

 private:
  std::string path_;
};

void WriteFile(const std::string& fileName, const std::string& content);

// A chain behind a serial port that answers every RESET at once and keeps the rest:
// the journal gets "open NAME", "close NAME", and "frame <hex>" for every frame written.
class FakeChainPort final : public SerialPort {
 public:
  explicit FakeChainPort(std::shared_ptr<std::vector<std::string>> journal)
      : journal_(std::move(journal)) {}
  bool Open(const std::string& name) override;
  bool IsOpen() const override { return open_; }
  void Close() override;
  void Configure(const SerialTimeouts& /*timeouts*/) override {}
  std::size_t Read(std::uint8_t* buffer, std::size_t count) override;
  std::size_t Write(const std::uint8_t* data, std::size_t count, SerialDeadline deadline) override;
  void Purge() override { pendingReplies_ = 0; }
  SerialFailure Failure() const override { return SerialFailure::None; }
  std::uint32_t LineSpeed() const override { return 0; }
  std::string ErrorString() const override { return ""; }

 private:
  std::shared_ptr<std::vector<std::string>> journal_;
  std::string name_;
  bool open_ = false;
  std::size_t pendingReplies_ = 0;
};

// The program log, into a temporary file, while the object lives; Lines gets every line
// as "message: ...", "warning: ..." or "error: ...".
class CapturedLog {
 public:
  CapturedLog();
  ~CapturedLog() { StopAppLog(); }
  CapturedLog(const CapturedLog&) = delete;
  CapturedLog& operator=(const CapturedLog&) = delete;
  std::vector<std::string> Lines;

 private:
  TempFolder folder_;
};

}  // namespace vx
