#include "platform/LockedFile.h"

#include "platform/SystemError.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace vx {

// flock reports EWOULDBLOCK, whose text ("Resource temporarily unavailable") reads as
// if retrying would help; a file in use by another writer is reported as busy instead.
const int LockedFile::kHeldByAnotherWriter = EBUSY;

bool LockedFile::Open(const std::string& fileName, bool append) {
  Close();
  // Never O_TRUNC: the file may belong to a running writer until the lock says
  // otherwise. O_CLOEXEC keeps programs that we start (a setup) from inheriting the
  // lock and holding it after we have ended. O_NOFOLLOW: a link laid in the file's place
  // (by whoever may write its folder) must not make us empty or write the file it names.
  constexpr int kFlags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW;
  bool existed = true;
  UniqueFd fd(::open(fileName.c_str(), kFlags));
  if (!fd.IsValid() && errno == ENOENT) {
    existed = false;
    fd.Reset(::open(fileName.c_str(), kFlags | O_CREAT, 0666));
  }
  if (!fd.IsValid()) {
    RaiseInOutError(errno);
  }
  while (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
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
    if (::fstat(fd.Get(), &info) != 0) {
      RaiseInOutError(errno);
    }
    // Devices and pipes have nothing to empty (as O_TRUNC ignores them).
    if (S_ISREG(info.st_mode) && ::ftruncate(fd.Get(), 0) != 0) {
      RaiseInOutError(errno);
    }
  }
  fd_ = std::move(fd);
  return keep;
}

void LockedFile::Write(std::string_view bytes) {
  if (!fd_.IsValid()) {
    RaiseInOutError(EBADF);
  }
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd_.Get(), bytes.data(), bytes.size());
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

std::uint64_t LockedFile::Size() const {
  struct stat info {};
  if (::fstat(fd_.Get(), &info) != 0) {
    RaiseInOutError(errno);
  }
  return static_cast<std::uint64_t>(info.st_size);
}

void LockedFile::Close() {
  // An interrupted close has still released the descriptor: nothing was lost.
  if (const int error = fd_.Close(); error != 0 && error != EINTR) {
    RaiseInOutError(error);
  }
}

}  // namespace vx
