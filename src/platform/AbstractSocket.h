#pragma once

#include <string>
#include <utility>

// A file descriptor that is closed when its owner goes.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;

  int Get() const { return fd_; }
  bool IsValid() const { return fd_ >= 0; }
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Named kernel objects are stream sockets in the abstract namespace: the name exists
// exactly as long as its holder keeps the listening socket open, whatever way the
// holder ends, and leaves no file behind. The socket name carries the object's name
// and the user id, so that the programs of different users never meet.
std::string AbstractSocketName(const std::string& name, unsigned user);

// Binds a new listening socket (non-blocking, close-on-exec) to the abstract name.
// Returns 0 or the error number (EADDRINUSE when another socket holds the name).
int ListenOnAbstractName(const std::string& socketName, UniqueFd& listener);

// Connects a new non-blocking, close-on-exec socket to the holder of the abstract name.
// Returns 0 or the error number (ECONNREFUSED when nobody holds the name).
int ConnectToAbstractName(const std::string& socketName, UniqueFd& connection);
