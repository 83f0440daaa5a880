#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace vx {

// The one owner of a file descriptor: closed when its owner goes or takes another one.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset(other.Release());
    }
    return *this;
  }

  int Get() const { return fd_; }
  bool IsValid() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int Release() { return std::exchange(fd_, -1); }
  // Closes the descriptor held (if any) and holds fd instead.
  void Reset(int fd = -1) {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = fd;
  }
  // Closes the descriptor now and returns close's error number, 0 when it closed cleanly
  // or none was held. Linux releases the descriptor even when close fails (EINTR
  // included), so it is gone either way and never closed twice.
  int Close() {
    if (fd_ < 0) {
      return 0;
    }
    return ::close(std::exchange(fd_, -1)) == 0 ? 0 : errno;
  }

 private:
  int fd_ = -1;
};

}  // namespace vx
