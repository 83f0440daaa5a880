#include "platform/LockedFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/SystemError.h"

namespace vx {

// flock reports EWOULDBLOCK, whose text ("Resource temporarily unavailable") reads as
// if retrying would help; a file in use by another writer is reported as busy instead.
const int LockedFile::kHeldByAnotherWriter = EBUSY;

namespace {

// Closes fd on every path out of Open until it is handed over.
class FdOwner {
 public:
  explicit FdOwner(int fd) : fd_(fd) {}
  ~FdOwner() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  FdOwner(const FdOwner&) = delete;
  FdOwner& operator=(const FdOwner&) = delete;
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

}  // namespace

LockedFile::~LockedFile() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

LockedFile::LockedFile(LockedFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

LockedFile& LockedFile::operator=(LockedFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

bool LockedFile::Open(const std::string& fileName, bool append) {
  Close();
  // Never O_TRUNC: the file may belong to a running writer until the lock says
  // otherwise. O_CLOEXEC keeps programs that we start (a setup) from inheriting the
  // lock and holding it after we have ended.
  constexpr int kFlags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY;
  bool existed = true;
  int fd = ::open(fileName.c_str(), kFlags);
  if (fd < 0 && errno == ENOENT) {
    existed = false;
    fd = ::open(fileName.c_str(), kFlags | O_CREAT, 0666);
  }
  if (fd < 0) {
    RaiseInOutError(errno);
  }
  FdOwner owner(fd);
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      RaiseInOutError(kHeldByAnotherWriter);
    }
    if (errno != EINTR) {
      RaiseInOutError(errno);
    }
  }
  const bool keep = append && existed;
  if (!keep) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
      RaiseInOutError(errno);
    }
    // Devices and pipes have nothing to empty (as O_TRUNC ignores them).
    if (S_ISREG(info.st_mode) && ::ftruncate(fd, 0) != 0) {
      RaiseInOutError(errno);
    }
  }
  fd_ = owner.Release();
  return keep;
}

void LockedFile::Write(std::string_view bytes) {
  if (fd_ < 0) {
    RaiseInOutError(EBADF);
  }
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      RaiseInOutError(errno);
    }
    if (written == 0) {
      RaiseInOutError(EIO);  // nothing taken and no reason given: do not spin
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
}

void LockedFile::Close() {
  if (fd_ < 0) {
    return;
  }
  // Linux releases the descriptor even when close reports an error (EINTR included),
  // so it is never retried.
  if (::close(std::exchange(fd_, -1)) != 0 && errno != EINTR) {
    RaiseInOutError(errno);
  }
}

}  // namespace vx
