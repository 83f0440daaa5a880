#pragma once

#include "platform/UniqueFd.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vx {

// A file written by one holder at a time and readable by everyone else: opening takes
// an exclusive advisory lock (flock) on it before anything is changed, so a second
// writer, in this process or another, fails without touching the first one's content.
// Every failing operation raises EInOutError with the system error number.
class LockedFile {
 public:
  // The error number that opening gives when another holder has the file.
  static const int kHeldByAnotherWriter;

  // Opens fileName for writing at its end, creating it when missing; unless append is
  // true, an existing file is emptied once the lock is held. Returns true when an
  // existing file is kept and written on. A symbolic link in fileName's place is not
  // followed: opening fails with ELOOP.
  bool Open(const std::string& fileName, bool append);
  // Hands every byte to the system before returning (no buffering of our own).
  void Write(std::string_view bytes);
  // The open file's size in bytes.
  std::uint64_t Size() const;
  // Releases the lock; an error of the close itself is raised after the handle is gone.
  void Close();
  bool IsOpen() const { return fd_.IsValid(); }

 private:
  UniqueFd fd_;
};

}  // namespace vx
